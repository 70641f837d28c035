#include "ui/MessageBoxes.h"

#include <QMessageBox>

namespace {

QMessageBox::Icon qtIcon(MessageBoxes::Icon icon) {
    switch (icon) {
    case MessageBoxes::Icon::Information:
        return QMessageBox::Information;
    case MessageBoxes::Icon::Exclamation:
        return QMessageBox::Warning;
    case MessageBoxes::Icon::Question:
        return QMessageBox::Question;
    case MessageBoxes::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

class RealMessageBoxes : public MessageBoxes {
  public:
    Answer show(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                Buttons buttons) override {
        auto box = makeMessageBox(parent, text, caption, icon, buttons);
        const int pressed = box->exec();
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
};

RealMessageBoxes realBoxes;
MessageBoxes* installed = nullptr;

} // namespace

MessageBoxes& messageBoxes() {
    return installed ? *installed : realBoxes;
}

void setMessageBoxes(MessageBoxes* boxes) {
    installed = boxes;
}

std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const QString& text,
                                            const QString& caption, MessageBoxes::Icon icon,
                                            MessageBoxes::Buttons buttons) {
    const auto standardButtons = buttons == MessageBoxes::Buttons::Ok
                                     ? QMessageBox::StandardButtons(QMessageBox::Ok)
                                     : QMessageBox::Yes | QMessageBox::No;
    auto box = std::make_unique<QMessageBox>(qtIcon(icon), caption, text, standardButtons, parent);
    // The window system would be handed the program's name in place of an empty title.
    if (caption.isEmpty())
        box->setWindowTitle(QStringLiteral(" "));
    // Plain text: a folder name may hold characters that rich text would interpret.
    box->setTextFormat(Qt::PlainText);
    return box;
}
