#include "engine/PathDialect.h"

#include <string>

#include "engine/OperationTypes.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "fileaccess/FtpWrappers.h"
#include "platform/Sleep.h"

namespace {

constexpr const char* kProbeTree = "7.0/access2";
constexpr const char* kProbeRoot = "7.0";
constexpr const char* kMarkerName = "7.0/safe";

bool refuseDialect(const std::string& what, const std::string& answer) {
    logMessage(formatString("The server does not name directories as expected (%s): %s\n",
                            what.c_str(), answer.c_str()));
    return false;
}

// CWD, then PWD: the directory must come back exactly as entered.
bool reportedAsEntered(CFtpConnection* connection, const std::string& directory) {
    std::string current;
    const bool reported = connection->GetCurrentDirectory(current);
    Sleep(0);
    if (reported && current == directory)
        return true;
    return refuseDialect("after CWD " + directory, reported
                                                       ? "PWD says " + current
                                                       : "PWD: " + connection->GetLastResponse());
}

bool enteredDirectoryReportsItself(CFtpConnection* connection) {
    for (const char* directory : {kProbeTree, kProbeRoot}) {
        const bool entered = connection->SetCurrentDirectory(directory);
        Sleep(0);
        if (entered)
            return reportedAsEntered(connection, directory);
    }
    return refuseDialect(std::string("CWD ") + kProbeRoot, connection->GetLastResponse());
}

} // namespace

bool serverFollowsPathDialect(CFtpConnection* connection) {
    if (!enteredDirectoryReportsItself(connection))
        return false;
    bool isDirectory = false;
    std::string failure;
    const FindOutcome marker = RemoteLookUp(connection, kMarkerName, isDirectory, failure);
    if (marker == FindOutcome::Found && !isDirectory)
        return true;
    return refuseDialect(std::string("looking for ") + kSafeMarker + " as " + kMarkerName,
                         marker == FindOutcome::Failed ? failure
                                                       : "no " + std::string(kMarkerName));
}
