/* A library that answers a fixed marker number. */
__declspec(dllexport) int MARKER_NAME(void) { return MARKER_VALUE; }
