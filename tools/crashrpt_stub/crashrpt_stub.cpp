// Test stand-in for the crash-reporting library: records every call as one
// JSON line in "<this DLL's path>.record" and really handles a crash of the
// process that loaded it. See CMakeLists.txt for the variants and switches.
#include <windows.h>

#include <json/value.h>
#include <json/writer.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "diag/crashrpt_api.h"

#define STUB_EXPORT extern "C" __declspec(dllexport)

namespace {

HMODULE g_self = nullptr;
std::mutex g_lock;
std::string g_lastError = "stand-in: nothing failed yet";
bool g_installed = false;
CrCrashCallbackW g_callback = nullptr;
void* g_userParam = nullptr;
std::vector<std::wstring> g_patterns;

std::string Utf8(const wchar_t* text) {
    if (text == nullptr) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

Json::Value TextOrNull(const wchar_t* text) { return text == nullptr ? Json::Value() : Json::Value(Utf8(text)); }

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(g_self, path, MAX_PATH);
    return path;
}

void Record(const Json::Value& entry) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    const std::string line = Json::writeString(builder, entry) + "\n";
    const std::wstring path = OwnPath() + L".record";
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
}

Json::Value Call(const char* name) {
    Json::Value entry(Json::objectValue);
    entry["call"] = name;
    return entry;
}

// The value of switch `name` in CRASHRPT_STUB: "1" for a bare switch, the
// text after "=" for name=value, empty when absent.
std::string Switch(const char* name) {
    char value[1024] = {};
    const DWORD n = ::GetEnvironmentVariableA("CRASHRPT_STUB", value, sizeof(value));
    if (n == 0 || n >= sizeof(value)) return {};
    const std::string all(value, n);
    const std::string key(name);
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t end = all.find(',', pos);
        if (end == std::string::npos) end = all.size();
        const std::string item = all.substr(pos, end - pos);
        if (item == key) return "1";
        if (item.compare(0, key.size() + 1, key + "=") == 0) return item.substr(key.size() + 1);
        pos = end + 1;
    }
    return {};
}

bool UnusedFieldsZero(const CrInstallInfoW& info) {
    CrInstallInfoW expected;
    std::memset(&expected, 0, sizeof(expected));
    expected.cb = info.cb;
    expected.pszAppName = info.pszAppName;
    expected.pszAppVersion = info.pszAppVersion;
    expected.pszUrl = info.pszUrl;
    expected.dwFlags = info.dwFlags;
    expected.uMiniDumpType = info.uMiniDumpType;
    return std::memcmp(&expected, &info, sizeof(info)) == 0;
}

int CallCallback(int stage) {
    if (g_callback == nullptr) return kCrCallbackDoDefault;
    CrCrashCallbackInfoW info;
    std::memset(&info, 0, sizeof(info));
    info.cb = sizeof(info);
    info.nStage = stage;
    info.pUserParam = g_userParam;
    const int result = g_callback(&info);
    Json::Value entry = Call("callback");
    entry["stage"] = stage;
    entry["result"] = result;
    Record(entry);
    return result;
}

// Copies every file matching the attached patterns into "<own path>.report".
void CollectAttachedFiles() {
    const std::wstring reportDir = OwnPath() + L".report";
    ::CreateDirectoryW(reportDir.c_str(), nullptr);
    for (const auto& pattern : g_patterns) {
        const size_t cut = pattern.find_last_of(L"\\/");
        const std::wstring folder = cut == std::wstring::npos ? L"" : pattern.substr(0, cut + 1);
        WIN32_FIND_DATAW found;
        HANDLE find = ::FindFirstFileW(pattern.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const std::wstring source = folder + found.cFileName;
            const BOOL copied = ::CopyFileW(source.c_str(), (reportDir + L"\\" + found.cFileName).c_str(), FALSE);
            Json::Value entry = Call("collect");
            entry["file"] = Utf8(found.cFileName);
            entry["copied"] = copied != FALSE;
            Record(entry);
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
}

// Records where `address` lies as "<key>Module" (the module's file name) and
// "<key>Offset" (its distance from the module's base), the form a symbol
// lookup in the module's debug information needs whatever base it loaded at.
void RecordLocation(Json::Value& entry, const std::string& key, const void* address) {
    HMODULE module = nullptr;
    if (address == nullptr ||
        !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module)) {
        return;
    }
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    const wchar_t* name = std::wcsrchr(path, L'\\');
    entry[key + "Module"] = Utf8(name != nullptr ? name + 1 : path);
    entry[key + "Offset"] = static_cast<Json::UInt64>(reinterpret_cast<const char*>(address) -
                                                      reinterpret_cast<const char*>(module));
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    Json::Value entry = Call("crash");
    entry["code"] = static_cast<Json::UInt>(code);
    RecordLocation(entry, "fault", pointers->ExceptionRecord->ExceptionAddress);
    RecordLocation(entry, "callback", reinterpret_cast<const void*>(g_callback));
    Record(entry);
    const int first = CallCallback(kCrStagePrepare);
    if (first != kCrCallbackCancel) CollectAttachedFiles();
    if (first == kCrCallbackNotifyNextStage) CallCallback(kCrStageFinish);
    Record(Call("terminate"));
    ::TerminateProcess(::GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI CrashWhenAsked(LPVOID param) {
    HANDLE event = static_cast<HANDLE>(param);
    ::WaitForSingleObject(event, INFINITE);
    Record(Call("fault"));
    *static_cast<volatile int*>(nullptr) = 1;  // the fault the test asked for
    return 0;
}

void StartCrashThread(const std::string& eventName) {
    const std::wstring name(eventName.begin(), eventName.end());
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    if (event == nullptr) return;
    HANDLE thread = ::CreateThread(nullptr, 0, &CrashWhenAsked, event, 0, nullptr);
    if (thread != nullptr) ::CloseHandle(thread);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = instance;
    return TRUE;
}

namespace {

[[maybe_unused]] int GetLastErrorMsg(LPSTR buffer, UINT bufferSize) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (buffer == nullptr || bufferSize == 0) return -1;
    const size_t n = g_lastError.size() < bufferSize - 1 ? g_lastError.size() : bufferSize - 1;
    std::memcpy(buffer, g_lastError.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

[[maybe_unused]] int Install(CrInstallInfoW* info) {
    std::lock_guard<std::mutex> hold(g_lock);
    Json::Value entry = Call("crInstallW");
    if (info == nullptr) {
        Record(entry);
        g_lastError = "stand-in: no install record";
        return 1;
    }
    entry["cb"] = info->cb;
    entry["recordSize"] = static_cast<Json::UInt>(sizeof(CrInstallInfoW));
    entry["pszAppName"] = TextOrNull(info->pszAppName);
    entry["pszAppVersion"] = TextOrNull(info->pszAppVersion);
    entry["pszUrl"] = TextOrNull(info->pszUrl);
    entry["dwFlags"] = static_cast<Json::UInt>(info->dwFlags);
    entry["uMiniDumpType"] = info->uMiniDumpType;
    entry["unusedFieldsZero"] = UnusedFieldsZero(*info);
    Record(entry);
    if (!Switch("fail-install").empty()) {
        g_lastError = "stand-in: install refused";
        return 1;
    }
    if (info->cb != sizeof(CrInstallInfoW)) {
        g_lastError = "stand-in: install record of the wrong size";
        return 1;
    }
    ::SetUnhandledExceptionFilter(&CrashFilter);
    g_installed = true;
    const std::string crashEvent = Switch("crash-on");
    if (!crashEvent.empty()) StartCrashThread(crashEvent);
    return 0;
}

[[maybe_unused]] int SetCrashCallback(CrCrashCallbackW callback, LPVOID userParam) {
    std::lock_guard<std::mutex> hold(g_lock);
    Json::Value entry = Call("crSetCrashCallbackW");
    entry["callback"] = callback != nullptr;
    entry["userParam"] = userParam != nullptr;
    Record(entry);
    if (!g_installed) {
        g_lastError = "stand-in: not installed";
        return 1;
    }
    g_callback = callback;
    g_userParam = userParam;
    return 0;
}

[[maybe_unused]] int AddFile(LPCWSTR file, LPCWSTR destFile, LPCWSTR description, DWORD flags) {
    std::lock_guard<std::mutex> hold(g_lock);
    Json::Value entry = Call("crAddFile2W");
    entry["file"] = TextOrNull(file);
    entry["destFile"] = TextOrNull(destFile);
    entry["description"] = TextOrNull(description);
    entry["flags"] = static_cast<Json::UInt>(flags);
    Record(entry);
    if (!Switch("fail-add-file").empty()) {
        g_lastError = "stand-in: add file refused";
        return 1;
    }
    if (!g_installed || file == nullptr) {
        g_lastError = "stand-in: not installed or no file";
        return 1;
    }
    g_patterns.push_back(file);
    return 0;
}
}  // namespace

// The exports; each variant leaves some of them out.
#if !defined(CRSTUB_WITHOUT_ERRMSG)
STUB_EXPORT int WINAPI crGetLastErrorMsgA(LPSTR buffer, UINT bufferSize) { return GetLastErrorMsg(buffer, bufferSize); }
#endif
#if !defined(CRSTUB_WITHOUT_INSTALL)
STUB_EXPORT int WINAPI crInstallW(CrInstallInfoW* info) { return Install(info); }
#endif
#if !defined(CRSTUB_WITHOUT_CALLBACK)
STUB_EXPORT int WINAPI crSetCrashCallbackW(CrCrashCallbackW callback, LPVOID userParam) {
    return SetCrashCallback(callback, userParam);
}
#endif
#if !defined(CRSTUB_WITHOUT_ADDFILE)
STUB_EXPORT int WINAPI crAddFile2W(LPCWSTR file, LPCWSTR destFile, LPCWSTR description, DWORD flags) {
    return AddFile(file, destFile, description, flags);
}
#endif
