#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A directory search with the framework's iteration contract. The base class searches the
// local disk; CFtpFileFind (Internet.h) searches the server through the same interface, so the
// enumeration walks either side with one finder argument.
//
//   if (finder.FindFile("dir/*")) { bool more = true;
//       while (more) { more = finder.FindNextFile(); ... use the current entry ... } }
// What the last FindFile saw. Empty: the directory lists nothing that matches; Missing: no
// such name; Failed: no listing could be had (refused, no data connection, no usable current
// directory), which says nothing about what is there.
enum class FindOutcome { Found, Empty, Missing, Failed };

class CFileFind {
  public:
    CFileFind() = default;
    virtual ~CFileFind() = default;
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Local: pattern is "dir/pattern" or "pattern" (current directory); "*" and "*.*" list
    // every entry but "." and "..". Case-insensitive matching when set (see below).
    virtual bool FindFile(const std::string& pattern = "*.*", std::uint32_t flags = 0);
    bool FindNextFile();
    void Close();

    bool IsDots() const;
    bool IsDirectory() const;
    std::string GetFileName() const;
    // The searched directory, "/" unless it already ends in a separator, and the name.
    std::string GetFilePath() const;
    std::uint64_t GetLength() const;

    FindOutcome GetOutcome() const { return m_outcome; }
    // Why the last FindFile failed, for the log: the server's reply when it gave one.
    const std::string& GetFailure() const { return m_failure; }

    // Every component of a local pattern matches regardless of letter case (backups made on
    // a case-insensitive file system).
    void SetIgnoreCase(bool ignoreCase) { m_ignoreCase = ignoreCase; }

  protected:
    struct Entry {
        std::string name;
        bool isDirectory = false;
        std::uint64_t size = 0;
    };
    // Derived finders fill the results and the root that GetFilePath puts before a name;
    // `nothing` says what no entries mean.
    void SetResults(std::string root, std::vector<Entry> entries,
                    FindOutcome nothing = FindOutcome::Empty);
    // Ends FindFile with false: nothing could be listed, for `reason`.
    bool Fail(std::string reason);

    bool m_ignoreCase = false;

  private:
    std::string m_root;
    std::vector<Entry> m_entries;
    long m_index = -1;
    FindOutcome m_outcome = FindOutcome::Empty;
    std::string m_failure;
};

// Whether name matches a "*"/"?" pattern; "*.*" matches every name, as it did on the
// platform the backups come from.
bool MatchesPattern(const std::string& name, const std::string& pattern, bool ignoreCase);
