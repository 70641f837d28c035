#pragma once

#include <QLineEdit>

class CDirDialog;

// The folder edit of the folder picker. It follows what is typed: "/" goes to the root, a
// trailing "/" enters an existing folder, a unique subfolder is completed; Enter moves into
// the folder (creating it on request) and never closes the picker; Tab goes to "Open".
class CDirEdit : public QLineEdit {
  public:
    CDirEdit(CDirDialog& dialog, QWidget* parent);

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnEnter();
    void afterEditing(bool completionAllowed);
    void complete();

    CDirDialog& m_dialog;
};
