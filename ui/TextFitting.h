#pragma once

#include <QString>

class QLabel;
class QWidget;

// The widest a single line of text may make a dialog: about sixty characters of the
// widget's font, and never more than half the width of its screen.
int lineWidthLimit(const QWidget& widget);

// Shows the text in the label shortened in the middle to at most `width` pixels; a shortened
// text leaves the whole one in the label's tooltip.
void setElidedText(QLabel& label, const QString& text, int width);

// Keeps a resizable window inside the free area of its screen.
void limitToScreen(QWidget& window);
