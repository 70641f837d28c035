#include "ui/TextFitting.h"

#include <QFontMetrics>
#include <QLabel>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

constexpr int kLineCharacters = 60;

} // namespace

int lineWidthLimit(const QWidget& widget) {
    const int characters = widget.fontMetrics().averageCharWidth() * kLineCharacters;
    const QScreen* screen = widget.screen();
    return screen ? std::min(characters, screen->availableGeometry().width() / 2) : characters;
}

void setElidedText(QLabel& label, const QString& text, int width) {
    const QString shown = label.fontMetrics().elidedText(text, Qt::ElideMiddle, width);
    label.setText(shown);
    label.setToolTip(shown == text ? QString() : text);
}

void limitToScreen(QWidget& window) {
    if (const QScreen* screen = window.screen())
        window.setMaximumSize(screen->availableGeometry().size());
}
