// BeginUpdate with the test keys built in: signed releases of the pipeline
// fixture's version 7 against the shared test server, installed over a
// scratch version 6.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "net/test_server_client.h"
#include "pipeline/update_run.h"
#include "signing/signing_fixture.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::ListTree;
using pipeline_testing::SameBytes;
using pipeline_testing::UpdateRun;
using signing_testing::SigningFixture;
using testing_support::LogCapture;
using testing_support::ReadBytes;
using testing_support::WideToUtf8String;

// Every file of a folder with its bytes.
std::map<std::wstring, std::string> Snapshot(const std::wstring& root) {
    std::map<std::wstring, std::string> files;
    for (const std::wstring& name : ListTree(root)) files[name] = ReadBytes(root + L"\\" + name);
    return files;
}

// Serves the signing fixture's manifest archive `signedCase` as version 7's.
void ServeManifest(UpdateRun& run, const std::wstring& signedCase) {
    ASSERT_TRUE(run.served.Put("a/b/7/ProgramConfig.zdb.zip",
                               ReadBytes(SigningFixture(L"manifests/" + signedCase + L".zip"))));
}

void ExpectVersion7Installed(const UpdateRun& run) {
    for (const wchar_t* name : {L"bin/x.dll", L"change_a.bin", L"keep.txt", L"new.txt", L"sub/keep2.dat"}) {
        EXPECT_TRUE(SameBytes(run.Installed(name), UpdateRun::Version7(name))) << WideToUtf8String(name);
    }
}

std::vector<std::string> ErrorLines(const LogCapture& log) {
    std::vector<std::string> errors;
    for (const auto& line : log.lines()) {
        if (line.severity == google::GLOG_ERROR) errors.push_back(line.text);
    }
    return errors;
}

TEST(SignedPipeline, ReleaseSignedByEitherBuiltInKeyIsInstalled) {
    for (const auto& [signedCase, line] : std::vector<std::pair<std::wstring, std::string>>{
             {L"first", "manifest signature checked: key 1 of 2"},
             {L"second", "manifest signature checked: key 2 of 2"}}) {
        UpdateRun run;
        ServeManifest(run, signedCase);
        LogCapture log;
        ASSERT_TRUE(run.Run()) << WideToUtf8String(signedCase);
        EXPECT_EQ(log.Count(line, google::GLOG_INFO), 1) << WideToUtf8String(signedCase);
        EXPECT_EQ(run.FileRequests().size(), 3u);
        ExpectVersion7Installed(run);
        EXPECT_EQ(run.statuses.codes().back(), FUS_SUCCESS);
    }
}

// Each refused manifest ends the run before any file is hashed or fetched.
TEST(SignedPipeline, RefusedManifestEndsTheRunBeforeAnyFileIsTouched) {
    struct Case {
        const wchar_t* signedCase;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {L"tampered", "manifest refused: bad signature or unknown key"},
        {L"unsigned", "manifest refused: missing signature"},
        {L"outsider", "manifest refused: bad signature or unknown key"},
        {L"truncated", "manifest refused: malformed signature (not 64 bytes)"},
        {L"older", "manifest refused: older version 5 than installed 6"},
        {L"no_version", "manifest refused: no ProgramVer row (version unknown)"},
        {L"extra_entry", "manifest refused: archive not unpacked (it may hold only the manifest and its signature)"},
    };
    for (const Case& c : cases) {
        const std::string name = WideToUtf8String(c.signedCase);
        UpdateRun run;
        ServeManifest(run, c.signedCase);
        const auto before = Snapshot(run.installDir);
        LogCapture log;
        EXPECT_FALSE(run.Run()) << name;
        EXPECT_EQ(ErrorLines(log), std::vector<std::string>{c.reason}) << name;
        EXPECT_TRUE(run.FileRequests().empty()) << name;
        EXPECT_EQ(run.statuses.codes(), std::vector<int>{FUS_FAIL}) << name;  // nothing hashed
        EXPECT_EQ(log.Count("FUS_VERIFYFILE starts"), 0) << name;
        EXPECT_EQ(Snapshot(run.installDir), before) << name;
    }
}

// The attack signatures are for: a server on the path answers HTTPS with a
// certificate nobody trusts (the downloader relaxes its checks) and serves a
// manifest that lists its own program.
TEST(SignedPipeline, TamperedManifestFromAnUntrustedServerIsRefused) {
    UpdateRun run;
    ServeManifest(run, L"attack");
    ASSERT_TRUE(run.served.Put("a/b/7/new.txt.zip", ReadBytes(SigningFixture(L"attack/new.txt.zip"))));
    const auto before = Snapshot(run.installDir);
    ASSERT_TRUE(net_testing::UseUntrustedCertificate(true));
    LogCapture log;
    const bool ok = run.Run();
    net_testing::UseUntrustedCertificate(false);

    EXPECT_FALSE(ok);
    EXPECT_EQ(log.Count("manifest refused: bad signature or unknown key", google::GLOG_ERROR), 1);
    const auto requests = run.served.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().path.substr(requests.front().path.size() - 21), "ProgramConfig.zdb.zip");
    EXPECT_TRUE(run.FileRequests().empty());
    EXPECT_EQ(Snapshot(run.installDir), before);
    EXPECT_FALSE(testing_support::FileExists(run.Installed(L"new.txt")));
}

// A file archive whose second entry is named like the manifest would
// overwrite the open manifest in the download folder; it fails to unpack.
TEST(SignedPipeline, FileArchiveWithASecondEntryFailsTheRun) {
    UpdateRun run;
    ServeManifest(run, L"first");
    ASSERT_TRUE(run.served.Put("a/b/7/change_a.bin.zip",
                               ReadBytes(SigningFixture(L"archives/change_a_with_manifest.zip"))));
    const auto before = Snapshot(run.installDir);
    LogCapture log;
    EXPECT_FALSE(run.Run());
    EXPECT_EQ(log.Count("UnzipDownloadFile fails "), 1);
    EXPECT_EQ(run.statuses.codes().back(), FUS_FAIL);
    EXPECT_EQ(Snapshot(run.installDir), before);
}

// A hot SQLite journal planted beside the verified manifest in the download
// folder would, replayed by a read-write open, turn it into the attack
// manifest that lists the attacker's new.txt. The manifest is read from the
// verified bytes only: the journal changes nothing, the attacker's file fails
// its check and is never installed.
TEST(SignedPipeline, JournalPlantedBesideTheVerifiedManifestChangesNothing) {
    UpdateRun run;
    ServeManifest(run, L"first");
    ASSERT_TRUE(run.served.Put("a/b/7/new.txt.zip", ReadBytes(SigningFixture(L"attack/new.txt.zip"))));
    const std::string journal = ReadBytes(SigningFixture(L"attack/ProgramConfig.zdb-journal"));
    ASSERT_TRUE(testing_support::WriteBytes(run.downloadDir + L"\\ProgramConfig.zdb-journal", journal));
    run.statuses.onStatus = [&](const FileUpdateStatus& record) {
        if (record.status == FUS_VERIFYFILE && record.index == 1) {
            EXPECT_EQ(ReadBytes(run.downloadDir + L"\\ProgramConfig.zdb-journal"), journal);  // still hot, unused
        }
    };
    const auto before = Snapshot(run.installDir);
    LogCapture log;
    ::SetEnvironmentVariableW(L"VELISK_ATTEMPT_PAUSE_MS", L"20");  // refused attempts come fast

    EXPECT_FALSE(run.Run());
    ::SetEnvironmentVariableW(L"VELISK_ATTEMPT_PAUSE_MS", nullptr);

    EXPECT_EQ(log.Count("manifest signature checked: key 1 of 2"), 1);
    // The genuine manifest was read: the attacker's new.txt, which the
    // replayed manifest would list with its own digest and no size, is
    // refused by the genuine one (by its listed archive size, or its digest).
    int refused = 0;
    for (const FileUpdateStatus& record : run.statuses.records()) {
        const bool failed = record.status == FUS_VERIFYFAIL || record.status == FUS_DOWNLOADFAIL;
        refused += failed && std::wstring(record.fileName) == L"new.txt" ? 1 : 0;
    }
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(run.statuses.codes().back(), FUS_FAIL);
    EXPECT_EQ(Snapshot(run.installDir), before);
}

}  // namespace
