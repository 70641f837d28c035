#include "platform/Internet.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FtpControl.h"
#include "platform/FtpListParser.h"
#include "platform/InternetFailure.h"
#include "platform/LastError.h"
#include "platform/TempFile.h"

namespace {

std::atomic<std::uint32_t> g_timeoutOverride{0};
std::atomic<std::uint32_t> g_timeoutLimit{0};
std::atomic<bool> g_passive{false};

// A path or name that would split into two commands on the control connection.
bool sendable(const std::string& argument) {
    return argument.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

bool refused() {
    SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
    return false;
}

bool unsendable() {
    SetLastError(EINVAL);
    return false;
}

} // namespace

void SetTimeoutOverrideForTesting(std::uint32_t milliseconds) {
    g_timeoutOverride.store(milliseconds);
}

void SetPassiveMode(bool passive) {
    g_passive.store(passive);
}

void SetTimeoutLimit(std::uint32_t milliseconds) {
    g_timeoutLimit.store(milliseconds);
}

FtpTimeouts EffectiveTimeouts(const FtpTimeouts& configured) {
    const std::uint32_t forced = g_timeoutOverride.load();
    FtpTimeouts effective =
        forced == 0 ? configured : FtpTimeouts{forced, forced, forced, forced, forced};
    const std::uint32_t limit = g_timeoutLimit.load();
    if (limit == 0)
        return effective;
    for (std::uint32_t* value : {&effective.connectMs, &effective.sendMs, &effective.receiveMs,
                                 &effective.dataSendMs, &effective.dataReceiveMs})
        *value = std::min(*value, limit);
    return effective;
}

CInternetSession::CInternetSession(const char*, std::uint32_t, std::uint32_t, const char*,
                                   const char*, std::uint32_t) {}

CInternetSession::~CInternetSession() = default;

bool CInternetSession::SetOption(std::uint32_t option, std::uint32_t value) {
    // Zero would make every wait fail at once rather than mean "no limit".
    if (value == 0)
        return false;
    switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
        m_timeouts.connectMs = value;
        return true;
    case INTERNET_OPTION_SEND_TIMEOUT:
        m_timeouts.sendMs = value;
        return true;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
        m_timeouts.receiveMs = value;
        return true;
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
        m_timeouts.dataSendMs = value;
        return true;
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
        m_timeouts.dataReceiveMs = value;
        return true;
    default:
        return false;
    }
}

std::unique_ptr<CFtpConnection> CInternetSession::GetFtpConnection(const std::string& server,
                                                                   const std::string& user,
                                                                   const std::string& password,
                                                                   int port, bool passive) {
    const auto host = ParseHostEntry(server, port);
    if (!host)
        ThrowInternetError(ERROR_INTERNET_NAME_NOT_RESOLVED,
                           "The server name could not be resolved: \"" + server +
                               "\" is not a host, host:port or [IPv6]:port entry");
    if (!sendable(user) || !sendable(password))
        ThrowInternetError(EINVAL, "The user name or password holds a line break");
    return std::make_unique<CFtpConnection>(std::make_unique<FtpControl>(
        *host, user, password, m_timeouts, passive || g_passive.load()));
}

void CInternetSession::Close() {}

CFtpConnection::CFtpConnection(std::unique_ptr<FtpControl> control)
    : m_control(std::move(control)) {}

CFtpConnection::~CFtpConnection() {
    Close();
}

void CFtpConnection::Close() {
    if (m_control)
        m_control->quit();
}

namespace {

bool simpleCommand(FtpControl& control, const char* verb, const std::string& argument) {
    if (!sendable(argument))
        return unsendable();
    return control.command(std::string(verb) + " " + argument).kind() == 2 || refused();
}

} // namespace

bool CFtpConnection::SetCurrentDirectory(const std::string& directory) {
    return simpleCommand(*m_control, "CWD", directory);
}

bool CFtpConnection::GetCurrentDirectory(std::string& directory) {
    directory.clear();
    auto path = ParsePwdReply(m_control->command("PWD"));
    if (!path)
        return refused();
    directory = std::move(*path);
    return true;
}

bool CFtpConnection::CreateDirectory(const std::string& directory) {
    return simpleCommand(*m_control, "MKD", directory);
}

bool CFtpConnection::RemoveDirectory(const std::string& directory) {
    return simpleCommand(*m_control, "RMD", directory);
}

bool CFtpConnection::Remove(const std::string& file) {
    return simpleCommand(*m_control, "DELE", file);
}

bool CFtpConnection::GetFile(const std::string& remoteFile, const std::string& localFile,
                             bool failIfExists, std::uint32_t, std::uint32_t, std::uint32_t) {
    if (!sendable(remoteFile))
        return unsendable();
    struct stat existing {};
    if (failIfExists && ::stat(localFile.c_str(), &existing) == 0) {
        SetLastError(EEXIST);
        return false;
    }
    TempFile part(localFile);
    if (!part.valid()) {
        SetLastError(part.error());
        return false;
    }
    std::uint32_t failure = 0;
    try {
        failure = m_control->retrieve(remoteFile, part.fd());
    } catch (const CInternetException& transport) {
        failure = transport.m_dwError;
    }
    if (failure == 0)
        failure = part.commit();
    SetLastError(failure);
    return failure == 0;
}

bool CFtpConnection::PutFile(const std::string& localFile, const std::string& remoteFile,
                             std::uint32_t, std::uint32_t) {
    if (!sendable(remoteFile))
        return unsendable();
    const int fd = ::open(localFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        SetLastError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    std::uint32_t failure = 0;
    try {
        failure = m_control->store(remoteFile, fd);
    } catch (const CInternetException& transport) {
        failure = transport.m_dwError;
    }
    ::close(fd);
    SetLastError(failure);
    return failure == 0;
}

std::unique_ptr<CInternetFile> CFtpConnection::OpenFile(const std::string& file, std::uint32_t,
                                                        std::uint32_t, std::uint32_t) {
    if (!sendable(file))
        ThrowInternetError(EINVAL, "The remote file name holds a line break: " + file);
    m_control->beginUpload(file);
    return std::make_unique<CInternetFile>(*this);
}

bool CFtpConnection::List(const std::string& path, std::vector<FtpListEntry>& entries) {
    entries.clear();
    if (!sendable(path))
        return unsendable();
    const auto listing = m_control->list(path);
    if (!listing)
        return refused();
    entries = ParseListing(*listing);
    return true;
}

std::string CFtpConnection::GetLastResponse() const {
    return m_control->lastReply();
}

CInternetFile::CInternetFile(CFtpConnection& connection) : m_connection(&connection) {}

CInternetFile::~CInternetFile() {
    try {
        Close();
    } catch (const CInternetException&) {
        // Destruction cannot report it; callers that care call Close.
    }
}

void CInternetFile::Close() {
    if (!m_open)
        return;
    m_open = false;
    m_connection->m_control->endUpload();
}
