/* One half of a pair of libraries that import each other. MARKER_NAME
   answers a fixed number; PEER_NAME only exists to keep the import of
   IMPORTED_NAME (calling it would recurse forever between the two). */
__declspec(dllimport) int IMPORTED_NAME(void);
__declspec(dllexport) int MARKER_NAME(void) { return MARKER_VALUE; }
__declspec(dllexport) int PEER_NAME(void) { return IMPORTED_NAME(); }
