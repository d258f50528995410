// BeginUpdate end to end: releases made by the release tool, served by the
// shared test server, installed into scratch folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/update_run.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::Fixture;
using pipeline_testing::ListTree;
using pipeline_testing::SameBytes;
using pipeline_testing::UpdateRun;
using testing_support::DirExists;
using testing_support::FileExists;
using testing_support::LogCapture;

const std::vector<std::wstring> kVersion7Names = {L"bin/x.dll", L"change_a.bin", L"keep.txt", L"new.txt",
                                                  L"sub/keep2.dat"};

void ExpectVersion7Installed(const UpdateRun& run) {
    for (const std::wstring& name : kVersion7Names) {
        EXPECT_TRUE(SameBytes(run.Installed(name), UpdateRun::Version7(name))) << testing_support::WideToUtf8String(name);
    }
    EXPECT_TRUE(SameBytes(run.Installed(L"ProgramConfig.zdb"), Fixture(L"v2/manifest/ProgramConfig.zdb")));
}

TEST(Pipeline, ChangedAndMissingFilesAreFetchedFromTheVersionFolderAndInstalled) {
    UpdateRun run;
    ASSERT_TRUE(run.Run());

    const std::string folder = testing_support::WideToUtf8String(run.served.Url("")).substr(16);  // "/<nonce>/"
    EXPECT_EQ(run.FileRequests(), (std::vector<std::string>{"https " + folder + "a/b/7/bin/x.dll.zip",
                                                            "https " + folder + "a/b/7/change_a.bin.zip",
                                                            "https " + folder + "a/b/7/new.txt.zip"}));
    ExpectVersion7Installed(run);
    EXPECT_FALSE(FileExists(run.Installed(L"old.txt")));
    EXPECT_FALSE(DirExists(run.downloadDir));
    EXPECT_EQ(run.statuses.codes().back(), FUS_SUCCESS);
}

TEST(Pipeline, MatchingInstallationCopiesOnlyTheManifestAndDeletesObsoleteFiles) {
    UpdateRun run;
    ASSERT_TRUE(pipeline_testing::CopyTree(Fixture(L"v2/source"), run.installDir));  // old.txt stays from 6
    LogCapture log;
    ASSERT_TRUE(run.Run());

    EXPECT_TRUE(run.FileRequests().empty());
    EXPECT_EQ(log.Count("start copy file "), 1);
    EXPECT_EQ(log.Count("start copy file ProgramConfig.zdb"), 1);
    ExpectVersion7Installed(run);
    EXPECT_FALSE(FileExists(run.Installed(L"old.txt")));
    EXPECT_EQ(run.statuses.foldedCodes(),
              (std::vector<int>{FUS_VERIFYFILE, FUS_VERIFYFILE, FUS_VERIFYFILE, FUS_VERIFYFILE, FUS_VERIFYFILE,
                                FUS_COPYSTART, FUS_COPYEND, FUS_SUCCESS}));
}

}  // namespace
