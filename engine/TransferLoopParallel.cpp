#include "engine/TransferLoopParallel.h"

#include <algorithm>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/Connection.h"
#include "engine/RunReport.h"
#include "engine/TransferLoopCheckpoint.h"
#include "engine/TransferLoopProgress.h"
#include "engine/TransferLoopReport.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "platform/LastError.h"
#include "platform/Sleep.h"
#include "platform/StopRequest.h"
#include "platform/TempFile.h"

namespace {

// A 421 greeting says the server takes no more sessions at the moment, not that this run is
// wrong.
bool refusedForLoad(const CInternetException& error) {
    return error.m_dwError == ERROR_INTERNET_EXTENDED_ERROR &&
           error.GetErrorMessage().find("error: 421") != std::string::npos;
}

// What a file moved at once needs of the loop's context: its own connection, nothing the
// front end watches (the loop reports for it).
void prepareOwnContext(const OperationContext& loop, OperationContext& own) {
    own.operation = loop.operation;
    own.localFolder = loop.localFolder;
    own.host = loop.host;
    own.debugLevel = loop.debugLevel;
    own.resume = loop.resume;
}

// Drops a connection a failed file left behind without letting its close throw.
void dropConnection(OperationContext& own) {
    try {
        closeConnection(own);
    } catch (...) {
        own.connection.reset();
    }
}

class ParallelLoop {
  public:
    ParallelLoop(OperationContext& context, CFileItemList& files, const std::string& localFolder,
                 std::int32_t recoveryCode, const MakeMover& makeMover)
        : m_context(context), m_files(files), m_localFolder(localFolder), m_code(recoveryCode),
          m_makeMover(makeMover) {}

    int run(std::size_t filesAtOnce) {
        m_statistics.startRun();
        // Counted before the first mover starts: each one that ends takes itself off.
        const std::size_t count = std::min(filesAtOnce, m_files.GetCount());
        m_active = count;
        std::vector<std::thread> movers;
        for (std::size_t index = 0; index < count; ++index)
            movers.emplace_back([this] { moveFiles(); });
        for (auto& mover : movers)
            mover.join();
        if (!m_firstFailure && !m_thrown)
            return finishTransferLoop(0, false, m_statistics);
        saveWhatIsLeft();
        SetLastError(m_error);
        SetLastErrorText(m_errorText);
        if (m_thrown)
            std::rethrow_exception(m_thrown);
        if (m_context.report)
            m_context.report->pausing(std::chrono::milliseconds(ScaledPause(kPauseAfterFailureMs)));
        return finishTransferLoop(*m_firstFailure, true, m_statistics);
    }

  private:
    using File = std::unique_ptr<CFileItem>;

    void moveFiles() {
        OperationContext own;
        prepareOwnContext(m_context, own);
        TransferStatistics statistics;
        statistics.startRun();
        try {
            moveUntilDone(own, statistics);
        } catch (...) {
            // Out of memory between two files: the run ends with what is left saved, not
            // the process with nothing saved.
            failed(nullptr, 0, std::current_exception());
        }
        dropConnection(own);
        const std::lock_guard lock(m_mutex);
        m_statistics.absorb(statistics);
    }

    void moveUntilDone(OperationContext& own, TransferStatistics& statistics) {
        const MoveOneFile moveOne = m_makeMover(own);
        while (File file = take()) {
            try {
                ThrowIfStopRequested();
                const int result = moveOne(*file, statistics);
                if (result != 0) {
                    failed(std::move(file), result, nullptr);
                    return;
                }
                moved(*file);
            } catch (const CInternetException& error) {
                if (!own.connection && refusedForLoad(error) && handBack(file))
                    return;
                failed(std::move(file), 0, std::current_exception());
                return;
            } catch (...) {
                failed(std::move(file), 0, std::current_exception());
                return;
            }
        }
    }

    // The next file to move, after the checkpoint that is due; none once the work is done or
    // a file has failed. A mover that gets none has ended, in the same step, so that a file
    // handed back is never left without a mover.
    File take() {
        const std::lock_guard lock(m_mutex);
        if (m_stopping || m_files.IsEmpty()) {
            --m_active;
            return nullptr;
        }
        if (++m_batch > kFilesBetweenCheckpoints) {
            m_batch = 0;
            writeCheckpointWithFilesInFlight();
        }
        File file = m_files.RemoveHead();
        m_inFlight.push_back(file.get());
        if (m_context.report)
            m_context.report->movingFile(file->GetPath());
        return file;
    }

    void moved(const CFileItem& file) {
        const std::lock_guard lock(m_mutex);
        m_inFlight.remove(&file);
        if (m_context.report)
            m_context.report->fileMoved();
        stepProgress(m_context);
    }

    // Called on the failing mover's thread, whose last error tells why.
    void failed(File file, int result, std::exception_ptr thrown) {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (file)
            m_inFlight.remove(file.get());
        const bool first = !m_firstFailure && !m_thrown;
        if (first) {
            m_error = GetLastError();
            m_errorText = GetLastErrorText();
            if (thrown)
                m_thrown = thrown;
            else
                m_firstFailure = result;
            if (m_context.report && file)
                m_context.report->movingFile(file->GetPath());
            if (m_context.report && !thrown)
                reportFailedFile(m_context.report, result);
        }
        if (file)
            m_failed.push_back(std::move(file));
    }

    // The server refused this mover's connection: another mover takes its file. The last
    // mover never gives up this way; its refusal is the run's failure.
    bool handBack(File& file) {
        const std::lock_guard lock(m_mutex);
        if (m_active <= 1 || m_stopping)
            return false;
        m_inFlight.remove(file.get());
        m_files.AddHead(std::move(file));
        --m_active;
        --m_batch;
        logMessage(formatString("The server refused another connection (421); going on with %zu "
                                "files at once\n",
                                m_active));
        return true;
    }

    // The files in flight go first: whichever of them the run does not finish, the resume
    // moves again.
    void writeCheckpointWithFilesInFlight() {
        std::for_each(m_inFlight.rbegin(), m_inFlight.rend(), [this](const CFileItem* file) {
            m_files.AddHead(std::make_unique<CFileItem>(*file));
        });
        writeCheckpoint(m_files, m_localFolder, m_code);
        for (std::size_t index = 0; index < m_inFlight.size(); ++index)
            m_files.RemoveHead();
    }

    void saveWhatIsLeft() {
        std::for_each(m_failed.rbegin(), m_failed.rend(),
                      [this](File& file) { m_files.AddHead(std::move(file)); });
        m_failed.clear();
        File none;
        saveFromFileInFlight(m_files, none, m_localFolder, m_code);
        reportLeftFiles(m_context.report, m_files);
    }

    OperationContext& m_context;
    CFileItemList& m_files;
    const std::string& m_localFolder;
    const std::int32_t m_code;
    const MakeMover& m_makeMover;

    std::mutex m_mutex;
    std::size_t m_active = 0;
    int m_batch = 0;
    bool m_stopping = false;
    std::list<const CFileItem*> m_inFlight;
    std::vector<File> m_failed;
    std::optional<int> m_firstFailure;
    std::exception_ptr m_thrown;
    std::uint32_t m_error = 0;
    std::string m_errorText;
    TransferStatistics m_statistics;
};

} // namespace

int runParallelTransferLoop(OperationContext& context, CFileItemList& files,
                            const std::string& localFolder, std::int32_t recoveryCode,
                            const std::function<void()>& beforeFirstFile,
                            const MakeMover& makeMover) {
    ResetLeftoverSweep();
    try {
        if (beforeFirstFile)
            beforeFirstFile();
    } catch (...) {
        std::unique_ptr<CFileItem> none;
        saveFromFileInFlight(files, none, localFolder, recoveryCode);
        reportLeftFiles(context.report, files);
        throw;
    }
    // Each file brings its own connection; the loop's would only hold a session the server
    // may count against the files.
    closeConnection(context);
    if (vlmFTPClient::debugAbove(0))
        logMessage(formatString("Moving up to %d files at once\n", context.filesAtOnce));
    ParallelLoop loop(context, files, localFolder, recoveryCode, makeMover);
    return loop.run(static_cast<std::size_t>(std::min(context.filesAtOnce, kMaxFilesAtOnce)));
}
