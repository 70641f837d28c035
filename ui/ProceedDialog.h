#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/OperationRunner.h"
#include "engine/OperationTypes.h"
#include "ui/GuiProgressCtrl.h"

class QLabel;
class QProgressBar;
class QPushButton;

// "Backup/Restore": shows what is about to run, starts the worker on Continue, follows it on
// a timer and reports its result. Once the worker has started, the dialog cannot be closed
// until the result has been shown: the worker uses the dialog's members until it ends.
class CProceedDialog : public QDialog {
  public:
    explicit CProceedDialog(QWidget* parent = nullptr);
    ~CProceedDialog() override;

    void setOperationParameters(int operation, const QString& localFolder, const QString& host,
                                int debugLevel);
    void setFilesAtOnce(int filesAtOnce) { m_filesAtOnce = filesAtOnce; }

    // Shows the result message of an ended worker and closes the dialog: OK on success,
    // Cancel otherwise.
    void showResult(std::uint32_t exitCode);

    const OperationContext& context() const { return m_context; }

    // Tests shorten the polling intervals (3 s while preparing, 30 s while transferring).
    static void setPollIntervals(std::chrono::milliseconds preparing,
                                 std::chrono::milliseconds transferring);

  protected:
    void accept() override;
    void reject() override;
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildControls();
    void OnInitDialog();
    void OnOK();
    void OnTimer();
    bool confirmDiscardingUnfinishedRestore();
    int askResume();
    std::string workFolder() const;
    void startWorker(int resume);
    void showFailurePause();
    bool workerRunning();

    QLabel* m_operationLabel = nullptr;
    QLabel* m_hostLabel = nullptr;
    QLabel* m_folderLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QPushButton* m_continueButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QTimer m_timer;
    // Independent of the polling above, which may be 30 s apart: counts down the pause after
    // a failure.
    QTimer m_pauseTimer;
    QElapsedTimer m_pauseClock;
    bool m_initialised = false;

    int m_operation = Backup;
    QString m_localFolder;
    QString m_host;
    int m_debugLevel = 0;
    int m_filesAtOnce = 1;
    bool m_phaseChangePending = true;

    // Shared with the worker; declared before the runner so that they outlive its thread.
    std::unique_ptr<GuiProgressCtrl> m_progress;
    std::atomic<std::int32_t> m_phase{Preparing};
    std::string m_statusText;
    std::atomic<std::uint32_t> m_failurePause{0};
    OperationContext m_context;
    OperationRunner m_runner;
};
