#pragma once

// A server tree with files for every log pattern, and the list the patterns should yield.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace log_tree {

namespace fs = std::filesystem;

inline void put(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    writeFile(file, bytes);
}

// Matching files, files of other kinds beside them, and a subfolder of LOGS that must be
// skipped.
inline void makeLogTree(const fs::path& root) {
    put(root / "access2" / "a.txt", "access log a");
    put(root / "access2" / "b.txt", "access log b");
    put(root / "access2" / "c.dat", "no log");
    put(root / "ST" / "x.out", "st output");
    put(root / "ST" / "y.log", "st log");
    put(root / "ST" / "z.cfg", "no log");
    put(root / "ST" / "f983wui" / "w1.log", "wui log 1");
    put(root / "ST" / "f983wui" / "w2.log", std::string(300000, 'w'));
    put(root / "ST" / "f983wui" / "w3.txt", "no log");
    put(root / "LOGS" / "l1", "plain log");
    put(root / "LOGS" / "l2.txt", "text log");
    put(root / "LOGS" / "sub" / "inner.log", "skipped");
    put(root / "safe", "");
    put(root / "safe2", "");
}

// The full remote paths the pattern table yields, in table order and, within a pattern, in
// the order the server lists the directory.
inline std::vector<std::string> expectedLogList(const fs::path& root) {
    struct Pattern {
        const char* directory;
        const char* suffix; // empty: every plain file
    };
    const Pattern patterns[] = {
        {"access2", ".txt"}, {"ST", ".out"}, {"ST", ".log"}, {"ST/f983wui", ".log"}, {"LOGS", ""}};
    std::vector<std::string> paths;
    for (const Pattern& pattern : patterns) {
        if (!fs::is_directory(root / pattern.directory))
            continue;
        const std::string suffix = pattern.suffix;
        std::vector<fs::directory_entry> entries(fs::directory_iterator(root / pattern.directory),
                                                 {});
        // The server lists a directory sorted by name.
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.path().filename().string() < b.path().filename().string();
        });
        for (const auto& entry : entries) {
            const std::string name = entry.path().filename().string();
            const bool matches =
                name.size() >= suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
            if (entry.is_regular_file() && matches)
                paths.push_back("/" + std::string(pattern.directory) + "/" + name);
        }
    }
    return paths;
}

} // namespace log_tree
