#include "Scenario.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace faults {

namespace {

constexpr const char* kSuccess = "Operation completed successfully.";

} // namespace

Outcome transferFailure(Op op, std::uint32_t code, const std::string& message) {
    const char* loop = op == Op::Restore ? "putNormalFiles" : "getNormalFiles";
    return {code, message, std::string("FAIL:\t") + loop + " rc = 10\n\tMsg = "};
}

Outcome connectionFailure(const std::string& host, const std::string& logRecord) {
    return {2, "Communication problem encountered with site " + host,
            "Velmora Qel tool version 2.0.55\n" + logRecord};
}

int exitStatusAfterLogin(std::uint32_t code) {
    if (code == 2 || code == 10 || (code >= 12000 && code <= 12999))
        return 10;
    return code <= 125 ? static_cast<int>(code) : 1;
}

Scenario::Scenario(Op op, int mailboxFiles, std::size_t largeFileBytes) : m_op(op) {
    if (op == Op::Logs) {
        makeLogTree(m_server.root());
        m_source = logFilesOf(m_server.root());
        return;
    }
    makeDataTree(m_server.root(), mailboxFiles);
    if (largeFileBytes > 0)
        writeFile(m_server.root() / "ST" / "VOICE.DAT", std::string(largeFileBytes, 'v'));
    m_source = dataTrees(m_server.root());
    if (op != Op::Restore)
        return;
    const ProcessResult backup = m_user.run(Op::Backup, host(), false);
    if (backup.exitCode != 0 || dataTrees(m_user.folder()) != m_source)
        throw std::runtime_error("the backup a restore starts from failed: " + backup.err);
    m_restoreOrder = relativeRemotePaths(readListing(m_user.folder() / "k7.lst"));
    writeFile(m_server.root() / "safe", "");
}

int Scenario::transferCommand(int file) const {
    // A restore first stores the empty marker "safe2".
    return m_op == Op::Restore ? file + 1 : file;
}

int Scenario::loginsBefore(int file) const {
    // Backup: the driver's, one after the enumeration, one before the loop. Log Files: the
    // driver's, the log file manager's, one before the loop. Restore: the driver's, one
    // before the loop. Then one per file, and one per checkpoint (before files 101, 202...).
    const int beforeLoop = m_op == Op::Restore ? 2 : 3;
    return beforeLoop + (file - 1) + file / 101;
}

ProcessResult Scenario::run(bool resume, std::chrono::milliseconds ftpTimeout) {
    return m_user.run(m_op, host(), resume, m_wrapper, ftpTimeout);
}

int Scenario::positionOf(const std::string& relative) const {
    const auto order = transferOrder();
    const auto at = std::find(order.begin(), order.end(), relative);
    return at == order.end() ? 0 : static_cast<int>(at - order.begin()) + 1;
}

fs::path Scenario::targetOf(int file) const {
    const std::string relative = transferOrder().at(static_cast<std::size_t>(file - 1));
    return (m_op == Op::Restore ? m_server.root() : m_user.folder()) / relative;
}

std::vector<std::string> Scenario::transferOrder() const {
    if (m_op == Op::Restore)
        return m_restoreOrder;
    return relativeRemotePaths(readListing(m_user.folder() / "k7.lst"));
}

std::string Scenario::folderAsSystemNamesIt() const {
    return fs::canonical(m_user.folder()).string();
}

std::string Scenario::localPathOf(const std::string& relative) const {
    return folderAsSystemNamesIt() + "/" + relative;
}

void Scenario::expectFailure(const ProcessResult& result, const Outcome& outcome, int firstLeft) {
    EXPECT_EQ(result.exitCode, exitStatusAfterLogin(outcome.code)) << result.out << result.err;
    EXPECT_NE(printedResult(result).find(outcome.message), std::string::npos)
        << "expected \"" << outcome.message << "\" in\n"
        << printedResult(result);
    if (outcome.code > 125) {
        EXPECT_NE(printedResult(result).find("(code " + std::to_string(outcome.code) + ")"),
                  std::string::npos)
            << printedResult(result);
    }
    EXPECT_NE(m_user.log().find(outcome.logRecord), std::string::npos)
        << "expected \"" << outcome.logRecord << "\" in the log:\n"
        << m_user.log();
    if (outcome.code > 2 && outcome.code != 10) {
        EXPECT_NE(m_user.log().find("(GetLastError code = " + std::to_string(outcome.code) + ")"),
                  std::string::npos)
            << m_user.log();
    }
    expectNothingBroken();
    expectRecoveryFrom(firstLeft);
    expectProgressUpTo(firstLeft);
}

void Scenario::expectNothingBroken() {
    EXPECT_EQ(partialDownloads(m_user.folder()), std::vector<std::string>());
    if (m_op == Op::Restore) {
        // The local backup is only read.
        EXPECT_EQ(dataTrees(m_user.folder()), m_source);
        return;
    }
    EXPECT_TRUE(onlyWholeFiles(collectedFiles(m_user.folder()), m_source));
}

void Scenario::expectRecoveryFrom(int firstLeft) {
    const auto recovery = readRecoveryFile(m_user.folder() / "k7.bad");
    ASSERT_TRUE(recovery.has_value()) << "no k7.bad; the log:\n" << m_user.log();
    EXPECT_TRUE(recovery->whole) << ::testing::PrintToString(*recovery);
    EXPECT_EQ(recovery->code, recoveryCode(m_op));
    EXPECT_EQ(recovery->host, host());
    EXPECT_EQ(recovery->folder, folderAsSystemNamesIt());
    EXPECT_EQ(m_user.registryDirectory(), folderAsSystemNamesIt());

    const auto left = static_cast<std::size_t>(fileCount() - firstLeft + 1);
    ASSERT_EQ(recovery->paths.size(), left) << ::testing::PrintToString(*recovery);
    if (m_op == Op::Logs) {
        // The order of the log list is the manager's: the files left are ones the server has.
        for (const auto& path : relativeRemotePaths(recovery->paths)) {
            EXPECT_TRUE(m_source.contains(path)) << path;
        }
        return;
    }
    const auto order = transferOrder();
    ASSERT_EQ(order.size(), m_source.size());
    std::vector<std::string> expected(order.begin() + firstLeft - 1, order.end());
    if (m_op == Op::Restore) {
        for (auto& path : expected)
            path = localPathOf(path);
        EXPECT_EQ(recovery->paths, expected);
        return;
    }
    EXPECT_EQ(relativeRemotePaths(recovery->paths), expected);
}

void Scenario::expectProgressUpTo(int failedFile) {
    const auto done = static_cast<std::size_t>(failedFile - 1);
    if (m_op == Op::Logs) {
        // What is left and what is here add up to every log file, without overlap.
        const auto recovery = readRecoveryFile(m_user.folder() / "k7.bad");
        ASSERT_TRUE(recovery.has_value());
        std::set<std::string> seen;
        for (const auto& path : relativeRemotePaths(recovery->paths))
            seen.insert(path);
        const Tree here = collectedFiles(m_user.folder());
        EXPECT_EQ(here.size(), done);
        for (const auto& [path, bytes] : here) {
            EXPECT_TRUE(seen.insert(path).second) << path << " was fetched and is still listed";
        }
        EXPECT_EQ(seen.size(), m_source.size());
        return;
    }
    const auto order = transferOrder();
    ASSERT_EQ(order.size(), m_source.size());
    if (m_op == Op::Restore) {
        // The server holds what was uploaded; only the file in flight may be cut short.
        auto onServer = dataTrees(m_server.root());
        onServer.erase(order[done]);
        EXPECT_TRUE(onlyWholeFiles(onServer, m_source));
        EXPECT_LE(onServer.size(), done);
        return;
    }
    Tree fetched;
    for (std::size_t i = 0; i < done; ++i)
        fetched[order[i]] = m_source.at(order[i]);
    EXPECT_EQ(collectedFiles(m_user.folder()), fetched);
}

void Scenario::expectResumeCompletes(int filesLeft, bool fromRecoveryFile) {
    m_server.restart({});
    const std::size_t logBefore = m_user.log().size();
    const ProcessResult resumed = run(true);
    const std::string log = m_user.log().substr(logBefore);
    EXPECT_EQ(resumed.exitCode, 0) << resumed.out << resumed.err << log;
    EXPECT_NE(resumed.out.find(kSuccess), std::string::npos) << resumed.out << resumed.err;

    EXPECT_FALSE(fs::exists(m_user.folder() / "k7.bad"));
    EXPECT_EQ(m_user.registryDirectory(), std::nullopt);
    EXPECT_EQ(partialDownloads(m_user.folder()), std::vector<std::string>());
    const char* perFile = m_op == Op::Restore ? "Putting " : "Getting ";
    EXPECT_EQ(countOf(log, perFile), static_cast<std::size_t>(filesLeft)) << log;
    switch (m_op) {
    case Op::Backup:
        EXPECT_EQ(collectedFiles(m_user.folder()), m_source);
        EXPECT_FALSE(fs::exists(m_server.root() / "safe"));
        break;
    case Op::Restore:
        EXPECT_EQ(dataTrees(m_server.root()), m_source);
        EXPECT_FALSE(fs::exists(m_server.root() / "safe"));
        EXPECT_FALSE(fs::exists(m_server.root() / "safe2"));
        break;
    case Op::Logs:
        EXPECT_EQ(collectedFiles(m_user.folder()), m_source);
        EXPECT_EQ(log.find("--- Generating Log File List ---") == std::string::npos,
                  fromRecoveryFile);
        break;
    }
}

} // namespace faults
