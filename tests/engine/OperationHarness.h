#pragma once

// Runs whole operations through runOperation against the test server, with the pauses turned
// into yields, the registry and the operation log in a temporary folder, and a progress bar
// that records what the worker asked of it.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "common/ProgressCtrl.h"
#include "engine/Driver.h"
#include "engine/OperationTypes.h"
#include "engine/oplog/OperationLog.h"
#include "platform/Internet.h"
#include "platform/Registry.h"
#include "platform/Sleep.h"
#include "support/FtpTestServer.h"
#include "support/RecordFileReader.h"
#include "support/TestSupport.h"

namespace ops_test {

namespace fs = std::filesystem;

class RecordingProgress : public CProgressCtrl {
  public:
    void SetPos(int position) override { calls.push_back("pos " + std::to_string(position)); }
    void SetRange32(int lower, int upper) override {
        calls.push_back("range " + std::to_string(lower) + ".." + std::to_string(upper));
    }
    void SetStep(int step) override { calls.push_back("step " + std::to_string(step)); }
    void StepIt() override { ++steps; }

    std::vector<std::string> calls;
    int steps = 0;
};

// A listing file as a backup writes it.
inline void writeListing(const fs::path& file, const std::vector<std::string>& paths) {
    std::size_t longest = 0;
    for (const auto& path : paths)
        longest = std::max(longest, path.size());
    const auto width = static_cast<std::int32_t>(longest + 10);
    const auto count = static_cast<std::int32_t>(paths.size());
    std::string bytes(reinterpret_cast<const char*>(&width), 4);
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    for (const auto& path : paths) {
        std::string record = path;
        record.resize(static_cast<std::size_t>(width), '\0');
        bytes += record;
    }
    writeFile(file, bytes);
}

// A directory's entries in the order the test server lists them: sorted by name.
inline std::vector<fs::directory_entry> sortedEntries(const fs::path& directory) {
    std::vector<fs::directory_entry> entries(fs::directory_iterator(directory), {});
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename().string() < b.path().filename().string();
    });
    return entries;
}

// A recovery file as the transfer loops write it.
inline void writeRecoveryFile(const fs::path& file, const RecoveryContent& content) {
    std::size_t longest = std::max(content.host.size(), content.folder.size());
    for (const auto& path : content.paths)
        longest = std::max(longest, path.size());
    const auto width = static_cast<std::int32_t>(longest + 10);
    const auto count = static_cast<std::int32_t>(content.paths.size());
    std::string bytes(reinterpret_cast<const char*>(&content.code), 4);
    bytes.append(reinterpret_cast<const char*>(&width), 4);
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    std::vector<std::string> records{content.host, content.folder};
    records.insert(records.end(), content.paths.begin(), content.paths.end());
    for (auto record : records) {
        record.resize(static_cast<std::size_t>(width), '\0');
        bytes += record;
    }
    writeFile(file, bytes);
}

// The remote paths a breadth-first walk of root/<tree> reports, in the order the server lists
// them: a directory's files before anything below it.
inline std::vector<std::string> enumerationOrder(const fs::path& serverRoot,
                                                 const std::vector<std::string>& trees) {
    std::vector<std::string> paths;
    for (const auto& tree : trees) {
        std::vector<std::string> pending{tree};
        for (std::size_t next = 0; next < pending.size(); ++next) {
            for (const auto& entry : sortedEntries(serverRoot / pending[next])) {
                const std::string relative = pending[next] + "/" + entry.path().filename().string();
                if (entry.is_directory())
                    pending.push_back(relative);
                else
                    paths.push_back("7.0/" + relative);
            }
        }
    }
    return paths;
}

inline std::map<std::string, std::string> snapshotIfPresent(const fs::path& root) {
    return fs::exists(root) ? snapshotTree(root) : std::map<std::string, std::string>{};
}

inline std::size_t countOccurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// Lines that begin with `prefix`, in log order.
inline std::vector<std::string> linesStartingWith(const std::string& text,
                                                  const std::string& prefix) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

struct RunResult {
    std::uint32_t exitCode = 0;
    std::int32_t finalPhase = -1;
    std::string statusText;
    RecordingProgress progress;
    std::vector<std::uint32_t> pauses; // every non-zero pause the worker asked for
};

// One local folder, registry and log per test; every process-wide setting is put back.
class OperationHarness {
  public:
    OperationHarness()
        : m_savedDirectory(fs::current_path()), m_folder(m_work / "backup"),
          m_registryRoot(m_work / "registry"), m_log(m_work / "qel.log") {
        fs::create_directories(m_folder);
        m_folder = fs::canonical(m_folder);
        registry::setRoot(m_registryRoot);
        setLogFilePath(m_log);
        SetPauseScale(0);
        SetTimeoutOverrideForTesting(20000);
    }
    ~OperationHarness() {
        SetSleepHook({});
        SetTimeoutOverrideForTesting(0);
        SetPauseScale(1);
        setLogFilePath(std::nullopt);
        registry::setRoot(std::nullopt);
        std::error_code ignored;
        fs::current_path(m_savedDirectory, ignored);
    }
    OperationHarness(const OperationHarness&) = delete;
    OperationHarness& operator=(const OperationHarness&) = delete;

    // Called on the worker's every pause, yields included (after the recording).
    std::function<void(std::uint32_t)> onPause;
    int filesAtOnce = 1;

    RunResult run(OperationKind operation, const std::string& host, int debugLevel = 0,
                  int resume = 0) {
        RunResult result;
        std::atomic<std::int32_t> phase{Preparing};
        std::string status = "Preparing system:";
        OperationContext context;
        context.operation = operation;
        context.localFolder = m_folder.string();
        context.host = host;
        context.progressBar = &result.progress;
        context.phase = &phase;
        context.statusText = &status;
        context.debugLevel = debugLevel;
        context.resume = resume;
        context.filesAtOnce = filesAtOnce;
        SetSleepHook([&](std::uint32_t ms) {
            if (ms != 0)
                result.pauses.push_back(ms);
            if (onPause)
                onPause(ms);
        });
        result.exitCode = runOperation(&context);
        SetSleepHook({});
        std::error_code ignored;
        fs::current_path(m_savedDirectory, ignored);
        result.finalPhase = phase.load();
        result.statusText = status;
        return result;
    }

    const fs::path& folder() const { return m_folder; }
    fs::path recoveryFile() const { return m_folder / "k7.bad"; }
    fs::path listingFile() const { return m_folder / "k7.lst"; }
    std::optional<RecoveryContent> recovery() const { return readRecoveryFile(recoveryFile()); }
    std::vector<std::string> listing() const { return readListing(listingFile()); }

    // The registry value "Directory", read from the store's files so that looking does not
    // create the key.
    std::optional<std::string> registryDirectory() const {
        const fs::path value = m_registryRoot / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "Ardenvo" /
                               "VelmoraMiniQel" / "Directory";
        if (!fs::exists(value))
            return std::nullopt;
        const std::string bytes = readFile(value);
        return bytes.substr(0, bytes.find('\0'));
    }
    bool registryKeyExists() const {
        return fs::exists(m_registryRoot / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "Ardenvo" /
                          "VelmoraMiniQel");
    }

    std::string log() const { return fs::exists(m_log) ? readFile(m_log) : std::string(); }
    void clearLog() const {
        std::error_code ignored;
        fs::remove(m_log, ignored);
    }

  private:
    TempDir m_work;
    fs::path m_savedDirectory;
    fs::path m_folder;
    fs::path m_registryRoot;
    fs::path m_log;
};

inline FtpTestServer::Options withFaults(std::vector<std::string> faults) {
    FtpTestServer::Options options;
    options.faults = std::move(faults);
    return options;
}

inline SampleTreeOptions sampleTree(int mailboxFiles, std::size_t largeFileBytes,
                                    bool restoreMarker = false) {
    SampleTreeOptions options;
    options.mailboxFiles = mailboxFiles;
    options.largeFileBytes = largeFileBytes;
    options.restoreMarker = restoreMarker;
    return options;
}

inline void putFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    writeFile(file, bytes);
}

// A numbered tree: access2/box<k>/msg<nnn>.dat over `boxes` folders, plus the ST entries a
// restore needs (syscfg, SYSDIR and MMTA.BOX/MBxProf), `files` files in all.
inline void makeNumberedTree(const fs::path& root, int files, int boxes, bool safeMarker = true) {
    putFile(root / "ST" / "syscfg.dat", "syscfg");
    putFile(root / "ST" / "SYSDIR.001", "sysdir");
    putFile(root / "ST" / "MMTA.BOX" / "MBxProf.001", "profile");
    const int mailboxFiles = files - 3;
    for (int i = 0; i < mailboxFiles; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "box%02d/msg%04d.dat", i % boxes, i);
        putFile(root / "access2" / name, "message " + std::to_string(i) + std::string(i % 97, 'x'));
    }
    if (safeMarker)
        putFile(root / "safe", "");
}

// The server's data trees, for comparing before and after.
inline std::map<std::string, std::string> serverData(const fs::path& root) {
    std::map<std::string, std::string> data;
    for (const char* tree : {"access2", "ST"})
        for (const auto& [path, bytes] : snapshotIfPresent(root / tree))
            data[std::string(tree) + "/" + path] = bytes;
    return data;
}

inline std::map<std::string, std::string> localData(const fs::path& folder) {
    return serverData(folder);
}

// Backs the server up into `harness`'s folder; the server gets its "safe" marker back.
inline void backUp(OperationHarness& harness, FtpTestServer& server) {
    ASSERT_EQ(harness.run(Backup, server.hostEntry()).exitCode, 0u);
    putFile(server.root() / "safe", "");
    harness.clearLog();
}

} // namespace ops_test
