/* An update plug-in written in C, as one from another compiler would be: it
   knows the engine only as a table of slots, numbered as the engine's
   interface documents them (0 the deleting destructor, 1 SetNewDatabasePath,
   2 SetDirectories, 3 BeginUpdate, 4 CancelUpdate, ...). At the first
   download start it asks the engine to cancel through slot 4. It appends
   "slot_plugin.dll load", "... cancel <file>" and "... unload" to the file
   named by VELISK_PLUGIN_RECORD. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

typedef struct Engine {
    void** slots;
} Engine;

typedef struct PluginContext {
    Engine* engine;
    const void* options;
} PluginContext;

/* The two fields of the status record this plug-in reads. */
enum { kFileNameChars = 256, kStatusOffset = 516, kDownloadStart = 0 };

typedef struct PluginInstance {
    void* reserved;
    void* userData;
    void (*notify)(const unsigned char* status, void* userData);
} PluginInstance;

#if defined(__i386__)
/* A member function takes `this` in ECX (thiscall); fastcall puts the first
   argument there too, and the unused second one in EDX. */
typedef void(__fastcall* CancelUpdateSlot)(Engine* self, void* unused);
#define CALL_CANCEL(engine) ((CancelUpdateSlot)(engine)->slots[4])((engine), NULL)
#else
typedef void (*CancelUpdateSlot)(Engine* self);
#define CALL_CANCEL(engine) ((CancelUpdateSlot)(engine)->slots[4])((engine))
#endif

static Engine* g_engine;
static int g_cancelled;

static void Record(const char* event, const wchar_t* file) {
    wchar_t path[MAX_PATH];
    char line[600];
    char name[300] = "";
    HANDLE out;
    DWORD written = 0;
    if (GetEnvironmentVariableW(L"VELISK_PLUGIN_RECORD", path, MAX_PATH) == 0) return;
    if (file != NULL) WideCharToMultiByte(CP_UTF8, 0, file, -1, name, sizeof(name), NULL, NULL);
    snprintf(line, sizeof(line), "slot_plugin.dll %s%s%s\n", event, file != NULL ? " " : "", name);
    out = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, NULL);
    if (out == INVALID_HANDLE_VALUE) return;
    WriteFile(out, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(out);
}

static void Notify(const unsigned char* status, void* userData) {
    int code;
    (void)userData;
    memcpy(&code, status + kStatusOffset, sizeof(code));
    if (code != kDownloadStart || g_cancelled || g_engine == NULL) return;
    g_cancelled = 1;
    Record("cancel", (const wchar_t*)status);
    CALL_CANCEL(g_engine);
}

static PluginInstance g_instance = {NULL, NULL, Notify};

__declspec(dllexport) void* AutoUpdateLoadPlugin(PluginContext* context) {
    g_engine = context != NULL ? context->engine : NULL;
    Record("load", NULL);
    return &g_instance;
}

__declspec(dllexport) void AutoUpdateUnloadPlugin(void* instance) {
    if (instance == &g_instance) Record("unload", NULL);
}
