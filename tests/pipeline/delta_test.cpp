// Delta updates end to end: version 7 published with zstd patches from
// version 6, fetched and applied by the real engine against the shared test
// server, and every way a patch can fail falling back to the full archive.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/update_run.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::Fixture;
using pipeline_testing::ListTree;
using pipeline_testing::SameBytes;
using testing_support::LogCapture;
using testing_support::ReadBytes;
using testing_support::WideToUtf8String;

const std::vector<std::wstring> kDeltaNames = {L"bin/core.dll", L"bin/x.dll", L"change_a.bin", L"keep.txt",
                                               L"new.txt", L"sub/keep2.dat"};
const char kCoreWarning[] = "patch not used, taking the full archive: bin/core.dll reason: ";

// The served name of bin/core.dll's patch from version 6 ("a/b/7/bin/core.dll.<hex>.zst").
std::string CorePatchName() {
    for (const std::wstring& name : ListTree(Fixture(L"delta/v2/server/a/b"))) {
        if (name.rfind(L"7/bin/core.dll.", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == L".zst") {
            return "a/b/" + WideToUtf8String(name);
        }
    }
    return "a/b/7/bin/core.dll.<no patch published>.zst";
}

// An update from the delta fixture's version 6 to its version 7.
class DeltaRun : public pipeline_testing::UpdateRun {
public:
    DeltaRun() {
        pipeline_testing::CopyTree(Fixture(L"delta/v1/install"), installDir);
        Publish(L"delta/v2/server/a/b", "a/b/");
    }
    // Paths of this run's file requests that end with `tail`.
    std::vector<net_testing::LoggedRequest> RequestsEndingWith(const std::string& tail) const {
        std::vector<net_testing::LoggedRequest> found;
        for (const auto& request : served.Requests()) {
            if (request.path.size() >= tail.size() &&
                request.path.compare(request.path.size() - tail.size(), tail.size(), tail) == 0) {
                found.push_back(request);
            }
        }
        return found;
    }
    std::wstring Staged(const std::wstring& name) const { return installDir + L"\\update1\\" + name; }
    // Version 7's files (and, unless a test served another, its manifest) at `where`(name).
    void ExpectVersion7(const std::function<std::wstring(const std::wstring&)>& where, bool manifest = true) const {
        for (const std::wstring& name : kDeltaNames) {
            EXPECT_TRUE(SameBytes(where(name), Fixture(L"delta/v2/source/" + name))) << WideToUtf8String(name);
        }
        if (manifest) {
            EXPECT_TRUE(SameBytes(where(L"ProgramConfig.zdb"), Fixture(L"delta/v2/manifest/ProgramConfig.zdb")));
        }
    }
};

int PatchWarnings(const LogCapture& log) {
    return log.Count("patch not used, taking the full archive: ", google::GLOG_WARNING);
}

TEST(Delta, PatchedFilesEndEqualToTheFullUpdateAndOnlyTheirPatchesAreFetched) {
    struct Case {
        const char* name;
        std::string faults;  // of the download base; empty for none
    };
    for (const Case& c : {Case{"plain", ""}, Case{"cut once and resumed", "close-after=1000,times=1,id=resume"}}) {
        SCOPED_TRACE(c.name);
        DeltaRun run;
        if (!c.faults.empty()) {
            run.WriteIni(run.served.FaultUrl(c.faults + std::to_string(::GetTickCount()), "a/b/"), 7);
        }
        LogCapture log;
        ASSERT_TRUE(run.Run());

        run.ExpectVersion7([&](const std::wstring& name) { return run.Installed(name); });
        EXPECT_EQ(PatchWarnings(log), 0);
        EXPECT_EQ(log.Count("patched bin/core.dll"), 1);
        EXPECT_EQ(log.Count("patched bin/x.dll"), 1);
        EXPECT_TRUE(run.RequestsEndingWith("/bin/core.dll.zip").empty());
        EXPECT_TRUE(run.RequestsEndingWith("/bin/x.dll.zip").empty());
        EXPECT_EQ(run.RequestsEndingWith("/change_a.bin.zip").size(), c.faults.empty() ? 1u : 2u);
        // The file's records count the patch's bytes, as the window shows them.
        const uint64_t patchSize =
            ReadBytes(Fixture(L"delta/v2/server/" + testing_support::Utf8ToWide(CorePatchName()))).size();
        int reported = 0;
        for (const FileUpdateStatus& record : run.statuses.records()) {
            if (std::wstring(record.fileName) != L"bin/core.dll" || record.status != FUS_DOWNLOADSUCCESS) continue;
            ++reported;
            EXPECT_EQ(record.fileSize, patchSize);
            EXPECT_EQ(record.received, patchSize);
        }
        EXPECT_EQ(reported, 1);
        const auto patch = run.RequestsEndingWith(CorePatchName().substr(5));
        if (c.faults.empty()) {
            ASSERT_EQ(patch.size(), 1u);
            EXPECT_FALSE(patch[0].hasRange);
        } else {
            ASSERT_EQ(patch.size(), 2u);
            EXPECT_EQ(patch[1].range, "bytes=1000-");
        }
    }
}

// Each row spoils one thing about bin/core.dll's patch; the run still
// installs version 7, core.dll from its full archive, with one WARNING.
TEST(Delta, EveryFailedPatchFallsBackToTheFullArchiveWithOneWarning) {
    struct Case {
        const char* name;
        std::function<void(DeltaRun&)> spoil;
        std::string reason;
        size_t maxPatchRequests;
        bool trueManifest = true;
    };
    const std::string patchName = CorePatchName();
    const std::string patchBytes = ReadBytes(Fixture(L"delta/v2/server/" + testing_support::Utf8ToWide(patchName)));
    const std::vector<Case> cases = {
        {"installed file is not the patch's base",
         [](DeltaRun& run) { testing_support::WriteBytes(run.Installed(L"bin/core.dll"), "another build"); },
         "installed file is no patch's base", 0},
        {"patch missing", [&](DeltaRun& run) { run.served.Remove(patchName); }, "patch not downloaded", 6},
        {"patch corrupted",
         [&](DeltaRun& run) {
             std::string bytes = patchBytes;
             bytes[bytes.size() / 2] ^= 0x55;
             run.served.Put(patchName, bytes);
         },
         "", 1},
        // The downloader refuses the response by its Content-Length, on every attempt.
        {"patch longer than PatchSize",
         [&](DeltaRun& run) { run.served.Put(patchName, patchBytes + std::string(70000, 'x')); },
         "patch not downloaded", 6},
        {"patch cut short for good (the server has no more of it)",
         [&](DeltaRun& run) { run.served.Put(patchName, patchBytes.substr(0, patchBytes.size() / 2)); },
         "patch size differs from the listed size", 1},
        {"patched result has the wrong digest",
         [&](DeltaRun& run) {
             run.served.Put("a/b/7/ProgramConfig.zdb.zip", ReadBytes(Fixture(L"delta/bad/ProgramConfig.zdb.zip")));
             run.served.Put(patchName, ReadBytes(Fixture(L"delta/bad/core.dll.zst")));
         },
         "patched file does not match the manifest", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeltaRun run;
        c.spoil(run);
        LogCapture log;
        ASSERT_TRUE(run.Run());

        run.ExpectVersion7([&](const std::wstring& name) { return run.Installed(name); }, c.trueManifest);
        EXPECT_EQ(PatchWarnings(log), 1);
        EXPECT_EQ(log.Count(kCoreWarning + c.reason, google::GLOG_WARNING), 1);
        EXPECT_EQ(log.Count("patched bin/x.dll"), 1);
        EXPECT_FALSE(run.RequestsEndingWith("/bin/core.dll.zip").empty());
        const auto patch = run.RequestsEndingWith(patchName.substr(5));
        EXPECT_LE(patch.size(), c.maxPatchRequests);
        EXPECT_GE(patch.size(), c.maxPatchRequests > 1 ? 2u : c.maxPatchRequests);
    }
}

TEST(Delta, ManifestWithoutPatchesFetchesEveryArchiveAsBefore) {
    DeltaRun run;
    run.served.Put("a/b/7/ProgramConfig.zdb.zip", ReadBytes(Fixture(L"v2/server/a/b/7/ProgramConfig.zdb.zip")));
    LogCapture log;
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(log.Count("patches planned"), 0);
    EXPECT_EQ(run.RequestsEndingWith(".zst").size(), 0u);
    EXPECT_EQ(run.RequestsEndingWith("/bin/x.dll.zip").size(), 1u);
    for (const wchar_t* name : {L"bin/x.dll", L"change_a.bin", L"new.txt"}) {
        EXPECT_TRUE(SameBytes(run.Installed(name), Fixture(std::wstring(L"v2/source/") + name)));
    }
}

// A hidden run stages the patched files and leaves the installation alone
// (the copy mode with patches: UpdateEndToEnd.HiddenUpdateWithPatchesThenCopyMode).
TEST(Delta, HiddenRunStagesThePatchedFiles) {
    DeltaRun run;
    run.engine->SetDirectories(run.downloadDir.c_str(), run.installDir.c_str(), L"update1");
    LogCapture log;
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(log.Count("patched bin/core.dll"), 1);
    run.ExpectVersion7([&](const std::wstring& name) {
        return name == L"keep.txt" || name == L"sub/keep2.dat" ? run.Installed(name) : run.Staged(name);
    });
    EXPECT_TRUE(SameBytes(run.Installed(L"bin/core.dll"), Fixture(L"delta/v1/install/bin/core.dll")));
}

}  // namespace
