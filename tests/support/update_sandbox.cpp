#include "support/update_sandbox.h"

namespace update_sandbox {
namespace {

using namespace testing_support;

// This process's environment with `overrides` set (names compared without case).
std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& overrides) {
    std::map<std::wstring, std::wstring> entries;
    std::map<std::wstring, std::wstring> names;  // upper-case name -> name as written
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
        const std::wstring entry(p);
        const size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos) continue;
        std::wstring upper = entry.substr(0, eq);
        ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
        entries[upper] = entry;
    }
    if (block != nullptr) ::FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : overrides) {
        std::wstring upper = name;
        ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
        entries[upper] = name + L"=" + value;
    }
    std::wstring result;
    for (const auto& [upper, entry] : entries) {
        result += entry;
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

}  // namespace

UpdateSandbox::UpdateSandbox(const std::wstring& program)
    : m_root(L"ups"),
      programDir(m_root / L"program"),
      installDir(m_root / L"install"),
      launcherDir(m_root / L"launcher"),
      launcherPath(m_root / L"launcher\\zuZavozeVororiz.exe"),
      newIni(m_root / L"new\\version.ini"),
      tempDir(m_root / L"temp") {
    for (const auto& dir : {programDir, installDir, launcherDir, tempDir, m_root / L"new"}) {
        ::CreateDirectoryW(dir.c_str(), nullptr);
    }
    CopyIn(BinFile(program), programDir + L"\\Update.exe");
    CopyIn(BinFile(L"Lockscan.dll"), programDir + L"\\Lockscan.dll");
    CopyIn(BinFile(L"client_standin.exe"), installDir + L"\\VeliskLive.exe");
    CopyIn(BinFile(L"launcher_standin.exe"), launcherPath);
}

// A copy or a start that fails is tried twice more after a pause, and every
// failure is kept for the test's failure message: once, on a fresh Wine
// prefix under a full parallel test run, starting the copied program failed
// for a reason that did not show again.
constexpr int kAttempts = 3;
constexpr DWORD kPauseMs = 500;

void UpdateSandbox::CopyIn(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) ::Sleep(kPauseMs);
        if (::CopyFileW(from.c_str(), to.c_str(), FALSE)) return;
        m_problem += "copying " + WideToUtf8String(from) + " failed with error " + std::to_string(::GetLastError()) +
                     "; ";
    }
}

UpdateSandbox::~UpdateSandbox() {
    for (const auto& r : ClientStarts()) {
        velisk::UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, r.pid));
        if (process) {
            ::TerminateProcess(process.get(), 0);
            ::WaitForSingleObject(process.get(), 5000);
        }
    }
}

std::wstring UpdateSandbox::UpdateModeArguments() const {
    return UpdateModeArguments(L"http://localhost/none/ProgramConfig.zip", 0);
}

std::wstring UpdateSandbox::UpdateModeArguments(const std::wstring& manifestUrl, DWORD waitPid) const {
    return L"\"" + installDir + L"\" \"" + manifestUrl + L"\" \"" + newIni + L"\" " + std::to_wstring(waitPid) +
           L" \"" + launcherDir + L"\" \"" + launcherPath + L"\"";
}

velisk::UniqueKernelHandle UpdateSandbox::Start(const std::wstring& arguments,
                                                const std::map<std::wstring, std::wstring>& extraEnv) const {
    std::map<std::wstring, std::wstring> env = extraEnv;
    env[L"TEMP"] = tempDir;
    env[L"TMP"] = tempDir;
    std::wstring environment = EnvironmentBlock(env);
    std::wstring commandLine = L"\"" + programDir + L"\\Update.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    for (int attempt = 0;; ++attempt) {
        if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                             environment.data(), programDir.c_str(), &startup, &info)) {
            break;
        }
        m_problem += "starting Update.exe failed with error " + std::to_string(::GetLastError()) +
                     (FileExists(programDir + L"\\Update.exe") ? "" : " (the copy is missing)") + "; ";
        if (attempt + 1 == kAttempts) return velisk::UniqueKernelHandle();
        ::Sleep(kPauseMs);
    }
    ::CloseHandle(info.hThread);
    return velisk::UniqueKernelHandle(info.hProcess);
}

bool UpdateSandbox::Run(const std::wstring& arguments, const std::map<std::wstring, std::wstring>& extraEnv,
                        DWORD* exitCode, DWORD timeoutMs) const {
    velisk::UniqueKernelHandle process = Start(arguments, extraEnv);
    if (!process) return false;
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return false;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    if (exitCode != nullptr) *exitCode = code;
    return true;
}

std::string UpdateSandbox::Log(const char* severity) const {
    return ReadBytes(tempDir + L"\\VeliskUpdateLog\\update_" + Utf8ToWide(severity) + L".log");
}

std::vector<StartRecord> UpdateSandbox::ClientStarts() const {
    return ReadStartRecords(installDir + L"\\VeliskLive.exe");
}

std::vector<StartRecord> UpdateSandbox::LauncherStarts() const { return ReadStartRecords(launcherPath); }

std::vector<std::string> LogMessages(const std::string& log, const std::string& sourceFile) {
    std::vector<std::string> messages;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t end = log.find('\n', pos);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t source = line.find(" " + sourceFile + ":");
        const size_t close = line.find("] ", source == std::string::npos ? 0 : source);
        if (source == std::string::npos || close == std::string::npos) continue;
        messages.push_back(line.substr(close + 2));
    }
    return messages;
}

}  // namespace update_sandbox
