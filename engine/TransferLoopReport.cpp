#include "engine/TransferLoopReport.h"

#include "engine/OperationTypes.h"
#include "platform/LastError.h"

void reportFailedFile(RunReport* report, int result) {
    if (!report)
        return;
    if (result == static_cast<int>(RESULT_FTP_FAILED)) {
        report->failed(ERROR_INTERNET_EXTENDED_ERROR,
                       "The server did not report its current directory");
        return;
    }
    const std::uint32_t code = GetLastError();
    report->failed(code, IsInternetError(code) ? GetLastErrorText() : std::string());
}

void reportLeftFiles(RunReport* report, const CFileItemList& files) {
    if (report)
        report->leftForRecovery(files.GetCount());
}
