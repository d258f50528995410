// Crash reporting through the crash-reporting library, loaded at run time.
// Log lines carry the unit name "CrashReporter".
#include "diag/crash_reporter.h"

#include <shellapi.h>

#include <boost/filesystem.hpp>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <exception>
#include <string>

#include "diag/library_loader.h"
#include "diag/logging.h"
#include "diag/report_endpoints.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"

namespace {

constexpr const wchar_t* kLibraryFiles[] = {L"CrashRpt1403.dll", L"crashrpt_lang.ini", L"CrashSender1403.exe"};

std::atomic<RestartOnCrashQuery> g_restartQuery{nullptr};
std::atomic<bool> g_clientRestarted{false};

// A copy that lives as long as the process (the library may keep pointers).
const wchar_t* KeepCopy(const std::wstring& text) {
    auto* copy = new wchar_t[text.size() + 1];
    std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

std::wstring CurrentFolder() {
    const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
    if (need == 0) return {};
    std::wstring folder(need, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(need, folder.data());
    folder.resize(n < need ? n : 0);
    return folder;
}

// Copies the library's files from the installation folder into `target`.
// False (silently) when one is missing or cannot be copied.
bool CopyLibraryFiles(const std::wstring& installDir, const std::wstring& target) {
    namespace fs = boost::filesystem;
    try {
        for (const wchar_t* name : kLibraryFiles) {
            const fs::path source(installDir + name);
            if (!fs::exists(source)) return false;
            if (!fs::exists(fs::path(target))) fs::create_directories(fs::path(target));
            fs::copy_file(source, fs::path(target + L"\\" + name), fs::copy_options::overwrite_existing);
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// The library's last error text, or an empty text without the function.
std::string LastErrorText(CrGetLastErrorMsgAFn getLastError, size_t bufferSize) {
    if (getLastError == nullptr) return {};
    std::string buffer(bufferSize, '\0');
    getLastError(buffer.data(), static_cast<UINT>(bufferSize));
    buffer.resize(::strnlen(buffer.c_str(), bufferSize));
    return buffer;
}

template <typename Fn>
Fn Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

CrInstallInfoW& InstallRecord(const wchar_t* appName, const wchar_t* appVersion) {
    static CrInstallInfoW record;
    std::memset(&record, 0, sizeof(record));
    record.cb = sizeof(CrInstallInfoW);
    record.pszAppName = KeepCopy(appName);
    record.pszAppVersion = KeepCopy(appVersion);
    record.pszUrl = KeepCopy(CrashReportUrl());
    record.dwFlags = kCrInstallFlags;
    record.uMiniDumpType = 0;
    return record;
}

// Registers the callback and attaches the log files once installed.
void RegisterCallbackAndLogs(HMODULE library, CrGetLastErrorMsgAFn getLastError, RestartInfo* info) {
    if (auto setCallback = Lookup<CrSetCrashCallbackWFn>(library, "crSetCrashCallbackW")) {
        setCallback(&CrashCallback, info);
    } else if (getLastError != nullptr) {
        CRASHREPORTER_LOG(ERROR) << "crSetCrashCallbackW function pointer is error: " << LastErrorText(getLastError, 256);
    }
    if (auto addFile = Lookup<CrAddFile2WFn>(library, "crAddFile2W")) {
        const std::wstring pattern = LogFolderPath() + L"\\*.log";
        if (addFile(pattern.c_str(), nullptr, L"log file", 0) != 0) {
            CRASHREPORTER_LOG(ERROR) << "crAddFile2W error:" << LastErrorText(getLastError, 768);
        }
    } else if (getLastError != nullptr) {
        CRASHREPORTER_LOG(ERROR) << "crAddFile2W function pointer is error: " << LastErrorText(getLastError, 256);
    }
}

void RestartClient(const RestartInfo* info) {
    const RestartOnCrashQuery query = g_restartQuery.load();
    if (info == nullptr || info->dialog == nullptr || query == nullptr || !query(info->dialog)) return;
    // The library calls back once per stage; one client is enough.
    if (g_clientRestarted.exchange(true)) return;
    if (info->targetExe[0] == L'\0') return;
    // By its full path: a bare name would be looked up in other folders too.
    const std::wstring client = std::wstring(info->installDir) + info->targetExe;
    ::ShellExecuteW(nullptr, L"open", client.c_str(), L"--noupdate", info->installDir, SW_SHOW);
}

}  // namespace

void SetRestartOnCrashQuery(RestartOnCrashQuery query) { g_restartQuery.store(query); }

void StartCrashReporter(const wchar_t* appName, const wchar_t* appVersion, RestartInfo* info) {
    if (appName == nullptr || appVersion == nullptr || info == nullptr || info->installDir[0] == L'\0') {
        CRASHREPORTER_LOG(ERROR) << "invaid parameter";
        return;
    }
    const std::wstring current = CurrentFolder();
    if (current.empty() || !CopyLibraryFiles(info->installDir, current)) return;

    CrInstallInfoW& record = InstallRecord(appName, appVersion);

    wchar_t path[255] = {};
    std::swprintf(path, 255, L"%ls\\CrashRpt1403.dll", current.c_str());
    HMODULE library = LoadLibraryWithDependencies(path);
    if (library == nullptr) {
        CRASHREPORTER_LOG(ERROR) << "load CrashRpt1403.dll fail, path:" << WideToUtf8Log(path);
        return;
    }
    const auto getLastError = Lookup<CrGetLastErrorMsgAFn>(library, "crGetLastErrorMsgA");
    const auto install = Lookup<CrInstallWFn>(library, "crInstallW");
    if (install == nullptr) {
        if (getLastError != nullptr) {
            CRASHREPORTER_LOG(ERROR) << "crInstallW function pointer is error: " << LastErrorText(getLastError, 256);
        }
        return;
    }
    const int status = install(&record);
    if (status != 0) {
        CRASHREPORTER_LOG(ERROR) << "crInstallW installStatus: " << status << ", error: " << LastErrorText(getLastError, 256);
        return;
    }
    RegisterCallbackAndLogs(library, getLastError, info);
}

int WINAPI CrashCallback(CrCrashCallbackInfoW* info) {
    try {
        // A second stage, or a crash after the program shut logging down,
        // finds logging already down; shutting it down twice would abort.
        if (google::IsGoogleLoggingInitialized()) {
            google::FlushLogFiles(google::GLOG_INFO);
            google::FlushLogFiles(google::GLOG_WARNING);
            google::FlushLogFiles(google::GLOG_ERROR);
            google::ShutdownGoogleLogging();
        }
    } catch (...) {
        // Nothing may escape into the crash handler.
    }
    RestartClient(info != nullptr ? static_cast<const RestartInfo*>(info->pUserParam) : nullptr);
    return kCrCallbackNotifyNextStage;
}
