#include <QApplication>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QToolButton>
#include <QtTest/QTest>
#include <sys/mount.h>

#include "UiFixture.h"
#include "ui/DirDialog.h"
#include "ui/FolderCompletion.h"

namespace fs = std::filesystem;

namespace {

TEST(CapitalisedCompletion, FollowsTheCaseOfWhatWasTyped) {
    struct Case {
        const char* typed;
        const char* found;
        const char* offered;
    };
    const Case cases[] = {
        {"P", "PROGRAM", "Program"},
        {"p", "PROGRAM", "program"},
        {"Pr", "PROGRAM", "Program"},
        {"PR", "PROGRAM", "PROGRAM"},
        {"pr", "PROGRAM", "Program"},
        {"do", "Documents", "Documents"},
        {"Do", "Documents", "Documents"},
        {"DO", "Documents", "DOCUMENTS"},
        {"my ", "MY DOCS", "MY DOCS"},
        {"my d", "MY DOCS", "my docs"},
        {"2", "2024", "2024"},
        {"", "DATA", "Data"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(capitalisedCompletion(QString::fromLatin1(c.typed), QString::fromLatin1(c.found)),
                  QString::fromLatin1(c.offered))
            << c.typed << " / " << c.found;
    }
}

class FolderPicker : public UiTest {
  protected:
    FolderPicker() {
        for (const char* name : {"zeta", "music", "mp3", "PROGRAM", "Projects"})
            fs::create_directories(folder() / name);
        writeFile(folder() / "notes.txt", "text");
        fs::current_path(folder());
    }

    // A shown picker in the test folder with the focus in its edit.
    std::unique_ptr<CDirDialog> openPicker(const QString& initial) {
        auto picker = std::make_unique<CDirDialog>(initial);
        picker->show();
        QApplication::setActiveWindow(picker.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(picker.get()));
        edit(*picker).setFocus();
        return picker;
    }
    static QLineEdit& edit(CDirDialog& picker) { return child<QLineEdit>(picker, "folderEdit"); }
    void type(CDirDialog& picker, const QString& text, bool clearFirst = false) {
        if (clearFirst)
            edit(picker).clear();
        QTest::keyClicks(&edit(picker), text);
    }
    QString base() const { return qs(folder()) + "/"; }
};

TEST_F(FolderPicker, StartsInTheInitialFolderOrTheNearestExistingLevel) {
    auto picker = openPicker(qs(folder()));
    EXPECT_EQ(picker->windowTitle(), "Select Folder");
    EXPECT_EQ(edit(*picker).text(), base());
    EXPECT_EQ(picker->folder(), base());

    auto planned = openPicker(qs(folder() / "later" / "deeper"));
    EXPECT_EQ(planned->currentFolder(), qs(folder()));
    EXPECT_EQ(edit(*planned).text(), qs(folder() / "later" / "deeper"));

    auto& list = child<QListView>(*picker, "folderList");
    auto* model = static_cast<QFileSystemModel*>(list.model());
    ASSERT_TRUE(
        waitUntil([&] { return model->rowCount(list.rootIndex()) == 5; }, std::chrono::seconds(10)))
        << "the list shows the five folders and not the file";
    saveScreenshot(*picker, QStringLiteral("folder-picker"));
}

TEST_F(FolderPicker, CompletesAUniqueFolderWhileTyping) {
    struct Case {
        const char* typed;
        QString text;     // after typing
        QString selected; // the added part
    };
    const std::vector<Case> cases = {
        {"z", base() + "zeta", "eta"},
        {"mu", base() + "music", "sic"},
        {"m", base() + "m", ""},   // music and mp3
        {"pr", base() + "pr", ""}, // PROGRAM and Projects, regardless of case
        {"PROG", base() + "PROGRAM", "RAM"},
        // What was typed is never rewritten: on a case-sensitive system "program" and
        // "Zeta-new" name other folders than PROGRAM and zeta, and Open would create them.
        {"prog", base() + "prog", ""},
        {"Zeta-new", base() + "Zeta-new", ""},
        {"zeta-new", base() + "zeta-new", ""},
        {"n", base() + "n", ""}, // notes.txt is a file
        {"q", base() + "q", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        auto picker = openPicker(qs(folder()));
        type(*picker, QString::fromLatin1(c.typed));
        EXPECT_EQ(edit(*picker).text(), c.text);
        EXPECT_EQ(edit(*picker).selectedText(), c.selected);
    }
}

TEST_F(FolderPicker, AHomeRelativePathIsFollowedAndCompleted) {
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", folder().c_str());
    auto picker = openPicker(QStringLiteral("/"));
    type(*picker, "~/mu", true);
    const QString completed = edit(*picker).text();
    type(*picker, "sic/");
    const QString entered = picker->currentFolder();
    qputenv("HOME", savedHome);

    EXPECT_EQ(completed, qs(folder() / "music")) << "\"~/\" enters the home folder at once";
    EXPECT_EQ(entered, qs(folder() / "music"));
}

TEST_F(FolderPicker, BackspaceAndTypingInTheMiddleNeverComplete) {
    auto picker = openPicker(qs(folder()));
    type(*picker, "zx");
    QTest::keyClick(&edit(*picker), Qt::Key_Backspace);
    EXPECT_EQ(edit(*picker).text(), base() + "z");

    edit(*picker).setText(base() + "zX");
    edit(*picker).setCursorPosition(static_cast<int>(base().size()));
    type(*picker, "m");
    EXPECT_EQ(edit(*picker).text(), base() + "mzX");
}

TEST_F(FolderPicker, SlashesMoveThroughFolders) {
    auto picker = openPicker(qs(folder()));
    type(*picker, "/", true);
    EXPECT_EQ(picker->currentFolder(), "/");
    EXPECT_EQ(edit(*picker).text(), "/");

    type(*picker, base().mid(1) + "zeta/");
    EXPECT_EQ(picker->currentFolder(), qs(folder() / "zeta"));
    EXPECT_EQ(edit(*picker).text(), qs(folder() / "zeta") + "/");

    type(*picker, "nothing-here/");
    EXPECT_EQ(picker->currentFolder(), qs(folder() / "zeta")) << "a missing folder is not entered";
}

TEST_F(FolderPicker, EnterMovesIntoTheFolderAndNeverCloses) {
    auto picker = openPicker(qs(folder()));
    type(*picker, base() + "music", true);
    QTest::keyClick(&edit(*picker), Qt::Key_Return);
    EXPECT_EQ(picker->currentFolder(), qs(folder() / "music"));
    EXPECT_EQ(edit(*picker).text(), qs(folder() / "music") + "/");
    EXPECT_TRUE(picker->isVisible());

    type(*picker, "new/deeper");
    boxes.answers = {MessageBoxes::Answer::No};
    QTest::keyClick(&edit(*picker), Qt::Key_Enter);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, qs(folder() / "music") +
                                       "/new/deeper\nThis folder does not exist.\n\nDo you want "
                                       "to create it?");
    EXPECT_EQ(boxes.shown[0].buttons, MessageBoxes::Buttons::YesNo);
    EXPECT_FALSE(fs::exists(folder() / "music" / "new"));

    boxes.answers = {MessageBoxes::Answer::Yes};
    QTest::keyClick(&edit(*picker), Qt::Key_Return);
    EXPECT_TRUE(fs::is_directory(folder() / "music" / "new" / "deeper"));
    EXPECT_EQ(picker->currentFolder(), qs(folder() / "music" / "new" / "deeper"));
    EXPECT_TRUE(picker->isVisible());

    QTest::keyClick(&edit(*picker), Qt::Key_Tab);
    EXPECT_TRUE(child<QPushButton>(*picker, "openButton").hasFocus());
}

TEST_F(FolderPicker, OpenChecksTheFolder) {
    struct Case {
        const char* name;
        QString typed;
        MessageBoxes::Answer answer;
        QString message; // empty: no message
        bool accepted;
    };
    const QString question = "\nThis folder does not exist.\n\nDo you want to create it?";
    const std::vector<Case> cases = {
        {"existing folder with slash", base() + "zeta/", MessageBoxes::Answer::No, "", true},
        {"empty", "", MessageBoxes::Answer::No, "", true},
        {"file", base() + "notes.txt", MessageBoxes::Answer::No,
         base() + "notes.txt\nThis is a file not a directory.", false},
        {"missing, No", base() + "a/b/c", MessageBoxes::Answer::No, base() + "a/b/c" + question,
         false},
        {"missing, Yes", base() + "a/b/c/", MessageBoxes::Answer::Yes, base() + "a/b/c" + question,
         true},
        {"under a file", base() + "notes.txt/sub", MessageBoxes::Answer::Yes,
         "You do not have permission\nto create this folder.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        boxes.answers = {c.answer};
        auto picker = openPicker(qs(folder()));
        edit(*picker).setText(c.typed);

        child<QPushButton>(*picker, "openButton").click();

        EXPECT_EQ(boxes.shown.empty() ? QString() : boxes.shown.back().text, c.message);
        EXPECT_EQ(picker->isVisible(), !c.accepted);
        if (c.accepted) {
            EXPECT_EQ(picker->result(), QDialog::Accepted);
        }
    }
    EXPECT_TRUE(fs::is_directory(folder() / "a" / "b" / "c"));
}

TEST_F(FolderPicker, TheListChoosesAndEntersFolders) {
    auto picker = openPicker(qs(folder()));
    auto& list = child<QListView>(*picker, "folderList");
    auto* model = static_cast<QFileSystemModel*>(list.model());
    ASSERT_TRUE(waitUntil([&] { return model->rowCount(list.rootIndex()) == 5; },
                          std::chrono::seconds(10)));
    const QModelIndex zeta = model->index(qs(folder() / "zeta"));

    list.setCurrentIndex(zeta);
    EXPECT_EQ(edit(*picker).text(), base() + "zeta");

    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_EQ(picker->currentFolder(), qs(folder() / "zeta"));
    EXPECT_TRUE(picker->isVisible()) << "Enter in the list enters the folder, nothing more";

    child<QToolButton>(*picker, "upButton").click();
    EXPECT_EQ(picker->currentFolder(), qs(folder()));
}

TEST_F(FolderPicker, OpenReturnsTheFolderWithItsSlash) {
    auto picker = openPicker(qs(folder()));
    edit(*picker).setText(QStringLiteral("zeta"));
    child<QPushButton>(*picker, "openButton").click();
    EXPECT_EQ(picker->folder(), base() + "zeta/");
}

TEST_F(FolderPicker, AReadOnlyPlaceSaysTheMediumMayBeWriteProtected) {
    const fs::path readOnly = folder() / "ro";
    fs::create_directories(readOnly);
    if (::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a read-only tmpfs here (needs root): " << strerror(errno);
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{readOnly};

    const QString message = "You cannot create this folder.\nThe medium may be write-protected.";
    auto picker = openPicker(qs(folder()));
    boxes.answers = {MessageBoxes::Answer::Yes, MessageBoxes::Answer::Yes};
    type(*picker, "ro/new/x", true);
    QTest::keyClick(&edit(*picker), Qt::Key_Return);
    child<QPushButton>(*picker, "openButton").click();

    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_EQ(boxes.shown[1].text, message) << "Enter";
    EXPECT_EQ(boxes.shown[3].text, message) << "Open";
    EXPECT_TRUE(picker->isVisible());
}

} // namespace
