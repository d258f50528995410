#include "support/test_support.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <fstream>

#include "velisk/handles.h"
#include "velisk/wide_text.h"

namespace testing_support {

std::wstring Utf8ToWide(const std::string& text) { return velisk::ToWide(text); }

std::string WideToUtf8String(const std::wstring& text) { return velisk::ToUtf8(text); }

static std::wstring Normalize(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring WinePath(const std::string& hostPath, const std::wstring& part) {
    return Normalize(L"Z:" + Utf8ToWide(hostPath) + (part.empty() ? L"" : L"/" + part));
}

ScratchDir::ScratchDir(const std::wstring& hint) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    for (;;) {
        m_path = std::wstring(temp) + L"vt_" + hint + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                 std::to_wstring(counter++);
        if (::CreateDirectoryW(m_path.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
}

ScratchDir::~ScratchDir() { RemoveTree(m_path); }

std::wstring ScratchDir::operator/(const std::wstring& relative) const {
    return m_path + L"\\" + Normalize(relative);
}

static void CreateParents(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return;
    const std::wstring parent = path.substr(0, cut);
    if (parent.empty() || DirExists(parent)) return;
    ::SHCreateDirectoryExW(nullptr, Normalize(parent).c_str(), nullptr);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    CreateParents(path);
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return bytes.empty() || (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                         &written, nullptr) &&
                             written == bytes.size());
}

bool WriteUtf8(const std::wstring& path, const std::wstring& text) {
    return WriteBytes(path, WideToUtf8String(text));
}

std::string ReadBytes(const std::wstring& path) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
    return out;
}

bool FileExists(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveTree(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return ::DeleteFileW(path.c_str()) != 0;
    }
    for (const auto& name : ListDir(path)) RemoveTree(path + L"\\" + name);
    return ::RemoveDirectoryW(path.c_str()) != 0;
}

std::vector<std::wstring> ListDir(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    velisk::UniqueFindHandle find(::FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) return names;
    do {
        if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0) {
            names.push_back(data.cFileName);
        }
    } while (::FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring ProgramDir() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L"\\/"));
}

std::wstring BinFile(const std::wstring& name) { return ProgramDir() + L"\\" + name; }

static std::vector<wchar_t> BuildEnvironment(const std::map<std::wstring, std::wstring>& extra) {
    std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> vars(
        [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) {
        const std::wstring entry(p);
        const size_t eq = entry.find(L'=', 1);
        if (eq != std::wstring::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    ::FreeEnvironmentStringsW(block);
    for (const auto& [k, v] : extra) vars[k] = v;
    std::vector<wchar_t> out;
    for (const auto& [k, v] : vars) {
        const std::wstring entry = k + L"=" + v;
        out.insert(out.end(), entry.begin(), entry.end());
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

std::vector<StartRecord> ReadStartRecords(const std::wstring& exePath) {
    std::vector<StartRecord> records;
    const std::wstring text = Utf8ToWide(ReadBytes(exePath + L".record"));
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L"\r\n", pos);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(pos, end - pos);
        pos = end + 2;
        const size_t cwdAt = line.find(L"\tcwd=");
        const size_t cmdAt = line.find(L"\tcmd=");
        if (line.rfind(L"pid=", 0) != 0 || cwdAt == std::wstring::npos || cmdAt == std::wstring::npos) continue;
        StartRecord r;
        r.pid = std::wcstoul(line.c_str() + 4, nullptr, 10);
        r.cwd = line.substr(cwdAt + 5, cmdAt - cwdAt - 5);
        r.cmd = line.substr(cmdAt + 5);
        records.push_back(r);
    }
    return records;
}

std::wstring ReadRegString(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return buffer;
}

std::vector<std::wstring> RecordedCommands(const std::wstring& exePath) {
    std::vector<std::wstring> commands;
    for (const auto& r : ReadStartRecords(exePath)) commands.push_back(r.cmd);
    return commands;
}

ChildProcess::ChildProcess(const std::wstring& commandLine, const std::wstring& workDir,
                           const std::map<std::wstring, std::wstring>& extraEnv) {
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    std::vector<wchar_t> env = BuildEnvironment(extraEnv);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, env.data(),
                         workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
        ::CloseHandle(info.hThread);
        m_process = info.hProcess;
        m_pid = info.dwProcessId;
    }
}

ChildProcess::~ChildProcess() {
    if (m_process == nullptr) return;
    if (!Wait(0)) Terminate();
    ::CloseHandle(m_process);
}

bool ChildProcess::Wait(DWORD ms) { return m_process && ::WaitForSingleObject(m_process, ms) == WAIT_OBJECT_0; }

DWORD ChildProcess::exitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_process) ::GetExitCodeProcess(m_process, &code);
    return code;
}

void ChildProcess::Terminate() {
    if (m_process == nullptr) return;
    ::TerminateProcess(m_process, 1);
    ::WaitForSingleObject(m_process, 5000);
}

static std::wstring PlaceClientStandIn(const std::wstring& path, const std::wstring& arguments) {
    ::CopyFileW(BinFile(L"client_standin.exe").c_str(), path.c_str(), FALSE);
    return L"\"" + path + L"\" " + arguments;
}

ClientStandIn::ClientStandIn(const std::wstring& path, const std::wstring& arguments)
    : ChildProcess(PlaceClientStandIn(path, arguments)) {
    if (!started()) return;
    WaitFor([&] { return !ReadStartRecords(path).empty(); });
    ::Sleep(200);
}

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workDir,
                         const std::map<std::wstring, std::wstring>& extraEnv, DWORD timeoutMs) {
    ProcessResult result;
    ChildProcess child(commandLine, workDir, extraEnv);
    if (!child.started()) return result;
    result.started = true;
    result.pid = child.pid();
    if (child.Wait(timeoutMs)) {
        result.finished = true;
        result.exitCode = child.exitCode();
    }
    return result;
}

}  // namespace testing_support
