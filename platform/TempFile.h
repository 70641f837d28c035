#pragma once

#include <cstdint>
#include <string>

// A download's file: created beside its target as ".<name>\\qel-part-XXXXXX", renamed over the
// target by commit, removed when it is not committed. The target itself is never written
// to, so a failed download leaves an existing file as it was.
class TempFile {
  public:
    explicit TempFile(const std::string& target);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // The errno of a failed creation.
    std::uint32_t error() const { return m_error; }

    // Closes the file and renames it over the target; 0 or the errno of the failing step.
    std::uint32_t commit();

  private:
    std::string m_target;
    std::string m_path;
    int m_fd = -1;
    std::uint32_t m_error = 0;
    bool m_committed = false;
};

// Whether a name has the form of a download's temporary file. One left behind by a killed
// process must not pass for backed-up data.
bool IsDownloadLeftover(const std::string& name);

// Starts a new run: each folder's leftovers are removed again at the first download into it.
void ResetLeftoverSweep();
