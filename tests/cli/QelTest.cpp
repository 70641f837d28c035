#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../engine/SpineTestSupport.h"
#include "support/FtpTestServer.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace spine_test;

namespace {

extern "C" char** environ;

constexpr std::size_t kTerminalColumns = 60;

struct TerminalRun {
    int exitCode = -1;
    std::string screen; // everything qel wrote to its terminal
};

// Runs argv on a pseudo-terminal of its own and types answer once it shows "[y/N] ".
TerminalRun runOnTerminal(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env,
                          const std::string& answer) {
    std::vector<std::string> strings = argv;
    std::vector<std::string> envStrings;
    for (char** entry = environ; *entry; ++entry)
        envStrings.emplace_back(*entry);
    for (const auto& [name, value] : env)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> args;
    std::vector<char*> envp;
    for (auto& text : strings)
        args.push_back(text.data());
    for (auto& text : envStrings)
        envp.push_back(text.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);

    int master = -1;
    winsize narrow{};
    narrow.ws_row = 24;
    narrow.ws_col = kTerminalColumns;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &narrow);
    if (pid == 0) {
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    TerminalRun result;
    if (pid < 0)
        return result;
    bool answered = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd entry{master, POLLIN, 0};
        if (poll(&entry, 1, 200) <= 0)
            continue;
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // the child has closed the terminal
        result.screen.append(buffer, static_cast<std::size_t>(got));
        if (!answered && result.screen.find("[y/N] ") != std::string::npos) {
            const std::string line = answer + "\n";
            answered = write(master, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        }
    }
    close(master);
    int status = 0;
    if (waitpid(pid, &status, std::chrono::steady_clock::now() < deadline ? 0 : WNOHANG) == pid &&
        WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

FtpTestServer::Options withFaults(std::vector<std::string> faults) {
    FtpTestServer::Options options;
    options.faults = std::move(faults);
    return options;
}

class QelTest : public ::testing::Test {
  protected:
    std::map<std::string, std::string> environment() const {
        return {{"XDG_CONFIG_HOME", (home / "config").string()},
                {"XDG_STATE_HOME", (home / "state").string()},
                {"QEL_TEST_TIMEOUT_MS", "10000"}};
    }

    ProcessResult qel(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), qelBinary().string());
        return runProcess(arguments, environment(), std::chrono::seconds(60));
    }

    std::vector<std::string> run(const std::string& operation, const std::string& host) {
        return {operation,    "--host",        host, "--folder", folder.path().string(), "--log",
                log.string(), "--pause-scale", "0"};
    }

    TempDir home;
    TempDir folder;
    fs::path log = home / "VelmoraQel.log";
};

TEST_F(QelTest, UsageErrorsExitWith64AndAShortUsage) {
    const std::string dir = folder.path().string();
    const struct {
        std::vector<std::string> arguments;
        std::string problem;
    } cases[] = {
        {{}, "name the operation"},
        {{"copy", "--host", "h", "--folder", dir}, "unknown operation \"copy\""},
        {{"backup", "--folder", dir}, "--host is required"},
        {{"backup", "--host", "h"}, "--folder is required"},
        {{"backup", "--host", "h", "--folder"}, "--folder needs a value"},
        {{"logs", "--host", "h", "--folder", dir, "--resume", "--no-resume"}, "exclude"},
        {{"logs", "--host", "h", "--folder", dir, "--debug-level", "7x"}, "--debug-level"},
        {{"logs", "--host", "h", "--folder", dir, "--pause-scale", "-1"}, "--pause-scale"},
        {{"logs", "--host", "h:99999", "--folder", dir}, "--host"},
        {{"restore", "--host", "h", "--folder", dir, "--bogus"}, "unknown option --bogus"},
        {{"restore", "backup", "--host", "h", "--folder", dir}, "one operation"},
        {{"logs", "--host", "h", "--folder", dir, "--debug-level", "99"},
         "out of range: give 0 to 7"},
        {{"logs", "--host", "h", "--folder", dir, "--debug-level", "-3"}, "out of range"},
        {{"logs", "--host", "h", "--folder", dir, "--debug-level", "99999999999"}, "out of range"},
        {{"logs", "--host", "h", "--folder", dir, "--debug-level", "99999999999999999999999"},
         "out of range"},
        {{"logs", "--host", "h", "--folder", dir, "--timeout", "0"}, "--timeout 0 is out of range"},
        {{"logs", "--host", "h", "--folder", dir, "--timeout", "5000000"}, "out of range"},
        {{"logs", "--host", "h", "--folder", dir, "--timeout", "soon"}, "--timeout needs a whole"},
        {{"backup", "--host", "h", "--folder", dir, "--parallel", "0"},
         "out of range: give 1 to 16"},
        {{"backup", "--host", "h", "--folder", dir, "--parallel", "17"}, "out of range"},
        {{"logs", "--host", "::1:2121", "--folder", dir}, "[::1]:2121 with a port, or [::1:2121]"},
        {{"backup", "-v"}, "unknown option -v"},
        {{"backup", "--host", "h", "--folder", dir, "extra"}, "unexpected argument \"extra\""},
        {{"verify", "--folder", dir, "--resume"}, "verify changes nothing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        const ProcessResult result = qel(c.arguments);
        EXPECT_EQ(result.exitCode, 64);
        EXPECT_NE(result.err.find(c.problem), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("usage: qel backup|restore|logs"), std::string::npos);
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(QelTest, VersionAndHelp) {
    const ProcessResult version = qel({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "qel 2.0.55\n");
    const ProcessResult help = qel({"backup", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: qel backup|restore|logs", 0), 0u);
}

// A folder or log that cannot be used stops qel before it connects or writes anything.
TEST_F(QelTest, UnusableFolderOrLogStopsBeforeAnythingRuns) {
    const LoopbackSocket listener(true);
    writeFile(folder / "a file", "x");
    const std::string missing = (folder / "not here").string();
    const std::string file = (folder / "a file").string();
    const std::string dir = folder.path().string();
    const struct {
        std::string folder;
        std::string log;
        int exitCode;
        std::string message;
    } cases[] = {
        {missing, log.string(), 3,
         "qel: the folder " + missing +
             " does not exist; create it or name another with "
             "--folder\n"},
        {file, log.string(), 3,
         "qel: " + file +
             " is a file, not a folder; name a folder with "
             "--folder\n"},
        {dir, file + "/x.log", 20,
         "qel: cannot write the operation log " + file +
             "/x.log: Not a directory; name a "
             "writable file with --log\n"},
        {dir, dir, 21,
         "qel: cannot write the operation log " + dir +
             ": Is a directory; name a writable file "
             "with --log\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const ProcessResult result = qel({"backup", "--host", listener.hostEntry(), "--folder",
                                          c.folder, "--log", c.log, "--json"});
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.err, c.message);
        EXPECT_NE(result.out.find("\"exit_status\":" + std::to_string(c.exitCode) + ","),
                  std::string::npos)
            << result.out;
        EXPECT_FALSE(listener.connectionPending());
        EXPECT_FALSE(fs::exists(log));
    }
}

TEST_F(QelTest, UnreachableHostExitsWithTwoAndSaysWhy) {
    const LoopbackSocket refusing(false);
    std::vector<std::string> arguments = run("logs", refusing.hostEntry());
    arguments.insert(arguments.end(), {"--debug-level", "1"});
    const ProcessResult result = qel(arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "qel: Cannot connect to site " + refusing.hostEntry() +
                              ": the connection was refused\nqel: Cannot connect to 127.0.0.1 "
                              "port " +
                              std::to_string(refusing.port()) +
                              ": Connection refused (code 12029)\nqel: check that the FTP server "
                              "runs and "
                              "listens on that port\nqel: the operation log is " +
                              log.string() + "\n");
    EXPECT_EQ(result.out, "Preparing system:\n");
    const std::string written = readFile(log);
    EXPECT_NE(written.find("Debug Level : 1\nAttempting connection to " + refusing.hostEntry()),
              std::string::npos);
}

// Each way a connection can fail names its cause and what to check, with its exit status.
TEST_F(QelTest, ConnectionFailuresNameTheirCause) {
    const LoopbackSocket silent(true);
    FtpTestServer busy(withFaults({"--max-logins", "0"}));
    FtpTestServer noConnectBack(withFaults({"--hostile", "no-connect-back"}));
    makeSampleServerTree(noConnectBack.root(), {.mailboxFiles = 2, .largeFileBytes = 10});
    const struct {
        std::string host;
        int exitCode;
        std::vector<std::string> lines;
    } cases[] = {
        {"no-such-host.invalid",
         2,
         {"qel: Cannot connect to site no-such-host.invalid: its name was not resolved",
          "qel: check the host name, or give the server's address"}},
        {silent.hostEntry(),
         2,
         {": the server did not answer within 2 s", "qel: check that the host runs an FTP server"}},
        {busy.hostEntry(),
         2,
         {": the server refused the session", "qel: The server returned an error: 421",
          "try again later"}},
        {noConnectBack.hostEntry(),
         10,
         {"qel: Communication problem encountered with site " + noConnectBack.hostEntry(),
          "transfers use active mode, which a firewall or NAT between the two blocks; try "
          "--passive"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        std::vector<std::string> arguments = run("backup", c.host);
        arguments.insert(arguments.end(), {"--timeout", "2"});
        const ProcessResult result = qel(arguments);
        EXPECT_EQ(result.exitCode, c.exitCode);
        for (const std::string& line : c.lines)
            EXPECT_NE(result.err.find(line), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("qel: the operation log is " + log.string() + "\n"),
                  std::string::npos);
    }
}

TEST_F(QelTest, BackupAndRestoreNotInitiatedExitWithSixAndSeven) {
    FtpTestServer server;
    SampleTreeOptions tree;
    tree.mailboxFiles = 3;
    tree.largeFileBytes = 100;
    tree.safeMarker = false;
    makeSampleServerTree(server.root(), tree);
    const auto before = snapshotTree(server.root());

    const ProcessResult backup = qel(run("backup", server.hostEntry()));
    EXPECT_EQ(backup.exitCode, 6);
    EXPECT_EQ(backup.err.rfind("qel: Backup operation has not been initiated from Velmora "
                               "Manager for site " +
                                   server.hostEntry() + "\nqel: start it from Velmora Manager",
                               0),
              0u)
        << backup.err;

    std::vector<std::string> restoreArguments = run("restore", server.hostEntry());
    restoreArguments.push_back("--resume");
    const ProcessResult restore = qel(restoreArguments);
    EXPECT_EQ(restore.exitCode, 7);
    EXPECT_NE(restore.err.find("qel: there is no recovery file in"), std::string::npos);
    EXPECT_NE(restore.err.find("qel: Restore operation has not been initiated from Velmora Manager "
                               "for site " +
                               server.hostEntry() + "\n"),
              std::string::npos);
    EXPECT_EQ(snapshotTree(server.root()), before);
}

// The last "Data backup: done/total" line of a plain (not terminal) run.
std::pair<int, int> lastCount(const std::string& out) {
    static const std::regex counted("Data backup: (\\d+)/(\\d+) files, [0-9.]+ [kMG]?B\n");
    std::pair<int, int> last{-1, -1};
    for (std::sregex_iterator it(out.begin(), out.end(), counted), end; it != end; ++it)
        last = {std::stoi((*it)[1]), std::stoi((*it)[2])};
    return last;
}

TEST_F(QelTest, BackupShowsPlainProgressLinesAndReportsSuccess) {
    FtpTestServer server;
    SampleTreeOptions tree;
    tree.mailboxFiles = 12;
    tree.largeFileBytes = 1000;
    makeSampleServerTree(server.root(), tree);

    const ProcessResult result = qel(run("backup", server.hostEntry()));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("Preparing system:\nData backup:\n", 0), 0u) << result.out;
    const auto [done, total] = lastCount(result.out);
    EXPECT_GT(total, 12);
    EXPECT_EQ(done, total);
    EXPECT_NE(result.out.find("Operation completed successfully.\nPlease reboot the system by "
                              "temporarily removing power for 10 seconds.\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(server.root() / "safe"));
}

// The file a failure message names.
std::string failedFile(const std::string& err) {
    static const std::regex moving("while moving (.+)\n");
    std::smatch match;
    return std::regex_search(err, match, moving) ? match[1].str() : std::string();
}

TEST_F(QelTest, FailedTransferNamesFileAndReplyExitsWithTenAndResumeContinues) {
    FtpTestServer::Options faults;
    faults.faults = {"--fail-retr", "4"};
    FtpTestServer server(faults);
    SampleTreeOptions tree;
    tree.mailboxFiles = 12;
    tree.largeFileBytes = 1000;
    makeSampleServerTree(server.root(), tree);

    const ProcessResult failed = qel(run("backup", server.hostEntry()));
    EXPECT_EQ(failed.exitCode, 10);
    const int total = lastCount(failed.out).second;
    ASSERT_GT(total, 4);
    const std::string file = failedFile(failed.err);
    EXPECT_TRUE(fs::exists(server.root() / file.substr(file.find('/') + 1))) << failed.err;
    EXPECT_NE(failed.err.find("qel: Communication problem encountered with site " +
                              server.hostEntry() + " while moving " + file +
                              "\nqel: The server returned an error: 550 Cannot access the "
                              "file. (code 12003)\nqel: the server refused the command"),
              std::string::npos)
        << failed.err;
    EXPECT_NE(failed.err.find("qel: " + std::to_string(total - 3) +
                              " files are left; run the same command with --resume to "
                              "continue\nqel: the operation log is " +
                              log.string() + "\n"),
              std::string::npos)
        << failed.err;

    server.restart({});
    std::vector<std::string> resume = run("backup", server.hostEntry());
    resume.push_back("--resume");
    const ProcessResult resumed = qel(resume);
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(lastCount(resumed.out), std::make_pair(total - 3, total - 3));
}

// A local failure names the local path and keeps its error number as the exit status.
TEST_F(QelTest, LocalFailureNamesThePathAndExitsWithItsErrorNumber) {
    FtpTestServer server;
    makeSampleServerTree(server.root(), {.mailboxFiles = 4, .largeFileBytes = 100});
    writeFile(folder / "access2", "a file where the backup needs a folder");
    const ProcessResult result = qel(run("backup", server.hostEntry()));
    EXPECT_EQ(result.exitCode, ENOTDIR);
    const std::string local = fs::canonical(folder.path()).string() + "/access2/";
    EXPECT_EQ(result.err.rfind("qel: Operation failed: " + local, 0), 0u) << result.err;
    EXPECT_NE(result.err.find(": Not a directory (error 20)\nqel: check the local folder's "
                              "free space and permissions\n"),
              std::string::npos)
        << result.err;
}

// A server that stops answering in the middle of a run is given up after --timeout.
TEST_F(QelTest, TimeoutEndsAStalledTransferWithTen) {
    FtpTestServer server(withFaults({"--stall-data-retr", "2"}));
    makeSampleServerTree(server.root(), {.mailboxFiles = 4, .largeFileBytes = 100000});
    std::vector<std::string> arguments = run("backup", server.hostEntry());
    arguments.insert(arguments.end(), {"--timeout", "2", "--quiet"});
    const ProcessResult result = qel(arguments);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 10);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("qel: the server was silent for 2 s"), std::string::npos)
        << result.err;
}

// Every redraw of the progress line fits the terminal: none wraps into a line of its own.
void expectProgressFits(const std::string& screen) {
    std::size_t start = 0;
    while (start < screen.size()) {
        std::size_t end = screen.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = screen.size();
        std::string piece = screen.substr(start, end - start);
        if (piece.ends_with("\x1b[K"))
            piece.resize(piece.size() - 3);
        if (piece.starts_with("Data backup: ") && piece.find(" of ") == std::string::npos) {
            EXPECT_LT(piece.size(), kTerminalColumns) << piece;
        }
        start = end + 1;
    }
}

// "Data backup: N of M files" of the summary line; -1 when there is none.
int filesInSummary(const std::string& output) {
    static const std::regex summary("Data backup: (\\d+) of \\d+ files");
    std::smatch match;
    return std::regex_search(output, match, summary) ? std::stoi(match[1]) : -1;
}

// The resume question is asked on a terminal only, with "no" as its default; a recovery file
// of another operation or host spelling is named in one line, never offered.
TEST_F(QelTest, ResumeQuestionOnlyOnATerminalAndMismatchesNamed) {
    FtpTestServer server(withFaults({"--fail-retr", "4"}));
    makeSampleServerTree(server.root(),
                         {.mailboxFiles = 12, .largeFileBytes = 1000, .logFiles = true});
    const ProcessResult failed = qel(run("backup", server.hostEntry()));
    ASSERT_EQ(failed.exitCode, 10) << failed.err;
    const int total = lastCount(failed.out).second;
    const std::string recovery = readFile(folder / "k7.bad");
    server.restart({});
    const std::string host = server.hostEntry();
    const std::string otherSpelling = "localhost:" + std::to_string(server.port());
    const std::string records = "qel: the recovery file k7.bad holds a backup of host \"" + host +
                                "\" into folder \"" + fs::canonical(folder.path()).string() +
                                "\" with " + std::to_string(total - 3) + " files left";
    const struct {
        std::string operation;
        std::string host;
        std::optional<std::string> typed; // on a terminal, this answer
        std::string says;
        int files;
    } cases[] = {
        {"backup", otherSpelling, std::nullopt,
         records + ", not this one (it differs in host \"" + host + "\"", total},
        {"logs", host, std::nullopt, records + ", not this one (it differs in another operation)",
         -1},
        {"backup", host, std::nullopt,
         records + "; with no terminal to ask, starting afresh (--resume continues from it).\n",
         total},
        {"backup", host, "y", records + ".\r\nThe application has detected", total - 3},
        {"backup", host, "", "this operation from the previous failure point? [y/N] ", total},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        writeFile(folder / "k7.bad", recovery);
        writeFile(server.root() / "safe", "");
        std::string output;
        if (c.typed) {
            std::vector<std::string> arguments = run(c.operation, c.host);
            arguments.insert(arguments.begin(), qelBinary().string());
            const TerminalRun result = runOnTerminal(arguments, environment(), *c.typed);
            EXPECT_EQ(result.exitCode, 0) << result.screen;
            EXPECT_NE(result.screen.find("\rData backup: "), std::string::npos) << result.screen;
            expectProgressFits(result.screen);
            output = result.screen;
        } else {
            const ProcessResult result = qel(run(c.operation, c.host));
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_EQ(result.out.find("[y/N]"), std::string::npos);
            output = result.out + result.err;
        }
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
        EXPECT_EQ(filesInSummary(output), c.files) << output;
    }
}

// On a terminal, the pause after a failed transfer counts down on the progress line.
TEST_F(QelTest, PauseAfterAFailureCountsDownOnATerminal) {
    FtpTestServer server(withFaults({"--fail-retr", "2"}));
    makeSampleServerTree(server.root(), {.mailboxFiles = 4, .largeFileBytes = 100});
    std::vector<std::string> arguments = run("backup", server.hostEntry());
    arguments.back() = "0.05"; // the two minutes become six seconds
    arguments.insert(arguments.begin(), qelBinary().string());
    const TerminalRun result = runOnTerminal(arguments, environment(), "");
    EXPECT_EQ(result.exitCode, 10) << result.screen;
    EXPECT_NE(result.screen.find("\rData backup: 1/"), std::string::npos) << result.screen;
    EXPECT_NE(result.screen.find(" B; waiting 0:0"), std::string::npos) << result.screen;
    expectProgressFits(result.screen);
}

// The JSON object on stdout, read by a real JSON parser, as "key" -> value text.
std::map<std::string, std::string> parseJson(const TempDir& scratch, const std::string& text) {
    writeFile(scratch / "summary.json", text);
    const ProcessResult parsed = runProcess(
        {"/usr/bin/python3", "-c",
         "import json, sys\nfor k, v in json.load(open(sys.argv[1])).items(): print(k, v)",
         (scratch / "summary.json").string()});
    std::map<std::string, std::string> fields;
    std::istringstream lines(parsed.out);
    for (std::string line; std::getline(lines, line);)
        fields[line.substr(0, line.find(' '))] = line.substr(line.find(' ') + 1);
    return fields;
}

TEST_F(QelTest, JsonSummaryOnStdoutAndQuietPrintsOnlyErrors) {
    FtpTestServer server(withFaults({"--fail-retr", "4"}));
    makeSampleServerTree(server.root(), {.mailboxFiles = 12, .largeFileBytes = 1000});
    std::vector<std::string> arguments = run("backup", server.hostEntry());
    arguments.insert(arguments.end(), {"--json", "--quiet"});

    const ProcessResult failed = qel(arguments);
    EXPECT_EQ(failed.exitCode, 10);
    EXPECT_EQ(std::count(failed.out.begin(), failed.out.end(), '\n'), 1) << failed.out;
    EXPECT_EQ(failed.err.rfind("qel: Communication problem", 0), 0u) << failed.err;
    std::map<std::string, std::string> fields = parseJson(home, failed.out);
    EXPECT_EQ(fields["operation"], "backup");
    EXPECT_EQ(fields["exit_status"], "10");
    EXPECT_EQ(fields["result_code"], "12003");
    EXPECT_EQ(fields["files_done"], "3");
    EXPECT_EQ(fields["recovery_file_left"], "True");
    const int total = std::stoi(fields["files_total"]);
    EXPECT_EQ(fields["recovery_entries"], std::to_string(total - 3));
    EXPECT_EQ(fields["log"], log.string());

    server.restart({});
    arguments.pop_back();
    arguments.push_back("--resume");
    const ProcessResult resumed = qel(arguments);
    EXPECT_EQ(resumed.exitCode, 0);
    EXPECT_NE(resumed.err.find("Data backup:"), std::string::npos) << "progress on stderr";
    fields = parseJson(home, resumed.out);
    EXPECT_EQ(fields["exit_status"], "0");
    EXPECT_EQ(fields["meaning"], "done");
    EXPECT_EQ(fields["files_done"], std::to_string(total - 3));
    EXPECT_EQ(fields["files_total"], std::to_string(total - 3));
    EXPECT_GT(std::stoll(fields["bytes"]), 1000);
    EXPECT_EQ(fields["recovery_file_left"], "False");
    EXPECT_EQ(fields["folder"], fs::canonical(folder.path()).string());
}

// Every file below a folder with its bytes, and whether the settings store exists: what a
// dry run must leave exactly as it was.
struct Everything {
    std::map<std::string, std::string> server;
    std::map<std::string, std::string> folder;
    bool settings = false;
    bool operator==(const Everything&) const = default;
};

class QelBackupTest : public QelTest {
  protected:
    // A server with markers and log files, and a folder holding its backup.
    void SetUp() override {
        makeSampleServerTree(server.root(),
                             {.mailboxFiles = 12, .largeFileBytes = 5000, .logFiles = true});
        const ProcessResult backup = qel(run("backup", server.hostEntry()));
        ASSERT_EQ(backup.exitCode, 0) << backup.err;
        writeFile(server.root() / "safe", "");
        fs::remove_all(home / "config");
    }

    Everything everything() const {
        return {snapshotTree(server.root()), snapshotTree(folder.path()),
                fs::exists(home / "config")};
    }

    ProcessResult verify(std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"verify", "--folder", folder.path().string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return qel(arguments);
    }

    FtpTestServer server;
};

TEST_F(QelBackupTest, DryRunShowsThePlanAndChangesNothing) {
    const struct {
        std::string operation;
        bool marker;
        int exitCode;
        std::vector<std::string> says;
    } cases[] = {
        {"backup", true, 0, {"would fetch from the server into ", "would write k7.lst"}},
        {"restore",
         true,
         0,
         {"would delete on the server: ", "would upload from ", "would create 7.1/safe2"}},
        {"logs", true, 0, {"would fetch from the server into "}},
        {"restore", false, 7, {"qel: Restore operation has not been initiated"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        if (!c.marker)
            fs::remove(server.root() / "safe");
        const Everything before = everything();
        std::vector<std::string> arguments = run(c.operation, server.hostEntry());
        arguments.push_back("--dry-run");
        const ProcessResult result = qel(arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        for (const std::string& line : c.says)
            EXPECT_NE((result.out + result.err).find(line), std::string::npos) << result.out;
        if (c.exitCode == 0) {
            EXPECT_NE(result.out.find("dry run: the operation could start; nothing was changed."),
                      std::string::npos);
        }
        EXPECT_TRUE(everything() == before);
    }
}

TEST_F(QelBackupTest, VerifyFindsMissingExtraAndChangedFiles) {
    EXPECT_EQ(verify({}).exitCode, 0);
    EXPECT_EQ(verify({"--host", server.hostEntry()}).exitCode, 0);

    const auto files = snapshotTree(folder.path() / "access2");
    auto file = files.begin();
    const std::string missing = "access2/" + (file++)->first;
    const std::string changed = "access2/" + file->first;
    fs::remove(folder / missing);
    writeFile(folder / changed, file->second + "more");
    writeFile(folder / "ST/extra.dat", "x");

    const ProcessResult withHost = verify({"--host", server.hostEntry()});
    EXPECT_EQ(withHost.exitCode, 9);
    EXPECT_NE(withHost.out.find("on the server, missing in the folder: 1\n  " + missing + "\n"),
              std::string::npos)
        << withHost.out;
    EXPECT_NE(withHost.out.find("in the folder, missing on the server: 1\n  ST/extra.dat\n"),
              std::string::npos);
    EXPECT_NE(withHost.out.find("size differs: 1\n  " + changed + "\n"), std::string::npos);
    EXPECT_EQ(withHost.err, "qel: the folder and the server differ in 3 files\n");

    const ProcessResult byListing = verify({});
    EXPECT_EQ(byListing.exitCode, 9);
    EXPECT_NE(byListing.out.find("named in k7.lst but missing or unreadable: 1\n  7.0/" + missing),
              std::string::npos)
        << byListing.out;
}

// A server that cannot connect back fails in active mode and works in passive mode.
TEST_F(QelTest, PassiveModeWorksWhereActiveModeCannot) {
    FtpTestServer server(withFaults({"--hostile", "no-connect-back"}));
    makeSampleServerTree(server.root(), {.mailboxFiles = 4, .largeFileBytes = 3000});
    std::vector<std::string> arguments = run("backup", server.hostEntry());
    arguments.push_back("--passive");
    const ProcessResult result = qel(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(snapshotTree(folder / "access2"), snapshotTree(server.root() / "access2"));
}

} // namespace
