// Ending the client and its related processes before files are replaced.
#include "app/process_control.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <sstream>

#include "app/path_identity.h"
#include "app/program_start.h"
#include "app/update_dlg.h"
#include "diag/command_line_quote.h"
#include "diag/command_values.h"
#include "diag/text_format.h"
#include "diag/unit_log.h"

namespace {

constexpr DWORD kEndWaitMs = 1000;
constexpr int kQuitAttempts = 10;
// How long the client is given to quit after each WM_QUIT.
constexpr DWORD kQuitWaitMs = 50;

// Calls `visit` for each process of a fresh snapshot, in snapshot order.
template <typename Visit>
void ForEachProcess(Visit visit) {
    velisk::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (!visit(entry)) return;
    }
}

// Ends a process with all access and exit code 0xFFFFFFFF, then waits for it.
void TerminateWithAllAccess(DWORD pid) {
    velisk::UniqueKernelHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
    if (!process) return;
    ::TerminateProcess(process.get(), 0xFFFFFFFF);
    ::WaitForSingleObject(process.get(), kEndWaitMs);
}

struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindTopLevelWindowOf(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->pid && ::GetParent(hwnd) == nullptr) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::vector<std::wstring> ParseRelatedExes(const std::wstring& json, bool* parsed) {
    *parsed = true;
    std::vector<std::wstring> names;
    try {
        std::wistringstream stream(json);
        boost::property_tree::wptree tree;
        boost::property_tree::read_json(stream, tree);
        for (const auto& child : tree) names.push_back(child.second.data());
    } catch (const boost::property_tree::json_parser_error& e) {
        UPDATEDLG_LOG(ERROR) << "killRelatedExe" << e.message();
        *parsed = false;
    } catch (const std::exception& e) {
        UPDATEDLG_LOG(ERROR) << "killRelatedExe" << e.what();
        *parsed = false;
    }
    if (!*parsed) names = {L"vk_service.exe", L"QtWebEngineProcess.exe"};
    // Only names of programs: anything else is no process of the client.
    std::vector<std::wstring> plain;
    for (const auto& name : names) {
        if (IsPlainFileName(name)) {
            plain.push_back(name);
        } else {
            UPDATEDLG_LOG(WARNING) << "related name refused: " << WideToUtf8Log(name);
        }
    }
    return plain;
}

std::wstring BuildHaltrixParameter(const std::vector<DWORD>& pids) {
    if (pids.empty()) return L"";
    std::wstring list = L"[";
    for (DWORD pid : pids) list += std::to_wstring(pid) + L",";
    list.back() = L']';
    return L"--pids " + QuoteArgument(list);
}

long KillProcessById(DWORD pid) {
    velisk::UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process || !::TerminateProcess(process.get(), 0)) return static_cast<long>(pid);
    ::WaitForSingleObject(process.get(), kEndWaitMs);
    return -1;
}

long FindProcessByName(const std::wstring& exeName) {
    long found = -1;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (::CompareStringOrdinal(entry.szExeFile, -1, exeName.c_str(), -1, TRUE) == CSTR_EQUAL) {
            found = static_cast<long>(entry.th32ProcessID);
            return false;
        }
        return true;
    });
    return found;
}

bool IsProcessInside(DWORD pid, const ProcessFolders& folders, std::wstring* imagePath) {
    std::wstring path;
    velisk::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (process) {
        std::wstring buffer(32768, L'\0');
        DWORD size = static_cast<DWORD>(buffer.size());
        if (::QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size)) path.assign(buffer.data(), size);
    }
    if (imagePath != nullptr) *imagePath = path;
    if (path.empty()) return false;
    for (const std::wstring& folder : folders) {
        if (!folder.empty() && IsPathInside(path, folder)) return true;
    }
    return false;
}

namespace {

// True for a process inside `folders`; logs the WARNING for one outside.
bool MayEnd(DWORD pid, const wchar_t* exeName, const ProcessFolders& folders) {
    std::wstring image;
    if (IsProcessInside(pid, folders, &image)) return true;
    UPDATEDLG_LOG(WARNING) << "process left alone, not inside the installation: " << WideToUtf8Log(exeName) << " pid "
                           << pid << " image " << WideToUtf8Log(image.empty() ? L"(unknown)" : image);
    return false;
}

// Ids of every process named `exeName` (without regard to case) that lies
// inside `folders`; each one outside is logged.
std::vector<DWORD> FindProcessesInside(const std::wstring& exeName, const ProcessFolders& folders) {
    std::vector<DWORD> named;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (::CompareStringOrdinal(entry.szExeFile, -1, exeName.c_str(), -1, TRUE) == CSTR_EQUAL) {
            named.push_back(entry.th32ProcessID);
        }
        return true;
    });
    std::vector<DWORD> inside;
    for (DWORD pid : named) {
        if (MayEnd(pid, exeName.c_str(), folders)) inside.push_back(pid);
    }
    return inside;
}

// Ends the children of `pid` that lie inside `folders` (never this process),
// asks its first top-level window to quit and terminates it if it runs on.
void CloseOneClient(DWORD pid, const ProcessFolders& folders) {
    std::vector<std::pair<DWORD, std::wstring>> children;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ParentProcessID == pid) children.emplace_back(entry.th32ProcessID, entry.szExeFile);
        return true;
    });
    for (const auto& child : children) {
        if (child.first != ::GetCurrentProcessId() && MayEnd(child.first, child.second.c_str(), folders)) {
            TerminateWithAllAccess(child.first);
        }
    }
    WindowSearch search = {pid, nullptr};
    ::EnumWindows(&FindTopLevelWindowOf, reinterpret_cast<LPARAM>(&search));
    velisk::UniqueKernelHandle client(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    bool running = true;
    if (search.found != nullptr) {
        for (int attempt = 0; attempt < kQuitAttempts && running; ++attempt) {
            ::PostMessageW(search.found, WM_QUIT, 0, 0);
            if (!client) {
                // Nothing to wait on: the client gets its grace, then is
                // terminated like one that did not quit.
                ::Sleep(kQuitWaitMs);
                continue;
            }
            running = ::WaitForSingleObject(client.get(), kQuitWaitMs) == WAIT_TIMEOUT;
        }
    }
    if (running) TerminateWithAllAccess(pid);
}

}  // namespace

void KillProcessesByName(const std::vector<std::wstring>& names, const ProcessFolders& folders) {
    std::vector<std::pair<DWORD, std::wstring>> named;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        for (const auto& name : names) {
            if (name == entry.szExeFile) named.emplace_back(entry.th32ProcessID, name);
        }
        return true;
    });
    std::vector<DWORD> matches;
    for (const auto& process : named) {
        if (MayEnd(process.first, process.second.c_str(), folders)) matches.push_back(process.first);
    }

    std::vector<DWORD> survivors;
    for (DWORD pid : matches) {
        if (KillProcessById(pid) != -1) survivors.push_back(pid);
    }
    const std::wstring parameter = BuildHaltrixParameter(survivors);
    if (parameter.empty()) return;

    // The elevated helper beside the updater ends what this process could
    // not; it is handed only processes found inside the installation.
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    // By its full path beside Update, never found by the search order.
    const std::wstring folder = UpdateProgramFolder();
    const std::wstring helperPath = folder + L"\\Haltrix.exe";
    info.lpFile = helperPath.c_str();
    info.lpParameters = parameter.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_HIDE;
    if (!folder.empty()) ::ShellExecuteExW(&info);
    velisk::UniqueKernelHandle tool(info.hProcess);
    const INT_PTR started = reinterpret_cast<INT_PTR>(info.hInstApp);
    if (started > 32 && tool) ::WaitForSingleObject(tool.get(), INFINITE);
    UPDATEDLG_LOG(INFO) << "cmd = " << WideToUtf8Log(parameter);
    UPDATEDLG_LOG(INFO) << "o_ret" << started;
}

void CloseClientProcess(const std::wstring& exeName, const ProcessFolders& folders) {
    // Every instance started from the installation holds its files.
    for (DWORD pid : FindProcessesInside(exeName, folders)) CloseOneClient(pid, folders);
}

std::vector<std::wstring> CUpdateDlg::ProcessFoldersOfRun() const {
    // A copy mode's staging folder lies inside the installation (a folder
    // elsewhere is refused before any process is ended).
    return {m_installDir};
}

void CUpdateDlg::killRelatedExe() {
    if (m_relatedExes.size() <= 1) return;
    bool parsed = true;
    KillProcessesByName(ParseRelatedExes(m_relatedExes, &parsed), ProcessFoldersOfRun());
}

void CUpdateDlg::CloseTargetClient(const std::wstring& exeName) { CloseClientProcess(exeName, ProcessFoldersOfRun()); }
