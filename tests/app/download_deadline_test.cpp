// The hidden run's download deadline against an engine that records how it
// was asked to stop.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>

#include "app/download_deadline.h"
#include "engine/auto_updater.h"
#include "support/idle_engine.h"
#include "support/test_support.h"

namespace {

// Every operation but CancelUpdate does nothing.
class RecordingEngine : public testing_support::IdleEngine {
public:
    void CancelUpdate() override { ++cancels; }

    std::atomic<int> cancels{0};
};

TEST(DownloadDeadline, CancelsARunStillDownloadingAndNothingElse) {
    const struct {
        const char* name;
        DWORD deadlineMs;
        bool copyStarted;
        bool cancelled;
    } cases[] = {
        {"still downloading when the deadline passes", 50, false, true},
        {"copying when the deadline passes", 50, true, false},
        {"run over before the deadline", 600000, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEngine engine;
        std::atomic<bool> stop{false};
        {
            DownloadDeadline deadline(&engine, &stop, c.deadlineMs);
            if (c.copyStarted) deadline.CopyPhaseStarted();
            if (c.cancelled) {
                EXPECT_TRUE(testing_support::WaitFor([&] { return deadline.expired(); }, 5000));
            } else {
                ::Sleep(300);
                EXPECT_FALSE(deadline.expired());
            }
        }
        // The deadline is gone: nothing can fire after this.
        ::Sleep(100);
        EXPECT_EQ(engine.cancels.load(), c.cancelled ? 1 : 0);
        EXPECT_EQ(stop.load(), c.cancelled);
    }
}

}  // namespace
