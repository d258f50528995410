/* The library that needs_helper_plugin.dll imports; tests place it in the
   installation folder, away from the plug-in's own folder. */
__declspec(dllexport) int PluginHelperMarker(void) { return 42; }
