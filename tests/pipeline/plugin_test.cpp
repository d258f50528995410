// Update plug-ins: which libraries of the folder are taken, what each kind
// receives, and the reports of a whole run as the status callback and two
// plug-ins see them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/sdk_updater.h"
#include "pipeline/update_run.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::Describe;
using pipeline_testing::Fixture;
using pipeline_testing::UpdateRun;
using testing_support::BinFile;
using testing_support::LogCapture;
using testing_support::ReadBytes;
using testing_support::ScratchDir;

// The file the test plug-ins append their events to, for this test only.
class PluginRecord {
public:
    PluginRecord() : m_path(m_dir / L"record.txt") {
        ::SetEnvironmentVariableW(L"VELISK_PLUGIN_RECORD", m_path.c_str());
    }
    ~PluginRecord() { ::SetEnvironmentVariableW(L"VELISK_PLUGIN_RECORD", nullptr); }

    std::vector<std::string> lines() const {
        std::vector<std::string> lines;
        std::istringstream text(ReadBytes(m_path));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }
    // The events of one plug-in file, without its name.
    std::vector<std::string> of(const std::string& plugin) const {
        std::vector<std::string> events;
        for (const std::string& line : lines()) {
            if (line.rfind(plugin + " ", 0) == 0) events.push_back(line.substr(plugin.size() + 1));
        }
        return events;
    }

private:
    ScratchDir m_dir{L"plg"};
    std::wstring m_path;
};

// Places a built test plug-in into `folder` under `name`.
void PlacePlugin(const std::wstring& built, const std::wstring& folder, const std::wstring& name) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(BinFile(L"test_plugins\\" + built).c_str(), (folder + L"\\" + name).c_str(), FALSE));
}

TEST(Plugins, EachKindOfLibraryIsTakenNotifiedAndUnloadedAsItAllows) {
    ScratchDir root(L"plk");
    const std::wstring folder = root / L"plugins";
    const std::wstring installDir = root / L"install";
    PlacePlugin(L"decline_plugin.dll", folder, L"decline_plugin.dll");
    PlacePlugin(L"no_unload_plugin.dll", folder, L"no_unload_plugin.dll");
    PlacePlugin(L"needs_helper_plugin.dll", folder, L"needs_helper_plugin.dll");
    PlacePlugin(L"helper\\plugin_helper.dll", installDir, L"plugin_helper.dll");
    PluginRecord record;

    SDKUpdater engine;
    {
        // The engine keeps its own copy: the caller's strings go away at once.
        std::wstring pluginDir = folder, searchDir = installDir, notes = L"notes";
        const wchar_t* searchDirs[] = {searchDir.c_str()};
        PluginOptions options = {};
        options.pluginDir = pluginDir.c_str();
        options.searchDirs = searchDirs;
        options.searchDirCount = 1;
        options.silent = 1;
        options.updateNotes = notes.c_str();
        wcscpy(options.versionName, L"v7");
        engine.SetPluginOptions(&options);
        pluginDir.assign(pluginDir.size(), L'#');
        searchDir.assign(searchDir.size(), L'#');
        notes.assign(notes.size(), L'#');
    }
    std::wstring pluginDir = folder;
    ASSERT_EQ(engine.LoadPlugins(pluginDir.c_str()), 2);
    FileUpdateStatus status = ClearedStatus(FUS_VERIFYFILE, L"x");
    status.index = 1;
    status.total = 1;
    engine.NotifyStatus(status);
    engine.UnloadPlugins();

    const std::string load = "load silent=1 dirs=1 version=v7 notes=notes";
    EXPECT_EQ(record.of("decline_plugin.dll"), (std::vector<std::string>{load}));
    EXPECT_EQ(record.of("needs_helper_plugin.dll"),
              (std::vector<std::string>{load + " helper=42", "report 4 1 1 0 0 0 x", "unload"}));
    EXPECT_EQ(record.of("no_unload_plugin.dll"), (std::vector<std::string>{load, "report 4 1 1 0 0 0 x"}));
}

TEST(Plugins, NoLibraryIsLoadedOutsideHiddenRuns) {
    ScratchDir root(L"plv");
    const std::wstring folder = root / L"plugins";
    PlacePlugin(L"accept_plugin.dll", folder, L"a.dll");
    PluginRecord record;
    SDKUpdater engine;
    PluginOptions options = {};
    options.pluginDir = folder.c_str();
    options.updateNotes = L"";
    engine.SetPluginOptions(&options);

    EXPECT_EQ(engine.LoadPlugins(folder.c_str()), 0);
    EXPECT_TRUE(record.lines().empty());
}

// A hidden run's plug-in options: the libraries of `folder`, no search folders.
void UseSilentPlugins(IVkAutoUpdater& engine, const std::wstring& folder, const wchar_t* notes) {
    PluginOptions options = {};
    options.pluginDir = folder.c_str();
    options.silent = 1;
    options.updateNotes = notes;
    engine.SetPluginOptions(&options);
}

uint64_t FileSize(const std::wstring& path) { return ReadBytes(path).size(); }

// Checks the fields of every record of a run that downloads `changed`
// (archives `sizes`) out of the five names of version 7.
void ExpectRecordsOfRun(const std::vector<FileUpdateStatus>& records, const std::vector<std::wstring>& changed,
                        const std::vector<uint64_t>& sizes) {
    const std::vector<std::wstring> names = {L"bin/x.dll", L"change_a.bin", L"keep.txt", L"new.txt",
                                             L"sub/keep2.dat"};
    size_t at = 0;
    auto next = [&]() -> const FileUpdateStatus& { return records.at(at++); };
    for (size_t i = 0; i < names.size(); ++i) {
        FileUpdateStatus expected = ClearedStatus(FUS_VERIFYFILE, names[i]);
        expected.index = static_cast<int32_t>(i + 1);
        expected.total = static_cast<int32_t>(names.size());
        EXPECT_EQ(Describe(next()), Describe(expected));
    }
    uint64_t totalBefore = 0;
    for (size_t k = 0; k < changed.size(); ++k) {
        FileUpdateStatus expected = ClearedStatus(FUS_DOWNLOADSTART, changed[k]);
        expected.total = static_cast<int32_t>(changed.size());
        expected.index = static_cast<int32_t>(k);
        EXPECT_EQ(Describe(next()), Describe(expected));
        uint64_t lastReceived = 0;
        while (at < records.size() && records[at].status == FUS_DOWNLOADING) {
            const FileUpdateStatus& r = next();
            EXPECT_EQ(r.fileSize, sizes[k]);
            EXPECT_GT(r.received, lastReceived);
            EXPECT_EQ(r.totalReceived, totalBefore + r.received);
            EXPECT_EQ(std::wstring(r.fileName), changed[k]);
            lastReceived = r.received;
        }
        expected.status = FUS_DOWNLOADSUCCESS;
        expected.fileSize = expected.received = sizes[k];
        expected.totalReceived = totalBefore + sizes[k];
        EXPECT_EQ(Describe(next()), Describe(expected));
        totalBefore += sizes[k];
    }
    for (int code : {FUS_COPYSTART, FUS_COPYEND, FUS_SUCCESS}) {
        EXPECT_EQ(Describe(next()), Describe(ClearedStatus(code, L"")));
    }
    EXPECT_EQ(at, records.size());
}

TEST(Plugins, RunOfTwoChangedFilesReportsTheSameRecordsToCallbackAndPluginsInTableOrder) {
    UpdateRun run;
    ASSERT_TRUE(::CopyFileW(UpdateRun::Version7(L"new.txt").c_str(), run.Installed(L"new.txt").c_str(), FALSE));
    const std::wstring folder = run.root / L"plugins";
    PlacePlugin(L"accept_plugin.dll", folder, L"b.dll");
    PlacePlugin(L"accept_plugin.dll", folder, L"a.dll");
    PluginRecord record;
    UseSilentPlugins(*run.engine, folder, L"n");

    ASSERT_TRUE(run.Run());

    const std::vector<std::string> seen = run.statuses.lines();
    ExpectRecordsOfRun(run.statuses.records(), {L"bin/x.dll", L"change_a.bin"},
                       {FileSize(Fixture(L"v2/server/a/b/7/bin/x.dll.zip")),
                        FileSize(Fixture(L"v2/server/a/b/7/change_a.bin.zip"))});
    std::vector<std::string> expectedA = {"load silent=1 dirs=0 version= notes=n"};
    for (const std::string& line : seen) expectedA.push_back("report " + line);
    expectedA.push_back("unload");
    EXPECT_EQ(record.of("a.dll"), expectedA);
    EXPECT_EQ(record.of("b.dll"), expectedA);
    // Every report reaches a.dll before b.dll.
    std::vector<std::string> reporters;
    for (const std::string& line : record.lines()) {
        if (line.find(" report ") != std::string::npos) reporters.push_back(line.substr(0, 5));
    }
    ASSERT_EQ(reporters.size(), 2 * seen.size());
    for (size_t i = 0; i < reporters.size(); ++i) EXPECT_EQ(reporters[i], i % 2 == 0 ? "a.dll" : "b.dll") << i;
}

// slot_plugin.dll is written in C and calls the engine by slot number only,
// as a plug-in from another compiler does: its cancel must land on CancelUpdate.
TEST(Plugins, APluginOfAnotherCompilerReachesCancelUpdateThroughItsSlot) {
    UpdateRun run;
    const std::wstring folder = run.root / L"plugins";
    PlacePlugin(L"slot_plugin.dll", folder, L"slot_plugin.dll");
    PluginRecord record;
    UseSilentPlugins(*run.engine, folder, L"");

    EXPECT_FALSE(run.Run());
    EXPECT_EQ(record.of("slot_plugin.dll"), (std::vector<std::string>{"load", "cancel bin/x.dll", "unload"}));
    EXPECT_EQ(ReadBytes(run.Installed(L"change_a.bin")), ReadBytes(Fixture(L"v1/install/change_a.bin")));
    EXPECT_TRUE(testing_support::FileExists(run.Installed(L"old.txt")));
}

}  // namespace

namespace {

// Sets an environment variable for one test.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : m_name(name) {
        ::SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { ::SetEnvironmentVariableW(m_name, nullptr); }

private:
    const wchar_t* m_name;
};

// A plug-in that throws, while the run reports to it or while it is
// unloaded: the run ends with its end steps (final report, unload) and the
// plug-in is unloaded exactly once, also by the engine's destruction.
TEST(Plugins, APlugInThatThrowsFailsTheRunAndIsUnloadedOnce) {
    const std::string verify = std::to_string(FUS_VERIFYFILE);
    const struct {
        const char* name;
        const wchar_t* throwAt;
        bool throwOnUnload;
        bool result;
        const char* logged;
    } rows[] = {
        {"throws at the first verification report", L"4", false, false, "BeginUpdate crash plugin fault"},
        {"throws at the final report", L"7", false, true, "BeginUpdate end step crash plugin fault"},
        {"throws while unloaded", L"99", true, true, "UnloadPlugins crash plugin unload fault"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        PluginRecord record;
        ScopedVariable at(L"VELISK_PLUGIN_THROW_AT", row.throwAt);
        ScopedVariable unload(L"VELISK_PLUGIN_THROW_ON_UNLOAD", row.throwOnUnload ? L"1" : nullptr);
        {
            UpdateRun run;
            const std::wstring folder = run.root / L"plugins";
            PlacePlugin(L"throwing_plugin.dll", folder, L"throwing_plugin.dll");
            UseSilentPlugins(*run.engine, folder, L"");
            EXPECT_EQ(run.Run(), row.result);
            EXPECT_EQ(log.Count(row.logged, google::GLOG_ERROR), 1);
            // The status callback saw the end of the run whatever the plug-in did.
            ASSERT_FALSE(run.statuses.codes().empty());
            EXPECT_EQ(run.statuses.codes().back(), row.result ? FUS_SUCCESS : FUS_FAIL);
            EXPECT_FALSE(testing_support::DirExists(run.downloadDir));
        }  // the engine goes here
        const std::vector<std::string> events = record.of("throwing_plugin.dll");
        EXPECT_EQ(std::count(events.begin(), events.end(), std::string("unload")), 1);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back(), "unload");
    }
}

}  // namespace
