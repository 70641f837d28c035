#pragma once

#include <QDialog>

// The About box of the main dialog.
class CAboutDialog : public QDialog {
  public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};
