// BeginUpdate end to end: releases made by the release tool, served by the
// shared test server, installed into scratch folders.
#include <gtest/gtest.h>

#include <map>
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
using testing_support::ReadBytes;
using testing_support::WideToUtf8String;

const std::vector<std::wstring> kVersion7Names = {L"bin/x.dll", L"change_a.bin", L"keep.txt", L"new.txt",
                                                  L"sub/keep2.dat"};

void ExpectVersion7Installed(const UpdateRun& run) {
    for (const std::wstring& name : kVersion7Names) {
        EXPECT_TRUE(SameBytes(run.Installed(name), UpdateRun::Version7(name))) << testing_support::WideToUtf8String(name);
    }
    EXPECT_TRUE(SameBytes(run.Installed(L"ProgramConfig.zdb"), Fixture(L"v2/manifest/ProgramConfig.zdb")));
}

const std::vector<std::wstring> kVersion6Names = {L"ProgramConfig.zdb", L"bin/x.dll", L"change_a.bin", L"keep.txt",
                                                  L"old.txt", L"sub/keep2.dat", L"version.ini"};

// The installation still holds exactly version 6.
void ExpectVersion6Untouched(const UpdateRun& run) {
    EXPECT_EQ(ListTree(run.installDir), kVersion6Names);
    for (const std::wstring& name : kVersion6Names) {
        EXPECT_TRUE(SameBytes(run.Installed(name), Fixture(L"v1/install/" + name))) << WideToUtf8String(name);
    }
}

std::vector<int> Codes(std::initializer_list<int> head, int verifyCount, std::initializer_list<int> tail) {
    std::vector<int> codes(head);
    codes.insert(codes.end(), static_cast<size_t>(verifyCount), FUS_VERIFYFILE);
    codes.insert(codes.end(), tail);
    return codes;
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

TEST(Pipeline, HiddenRunCopiesIntoTheStagingFolderAndKeepsObsoleteFiles) {
    UpdateRun run;
    run.engine->SetDirectories(run.downloadDir.c_str(), run.installDir.c_str(), L"update1");
    ASSERT_TRUE(run.Run());

    EXPECT_EQ(ListTree(run.installDir + L"\\update1"),
              (std::vector<std::wstring>{L"ProgramConfig.zdb", L"bin/x.dll", L"change_a.bin", L"new.txt"}));
    for (const std::wstring name : {L"bin/x.dll", L"change_a.bin", L"new.txt"}) {
        EXPECT_TRUE(SameBytes(run.Installed(L"update1/" + name), UpdateRun::Version7(name)));
    }
    EXPECT_TRUE(FileExists(run.Installed(L"old.txt")));
}

TEST(Pipeline, CancelDuringVerificationDownloadsAndCopiesNothing) {
    UpdateRun run;
    run.statuses.onStatus = [&](const FileUpdateStatus& r) {
        if (r.status == FUS_VERIFYFILE && r.index == 2) run.engine->CancelUpdate();
    };
    EXPECT_FALSE(run.Run());

    EXPECT_EQ(run.statuses.codes(), Codes({}, 2, {FUS_FAIL}));
    EXPECT_TRUE(run.FileRequests().empty());
    EXPECT_FALSE(DirExists(run.downloadDir));
    ExpectVersion6Untouched(run);
}

TEST(Pipeline, CancelBetweenDownloadsFailsTheRunAndEveryLaterRunAtItsManifest) {
    UpdateRun run;
    run.statuses.onStatus = [&](const FileUpdateStatus& r) {
        if (r.status == FUS_DOWNLOADSUCCESS) run.engine->CancelUpdate();
    };
    LogCapture log;
    EXPECT_FALSE(run.Run());

    EXPECT_EQ(log.Count("download all files success numDownloadedFiles=1  updateFiles.size()=3"), 1);
    EXPECT_EQ(run.statuses.foldedCodes(),
              Codes({}, 5, {FUS_DOWNLOADSTART, FUS_DOWNLOADING, FUS_DOWNLOADSUCCESS, FUS_FAIL}));
    EXPECT_EQ(run.FileRequests().size(), 1u);
    ExpectVersion6Untouched(run);

    const size_t before = run.statuses.codes().size();
    EXPECT_FALSE(run.Run());
    const std::vector<int> codes = run.statuses.codes();
    EXPECT_EQ(std::vector<int>(codes.begin() + static_cast<long>(before), codes.end()), (std::vector<int>{FUS_FAIL}));
    EXPECT_EQ(log.Count("GetAllFiles"), 1);  // the second run ended at its manifest
}

TEST(Pipeline, ManifestArchiveThatFailsOverHttpsComesOverHttp) {
    UpdateRun run;
    ASSERT_TRUE(run.Run(run.served.FaultUrl("status=500,times=1", "a/b/7/ProgramConfig.zdb.zip")));

    std::vector<std::string> manifestRequests;
    for (const auto& r : run.served.Requests()) {
        if (r.path.find("ProgramConfig.zdb.zip") != std::string::npos) {
            manifestRequests.push_back(r.scheme + " " + std::to_string(r.status));
        }
    }
    EXPECT_EQ(manifestRequests, (std::vector<std::string>{"https 500", "http 200"}));
    ExpectVersion7Installed(run);
}

// Failed attempts follow each other 20 ms apart instead of 1 s doubling to
// 60 s (test builds only), so that the attempt bound is reached in seconds.
class ShortAttemptPauses {
public:
    ShortAttemptPauses() { ::SetEnvironmentVariableW(L"VELISK_ATTEMPT_PAUSE_MS", L"20"); }
    ~ShortAttemptPauses() { ::SetEnvironmentVariableW(L"VELISK_ATTEMPT_PAUSE_MS", nullptr); }
};

// A file that every attempt fails at (a 404, a wrong download base) is tried
// a bounded number of times over HTTPS, resuming each time, then as often
// over HTTP; then the run fails by itself, the installation untouched.
TEST(Pipeline, ArchiveTheServerNeverDeliversFailsTheRunAfterTheAttemptBound) {
    ShortAttemptPauses pauses;
    UpdateRun run;
    run.WriteIni(run.served.FaultUrl("status=404", "a/b/"), 7);
    LogCapture log;
    EXPECT_FALSE(run.Run());

    EXPECT_EQ(run.statuses.codes(), Codes({}, 5, {FUS_DOWNLOADSTART, FUS_DOWNLOADFAIL, FUS_FAIL}));
    std::map<std::string, std::vector<net_testing::LoggedRequest>> attempts;  // by scheme
    for (const auto& r : run.served.Requests()) {
        if (r.path.find("ProgramConfig.zdb.zip") == std::string::npos) attempts[r.scheme].push_back(r);
    }
    for (const char* scheme : {"https", "http"}) {
        SCOPED_TRACE(scheme);
        ASSERT_EQ(attempts[scheme].size(), 8u);
        EXPECT_FALSE(attempts[scheme][0].hasRange);  // each pass starts afresh, then resumes
        for (size_t i = 1; i < attempts[scheme].size(); ++i) EXPECT_EQ(attempts[scheme][i].range, "bytes=0-");
        for (const auto& r : attempts[scheme]) EXPECT_NE(r.path.find("/a/b/7/bin/x.dll.zip"), std::string::npos);
    }
    EXPECT_EQ(log.Count("download given up after failed attempts without progress=8", google::GLOG_WARNING), 2);
    ExpectVersion6Untouched(run);
}

// Size of a served or unpacked file of version 7 as the manifest lists it
// (archives by their published size, files by their own), or the manifest
// archive's fixed bound.
uint64_t ListedBound(const std::wstring& name) {
    if (name == L"ProgramConfig.zdb.zip" || name == L"ProgramConfig.zdb") return 256u << 20;
    const std::wstring path = name.size() > 4 && name.substr(name.size() - 4) == L".zip"
                                  ? Fixture(L"v2/server/a/b/7/" + name)
                                  : UpdateRun::Version7(name);
    return ReadBytes(path).size();
}

// Answers and archives past the sizes that the signed manifest lists (or the
// manifest archive's fixed bound) are refused: the run ends with a failure,
// no file in the download folder is larger than its bound, the installation
// is untouched, and each refusal is one WARNING line naming the file.
TEST(Pipeline, AnswersAndArchivesPastTheListedSizesFailTheRunWithoutWritingPastThem) {
    const std::string xArchive = ReadBytes(Fixture(L"v2/server/a/b/7/bin/x.dll.zip"));
    const std::vector<int> xRefused = Codes({}, 5, {FUS_DOWNLOADSTART, FUS_DOWNLOADFAIL, FUS_FAIL});
    const struct {
        const char* name;
        std::string baseFaults;    // faults on every file's download
        std::string replacedPath;  // a served file whose bytes are replaced
        std::string replacement;
        const char* warning;
        int warnings;
        std::vector<int> codes;  // folded
    } rows[] = {
        {"endless answer past the listed size", "length=268435456,endless", "", "", "download refused: ", 16,
         xRefused},
        {"Content-Length past 32 bits", "length=" + std::to_string((1ull << 32) + xArchive.size()), "", "",
         "download refused: ", 16, xRefused},
        {"206 from another offset", "range-start=10", "", "", "download refused: ", 16, xRefused},
        {"oversized archive", "", "a/b/7/bin/x.dll.zip", xArchive + std::string(2 << 20, 'j'), "download refused: ",
         16, xRefused},
        {"entry that inflates past its listed size", "", "a/b/7/change_a.bin.zip",
         ReadBytes(Fixture(L"bad/bomb_change_a.bin.zip")), "archive refused: entries unpack past the bound", 1,
         Codes({}, 5, {FUS_DOWNLOADSTART, FUS_DOWNLOADING, FUS_DOWNLOADSUCCESS, FUS_DOWNLOADSTART, FUS_DOWNLOADING,
                       FUS_VERIFYFAIL, FUS_FAIL})},
        {"manifest archive that inflates past the cap", "", "a/b/7/ProgramConfig.zdb.zip",
         ReadBytes(Fixture(L"bad/bomb/ProgramConfig.zdb.zip")), "archive refused: entries unpack past the bound", 1,
         {FUS_FAIL}},
    };
    ShortAttemptPauses pauses;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        UpdateRun run;
        run.keepDownloads = true;
        if (!row.baseFaults.empty()) run.WriteIni(run.served.FaultUrl(row.baseFaults, "a/b/"), 7);
        if (!row.replacedPath.empty()) {
            ASSERT_TRUE(run.served.Put(row.replacedPath, row.replacement));
        }
        LogCapture log;

        EXPECT_FALSE(run.Run());
        EXPECT_EQ(run.statuses.foldedCodes(), row.codes);
        EXPECT_EQ(log.Count(row.warning, google::GLOG_WARNING), row.warnings);
        for (const std::wstring& name : ListTree(run.downloadDir)) {
            EXPECT_LE(ReadBytes(run.downloadDir + L"\\" + name).size(), ListedBound(name)) << WideToUtf8String(name);
        }
        ExpectVersion6Untouched(run);
    }
}

// A release made before the manifest listed sizes still updates; the fixed
// bounds apply instead.
TEST(Pipeline, ManifestWithoutSizesStillUpdates) {
    UpdateRun run;
    ASSERT_TRUE(run.served.Put("a/b/7/ProgramConfig.zdb.zip", ReadBytes(Fixture(L"bad/unsized/ProgramConfig.zdb.zip"))));
    ASSERT_TRUE(run.Run());
    for (const std::wstring& name : kVersion7Names) {
        EXPECT_TRUE(SameBytes(run.Installed(name), UpdateRun::Version7(name))) << WideToUtf8String(name);
    }
}

TEST(Pipeline, ArchiveWhoseBytesDifferFromTheManifestFailsVerification) {
    UpdateRun run;
    ASSERT_TRUE(run.served.Put("a/b/7/bin/x.dll.zip", ReadBytes(Fixture(L"bad/wrong_x.dll.zip"))));
    EXPECT_FALSE(run.Run());

    EXPECT_EQ(run.statuses.foldedCodes(),
              Codes({}, 5, {FUS_DOWNLOADSTART, FUS_DOWNLOADING, FUS_VERIFYFAIL, FUS_FAIL}));
    ExpectVersion6Untouched(run);
}

TEST(Pipeline, ManifestNamesOutsideTheInstallationFailTheRunBeforeAnyDownload) {
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"parent", "../evil.txt"},     {L"nested_parent", "bin/../../evil.txt"},
        {L"drive", "C:/evil.txt"},      {L"absolute", "/evil.txt"},
        {L"dots_and_blank", "bin/.. /evil.txt"},
    };
    for (const auto& [folder, name] : cases) {
        UpdateRun run;
        ASSERT_TRUE(run.served.Put("a/b/7/ProgramConfig.zdb.zip",
                                   ReadBytes(Fixture(std::wstring(L"bad/") + folder + L"/ProgramConfig.zdb.zip"))));
        LogCapture log;
        EXPECT_FALSE(run.Run()) << name;

        EXPECT_EQ(log.Count(std::string("refused file name outside the installation: ") + name,
                            google::GLOG_ERROR), 1) << name;
        EXPECT_EQ(run.statuses.codes(), (std::vector<int>{FUS_FAIL})) << name;
        EXPECT_TRUE(run.FileRequests().empty()) << name;
        EXPECT_EQ(ListTree(run.root.path()).size(), kVersion6Names.size() + 1) << name;  // + new\version.ini
        ExpectVersion6Untouched(run);
    }
}

TEST(Pipeline, InstalledManifestNamesOutsideTheInstallationAreNeverDeleted) {
    UpdateRun run;
    ASSERT_TRUE(::CopyFileW(Fixture(L"bad/installed_outside.zdb").c_str(), run.Installed(L"ProgramConfig.zdb").c_str(),
                            FALSE));
    ASSERT_TRUE(testing_support::WriteBytes(run.root / L"outside.txt", "outside"));
    ASSERT_TRUE(run.Run());

    EXPECT_TRUE(FileExists(run.root / L"outside.txt"));
    EXPECT_FALSE(FileExists(run.Installed(L"old.txt")));
    ExpectVersion7Installed(run);
}

// Another process of the same user tries to swap files of the download
// folder between their check and the copy (an elevated run's privilege
// escalation): by writing over them, by renaming them away and putting its
// own in their place, by deleting them. The files the run checked are held
// open with writing and deleting denied, so every way fails and the copy
// installs the checked bytes; a file of that folder the run does not hold
// (the archive) shows that the same process could write there.
TEST(Pipeline, FileSwappedAfterItsCheckNeverReachesTheInstallation) {
    UpdateRun run;
    const std::wstring evil = run.root / L"evil.bin";
    ASSERT_TRUE(testing_support::WriteBytes(evil, "an attacker's change_a.bin"));
    const std::wstring verified = run.downloadDir + L"\\change_a.bin";
    const std::wstring archive = verified + L".zip";
    bool swapTried = false;
    run.statuses.onStatus = [&](const FileUpdateStatus& record) {
        if (record.status != FUS_COPYSTART) return;
        swapTried = true;
        const std::wstring q = L"\"";
        testing_support::ChildProcess swap(
            L"cmd.exe /c copy /y " + q + evil + q + L" " + q + verified + q + L" & move /y " + q + verified + q +
            L" " + q + verified + L".aside" + q + L" & del /f " + q + verified + q + L" & copy /y " + q + evil + q +
            L" " + q + verified + q + L" & copy /y " + q + evil + q + L" " + q + archive + q);
        ASSERT_TRUE(swap.started());
        ASSERT_TRUE(swap.Wait(60000));
        EXPECT_EQ(ReadBytes(archive), "an attacker's change_a.bin");  // the process could write there
        EXPECT_TRUE(SameBytes(verified, UpdateRun::Version7(L"change_a.bin")));
    };

    ASSERT_TRUE(run.Run());

    EXPECT_TRUE(swapTried);
    ExpectVersion7Installed(run);
    EXPECT_FALSE(FileExists(verified + L".aside"));
    EXPECT_EQ(run.statuses.codes().back(), FUS_SUCCESS);
}

}  // namespace

