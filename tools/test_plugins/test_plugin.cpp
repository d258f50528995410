// An update plug-in for the tests. It appends one line per event to the file
// named by the environment variable VELISK_PLUGIN_RECORD, each line starting
// with the plug-in's own file name:
//   "<file> load silent=<n> dirs=<n> version=<versionName> notes=<notes>"
//   "<file> report <code> <index> <total> <fileSize> <received> <totalReceived> <fileName>"
//   "<file> unload"
// Built in variants (see CMakeLists.txt):
//   PLUGIN_DECLINE       "AutoUpdateLoadPlugin" records the load and returns 0
//   PLUGIN_NO_UNLOAD     no "AutoUpdateUnloadPlugin" export
//   PLUGIN_NEEDS_HELPER  imports PluginHelperMarker from plugin_helper.dll and
//                        adds " helper=<marker>" to its load line
//   PLUGIN_THROW         after recording a report whose code is the number in
//                        VELISK_PLUGIN_THROW_AT, throws std::runtime_error
//                        ("plugin fault"); after recording its unload, throws
//                        when VELISK_PLUGIN_THROW_ON_UNLOAD is set
#include <windows.h>

#include <stdexcept>
#include <string>

#include "engine/update_plugin.h"

#ifdef PLUGIN_NEEDS_HELPER
extern "C" __declspec(dllimport) int PluginHelperMarker();
#endif

namespace {

HMODULE g_module = nullptr;

std::string Utf8(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(size > 0 ? static_cast<size_t>(size - 1) : 0);
    return out;
}

std::string ModuleFileName() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(g_module, path, MAX_PATH);
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') name = p + 1;
    }
    return Utf8(name);
}

void Record(const std::string& event) {
    wchar_t recordPath[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"VELISK_PLUGIN_RECORD", recordPath, MAX_PATH) == 0) return;
    HANDLE file = ::CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string line = ModuleFileName() + " " + event + "\n";
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
}

void Notify(const FileUpdateStatus* r, void* userData);

PluginInstance g_instance = {nullptr, &g_instance, &Notify};

void Notify(const FileUpdateStatus* r, void* userData) {
    // The engine must hand back word 1 of the instance.
    const char* event = userData == &g_instance ? "report " : "report-with-wrong-user-data ";
    Record(event + std::to_string(r->status) + " " + std::to_string(r->index) + " " + std::to_string(r->total) +
           " " + std::to_string(r->fileSize) + " " + std::to_string(r->received) + " " +
           std::to_string(r->totalReceived) + " " + Utf8(r->fileName));
#ifdef PLUGIN_THROW
    wchar_t code[16] = {};
    if (::GetEnvironmentVariableW(L"VELISK_PLUGIN_THROW_AT", code, 16) != 0 && _wtoi(code) == r->status) {
        throw std::runtime_error("plugin fault");
    }
#endif
}

}  // namespace

extern "C" __declspec(dllexport) void* AutoUpdateLoadPlugin(PluginContext* context) {
    std::string line = "load";
    if (context != nullptr && context->options != nullptr) {
        const PluginOptions& options = *context->options;
        line += " silent=" + std::to_string(options.silent) + " dirs=" + std::to_string(options.searchDirCount) +
                " version=" + Utf8(options.versionName) + " notes=" + Utf8(options.updateNotes);
    }
#ifdef PLUGIN_NEEDS_HELPER
    line += " helper=" + std::to_string(PluginHelperMarker());
#endif
    Record(line);
#ifdef PLUGIN_DECLINE
    return nullptr;
#else
    return &g_instance;
#endif
}

#ifndef PLUGIN_NO_UNLOAD
extern "C" __declspec(dllexport) void AutoUpdateUnloadPlugin(void* instance) {
    if (instance == &g_instance) Record("unload");
#ifdef PLUGIN_THROW
    if (::GetEnvironmentVariableW(L"VELISK_PLUGIN_THROW_ON_UNLOAD", nullptr, 0) != 0) {
        throw std::runtime_error("plugin unload fault");
    }
#endif
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}
