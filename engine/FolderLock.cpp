#include "engine/FolderLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

FolderLock::FolderLock() : m_fd(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    m_inUse = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

FolderLock::~FolderLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}
