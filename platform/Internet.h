#pragma once

// FTP client classes under the names the engine was written against. Everything runs on
// the calling thread over blocking POSIX sockets bounded by poll() timeouts.
//
// Failure contract:
//  - GetFtpConnection and OpenFile throw CInternetException (connect, login, refusal).
//  - Operations that the server refuses (a 4xx/5xx reply) return false and leave
//    ERROR_INTERNET_EXTENDED_ERROR as the thread's last error.
//  - A lost, reset or stalled control connection throws CInternetException from every
//    operation but GetFile/PutFile, so that a dead connection never looks like an empty
//    directory or a missing file. GetFile/PutFile return false with the code as last error.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/LocalFind.h"

inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr std::uint32_t INTERNET_FLAG_EXISTING_CONNECT = 0x20000000u;
inline constexpr std::uint32_t INTERNET_FLAG_DONT_CACHE = 0x04000000u;
inline constexpr std::uint32_t INTERNET_FLAG_KEEP_CONNECTION = 0x00400000u;
inline constexpr std::uint32_t INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100u;
inline constexpr std::uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr std::uint32_t INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr std::uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr std::uint32_t INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
inline constexpr std::uint32_t INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
inline constexpr std::uint32_t FTP_TRANSFER_TYPE_ASCII = 1;
inline constexpr std::uint32_t FTP_TRANSFER_TYPE_BINARY = 2;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t INTERNET_DEFAULT_FTP_PORT = 21;

class CInternetException {
  public:
    CInternetException(std::uint32_t error, std::string message);

    // The text ends with a line break; for a refusal it holds the server's reply.
    std::string GetErrorMessage() const { return m_message; }

    std::uint32_t m_dwError;

  private:
    std::string m_message;
};

struct FtpTimeouts {
    std::uint32_t connectMs = 900000;
    std::uint32_t sendMs = 900000;
    std::uint32_t receiveMs = 900000;
    std::uint32_t dataSendMs = 900000;
    std::uint32_t dataReceiveMs = 900000;
};

// Tests shorten every timeout of every session through this, whatever SetOption asks for;
// a value of 0 removes the override.
void SetTimeoutOverrideForTesting(std::uint32_t milliseconds);

// Caps every timeout of every session, the test override's too, at this many milliseconds
// (the command line's --timeout); 0 removes the cap.
void SetTimeoutLimit(std::uint32_t milliseconds);

// Every connection of the process uses passive mode from here on (the command line's
// --passive); otherwise only those asked for with passive = true.
void SetPassiveMode(bool passive);

class CFtpConnection;

class CInternetSession {
  public:
    explicit CInternetSession(const char* agent = "Qel", std::uint32_t context = 1,
                              std::uint32_t accessType = INTERNET_OPEN_TYPE_PRECONFIG,
                              const char* proxyName = nullptr, const char* proxyBypass = nullptr,
                              std::uint32_t flags = 0);
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Options are the INTERNET_OPTION_*_TIMEOUT values, in milliseconds.
    bool SetOption(std::uint32_t option, std::uint32_t value);

    // server is a host entry ("host", "host:port", "[v6]:port", bare IPv6); a port in it
    // wins over the port argument. Active mode unless passive or SetPassiveMode asks.
    std::unique_ptr<CFtpConnection> GetFtpConnection(const std::string& server,
                                                     const std::string& user,
                                                     const std::string& password,
                                                     int port = INTERNET_DEFAULT_FTP_PORT,
                                                     bool passive = false);
    void Close();

    const FtpTimeouts& Timeouts() const { return m_timeouts; }

  private:
    FtpTimeouts m_timeouts;
};

// One entry of a directory listing, already checked to be a plain name.
struct FtpListEntry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
};

class FtpControl; // the control connection, private to the implementation

class CInternetFile {
  public:
    explicit CInternetFile(CFtpConnection& connection);
    ~CInternetFile();
    // Ends the upload; throws CInternetException when the server does not confirm it.
    void Close();

  private:
    CFtpConnection* m_connection;
    bool m_open = true;
};

class CFtpConnection {
  public:
    CFtpConnection(std::unique_ptr<FtpControl> control);
    ~CFtpConnection();
    CFtpConnection(const CFtpConnection&) = delete;
    CFtpConnection& operator=(const CFtpConnection&) = delete;

    bool SetCurrentDirectory(const std::string& directory);
    // The quoted path of the server's 257 reply; false and an empty string when it fails.
    bool GetCurrentDirectory(std::string& directory);
    bool CreateDirectory(const std::string& directory);
    bool RemoveDirectory(const std::string& directory);
    bool Remove(const std::string& file);

    // Never leaves a partial file at localFile: writes beside it and renames on success.
    bool GetFile(const std::string& remoteFile, const std::string& localFile,
                 bool failIfExists = false, std::uint32_t attributes = FILE_ATTRIBUTE_NORMAL,
                 std::uint32_t flags = FTP_TRANSFER_TYPE_BINARY, std::uint32_t context = 1);
    bool PutFile(const std::string& localFile, const std::string& remoteFile,
                 std::uint32_t flags = FTP_TRANSFER_TYPE_BINARY, std::uint32_t context = 1);
    // Opens a remote file for writing; only an empty file is ever written through it.
    std::unique_ptr<CInternetFile> OpenFile(const std::string& file,
                                            std::uint32_t access = GENERIC_WRITE,
                                            std::uint32_t flags = FTP_TRANSFER_TYPE_BINARY,
                                            std::uint32_t context = 1);

    // LIST of a directory or a single path (empty: the current directory). False when the
    // server refuses; throws like the other operations when the connection is lost.
    bool List(const std::string& path, std::vector<FtpListEntry>& entries);

    // The text of the server's last reply, for the log when a step was refused.
    std::string GetLastResponse() const;

    void Close();

  private:
    friend class CInternetFile;
    std::unique_ptr<FtpControl> m_control;
};

// Listing of a remote directory with the framework's iteration contract: FindFile tells
// whether anything matched, each FindNextFile moves to the next entry and returns false when
// that entry is the last one (which is still valid).
class CFtpFileFind : public CFileFind {
  public:
    explicit CFtpFileFind(CFtpConnection* connection, std::uint32_t context = 1);
    ~CFtpFileFind() override;

    // pattern: "*", a name, or a path whose last component may hold "*" and "?".
    bool FindFile(const std::string& pattern = "*",
                  std::uint32_t flags = INTERNET_FLAG_RELOAD) override;

  private:
    CFtpConnection* m_connection;
};
