#include <gtest/gtest.h>

#include "OperationHarness.h"
#include "platform/LastError.h"
#include "remotelog/LogServerTree.h"
#include "support/FtpTestServer.h"

using namespace ops_test;
using log_tree::expectedLogList;
using log_tree::makeLogTree;

namespace {

constexpr const char* kOpening = "--- Generating Log File List ---\n";
constexpr const char* kClosing = "--- File List Complete ---\n";

// The lines between the opening and the closing line of the listing block.
std::optional<std::string> listingBlock(const std::string& log) {
    const auto open = log.find(kOpening);
    if (open == std::string::npos)
        return std::nullopt;
    const auto begin = open + std::string(kOpening).size();
    const auto close = log.find(kClosing, begin);
    if (close == std::string::npos)
        return std::nullopt;
    return log.substr(begin, close - begin);
}

std::string asLines(const std::vector<std::string>& paths, std::size_t from = 0) {
    std::string text;
    for (std::size_t i = from; i < paths.size(); ++i)
        text += paths[i] + "\n";
    return text;
}

std::vector<std::string> tail(const std::vector<std::string>& paths, std::size_t from) {
    return {paths.begin() + static_cast<long>(from), paths.end()};
}

} // namespace

TEST(LogFiles, CollectsEveryPatternIntoTheFolderOfItsDirectory) {
    FtpTestServer server;
    makeLogTree(server.root());
    const auto expected = expectedLogList(server.root());
    ASSERT_EQ(expected.size(), 8u);
    OperationHarness harness;

    const RunResult run = harness.run(LogFiles, server.hostEntry(), 2);

    EXPECT_EQ(run.exitCode, 0u);
    const std::string log = harness.log();
    EXPECT_EQ(listingBlock(log), asLines(expected));
    EXPECT_EQ(countOccurrences(log, "getLogFiles 8 files\n"), 1u);
    for (const auto& path : expected)
        EXPECT_EQ(readFile(harness.folder() / path.substr(1)),
                  readFile(server.root() / path.substr(1)))
            << path;
    EXPECT_FALSE(fs::exists(harness.folder() / "LOGS" / "sub"));
    EXPECT_FALSE(fs::exists(harness.folder() / "access2" / "c.dat"));
    EXPECT_TRUE(fs::exists(server.root() / "safe"));
    EXPECT_TRUE(fs::exists(server.root() / "safe2"));
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
    EXPECT_FALSE(harness.registryKeyExists());
    EXPECT_EQ(run.statusText, "Downloading log files:");
    EXPECT_EQ(run.progress.calls,
              (std::vector<std::string>{"pos 96", "range 0..8", "step 1", "pos 0"}));
    EXPECT_EQ(run.progress.steps, 8);
    EXPECT_EQ(run.pauses, std::vector<std::uint32_t>{5000});
}

TEST(LogFiles, ListingOutcomes) {
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        std::function<void(const fs::path& root)> prepare;
        std::uint32_t result;
        bool transfers;
        std::string logged;
    };
    const Case cases[] = {
        {"access2 missing",
         {},
         [](const fs::path& root) {
             makeLogTree(root);
             fs::remove_all(root / "access2");
         },
         0,
         true,
         "Could not find directory /access2\n"},
        {"nothing matches, no marker either",
         {},
         [](const fs::path& root) {
             log_tree::put(root / "access2" / "c.dat", "x");
             log_tree::put(root / "ST" / "z.cfg", "x");
             log_tree::put(root / "ST" / "f983wui" / "w3.txt", "x");
             log_tree::put(root / "LOGS" / "sub" / "inner.log", "x");
         },
         0,
         false,
         std::string(kOpening) + kClosing},
        {"listing connection refused",
         {"--max-logins", "1"},
         makeLogTree,
         RESULT_TRANSFER_FAILED,
         false,
         "CRemoteLogFileManager::GetRemoteLogFiles caught CInternetException("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FtpTestServer server(withFaults(c.faults));
        c.prepare(server.root());
        const auto expected = expectedLogList(server.root());
        OperationHarness harness;

        const RunResult run = harness.run(LogFiles, server.hostEntry(), 2);

        EXPECT_EQ(run.exitCode, c.result);
        const std::string log = harness.log();
        EXPECT_EQ(countOccurrences(log, c.logged), 1u) << log;
        EXPECT_EQ(countOccurrences(log, kClosing), 1u);
        EXPECT_EQ(countOccurrences(log, "getLogFiles "), c.transfers ? 1u : 0u);
        EXPECT_EQ(run.progress.calls.empty(), !c.transfers);
        EXPECT_EQ(run.pauses.empty(), !c.transfers);
        EXPECT_EQ(run.statusText, c.transfers ? "Downloading log files:" : "Preparing system:");
        EXPECT_EQ(run.finalPhase, Finished);
        for (const auto& path : expected)
            EXPECT_EQ(fs::exists(harness.folder() / path.substr(1)), c.transfers) << path;
    }
}

TEST(LogFiles, ANameListedWithAQuestionMarkIsFetchedUnderItsBlank) {
    FtpTestServer server(withFaults({"--list-question-mark"}));
    log_tree::put(server.root() / "LOGS" / "night shift.log", "blank in the name");
    OperationHarness harness;

    const RunResult run = harness.run(LogFiles, server.hostEntry());

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(listingBlock(harness.log()).value_or("").ends_with("\n/LOGS/night?shift.log\n"));
    EXPECT_EQ(readFile(harness.folder() / "LOGS" / "night shift.log"), "blank in the name");
}

TEST(LogFiles, ARealQuestionMarkCannotBeFetchedAndTheLogSaysSo) {
    FtpTestServer server;
    log_tree::put(server.root() / "LOGS" / "odd?name.log", "question mark on disk");
    OperationHarness harness;

    const RunResult run = harness.run(LogFiles, server.hostEntry(), 1);

    EXPECT_EQ(run.exitCode, ERROR_INTERNET_EXTENDED_ERROR);
    const std::string log = harness.log();
    EXPECT_NE(log.find("/LOGS/odd?name.log\n"), std::string::npos);
    EXPECT_NE(log.find("Getting /LOGS/odd name.log\n"), std::string::npos);
    EXPECT_NE(log.find("FAIL:\tgetNormalFiles rc = 10\n"), std::string::npos);
    const auto saved = harness.recovery();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->code, 3);
    EXPECT_EQ(saved->paths, std::vector<std::string>{"/LOGS/odd name.log"});
}

TEST(LogFiles, FailureAtTheSecondFileResumesWithoutListingAgain) {
    FtpTestServer server(withFaults({"--fail-retr", "2"}));
    makeLogTree(server.root());
    const auto expected = expectedLogList(server.root());
    OperationHarness harness;

    const RunResult failed = harness.run(LogFiles, server.hostEntry());

    EXPECT_EQ(failed.exitCode, ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(harness.recovery(), (RecoveryContent{3, server.hostEntry(), harness.folder().string(),
                                                   tail(expected, 1)}));
    EXPECT_EQ(harness.registryDirectory(), harness.folder().string());
    EXPECT_TRUE(fs::exists(harness.folder() / expected[0].substr(1)));
    EXPECT_EQ(failed.pauses, (std::vector<std::uint32_t>{5000, 120000}));

    server.restart({});
    harness.clearLog();
    const RunResult resumed = harness.run(LogFiles, server.hostEntry(), 1, 1);

    EXPECT_EQ(resumed.exitCode, 0u);
    const std::string log = harness.log();
    EXPECT_EQ(log.find(kOpening), std::string::npos);
    std::vector<std::string> fetched;
    for (const auto& line : linesStartingWith(log, "Getting "))
        fetched.push_back(line.substr(8));
    EXPECT_EQ(fetched, tail(expected, 1));
    for (const auto& path : expected)
        EXPECT_EQ(readFile(harness.folder() / path.substr(1)),
                  readFile(server.root() / path.substr(1)));
    EXPECT_FALSE(fs::exists(harness.recoveryFile()));
    EXPECT_FALSE(harness.registryKeyExists());
    EXPECT_TRUE(fs::exists(server.root() / "safe"));
    EXPECT_TRUE(fs::exists(server.root() / "safe2"));
}
