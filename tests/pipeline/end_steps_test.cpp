// BeginUpdate's end steps whatever is thrown inside the run or inside an end
// step: the checker released once, the download folder removed, the final
// report sent, the result false for a run that threw.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "engine/update_algorithm.h"
#include "pipeline/update_run.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using pipeline_testing::UpdateRun;
using testing_support::DirExists;
using testing_support::LogCapture;

struct CallbackFault {
    const char* name;
    int throwAt;                   // status code at whose first report the callback throws
    std::function<void()> raise;   // what it throws
    bool result;
    const char* logged;
};

TEST(EndSteps, AThrowingStatusCallbackEndsTheRunWithItsEndSteps) {
    const CallbackFault rows[] = {
        {"standard exception while verifying", FUS_VERIFYFILE, [] { throw std::runtime_error("callback fault"); },
         false, "BeginUpdate crash callback fault"},
        // Thrown from inside the downloader's progress report.
        {"other exception while downloading", FUS_DOWNLOADING, [] { throw 42; }, false,
         "BeginUpdate crash unknown exception"},
        {"out of memory while copying", FUS_COPYSTART, [] { throw std::bad_alloc(); }, false, "BeginUpdate crash "},
        // The installation is complete by then: the run stays a success.
        {"standard exception at the final report", FUS_SUCCESS, [] { throw std::runtime_error("late fault"); },
         true, "BeginUpdate end step crash late fault"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        UpdateRun run;
        bool thrown = false;
        run.statuses.onStatus = [&](const FileUpdateStatus& record) {
            if (record.status != row.throwAt || thrown) return;
            thrown = true;
            row.raise();
        };
        EXPECT_EQ(run.Run(), row.result);
        EXPECT_TRUE(thrown);
        EXPECT_EQ(log.Count(row.logged, google::GLOG_ERROR), 1);
        EXPECT_EQ(log.Count("success status "), 1);
        EXPECT_FALSE(DirExists(run.downloadDir));
        const std::vector<int> codes = run.statuses.codes();
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.back(), row.result ? FUS_SUCCESS : FUS_FAIL);
    }
}

// A checker that lists nothing and whose Release throws; counts releases.
class ThrowingReleaseChecker final : public IVkUpdateAlgorithm {
public:
    explicit ThrowingReleaseChecker(int* releases) : m_releases(releases) {}
    void DeleteThis(unsigned int) override { Release(); }
    bool OpenDatabase(const wchar_t*) override { return true; }
    bool GetFileList(ManifestNameSlot**, int* count) override {
        if (count != nullptr) *count = 0;
        return false;
    }
    void FreeFileList(ManifestNameSlot*) override {}
    bool GetServerList(ServerUrlSlot**, int* count) override {
        if (count != nullptr) *count = 0;
        return false;
    }
    void FreeServerList(ServerUrlSlot*) override {}
    bool CheckFile(const wchar_t*) override { return false; }
    void Release() override {
        ++*m_releases;
        throw std::runtime_error("release fault");
    }
    bool VerifyDownloadedFile(const wchar_t*) override { return true; }
    void SetDownloadDir(const wchar_t*) override {}

private:
    int* m_releases;
};

// A checker whose Release throws is released exactly once, by the run's end,
// not again by the engine's destruction; the later end steps still run.
TEST(EndSteps, ACheckerWhoseReleaseThrowsIsReleasedOnce) {
    LogCapture log;
    int releases = 0;
    ThrowingReleaseChecker checker(&releases);
    {
        UpdateRun run;
        run.engine->SetUpdateAlgorithm(&checker);
        EXPECT_FALSE(run.Run());  // a manifest without rows
        EXPECT_EQ(releases, 1);
        EXPECT_EQ(log.Count("BeginUpdate end step crash release fault", google::GLOG_ERROR), 1);
        EXPECT_FALSE(DirExists(run.downloadDir));
        ASSERT_FALSE(run.statuses.codes().empty());
        EXPECT_EQ(run.statuses.codes().back(), FUS_FAIL);
    }
    EXPECT_EQ(releases, 1);
}

}  // namespace
