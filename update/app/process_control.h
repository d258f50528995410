// Ending the client and the related processes whose files an update
// replaces. Processes this program cannot end are handed, as one id list, to
// the elevated helper "Haltrix.exe" in the updater's own folder.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Parses the related-process list (a JSON array of executable names; each
// direct child's value in document order). On a parse error logs ERROR
// "killRelatedExe" + the parser's message, sets *parsed to false and returns
// the default list "vk_service.exe", "QtWebEngineProcess.exe". Names that
// are not plain file names are left out, each with a WARNING line.
std::vector<std::wstring> ParseRelatedExes(const std::wstring& json, bool* parsed);

// The helper's parameter for `pids`: --pids "[id,id,...]" (quoted by the
// common argument rules); empty for no ids.
std::wstring BuildHaltrixParameter(const std::vector<DWORD>& pids);

// Ends every process whose executable name equals one of `names` exactly
// (with case). Ids that cannot be ended go to "Haltrix.exe" beside Update,
// started by its full path with "runas" and awaited; then "cmd = " and
// "o_ret" are logged.
void KillProcessesByName(const std::vector<std::wstring>& names);

// Ends one process (exit code 0) and waits up to 1 s. Returns -1 when it was
// ended, otherwise the id.
long KillProcessById(DWORD pid);

// Id of the first running process whose executable name equals `exeName`
// without regard to case, or -1.
long FindProcessByName(const std::wstring& exeName);

// Closes the client: ends its direct children (never this process), posts
// WM_QUIT to its first top-level window up to 10 times, and terminates it if
// it is still found. Reports nothing.
void CloseClientProcess(const std::wstring& exeName);
