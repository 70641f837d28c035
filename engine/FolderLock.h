#pragma once

// An advisory lock on the local folder for the length of a run, so that two runs never work
// in one folder at once (one's clean-up would remove the other's files). The kernel releases
// it when the process ends, however it ends.
class FolderLock {
  public:
    // Locks the current directory; inUse() says whether another run holds it. A folder that
    // cannot be opened for the lock is left to the run's own checks.
    FolderLock();
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool inUse() const { return m_inUse; }

  private:
    int m_fd = -1;
    bool m_inUse = false;
};
