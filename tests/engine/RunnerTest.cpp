#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>

#include "engine/OperationRunner.h"
#include "engine/SpineTestSupport.h"
#include "platform/Internet.h"
#include "support/TestSupport.h"

using namespace spine_test;

namespace {

class RunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        context.phase = &phase;
        context.statusText = &status;
        context.localFolder = local.path().string();
    }

    CurrentDirectoryGuard cwd;
    TempDir logDir;
    LogFileGuard guard{logDir / "VelmoraQel.log"};
    TempDir local;
    std::atomic<std::int32_t> phase{Preparing};
    std::string status;
    OperationContext context;
};

// A server that accepts the connection but never greets keeps the worker busy until the
// (shortened) timeout ends it with 2.
TEST_F(RunnerTest, ExitCodeAppearsOnlyOnceTheWorkerHasEnded) {
    const LoopbackSocket silent(true);
    SetTimeoutOverrideForTesting(1500);
    context.host = silent.hostEntry();
    OperationRunner runner;
    EXPECT_FALSE(runner.started());
    runner.start(context);
    EXPECT_TRUE(runner.started());
    EXPECT_EQ(runner.exitCode(), std::nullopt);

    std::optional<std::uint32_t> code;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(code = runner.exitCode()) && std::chrono::steady_clock::now() < deadline) {
        EXPECT_TRUE(phase.load() == Preparing || phase.load() == Finished);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    SetTimeoutOverrideForTesting(0);
    ASSERT_EQ(code, std::optional<std::uint32_t>(RESULT_FTP_FAILED));
    EXPECT_EQ(phase.load(), Finished);
    EXPECT_EQ(runner.exitCode(), code);
    EXPECT_EQ(runner.wait(), RESULT_FTP_FAILED);
}

TEST_F(RunnerTest, WaitReturnsTheResultAndTheRunnerCanStartAgain) {
    context.localFolder = (local / "missing").string();
    OperationRunner runner;
    runner.start(context);
    EXPECT_EQ(runner.wait(), RESULT_FOLDER_NOT_CURRENT);

    phase = Preparing;
    context.localFolder = "";
    runner.start(context);
    EXPECT_EQ(runner.wait(), RESULT_FOLDER_NOT_CURRENT);
    EXPECT_EQ(phase.load(), Finished);
}

TEST_F(RunnerTest, MisuseIsRefusedInsteadOfGuessingAResult) {
    OperationRunner idle;
    EXPECT_THROW(idle.wait(), std::logic_error);

    context.localFolder = (local / "missing").string();
    OperationRunner runner;
    runner.start(context);
    EXPECT_THROW(runner.start(context), std::logic_error);
    EXPECT_EQ(runner.wait(), RESULT_FOLDER_NOT_CURRENT);
}

} // namespace
