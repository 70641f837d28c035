#include <QProgressBar>
#include <atomic>
#include <thread>

#include "UiFixture.h"
#include "ui/GuiProgressCtrl.h"

namespace {

TEST(GuiProgressCtrl, ACallFromTheWorkerIsDoneWhenItReturns) {
    QProgressBar bar;
    GuiProgressCtrl progress(bar);
    std::atomic<int> seenByWorker{-1};
    std::atomic<bool> done{false};

    std::thread worker([&] {
        progress.SetRange32(0, 40);
        progress.SetPos(10);
        // The worker may read the bar's state right after each call.
        seenByWorker = bar.value();
        progress.SetStep(5);
        for (int i = 0; i < 4; ++i)
            progress.StepIt();
        done = true;
    });
    const bool finished = waitUntil([&] { return done.load(); }, std::chrono::seconds(20));
    worker.join();

    ASSERT_TRUE(finished);
    EXPECT_EQ(seenByWorker.load(), 10);
    EXPECT_EQ(bar.maximum(), 40);
    EXPECT_EQ(bar.value(), 30);
}

TEST(GuiProgressCtrl, BehavesLikeTheWorkersBarControl) {
    QProgressBar bar;
    GuiProgressCtrl progress(bar);

    progress.SetRange32(0, 70000);
    progress.SetPos(65000);
    EXPECT_EQ(bar.value(), 65000) << "32-bit range";

    progress.SetPos(80000);
    EXPECT_EQ(bar.value(), 70000) << "held at the end";

    progress.SetRange32(0, 10);
    EXPECT_EQ(bar.value(), 10) << "position kept inside a narrower range";
    progress.SetStep(4);
    progress.StepIt();
    EXPECT_EQ(bar.value(), 0) << "stepping past the end starts over";

    progress.SetRange32(0, 0);
    EXPECT_EQ(bar.maximum(), 1) << "an empty range shows an empty bar, not a busy one";
    EXPECT_EQ(bar.value(), 0);
}

} // namespace
