#pragma once

#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

// Every message box of the dialogs goes through here, so that tests can answer them.
class MessageBoxes {
  public:
    enum class Icon { None, Information, Exclamation, Question };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;
    virtual Answer show(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                        Buttons buttons) = 0;
};

// The boxes in use: real ones unless a test has installed its own (nullptr restores them).
MessageBoxes& messageBoxes();
void setMessageBoxes(MessageBoxes* boxes);

// The box the program shows, unopened.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const QString& text,
                                            const QString& caption, MessageBoxes::Icon icon,
                                            MessageBoxes::Buttons buttons);
