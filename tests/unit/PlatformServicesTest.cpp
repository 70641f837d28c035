#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/LastError.h"
#include "platform/Sleep.h"

namespace {

TEST(LastError, IsKeptPerThread) {
    SetLastError(12002);
    std::uint32_t seenByOther = 1;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(5);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 12002u);
}

TEST(SystemErrorText, HasNoTextForTheInternetRangeAndLineEndsOtherwise) {
    for (std::uint32_t code : {12000u, 12002u, 12031u, 12999u})
        EXPECT_FALSE(SystemErrorText(code)) << code;
    const auto text = SystemErrorText(ENOSPC);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "No space left on device\n");
    ASSERT_TRUE(SystemErrorText(11999));
    EXPECT_EQ(SystemErrorText(11999)->back(), '\n');
}

TEST(Sleep, HookSeesWhatWasAskedForAndScaleShortensPauses) {
    std::vector<std::uint32_t> asked;
    SetSleepHook([&](std::uint32_t ms) { asked.push_back(ms); });
    Sleep(120000);
    Sleep(0);
    SetSleepHook({});
    EXPECT_EQ(asked, (std::vector<std::uint32_t>{120000, 0}));

    SetPauseScale(0.001);
    SetPauseScale(std::nan("")); // ignored: a bad command-line value must not hang the run
    const auto start = std::chrono::steady_clock::now();
    Sleep(5000);
    Sleep(0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    SetPauseScale(1);
    EXPECT_GE(elapsed, std::chrono::milliseconds(4));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
}

} // namespace
