// Fixtures of the pipeline tests: the releases published at build time by
// make_pipeline_fixture.py, folder copies, and the status records an engine
// reports.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/auto_updater.h"
#include "support/test_support.h"

namespace pipeline_testing {

// Wine path of a part of the build-time fixture, e.g. L"v1/install".
std::wstring Fixture(const std::wstring& part);

// Copies the folder tree `from` into `to` (created as needed). False on failure.
bool CopyTree(const std::wstring& from, const std::wstring& to);

// Relative names ("/" between levels) of every file below `root`, sorted.
std::vector<std::wstring> ListTree(const std::wstring& root);

// True when both files exist and hold the same bytes.
bool SameBytes(const std::wstring& a, const std::wstring& b);

// A stand-in process (file_holder.exe) that holds `path` open without
// sharing while it lives, as a program that keeps a file open would.
class FileHolder {
public:
    explicit FileHolder(const std::wstring& path);
    // True once the file is held.
    bool holding() const { return m_holding; }
    bool running() { return !m_process.Wait(0); }
    DWORD pid() const { return m_process.pid(); }
    // Ends the holder, which lets the file go.
    void End();

private:
    testing_support::ChildProcess m_process;
    bool m_holding = false;
};

// One status record as text: code, index, total, fileSize, received,
// totalReceived and the name, separated by blanks. Plug-ins write the same.
std::string Describe(const FileUpdateStatus& record);

// Collects every record of an engine's status callback; `onStatus`, when
// set, runs after each one is stored (on the engine's thread).
class StatusLog {
public:
    static void Callback(const FileUpdateStatus* record, void* self);

    std::vector<FileUpdateStatus> records() const;
    std::vector<int> codes() const;
    std::vector<std::string> lines() const;
    // The codes with runs of FUS_DOWNLOADING folded into one.
    std::vector<int> foldedCodes() const;

    std::function<void(const FileUpdateStatus&)> onStatus;

private:
    mutable std::mutex m_mutex;
    std::vector<FileUpdateStatus> m_records;
};

}  // namespace pipeline_testing
