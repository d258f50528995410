// Fixtures shared by all tests: scratch folders, files, processes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// A new empty folder under the Windows temporary folder, removed with its
// contents when the object goes away. path() ends without a separator.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& hint = L"t");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::wstring& path() const { return m_path; }
    // path() + "\\" + relative ("/" in `relative` becomes "\\").
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring m_path;
};

// Writes bytes to a file, creating missing parent folders. False on failure.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Writes wide text as UTF-8 (no byte-order mark).
bool WriteUtf8(const std::wstring& path, const std::wstring& text);
// Reads a whole file; an empty string when it cannot be read.
std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
// Removes a file or a folder tree; true when nothing is left.
bool RemoveTree(const std::wstring& path);
// Names of the entries of a folder (files and folders), sorted.
std::vector<std::wstring> ListDir(const std::wstring& dir);

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8String(const std::wstring& text);

// The Wine path (drive Z:, backslashes) of a path of the host machine:
// `hostPath` (UTF-8), followed by "\\" + `part` when a part is given ("/" in
// `part` becomes "\\").
std::wstring WinePath(const std::string& hostPath, const std::wstring& part = L"");

// Folder of the running test program (the build tree's bin folder).
std::wstring ProgramDir();
// A file beside the running test program.
std::wstring BinFile(const std::wstring& name);

struct ProcessResult {
    bool started = false;
    bool finished = false;   // false: timed out and was terminated
    DWORD exitCode = 0;
    DWORD pid = 0;
};

// Starts `commandLine` (the program path must be quoted by the caller when it
// has blanks) in `workDir` (empty: inherit) with extra environment variables
// added to this process's environment, and waits up to `timeoutMs`.
ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workDir = L"",
                         const std::map<std::wstring, std::wstring>& extraEnv = {},
                         DWORD timeoutMs = 60000);

// A started process that is ended (terminated) when the object goes away
// unless it has finished.
class ChildProcess {
public:
    // Starts like RunProcess; started() tells whether it worked.
    ChildProcess(const std::wstring& commandLine, const std::wstring& workDir = L"",
                 const std::map<std::wstring, std::wstring>& extraEnv = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_process != nullptr; }
    DWORD pid() const { return m_pid; }
    HANDLE handle() const { return m_process; }
    // Waits up to `ms`; true when the process has ended.
    bool Wait(DWORD ms);
    DWORD exitCode() const;
    void Terminate();

private:
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
};

// A copy of the client stand-in placed at `path` and started with
// `arguments`; ready once it has recorded its start and had a moment to make
// its window. Ended when the object goes away unless it has finished.
class ClientStandIn : public ChildProcess {
public:
    explicit ClientStandIn(const std::wstring& path, const std::wstring& arguments = L"");
    bool running() const { return started() && ::WaitForSingleObject(handle(), 0) == WAIT_TIMEOUT; }
};

// One start of a stand-in program, as it recorded it in "<exe>.record".
struct StartRecord {
    DWORD pid = 0;
    std::wstring cwd;
    std::wstring cmd;
};

// Every start recorded beside `exePath`, in order (none when never started).
std::vector<StartRecord> ReadStartRecords(const std::wstring& exePath);
// Only the command lines of those starts.
std::vector<std::wstring> RecordedCommands(const std::wstring& exePath);

// A REG_SZ value (`name` null: the default value); "<missing>" when absent.
std::wstring ReadRegString(HKEY root, const std::wstring& path, const wchar_t* name);

// Polls `predicate` every 20 ms until it holds or `timeoutMs` passes.
template <typename Predicate>
bool WaitFor(Predicate predicate, DWORD timeoutMs = 10000) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (predicate()) return true;
        if (::GetTickCount64() >= end) return false;
        ::Sleep(20);
    }
}

}  // namespace testing_support
