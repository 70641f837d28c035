#pragma once

// What the dialog tests share: a recorder in place of the message boxes, a temporary
// registry, log and local folder, bounded waiting, modal-dialog handling and screenshots.

#include <QApplication>
#include <QString>
#include <QWidget>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

#include "support/TestSupport.h"
#include "ui/MessageBoxes.h"

class CProceedDialog;

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

struct ShownMessage {
    QString text;
    QString caption;
    MessageBoxes::Icon icon;
    MessageBoxes::Buttons buttons;
};

class RecordingMessageBoxes : public MessageBoxes {
  public:
    Answer show(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                Buttons buttons) override;

    std::vector<ShownMessage> shown;
    // Answers for Yes/No questions, in order; No once they run out.
    std::deque<Answer> answers;
    // Called with every box before it is answered.
    std::function<void(QWidget* parent, const ShownMessage&)> onShow;
};

class UiTest : public testing::Test {
  protected:
    UiTest();
    ~UiTest() override;

    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path registryKeyPath() const;
    std::string logText() const;

    RecordingMessageBoxes boxes;

  private:
    TempDir m_work;
    std::filesystem::path m_savedDirectory;
    std::filesystem::path m_folder;
};

QString qs(const std::filesystem::path& path);

// Processes events until the condition holds; false when the time ran out first.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Runs the action on the next modal dialog of type T once it is open (within 10 s).
template <class T> void whenModalOpens(std::function<void(T&)> action);
void whenModalOpensImpl(std::function<bool(QWidget&)> tryAction);
template <class T> void whenModalOpens(std::function<void(T&)> action) {
    whenModalOpensImpl([action](QWidget& widget) {
        auto* dialog = dynamic_cast<T*>(&widget);
        if (!dialog)
            return false;
        action(*dialog);
        return true;
    });
}

// Presses Continue and waits for the dialog to end; the dialog's result.
int runProceedDialog(CProceedDialog& dialog);

// Saves the widget's image as <build>/screenshots/<name>.png.
void saveScreenshot(QWidget& widget, const QString& name);
// The real box the program would show for the message, saved like saveScreenshot.
void saveMessageBoxScreenshot(QWidget* parent, const ShownMessage& message, const QString& name);

template <class T> T& child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        throw std::runtime_error(std::string("no child ") + name);
    return *found;
}
