#include "ui/ProceedDialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <algorithm>

#include "common/InternetErrorText.h"
#include "common/StringTable.h"
#include "engine/Driver.h"
#include "engine/RecoveryFiles.h"
#include "ui/MessageBoxes.h"
#include "ui/PathCompaction.h"
#include "ui/SmoothProgressStyle.h"
#include "ui/TextFitting.h"

namespace {

using std::chrono::milliseconds;

milliseconds preparingInterval{3000};
milliseconds transferringInterval{30000};

constexpr milliseconds kPauseCountdownInterval{1000};
constexpr int kFolderVisibleChars = 23;
constexpr int kPreparingBarLimit = 96;

QString text(int id) {
    return QString::fromStdString(LoadString(id));
}

QString operationName(int operation) {
    switch (operation) {
    case Backup:
        return text(IDS_BACKUP);
    case Restore:
        return text(IDS_RESTORE);
    case LogFiles:
        return text(IDS_LOGFILES);
    default:
        return {};
    }
}

// The system has no text for the internet range, which left "Operation failed:" with nothing
// after it; say what happened and give the code to look up.
std::string resultText(std::uint32_t exitCode, int operation, const std::string& host,
                       const std::string& folder) {
    std::string text = ResultMessage(exitCode, operation, host, folder);
    const auto detail = InternetErrorText(exitCode);
    if (detail && text == LoadString(IDS_OPERATION_FAILED))
        text += *detail + "\nError code " + std::to_string(exitCode) + ".";
    return text;
}

QLabel* valueLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(QStringLiteral("Static"), parent);
    label->setObjectName(QString::fromLatin1(name));
    // Plain text without a buddy: "&" is shown as itself, never as a mnemonic.
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

CProceedDialog::CProceedDialog(QWidget* parent) : QDialog(parent) {
    // A caption, but neither a system menu nor a close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Backup/Restore"));
    setObjectName(QStringLiteral("proceedDialog"));
    buildControls();
    m_progress = std::make_unique<GuiProgressCtrl>(*m_progressBar);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    connect(&m_pauseTimer, &QTimer::timeout, this, [this] { showFailurePause(); });
}

CProceedDialog::~CProceedDialog() {
    // Only reachable with a running worker when the application is torn down around the
    // dialog. Keep serving the worker's calls to the bar until it has ended.
    while (workerRunning()) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

void CProceedDialog::buildControls() {
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Operation:"), this), 0, 0);
    m_operationLabel = valueLabel(this, "operationText");
    layout->addWidget(m_operationLabel, 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("Host:"), this), 1, 0);
    m_hostLabel = valueLabel(this, "hostText");
    layout->addWidget(m_hostLabel, 1, 1);
    layout->addWidget(new QLabel(QStringLiteral("Local Folder:"), this), 2, 0);
    m_folderLabel = valueLabel(this, "folderText");
    m_folderLabel->setWordWrap(false);
    layout->addWidget(m_folderLabel, 2, 1);

    m_statusLabel = valueLabel(this, "statusText");
    m_statusLabel->setText(QStringLiteral(" "));
    // Room for the longest status line, so that the fixed-size dialog keeps its width.
    m_statusLabel->setMinimumWidth(lineWidthLimit(*this));
    layout->addWidget(m_statusLabel, 3, 0, 1, 2);

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setTextVisible(false);
    auto* smooth = new SmoothProgressStyle(QApplication::style()->name());
    smooth->setParent(m_progressBar);
    m_progressBar->setStyle(smooth);
    m_progressBar->setMinimumWidth(260);
    m_progressBar->hide();
    layout->addWidget(m_progressBar, 4, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_continueButton = new QPushButton(QStringLiteral("Continue"), this);
    m_continueButton->setObjectName(QStringLiteral("continueButton"));
    m_continueButton->setDefault(true);
    connect(m_continueButton, &QPushButton::clicked, this, &CProceedDialog::accept);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAutoDefault(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &CProceedDialog::reject);
    buttons->addWidget(m_continueButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons, 5, 0, 1, 2);
    // Keep room for the status line and the bar, which appear later.
    layout->setRowMinimumHeight(4, m_progressBar->sizeHint().height());
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CProceedDialog::setOperationParameters(int operation, const QString& localFolder,
                                            const QString& host, int debugLevel) {
    m_operation = operation;
    m_localFolder = localFolder;
    m_host = host;
    m_debugLevel = debugLevel;
}

void CProceedDialog::setPollIntervals(milliseconds preparing, milliseconds transferring) {
    preparingInterval = preparing;
    transferringInterval = transferring;
}

void CProceedDialog::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CProceedDialog::OnInitDialog() {
    m_phase.store(Preparing);
    m_phaseChangePending = true;
    m_operationLabel->setText(operationName(m_operation));
    setElidedText(*m_hostLabel, m_host, lineWidthLimit(*this));
    const QString folderShown = compactPath(m_localFolder, kFolderVisibleChars);
    m_folderLabel->setText(folderShown);
    m_folderLabel->setToolTip(folderShown == m_localFolder ? QString() : m_localFolder);
    m_continueButton->setFocus();
}

void CProceedDialog::accept() {
    OnOK();
}

void CProceedDialog::reject() {
    // Cancel, Escape and the window manager's close request all end up here; once the worker
    // has started only its result closes the dialog.
    if (m_runner.started())
        return;
    QDialog::reject();
}

void CProceedDialog::done(int result) {
    if (workerRunning())
        return;
    QDialog::done(result);
}

bool CProceedDialog::workerRunning() {
    return m_runner.started() && !m_runner.exitCode();
}

void CProceedDialog::OnOK() {
    if (m_runner.started())
        return;
    if (!confirmDiscardingUnfinishedRestore())
        return;
    startWorker(askResume());
}

// A backup would replace the listing an unfinished restore still needs; the engine refuses
// unless the user has agreed to start afresh.
bool CProceedDialog::confirmDiscardingUnfinishedRestore() {
    m_context.discardUnfinished = false;
    const auto header = readRecoveryHeader(kRecoveryFileName);
    if (m_operation != Backup || !header || header->code != Restore + 1)
        return true;
    const QString question =
        QStringLiteral("This folder holds an unfinished restore to %1.\nA backup would discard "
                       "it. Start the backup afresh?")
            .arg(QString::fromStdString(header->host));
    const auto answer = messageBoxes().show(this, question, QString(), MessageBoxes::Icon::Question,
                                            MessageBoxes::Buttons::YesNo);
    m_context.discardUnfinished = answer == MessageBoxes::Answer::Yes;
    return m_context.discardUnfinished;
}

int CProceedDialog::askResume() {
    const auto header = readRecoveryHeader(kRecoveryFileName);
    if (!header || !recoveryMatches(*header, m_operation, m_host.toStdString(), workFolder()))
        return 0;
    const auto answer =
        messageBoxes().show(this, text(IDS_RESUME_QUESTION), QString(),
                            MessageBoxes::Icon::Question, MessageBoxes::Buttons::YesNo);
    return answer == MessageBoxes::Answer::Yes ? 1 : 0;
}

std::string CProceedDialog::workFolder() const {
    // The main dialog has made the folder current: the system's name for it also serves a
    // folder entered relative to where the program started.
    const QString current = QDir::currentPath();
    return (current.isEmpty() ? m_localFolder : current).toStdString();
}

void CProceedDialog::startWorker(int resume) {
    m_continueButton->setEnabled(false);
    m_cancelButton->setEnabled(false);
    m_statusText = LoadString(IDS_PREPARING);
    m_statusLabel->setText(QString::fromStdString(m_statusText));
    m_progressBar->show();

    m_context.operation = m_operation;
    m_context.localFolder = workFolder();
    m_context.host = m_host.toStdString();
    m_context.progressBar = m_progress.get();
    m_context.phase = &m_phase;
    m_context.statusText = &m_statusText;
    m_context.failurePause = &m_failurePause;
    m_context.debugLevel = m_debugLevel;
    m_context.filesAtOnce = m_filesAtOnce;
    m_context.resume = resume;

    m_progress->SetRange32(0, 100);
    m_progress->SetStep(1);
    m_progress->SetPos(0);

    m_runner.start(m_context);
    m_timer.start(preparingInterval);
    m_pauseTimer.start(kPauseCountdownInterval);
}

void CProceedDialog::showFailurePause() {
    const std::uint32_t pauseMs = m_failurePause.load(std::memory_order_acquire);
    if (pauseMs == 0)
        return;
    if (!m_pauseClock.isValid())
        m_pauseClock.start();
    const qint64 leftMs = std::max<qint64>(0, qint64{pauseMs} - m_pauseClock.elapsed());
    const qint64 leftSeconds = (leftMs + 999) / 1000;
    m_statusLabel->setText(
        QStringLiteral("The operation failed. Reporting the result in %1 s...").arg(leftSeconds));
}

void CProceedDialog::OnTimer() {
    switch (m_phase.load(std::memory_order_acquire)) {
    case Finished:
        if (const auto exitCode = m_runner.exitCode()) {
            m_timer.stop();
            m_pauseTimer.stop();
            showResult(*exitCode);
        }
        break;
    case Transferring:
        if (m_phaseChangePending) {
            m_timer.start(transferringInterval);
            m_phaseChangePending = false;
            // Stored by the worker before it published Transferring, and not changed since.
            m_statusLabel->setText(QString::fromStdString(m_statusText));
            showFailurePause();
        }
        break;
    default:
        if (m_progress->position() < kPreparingBarLimit)
            m_progress->StepIt();
        break;
    }
}

void CProceedDialog::showResult(std::uint32_t exitCode) {
    const bool succeeded = exitCode == RESULT_OK;
    const QString message = QString::fromStdString(
        resultText(exitCode, m_operation, m_host.toStdString(), m_localFolder.toStdString()));
    messageBoxes().show(this, message, succeeded ? QString() : QStringLiteral("Error"),
                        MessageBoxes::Icon::None, MessageBoxes::Buttons::Ok);
    QDialog::done(succeeded ? QDialog::Accepted : QDialog::Rejected);
}
