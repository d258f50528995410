// A scratch world for running the real Update.exe from a folder of its own:
//   program\Update.exe     a copy of the built program (its working folder,
//                          where the crash reporter copies its library to)
//   install\VeliskLive.exe the client stand-in (records how it was started)
//   launcher\zuZavozeVororiz.exe  the launcher stand-in
//   new\version.ini        the new version's file (tests write it)
//   temp\                  %TEMP% of the run, so its logs are its own
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "velisk/handles.h"

namespace update_sandbox {

using testing_support::StartRecord;

class UpdateSandbox {
public:
    // `program` is the built program copied in as program\Update.exe
    // (UpdateSigned.exe for the signed-update tests).
    explicit UpdateSandbox(const std::wstring& program = L"Update.exe");
    ~UpdateSandbox();  // ends client stand-ins that are still running

    // The six update-mode arguments for this sandbox: a manifest address that
    // answers 404 from the shared test server, no caller to wait for.
    std::wstring UpdateModeArguments() const;
    // The same with a manifest address and the id of the caller to wait for.
    std::wstring UpdateModeArguments(const std::wstring& manifestUrl, DWORD waitPid) const;

    // Starts Update.exe with `arguments` and %TEMP%/%TMP% set to temp\ plus
    // `extraEnv`; returns the process handle (empty on failure).
    velisk::UniqueKernelHandle Start(const std::wstring& arguments,
                                     const std::map<std::wstring, std::wstring>& extraEnv) const;
    // Starts and waits up to `timeoutMs`; false when it did not end in time
    // (it is then terminated). `exitCode` receives the exit code.
    bool Run(const std::wstring& arguments, const std::map<std::wstring, std::wstring>& extraEnv,
             DWORD* exitCode = nullptr, DWORD timeoutMs = 90000) const;

    // What went wrong while the sandbox was made or a run was started, empty
    // when nothing did (for failure messages).
    const std::string& problem() const { return m_problem; }

    // The log file of one severity ("info", "error", ...) of the run.
    std::string Log(const char* severity) const;
    std::vector<StartRecord> ClientStarts() const;
    std::vector<StartRecord> LauncherStarts() const;

private:
    void CopyIn(const std::wstring& from, const std::wstring& to);

    testing_support::ScratchDir m_root;
    mutable std::string m_problem;

public:
    const std::wstring programDir;
    const std::wstring installDir;  // without a trailing separator
    const std::wstring launcherDir;
    const std::wstring launcherPath;
    const std::wstring newIni;
    const std::wstring tempDir;
};

// The messages of the glog lines of `log` ("text" of "E1209 ... file:12] text")
// whose source file is `sourceFile`, in order.
std::vector<std::string> LogMessages(const std::string& log, const std::string& sourceFile);

}  // namespace update_sandbox
