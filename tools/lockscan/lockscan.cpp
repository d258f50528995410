// Lockscan.dll: the holders of a file through the Restart Manager, and the
// release of the file by closing or ending them (see lockscan.h).
#include "lockscan.h"

#include <windows.h>
#include <restartmanager.h>

#include <vector>

#include "velisk/handles.h"

namespace {

// Ends a Restart Manager session when it goes out of scope.
class RmSession {
public:
    RmSession() {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        m_valid = ::RmStartSession(&m_handle, 0, key) == ERROR_SUCCESS;
    }
    ~RmSession() {
        if (m_valid) ::RmEndSession(m_handle);
    }
    RmSession(const RmSession&) = delete;
    RmSession& operator=(const RmSession&) = delete;

    bool valid() const { return m_valid; }
    DWORD handle() const { return m_handle; }

private:
    DWORD m_handle = 0;
    bool m_valid = false;
};

// The processes that the Restart Manager reports for `path`; empty when it
// reports none or fails.
std::vector<RM_PROCESS_INFO> ListHolders(const wchar_t* path) {
    RmSession session;
    if (!session.valid()) return {};
    LPCWSTR files[] = {path};
    if (::RmRegisterResources(session.handle(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) return {};
    std::vector<RM_PROCESS_INFO> holders;
    for (int round = 0; round < 4; ++round) {  // the list may grow between the calls
        UINT needed = 0;
        UINT size = static_cast<UINT>(holders.size());
        DWORD reasons = 0;
        const DWORD result = ::RmGetList(session.handle(), &needed, &size, holders.empty() ? nullptr : holders.data(),
                                         &reasons);
        if (result == ERROR_SUCCESS) {
            holders.resize(size);
            return holders;
        }
        if (result != ERROR_MORE_DATA) return {};
        holders.resize(needed);
    }
    return {};
}

ULONGLONG FileTimeValue(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A holder this call may act on: not the caller, not critical, and still the
// process that was reported (same start time).
velisk::UniqueKernelHandle OpenHolder(const RM_PROCESS_INFO& info) {
    const DWORD pid = info.Process.dwProcessId;
    if (pid == ::GetCurrentProcessId() || info.ApplicationType == RmCritical) return {};
    velisk::UniqueKernelHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return {};
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
        FileTimeValue(created) != FileTimeValue(info.Process.ProcessStartTime)) {
        return {};
    }
    return process;
}

BOOL CALLBACK PostCloseToWindow(HWND window, LPARAM pidValue) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(pidValue)) ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// A holder that this call may ask to close or end.
struct Holder {
    DWORD pid;
    velisk::UniqueKernelHandle process;
};

// Waits up to `waitMs` in all for every holder to end; drops those that ended.
void WaitForEnd(std::vector<Holder>& holders, int waitMs) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(waitMs > 0 ? waitMs : 0);
    for (Holder& holder : holders) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (::WaitForSingleObject(holder.process.get(), left) == WAIT_OBJECT_0) holder.process.reset();
    }
    std::erase_if(holders, [](const Holder& holder) { return !holder.process; });
}

bool CanOpenForWriting(const wchar_t* path) {
    velisk::UniqueFileHandle file(
        ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

}  // namespace

extern "C" int __cdecl GetLockedFileInfo(const wchar_t* path, DWORD* processIds, int* count, int askToClose,
                                         int endProcesses, int waitMs) {
    if (count != nullptr) *count = 0;
    if (path == nullptr || processIds == nullptr || count == nullptr) return 0;

    std::vector<Holder> running;
    for (const RM_PROCESS_INFO& info : ListHolders(path)) {
        if (*count < LOCKSCAN_MAX_PROCESS_IDS) processIds[(*count)++] = info.Process.dwProcessId;
        velisk::UniqueKernelHandle process = OpenHolder(info);
        if (process) running.push_back({info.Process.dwProcessId, std::move(process)});
    }

    if (askToClose && !running.empty()) {
        for (const Holder& holder : running) ::EnumWindows(&PostCloseToWindow, static_cast<LPARAM>(holder.pid));
        WaitForEnd(running, waitMs);
    }
    if (endProcesses && !running.empty()) {
        for (const Holder& holder : running) ::TerminateProcess(holder.process.get(), ERROR_SHARING_VIOLATION);
        WaitForEnd(running, waitMs);
    }
    return CanOpenForWriting(path) ? 1 : 0;
}
