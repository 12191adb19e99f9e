// Progress: reports thinned out at the source, the final state always heard, cancellation
// from either side.

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "platform/Progress.h"

namespace {

using Reports = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

TEST(Progress, ReportsWithinTheIntervalAreDroppedButTheFinalStateIsHeardOnce) {
    Reports heard;
    // An interval no test run reaches: only the first report and the final state pass.
    Progress progress(
        [&](std::uint64_t done, std::uint64_t total) { heard.emplace_back(done, total); }, {},
        std::chrono::hours(1));
    for (std::uint64_t done = 1; done <= 1000; ++done) progress.Report(done, 1000);
    EXPECT_EQ(heard, (Reports{{1, 1000}}));
    progress.Finish(1000, 1000);
    progress.Finish(1000, 1000);  // the same state again is not news
    EXPECT_EQ(heard, (Reports{{1, 1000}, {1000, 1000}}));
}

TEST(Progress, WithoutAnIntervalEveryReportPasses) {
    Reports heard;
    Progress progress(
        [&](std::uint64_t done, std::uint64_t total) { heard.emplace_back(done, total); }, {},
        std::chrono::milliseconds(0));
    progress.Report(1, 0);
    progress.Report(2, 0);
    progress.Finish(2, 0);  // already heard
    EXPECT_EQ(heard, (Reports{{1, 0}, {2, 0}}));
}

TEST(Progress, WithoutAReportFunctionNothingIsCalled) {
    Progress progress;
    progress.Report(1, 2);
    progress.Finish(2, 2);
    EXPECT_FALSE(progress.Cancelled());
}

TEST(Progress, CancelledByAnotherThreadOrByTheOwnersOwnFlag) {
    Progress cancelled;
    std::thread other([&] { cancelled.Cancel(); });
    other.join();
    EXPECT_TRUE(cancelled.Cancelled());

    std::atomic<int> stopFlag{0};
    Progress watched({}, [&] { return stopFlag.load() == 1; });
    EXPECT_FALSE(watched.Cancelled());
    stopFlag = 1;
    EXPECT_TRUE(watched.Cancelled());
}

}  // namespace
