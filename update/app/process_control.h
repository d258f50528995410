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

// Folders whose programs an update may end: the installation (and, in the
// copy mode, the staging folder). A process whose image file lies elsewhere
// is never ended, however it is named.
using ProcessFolders = std::vector<std::wstring>;

// True when the image file of process `pid` lies inside one of `folders`;
// `imagePath` (optional) receives the image path, empty when it cannot be
// read (such a process counts as outside).
bool IsProcessInside(DWORD pid, const ProcessFolders& folders, std::wstring* imagePath = nullptr);

// Ends every process whose executable name equals one of `names` exactly
// (with case) and whose image lies inside `folders`; any other process of
// such a name is left alone with one WARNING line. Ids that cannot be ended
// go to "Haltrix.exe" beside Update, started by its full path with "runas"
// and awaited; then "cmd = " and "o_ret" are logged.
void KillProcessesByName(const std::vector<std::wstring>& names, const ProcessFolders& folders);

// Ends one process (exit code 0) and waits up to 1 s. Returns -1 when it was
// ended, otherwise the id.
long KillProcessById(DWORD pid);

// Id of the first running process whose executable name equals `exeName`
// without regard to case, or -1.
long FindProcessByName(const std::wstring& exeName);

// Closes the client: every process of that name (without regard to case)
// whose image lies inside `folders`. For each, ends its direct children that
// lie inside `folders` too (never this process), posts WM_QUIT to its first
// top-level window up to 10 times, and terminates it if it is still running.
// Processes of that name elsewhere are left alone with a WARNING each.
void CloseClientProcess(const std::wstring& exeName, const ProcessFolders& folders);
