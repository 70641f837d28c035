#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "UiFixture.h"
#include "common/FileItemList.h"
#include "engine/OperationTypes.h"
#include "engine/RecoveryFiles.h"
#include "engine/oplog/EngineState.h"
#include "platform/Sleep.h"
#include "support/FtpTestServer.h"
#include "ui/DirDialog.h"
#include "ui/ProceedDialog.h"

namespace fs = std::filesystem;

namespace {

class ProgressDialog : public UiTest {
  protected:
    // A recovery file as a failed run leaves it: marked with the operation's code.
    void writeRecoveryFile(int code, const std::string& host, const std::string& folderText) {
        vlmFTPClient::state().host = host;
        CFileItemList remaining;
        remaining.AddTail(std::make_unique<CFileItem>("7.0/access2/a.dat"));
        createRecoveryFile(remaining, folderText);
        ASSERT_EQ(markRecoveryFile(code), 1);
    }
};

TEST_F(ProgressDialog, ShowsTheFolderShortenedAndAmpersandsAsThemselves) {
    const QString folderText = QStringLiteral("/srv/R&D/velmora-2024/mon");
    CProceedDialog dialog;
    dialog.setOperationParameters(LogFiles, folderText, QStringLiteral("vm&1"), 0);
    dialog.show();

    EXPECT_EQ(dialog.windowTitle(), "Backup/Restore");
    EXPECT_EQ(child<QLabel>(dialog, "operationText").text(), "Log Files");
    EXPECT_EQ(child<QLabel>(dialog, "hostText").text(), "vm&1");
    const auto& shown = child<QLabel>(dialog, "folderText");
    EXPECT_EQ(shown.text(), "/srv/R&D/velmora.../mon");
    EXPECT_EQ(shown.textFormat(), Qt::PlainText);
    EXPECT_EQ(shown.buddy(), nullptr);
    EXPECT_FALSE(child<QProgressBar>(dialog, "progressBar").isVisible());
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(ProgressDialog, ALongFolderAndHostKeepBothDialogsOnA1280PixelScreen) {
    // A 278-character folder once made the picker 1812 pixels wide, its buttons off screen.
    fs::path deep = folder();
    while (deep.string().size() < 278)
        deep /= "velmora-site-backup-folder";
    fs::create_directories(deep);
    const QString longFolder = qs(deep);
    const QString longHost = QString(250, QLatin1Char('h')) + QStringLiteral(".example");
    const int screenWidth =
        std::min(1280, QGuiApplication::primaryScreen()->availableGeometry().width());

    CDirDialog picker(longFolder);
    picker.show();
    CProceedDialog progress;
    progress.setOperationParameters(Backup, longFolder, longHost, 0);
    progress.show();

    for (QDialog* dialog : std::initializer_list<QDialog*>{&picker, &progress}) {
        SCOPED_TRACE(dialog->objectName().toStdString());
        EXPECT_LE(dialog->frameGeometry().width(), screenWidth);
        for (const QPushButton* button : dialog->findChildren<QPushButton*>())
            EXPECT_TRUE(dialog->rect().contains(button->geometry()))
                << button->text().toStdString();
    }
    EXPECT_EQ(progress.minimumSize(), progress.maximumSize());
    EXPECT_EQ(child<QLabel>(picker, "lookIn").toolTip(), longFolder);
    EXPECT_EQ(child<QLabel>(progress, "hostText").toolTip(), longHost);
    EXPECT_EQ(child<QLabel>(progress, "folderText").toolTip(), longFolder);
}

TEST_F(ProgressDialog, ThePreparationBarVisiblyMovesAtEveryStep) {
    // A style that draws the bar in blocks of about 9 pixels showed the one-percent steps of
    // the preparation only every third or fourth tick, about every 12 s instead of 3 s.
    const QString savedStyle = QApplication::style()->name();
    QApplication::setStyle(QStringLiteral("windows"));
    {
        CProceedDialog dialog;
        dialog.show();
        auto& bar = child<QProgressBar>(dialog, "progressBar");
        bar.show();
        bar.setRange(0, 100);
        QImage previous = bar.grab().toImage();
        for (int value = 1; value <= 8; ++value) {
            bar.setValue(value);
            const QImage shown = bar.grab().toImage();
            EXPECT_NE(shown, previous) << "step " << value;
            previous = shown;
        }
    }
    QApplication::setStyle(savedStyle);
}

TEST(MessageBox, AnEmptyCaptionIsShownEmpty) {
    // Handed an empty title, the window system shows the program's name ("k7_qel") instead.
    const auto untitled = makeMessageBox(nullptr, QStringLiteral("Operation completed."), QString(),
                                         MessageBoxes::Icon::None, MessageBoxes::Buttons::Ok);
    EXPECT_FALSE(untitled->windowTitle().isEmpty());
    EXPECT_TRUE(untitled->windowTitle().trimmed().isEmpty());
    const auto titled = makeMessageBox(nullptr, QStringLiteral("x"), QStringLiteral("Error"),
                                       MessageBoxes::Icon::None, MessageBoxes::Buttons::Ok);
    EXPECT_EQ(titled->windowTitle(), "Error");
}

TEST_F(ProgressDialog, AsksToResumeOnlyWhenOperationHostAndFolderMatch) {
    FtpTestServer closed;
    closed.stop();
    const std::string port = std::to_string(closed.port());
    const std::string host = "localhost:" + port;
    const std::string folderText = folder().string();
    struct Case {
        const char* name;
        int fileCode; // 0: no recovery file
        std::string fileHost;
        std::string fileFolder;
        bool asked;
        std::string typedFolder = "";
    };
    const std::vector<Case> cases = {
        {"matching", 2, host, folderText, true},
        {"no file", 0, host, folderText, false},
        {"other operation", 1, host, folderText, false},
        {"host in other case", 2, "LocalHost:" + port, folderText, false},
        {"other folder", 2, host, folderText + "-other", false},
        // The folder is compared as the system names it, not as it was typed: a retry with a
        // trailing "/" once started afresh and threw the recovery point away.
        {"typed with a trailing slash", 2, host, folderText, true, folderText + "/"},
        {"typed through \"..\"", 2, host, folderText, true, folderText + "/../local"},
    };
    fs::current_path(folder());
    for (const Case& c : cases) {
        for (const auto answer : {MessageBoxes::Answer::No, MessageBoxes::Answer::Yes}) {
            SCOPED_TRACE(std::string(c.name) +
                         (answer == MessageBoxes::Answer::Yes ? " yes" : " no"));
            std::error_code ignored;
            fs::remove(folder() / "k7.bad", ignored);
            if (c.fileCode != 0)
                writeRecoveryFile(c.fileCode, c.fileHost, c.fileFolder);
            boxes.shown.clear();
            boxes.answers = {answer};
            if (c.asked && answer == MessageBoxes::Answer::No)
                boxes.onShow = [](QWidget* parent, const ShownMessage& message) {
                    if (message.icon == MessageBoxes::Icon::Question)
                        saveMessageBoxScreenshot(parent, message,
                                                 QStringLiteral("resume-question"));
                };

            CProceedDialog dialog;
            dialog.setOperationParameters(
                Restore, QString::fromStdString(c.typedFolder.empty() ? folderText : c.typedFolder),
                QString::fromStdString(host), 0);
            runProceedDialog(dialog);
            boxes.onShow = nullptr;

            const bool asked = boxes.shown.size() == 2;
            EXPECT_EQ(asked, c.asked);
            if (asked) {
                EXPECT_TRUE(
                    boxes.shown[0].text.startsWith("The application has detected a previous"));
                EXPECT_EQ(boxes.shown[0].caption, "");
                EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Question);
                EXPECT_EQ(boxes.shown[0].buttons, MessageBoxes::Buttons::YesNo);
            }
            const int expectedResume = c.asked && answer == MessageBoxes::Answer::Yes ? 1 : 0;
            EXPECT_EQ(dialog.context().resume, expectedResume);
        }
    }
}

// A backup over an unfinished restore once replaced the listing that restore still needed, and
// the next restore left the server with a few of its files.
TEST_F(ProgressDialog, ABackupOverAnUnfinishedRestoreStartsOnlyWhenConfirmed) {
    FtpTestServer closed;
    closed.stop();
    const std::string host = "localhost:" + std::to_string(closed.port());
    fs::current_path(folder());
    for (const auto answer : {MessageBoxes::Answer::No, MessageBoxes::Answer::Yes}) {
        const bool confirmed = answer == MessageBoxes::Answer::Yes;
        SCOPED_TRACE(confirmed ? "yes" : "no");
        writeRecoveryFile(Restore + 1, host, folder().string());
        boxes.shown.clear();
        boxes.answers = {answer};

        CProceedDialog dialog;
        dialog.setOperationParameters(Backup, QString::fromStdString(folder().string()),
                                      QString::fromStdString(host), 0);
        if (confirmed) {
            runProceedDialog(dialog);
        } else {
            dialog.show();
            child<QPushButton>(dialog, "continueButton").click();
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_TRUE(child<QPushButton>(dialog, "continueButton").isEnabled());
            child<QPushButton>(dialog, "cancelButton").click();
        }
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_TRUE(boxes.shown[0].text.startsWith("This folder holds an unfinished restore"));
        EXPECT_EQ(boxes.shown[0].buttons, MessageBoxes::Buttons::YesNo);
        EXPECT_EQ(dialog.context().discardUnfinished, confirmed);
        EXPECT_EQ(dialog.context().resume, 0);
    }
}

TEST_F(ProgressDialog, ReportsEveryExitCodeWithItsMessage) {
    struct Case {
        std::uint32_t code;
        int operation;
        std::string text;
    };
    const std::string host = "vm1.example";
    const std::string folderText = "/srv/velmora";
    const std::vector<Case> cases = {
        {0, Backup,
         "Operation completed successfully.\nPlease reboot the system by temporarily removing "
         "power for 10 seconds."},
        {0, Restore,
         "Operation completed successfully.\nPlease reboot the system by temporarily removing "
         "power for 10 seconds."},
        {0, LogFiles, "Operation completed successfully."},
        {2, Backup, "Cannot connect to site vm1.example"},
        {3, Backup, "Directory /srv/velmora does not exist"},
        {6, Backup,
         "Backup operation has not been initiated from Velmora Manager for site vm1.example"},
        {7, Restore,
         "Restore operation has not been initiated from Velmora Manager for site vm1.example"},
        {8, -1, "Unknown operation"},
        {9, Restore,
         "Invalid data found within the local folder.  \nPlease ensure that a valid backup folder "
         "is specified."},
        {10, Backup, "Communication problem encountered with site vm1.example"},
        {12002, Backup, "Communication problem encountered with site vm1.example"},
        {12031, LogFiles, "Communication problem encountered with site vm1.example"},
        {5, Backup, "Operation failed:\nInput/output error\n"},
        // The system has no text for the internet range: the box once ended at "failed:".
        {12030, Backup,
         "Operation failed:\nThe connection to the server was lost.\nError code 12030."},
        {12003, Restore, "Operation failed:\nThe server refused a command.\nError code 12003."},
        {12007, Backup,
         "Operation failed:\nThe server name could not be resolved.\nError code 12007."},
        {12999, Backup,
         "Operation failed:\nThe connection to the server failed.\nError code 12999."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        boxes.shown.clear();
        CProceedDialog dialog;
        dialog.setOperationParameters(c.operation, QString::fromStdString(folderText),
                                      QString::fromStdString(host), 0);
        if (c.operation == Backup && (c.code == 0 || c.code == 10))
            boxes.onShow = [&c](QWidget* parent, const ShownMessage& message) {
                saveMessageBoxScreenshot(parent, message,
                                         c.code == 0 ? QStringLiteral("result-box")
                                                     : QStringLiteral("error-box"));
            };

        dialog.showResult(c.code);
        boxes.onShow = nullptr;

        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text.toStdString(), c.text);
        EXPECT_EQ(boxes.shown[0].caption, c.code == 0 ? "" : "Error");
        EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::None);
        EXPECT_EQ(dialog.result(), c.code == 0 ? QDialog::Accepted : QDialog::Rejected);
    }
}

// What the dialog shows at one moment of a run.
struct Sample {
    QString status;
    bool barVisible;
    int value;
    int maximum;
    bool continueEnabled;
    bool cancelEnabled;
};

TEST_F(ProgressDialog, RunsAWholeBackupAndFollowsIt) {
    FtpTestServer server;
    SampleTreeOptions tree;
    tree.mailboxFiles = 60;
    makeSampleServerTree(server.root(), tree);
    // Each yield of the worker takes a little time, so that the transfer is seen under way.
    SetSleepHook([](std::uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    fs::current_path(folder());
    CProceedDialog dialog;
    dialog.setOperationParameters(Backup, qs(folder()), QString::fromStdString(server.hostEntry()),
                                  0);

    std::vector<Sample> samples;
    bool escapeIgnored = true;
    bool screenshotTaken = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!dialog.isVisible() || child<QPushButton>(dialog, "continueButton").isEnabled())
            return;
        const auto& bar = child<QProgressBar>(dialog, "progressBar");
        const Sample sample{child<QLabel>(dialog, "statusText").text(),
                            bar.isVisible(),
                            bar.value(),
                            bar.maximum(),
                            child<QPushButton>(dialog, "continueButton").isEnabled(),
                            child<QPushButton>(dialog, "cancelButton").isEnabled()};
        if (sample.status == "Data backup:" &&
            (samples.empty() || samples.back().status != sample.status)) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
            dialog.close();
            escapeIgnored = dialog.isVisible();
        }
        if (!screenshotTaken && sample.status == "Data backup:" &&
            sample.value * 3 >= sample.maximum) {
            saveScreenshot(dialog, QStringLiteral("progress-dialog"));
            screenshotTaken = true;
        }
        samples.push_back(sample);
    });
    sampler.start(5);

    const int result = runProceedDialog(dialog);
    sampler.stop();
    SetSleepHook({});

    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text.left(33), "Operation completed successfully.");
    EXPECT_EQ(snapshotTree(folder() / "access2"), snapshotTree(server.root() / "access2"));
    EXPECT_EQ(snapshotTree(folder() / "ST"), snapshotTree(server.root() / "ST"));
    EXPECT_TRUE(escapeIgnored);

    ASSERT_FALSE(samples.empty());
    const int fileCount = static_cast<int>(snapshotTree(server.root() / "access2").size() +
                                           snapshotTree(server.root() / "ST").size());
    EXPECT_EQ(samples.back().maximum, fileCount);
    EXPECT_EQ(samples.back().value, fileCount);
    bool sawPreparing = false;
    bool sawTransfer = false;
    bool transferCounting = false;
    int lastTransferValue = 0;
    for (const Sample& sample : samples) {
        EXPECT_TRUE(sample.barVisible);
        EXPECT_FALSE(sample.continueEnabled);
        EXPECT_FALSE(sample.cancelEnabled);
        if (sample.status == "Preparing system:") {
            EXPECT_FALSE(sawTransfer) << "the status line never goes back";
            // The worker re-ranges the bar before the next tick shows the new title.
            if (sample.maximum == 100) {
                EXPECT_LE(sample.value, 96);
            }
            sawPreparing = true;
        } else {
            EXPECT_EQ(sample.status, "Data backup:");
            sawTransfer = true;
            // Re-ranging holds the old position at the new end until the worker resets it.
            if (!transferCounting && sample.value == sample.maximum)
                continue;
            transferCounting = true;
            EXPECT_GE(sample.value, lastTransferValue) << "the bar only moves forward";
            lastTransferValue = sample.value;
        }
    }
    EXPECT_TRUE(sawPreparing);
    EXPECT_TRUE(sawTransfer);
}

TEST_F(ProgressDialog, ReportsTheWorkersFailuresThroughTheRealEngine) {
    struct Case {
        const char* name;
        int operation;
        bool serverRuns;
        bool safeMarker;
        std::string textStart;
    };
    const std::vector<Case> cases = {
        {"no server", Backup, false, true, "Cannot connect to site "},
        {"backup not initiated", Backup, true, false, "Backup operation has not been initiated"},
        {"restore not initiated", Restore, true, false, "Restore operation has not been initiated"},
        {"unknown operation", -1, true, true, "Unknown operation"},
    };
    fs::current_path(folder());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FtpTestServer server;
        SampleTreeOptions tree;
        tree.mailboxFiles = 4;
        tree.largeFileBytes = 1000;
        tree.safeMarker = c.safeMarker;
        makeSampleServerTree(server.root(), tree);
        if (!c.serverRuns)
            server.stop();
        boxes.shown.clear();
        CProceedDialog dialog;
        dialog.setOperationParameters(c.operation, qs(folder()),
                                      QString::fromStdString(server.hostEntry()), 0);

        EXPECT_EQ(runProceedDialog(dialog), QDialog::Rejected);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text.toStdString().substr(0, c.textStart.size()), c.textStart);
        EXPECT_EQ(boxes.shown[0].caption, "Error");
        EXPECT_EQ(child<QLabel>(dialog, "statusText").text(), "Preparing system:");
    }
}

TEST_F(ProgressDialog, SaysWhyItWaitsAfterAFailedTransfer) {
    FtpTestServer::Options faults;
    faults.faults = {"--fail-retr", "3"};
    FtpTestServer server(faults);
    SampleTreeOptions tree;
    tree.mailboxFiles = 6;
    tree.largeFileBytes = 1000;
    makeSampleServerTree(server.root(), tree);
    // The worker holds its pause until the dialog has been seen to explain it (at most 60 s).
    std::atomic<bool> explained{false};
    SetSleepHook([&](std::uint32_t ms) {
        for (int i = 0; ms >= 60000 && !explained && i < 6000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    fs::current_path(folder());
    CProceedDialog dialog;
    dialog.setOperationParameters(Backup, qs(folder()), QString::fromStdString(server.hostEntry()),
                                  0);
    QString pauseText;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QString status = child<QLabel>(dialog, "statusText").text();
        if (status.startsWith("The operation failed.")) {
            pauseText = status;
            explained = true;
        }
    });
    watcher.start(5);

    EXPECT_EQ(runProceedDialog(dialog), QDialog::Rejected);
    watcher.stop();
    SetSleepHook({});

    EXPECT_TRUE(pauseText.contains(QRegularExpression(" in \\d+ s\\.\\.\\.$")))
        << pauseText.toStdString();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "Operation failed:\nThe server refused a command.\nError code 12003.");
}

} // namespace
