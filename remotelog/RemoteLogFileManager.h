#pragma once

#include <string>

#include "common/FileItemList.h"
#include "platform/Internet.h"
#include "remotelog/ServerLogin.h"

// Lists the server's log files by a fixed table of directory-and-file patterns, over a
// connection of its own.
class CRemoteLogFileManager {
  public:
    CRemoteLogFileManager(CInternetSession* session, ServerLogin login,
                          const std::string& localFolder);

    // Appends one item per plain file found; false when an exception ended the walk.
    bool GetRemoteLogFiles(CFileItemList* files);

    struct _failobj {};

  private:
    bool EnterPatternDirectory(CFtpConnection& connection, std::string& pattern);

    CInternetSession* m_session;
    ServerLogin m_login;
    std::string m_localFolder;
};

// The pattern table, ending with an empty entry.
extern const char* const kLogPatterns[6];
