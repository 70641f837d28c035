#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>
#include <unistd.h>

#include "UiFixture.h"
#include "common/FileItemList.h"
#include "engine/OperationTypes.h"
#include "engine/RecoveryFiles.h"
#include "engine/oplog/EngineState.h"
#include "platform/Registry.h"
#include "support/FtpTestServer.h"
#include "ui/AboutDialog.h"
#include "ui/DirDialog.h"
#include "ui/ProceedDialog.h"
#include "ui/QelDlg.h"

namespace fs = std::filesystem;

namespace {

class MainDialog : public UiTest {
  protected:
    void fill(CQelDlg& dialog, const char* radio, const QString& folder, const QString& host) {
        child<QRadioButton>(dialog, radio).setChecked(true);
        child<QLineEdit>(dialog, "folderEdit").setText(folder);
        child<QLineEdit>(dialog, "hostEdit").setText(host);
    }
    bool checked(CQelDlg& dialog, const char* radio) {
        return child<QRadioButton>(dialog, radio).isChecked();
    }
};

TEST_F(MainDialog, FirstStartSelectsBackupWithEmptyFieldsAndCreatesTheKeyEmpty) {
    CQelDlg dialog;
    dialog.show();

    EXPECT_EQ(dialog.windowTitle(), "Velmora Backup/Restore Utility");
    EXPECT_TRUE(checked(dialog, "backupRadio"));
    EXPECT_TRUE(child<QLineEdit>(dialog, "folderEdit").text().isEmpty());
    EXPECT_TRUE(child<QLineEdit>(dialog, "hostEdit").text().isEmpty());
    EXPECT_TRUE(fs::is_directory(registryKeyPath()));
    EXPECT_TRUE(fs::is_empty(registryKeyPath()));
    dialog.show();
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "the rows never spread apart";
    // As a user fills it in for the demo of the README.
    fill(dialog, "backupRadio", QStringLiteral("/tmp/velmora-demo/backup"),
         QStringLiteral("127.0.0.1:40123"));
    saveScreenshot(dialog, QStringLiteral("main-dialog"));
}

TEST_F(MainDialog, PrefillsFromTheRecoveryFileOfAFailedRun) {
    FtpTestServer::Options refuseLaterLogins;
    refuseLaterLogins.faults = {"--max-logins", "10"};
    FtpTestServer server(refuseLaterLogins);
    makeSampleServerTree(server.root());
    fs::current_path(folder());
    CProceedDialog failedRun;
    failedRun.setOperationParameters(Backup, qs(folder()),
                                     QString::fromStdString(server.hostEntry()), 0);
    ASSERT_EQ(runProceedDialog(failedRun), QDialog::Rejected);
    ASSERT_TRUE(fs::exists(folder() / "k7.bad"));
    fs::current_path("/");

    CQelDlg dialog;

    EXPECT_TRUE(checked(dialog, "backupRadio"));
    EXPECT_EQ(child<QLineEdit>(dialog, "hostEdit").text().toStdString(), server.hostEntry());
    EXPECT_EQ(child<QLineEdit>(dialog, "folderEdit").text(), qs(folder()));
    EXPECT_EQ(fs::current_path(), folder());
}

TEST_F(MainDialog, ARecoveryFileNeverMarkedSelectsNoOperation) {
    fs::current_path(folder());
    vlmFTPClient::state().host = "velmora";
    CFileItemList remaining;
    remaining.AddTail(std::make_unique<CFileItem>("7.0/access2/a.dat"));
    createRecoveryFile(remaining, folder().string());
    setRecoveryDirectory(folder().string());
    fs::current_path("/");

    CQelDlg dialog;

    EXPECT_FALSE(checked(dialog, "backupRadio"));
    EXPECT_FALSE(checked(dialog, "restoreRadio"));
    EXPECT_FALSE(checked(dialog, "logFilesRadio"));
    EXPECT_EQ(dialog.operation(), -1);
    EXPECT_EQ(child<QLineEdit>(dialog, "hostEdit").text(), "velmora");
    EXPECT_EQ(child<QLineEdit>(dialog, "folderEdit").text(), qs(folder()));
}

TEST_F(MainDialog, ADamagedRecoveryFileStillPrefillsWhatCanBeRead) {
    const std::string host = "velmora";
    const std::string folderText = folder().string();
    const auto width = static_cast<std::uintmax_t>(folderText.size() + 10);
    struct Case {
        const char* name;
        std::uintmax_t size;
        QString host;
        QString folder;
        bool restoreChecked;
    };
    const Case cases[] = {
        {"file list cut short", 12 + 2 * width + 5, QString::fromStdString(host), qs(folder()),
         true},
        {"folder cut short", 12 + width + 5, QString::fromStdString(host), "", false},
        {"host cut short", 12 + 5, "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::current_path(folder());
        vlmFTPClient::state().host = host;
        CFileItemList remaining;
        remaining.AddTail(std::make_unique<CFileItem>("7.0/access2/a.dat"));
        createRecoveryFile(remaining, folderText);
        ASSERT_EQ(markRecoveryFile(Restore + 1), 1);
        setRecoveryDirectory(folderText);
        fs::resize_file(folder() / "k7.bad", c.size);
        fs::current_path("/");

        CQelDlg dialog;

        EXPECT_EQ(child<QLineEdit>(dialog, "hostEdit").text(), c.host);
        EXPECT_EQ(child<QLineEdit>(dialog, "folderEdit").text(), c.folder);
        EXPECT_EQ(checked(dialog, "restoreRadio"), c.restoreChecked);
        EXPECT_EQ(checked(dialog, "backupRadio"), !c.restoreChecked);
    }
}

TEST_F(MainDialog, TheHiddenEntrySetsTheDebugLevelOnlyForLogFiles) {
    struct Case {
        const char* radio;
        const char* host;
        int level;
        const char* message;
        const char* caption;
    };
    const Case cases[] = {
        {"logFilesRadio", "7", 7, "Debug level set to 7", "Debug Level"},
        {"logFilesRadio", "abc", 0, "Debug level set to 0", "Debug Level"},
        {"logFilesRadio", "-2x", -2, "Debug level set to -2", "Debug Level"},
        {"backupRadio", "7", 0, "Folder Debug Level does not exist. \nPlease create the folder.",
         "Folder not found"},
    };
    fs::current_path(folder());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.radio) + " " + c.host);
        boxes.shown.clear();
        CQelDlg dialog;
        dialog.show();
        fill(dialog, c.radio, QStringLiteral("Debug Level"), QString::fromLatin1(c.host));

        child<QPushButton>(dialog, "okButton").click();

        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, QString::fromLatin1(c.message));
        EXPECT_EQ(boxes.shown[0].caption, QString::fromLatin1(c.caption));
        const auto icon = c.level == 0 && c.radio[0] == 'b' ? MessageBoxes::Icon::Exclamation
                                                            : MessageBoxes::Icon::Information;
        EXPECT_EQ(boxes.shown[0].icon, icon);
        EXPECT_EQ(dialog.debugLevel(), c.level);
        EXPECT_TRUE(dialog.isVisible());
    }
}

TEST_F(MainDialog, TheDebugLevelGoesToTheNextOperation) {
    FtpTestServer server;
    server.stop();
    CQelDlg dialog;
    dialog.show();
    fill(dialog, "logFilesRadio", QStringLiteral("Debug Level"), QStringLiteral("7"));
    child<QPushButton>(dialog, "okButton").click();
    fill(dialog, "backupRadio", qs(folder()), QString::fromStdString(server.hostEntry()));

    int levelHandedOver = -1;
    whenModalOpens<CProceedDialog>([&](CProceedDialog& progress) {
        child<QPushButton>(progress, "continueButton").click();
        levelHandedOver = progress.context().debugLevel;
    });
    child<QPushButton>(dialog, "okButton").click();

    EXPECT_EQ(levelHandedOver, 7);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text.toStdString(), "Cannot connect to site " + server.hostEntry());
    EXPECT_TRUE(dialog.isVisible()) << "a failed run leaves the main dialog open for a retry";
    EXPECT_EQ(child<QLineEdit>(dialog, "folderEdit").text(), qs(folder()));
}

// The files moved at once are set like the debug level, brought within 1 to 16, and go to the
// next operation.
TEST_F(MainDialog, TheHiddenEntrySetsTheFilesMovedAtOnce) {
    struct Case {
        const char* host;
        int filesAtOnce;
    };
    const Case cases[] = {{"4", 4}, {"99", 16}, {"abc", 1}, {"-3", 1}};
    FtpTestServer server;
    server.stop();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        boxes.shown.clear();
        CQelDlg dialog;
        dialog.show();
        fill(dialog, "logFilesRadio", QStringLiteral("Files At Once"), QString::fromLatin1(c.host));
        child<QPushButton>(dialog, "okButton").click();

        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text,
                  QStringLiteral("Files moved at once set to ") + QString::number(c.filesAtOnce));
        EXPECT_EQ(dialog.filesAtOnce(), c.filesAtOnce);

        fill(dialog, "backupRadio", qs(folder()), QString::fromStdString(server.hostEntry()));
        int handedOver = 0;
        whenModalOpens<CProceedDialog>([&](CProceedDialog& progress) {
            child<QPushButton>(progress, "continueButton").click();
            handedOver = progress.context().filesAtOnce;
        });
        child<QPushButton>(dialog, "okButton").click();
        EXPECT_EQ(handedOver, c.filesAtOnce);
    }
}

TEST_F(MainDialog, RunsBackupRestoreAndLogFilesToTheEnd) {
    SampleTreeOptions tree;
    tree.logFiles = true;
    FtpTestServer source;
    makeSampleServerTree(source.root(), tree);
    FtpTestServer target;
    writeFile(target.root() / "safe", "");
    const fs::path logsFolder = folder() / "logs";
    fs::create_directories(logsFolder);
    struct Case {
        const char* radio;
        const FtpTestServer& server;
        fs::path localFolder;
        std::string message;
    };
    const std::string rebootAdvice =
        "\nPlease reboot the system by temporarily removing power for 10 seconds.";
    const Case cases[] = {
        {"backupRadio", source, folder(), "Operation completed successfully." + rebootAdvice},
        {"restoreRadio", target, folder(), "Operation completed successfully." + rebootAdvice},
        {"logFilesRadio", source, logsFolder, "Operation completed successfully."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.radio);
        boxes.shown.clear();
        CQelDlg dialog;
        dialog.show();
        fill(dialog, c.radio, qs(c.localFolder), QString::fromStdString(c.server.hostEntry()));
        whenModalOpens<CProceedDialog>([](CProceedDialog& progress) {
            child<QPushButton>(progress, "continueButton").click();
        });

        child<QPushButton>(dialog, "okButton").click();

        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text.toStdString(), c.message);
        EXPECT_FALSE(dialog.isVisible()) << "success ends the program";
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(snapshotTree(target.root() / "access2"), snapshotTree(source.root() / "access2"));
    EXPECT_EQ(snapshotTree(target.root() / "ST"), snapshotTree(source.root() / "ST"));
    EXPECT_FALSE(fs::exists(target.root() / "safe"));
    EXPECT_FALSE(snapshotTree(logsFolder).empty());
}

TEST_F(MainDialog, OkWithAMissingFolderSaysSoAndStays) {
    CQelDlg dialog;
    dialog.show();
    const QString missing = qs(folder() / "nowhere");
    fill(dialog, "restoreRadio", missing, QStringLiteral("127.0.0.1"));

    child<QPushButton>(dialog, "okButton").click();

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "Folder " + missing + " does not exist. \nPlease create the folder.");
    EXPECT_EQ(boxes.shown[0].caption, "Folder not found");
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Exclamation);
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(MainDialog, BrowseDropsTheTrailingSlashExceptOfTheRoot) {
    fs::create_directories(folder() / "chosen");
    struct Case {
        QString typed;
        QString expected;
    };
    const Case cases[] = {{qs(folder() / "chosen") + "/", qs(folder() / "chosen")},
                          {QStringLiteral("/"), QStringLiteral("/")}};
    for (const Case& c : cases) {
        CQelDlg dialog;
        dialog.show();
        whenModalOpens<CDirDialog>([&](CDirDialog& picker) {
            child<QLineEdit>(picker, "folderEdit").setText(c.typed);
            child<QPushButton>(picker, "openButton").click();
        });
        child<QPushButton>(dialog, "browseButton").click();

        EXPECT_EQ(child<QLineEdit>(dialog, "folderEdit").text(), c.expected);
    }
}

TEST_F(MainDialog, BrowseCancelledKeepsTheFolder) {
    CQelDlg dialog;
    dialog.show();
    child<QLineEdit>(dialog, "folderEdit").setText(qs(folder()));
    whenModalOpens<CDirDialog>([](CDirDialog& picker) {
        child<QLineEdit>(picker, "folderEdit").setText(QStringLiteral("/"));
        child<QPushButton>(picker, "cancelButton").click();
    });
    child<QPushButton>(dialog, "browseButton").click();

    EXPECT_EQ(child<QLineEdit>(dialog, "folderEdit").text(), qs(folder()));
}

TEST_F(MainDialog, AboutComesFromTheContextMenuAndF1) {
    CQelDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto& about = child<QAction>(dialog, "aboutAction");
    EXPECT_EQ(about.text(), "&About Velmora Qel..");
    EXPECT_EQ(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);

    QString title;
    QStringList lines;
    whenModalOpens<CAboutDialog>([&](CAboutDialog& box) {
        title = box.windowTitle();
        for (const QLabel* label : box.findChildren<QLabel*>())
            lines << label->text();
        saveScreenshot(box, QStringLiteral("about-box"));
        box.accept();
    });
    QTest::keyClick(&dialog, Qt::Key_F1);

    EXPECT_EQ(title, "About Velmora Backup/Restore Utility");
    // The same version as qel --version and the log, not a longer form of its own.
    EXPECT_TRUE(lines.contains(QStringLiteral("Version : ") + vlmFTPClient::kToolVersion))
        << lines.join('|').toStdString();
}

} // namespace
