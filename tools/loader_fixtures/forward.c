/* A library that imports IMPORTED_NAME from another library and answers its
   marker: the answer tells which copy of that library was loaded. */
__declspec(dllimport) int IMPORTED_NAME(void);
__declspec(dllexport) int MARKER_NAME(void) { return IMPORTED_NAME(); }
