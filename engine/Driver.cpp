#include "engine/Driver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include <unistd.h>

#include "engine/Connection.h"
#include "engine/FolderLock.h"
#include "engine/Operations.h"
#include "engine/PathDialect.h"
#include "engine/RecoveryFiles.h"
#include "engine/RunReport.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/Enumeration.h"
#include "fileaccess/FtpWrappers.h"
#include "platform/LastError.h"
#include "platform/LocalFind.h"

namespace {

constexpr std::uint32_t kTimeoutMs = 900000;

std::unique_ptr<CInternetSession> createSession() {
    try {
        return std::make_unique<CInternetSession>(
            "Qel", 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
            INTERNET_FLAG_DONT_CACHE | INTERNET_FLAG_KEEP_CONNECTION |
                INTERNET_FLAG_PRAGMA_NOCACHE);
    } catch (const CInternetException& error) {
        logException(error.GetErrorMessage());
    } catch (const std::exception& error) {
        logMessage(formatString("runOperation: cannot create the FTP session: %s\n", error.what()));
    }
    return nullptr;
}

void setTimeouts(CInternetSession& session) {
    for (const std::uint32_t option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
          INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
          INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
        session.SetOption(option, kTimeoutMs);
}

// The folder as the system reports it once it is current; the entered text when the query
// fails (the failure is recorded).
std::string currentDirectoryOr(const std::string& entered) {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (!error)
        return current.string();
    SetLastError(static_cast<std::uint32_t>(error.value()));
    logFailure("GetCurrentDirectory", 0);
    return entered;
}

void logLine(const std::string& text) {
    auto& engine = vlmFTPClient::state();
    engine.messageBuffer = text;
    logMessage(engine.messageBuffer);
}

// RESULT_OK when the server lists the marker, `missing` when it lists no such file. A lookup
// that failed says nothing about the marker: a communication problem.
std::uint32_t lookForSafeMarker(CFtpConnection* connection, std::uint32_t missing) {
    bool isDirectory = false;
    std::string failure;
    switch (RemoteLookUp(connection, kSafeMarker, isDirectory, failure)) {
    case FindOutcome::Found:
        return RESULT_OK;
    case FindOutcome::Failed:
        logMessage(
            formatString("runOperation: cannot look for %s: %s\n", kSafeMarker, failure.c_str()));
        return RESULT_TRANSFER_FAILED;
    case FindOutcome::Empty:
    case FindOutcome::Missing:
        break;
    }
    return missing;
}

} // namespace

std::uint32_t checkServerForTrees(CFtpConnection* connection, std::uint32_t missingMarker) {
    const std::uint32_t marker = lookForSafeMarker(connection, missingMarker);
    if (marker != RESULT_OK)
        return marker;
    return serverFollowsPathDialect(connection) ? RESULT_OK : RESULT_TRANSFER_FAILED;
}

namespace {

std::uint32_t dispatch(OperationContext& context, const std::string& folder,
                       CInternetSession& session) {
    switch (context.operation) {
    case Backup:
        if (const std::uint32_t refused =
                checkServerForTrees(context.connection.get(), RESULT_BACKUP_NOT_INITIATED))
            return refused;
        return static_cast<std::uint32_t>(doBackup(context, folder, session, context.resume));
    case Restore:
        if (const std::uint32_t refused =
                checkServerForTrees(context.connection.get(), RESULT_RESTORE_NOT_INITIATED))
            return refused;
        if (unfinishedOperationIs(Backup)) {
            logLine("doRestore: k7.bad holds an unfinished backup; finish it with a resumed "
                    "backup before restoring from this folder\n");
            return RESULT_INVALID_BACKUP;
        }
        if (!checkBackupFolder())
            return RESULT_INVALID_BACKUP;
        if (RemoteCreateEmptyFile(context.connection.get(), kRestoreMarker) == 1)
            logLine("Restore: Problems creating safe2 file\n");
        return static_cast<std::uint32_t>(doRestore(context, folder, session, context.resume));
    case LogFiles:
        return static_cast<std::uint32_t>(getLogFiles(context, folder, session, context.resume));
    default:
        return RESULT_UNKNOWN_OPERATION;
    }
}

// A marker that stays tells the server the run has not ended: the run has not succeeded.
bool removeMarker(OperationContext& context, const char* marker) {
    if (RemoteDeleteTreeFully(context.connection.get(), marker))
        return true;
    logMessage(formatString("runOperation: the marker %s could not be removed; the run has not "
                            "completed\n",
                            marker));
    return false;
}

// The run's result once the markers are dealt with.
std::uint32_t removeMarkers(OperationContext& context, CInternetSession& session,
                            std::uint32_t result) {
    const bool backupOrRestore = context.operation == Backup || context.operation == Restore;
    if (result == RESULT_OK && backupOrRestore) {
        reconnect(context, session);
        // "safe" goes last: while it stays, the server knows the run has not ended.
        if (context.operation == Restore && !removeMarker(context, kRestoreMarker))
            return RESULT_TRANSFER_FAILED;
        if (!removeMarker(context, kSafeMarker))
            return RESULT_TRANSFER_FAILED;
    } else if (result == RESULT_INVALID_BACKUP && context.operation == Restore) {
        RemoteDeleteTree(context.connection.get(), kRestoreMarker);
    }
    return result;
}

// The result for an exception the FTP layer did not raise: its system error number when it
// carries one, ENOMEM for memory, EIO for anything else.
std::uint32_t resultForException(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (const std::system_error& error) {
        const auto& category = error.code().category();
        const auto code = static_cast<std::uint32_t>(error.code().value());
        const bool errnoValue =
            category == std::generic_category() || category == std::system_category();
        return errnoValue && !isOwnResultCode(code) ? code : EIO;
    } catch (...) {
        return EIO;
    }
}

std::string describeException(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown exception";
    }
}

// Closing a connection that an unexpected exception left behind must not throw again.
void abandonConnection(OperationContext& context) {
    if (!context.connection)
        return;
    try {
        context.connection->Close();
    } catch (const CInternetException&) {
    }
    context.connection.reset();
}

std::uint32_t failUnexpectedly(OperationContext& context, const std::exception_ptr& thrown) {
    abandonConnection(context);
    const std::uint32_t result = resultForException(thrown);
    if (context.report)
        context.report->failed(result, describeException(thrown));
    SetLastError(result);
    logFailure(("runOperation: " + describeException(thrown)).c_str(), static_cast<int>(result));
    return result;
}

// Steps from the connection attempt to the marker removal, with the exception handling that
// turns every failure into a result.
std::uint32_t attemptOperation(OperationContext& context, const std::string& folder,
                               CInternetSession& session) {
    try {
        if (vlmFTPClient::debugAbove(0))
            logLine(
                formatString("Attempting connection to %s\n", vlmFTPClient::state().host.c_str()));
        openConnection(context, session);
        std::uint32_t result = dispatch(context, folder, session);
        if (result != RESULT_UNKNOWN_OPERATION)
            result = removeMarkers(context, session, result);
        closeConnection(context);
        return result;
    } catch (const CInternetException& error) {
        // The session's close ends whatever this connection still holds.
        context.connection.reset();
        logException(error.GetErrorMessage());
        if (context.report)
            context.report->failed(error.m_dwError, error.GetErrorMessage());
        return RESULT_FTP_FAILED;
    } catch (...) {
        return failUnexpectedly(context, std::current_exception());
    }
}

void copyContextIntoEngine(const OperationContext& context) {
    auto& engine = vlmFTPClient::state();
    engine.host = context.host;
    engine.progressBar = context.progressBar;
    engine.phase = context.phase;
    engine.statusText = context.statusText;
    engine.failurePause = context.failurePause;
}

std::uint32_t runFromSession(OperationContext& context) {
    std::string folder = context.localFolder;
    copyContextIntoEngine(context);
    const std::unique_ptr<CInternetSession> session = createSession();
    vlmFTPClient::state().debugLevel = context.debugLevel;
    if (!session)
        return RESULT_FTP_FAILED;
    setTimeouts(*session);

    if (::chdir(folder.c_str()) != 0)
        return RESULT_FOLDER_NOT_CURRENT;
    folder = currentDirectoryOr(folder);
    const FolderLock lock;
    if (lock.inUse()) {
        logLine(formatString("runOperation: %s is in use by another run; nothing was changed\n",
                             folder.c_str()));
        return EBUSY;
    }
    setRecoveryFolder(folder);
    if (vlmFTPClient::debugAbove(0))
        logStart();

    const std::uint32_t result = attemptOperation(context, folder, *session);
    session->Close();
    setRecoveryFolder({});
    return result;
}

} // namespace

std::uint32_t runOperation(OperationContext* pParam) {
    if (pParam == nullptr) {
        std::fputs("runOperation: assertion failed: pParam\n", stderr);
        std::abort();
    }
    OperationContext& context = *pParam;
    const std::uint32_t result = runFromSession(context);
    if (vlmFTPClient::debugAbove(0))
        logLine("**** Operation completed ****\n");
    if (context.phase)
        context.phase->store(Finished, std::memory_order_release);
    return result;
}

bool checkBackupFolder() {
    static constexpr const char* kPatterns[] = {"ST", "access2", "ST/syscfg.*", "ST/SYSDIR.*",
                                                "ST/MMTA.BOX/MBxProf.*"};
    CFileFind finder;
    finder.SetIgnoreCase(true);
    bool allFound = true;
    for (const char* pattern : kPatterns) {
        if (!finder.FindFile(pattern))
            allFound = false;
        finder.Close();
    }
    return allFound;
}
