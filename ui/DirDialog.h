#pragma once

#include <QDialog>
#include <QString>

#include "ui/FolderCreation.h"

class CDirEdit;
class QFileSystemModel;
class QLabel;
class QListView;
class QPushButton;
class QToolButton;

// "Select Folder": a folder chooser with a list of folders only, a folder edit that follows
// what is typed, and an "Open" button that checks the folder, offers to create a missing one
// and closes the picker.
class CDirDialog : public QDialog {
  public:
    CDirDialog(const QString& initialFolder, QWidget* parent = nullptr);

    // The chosen folder, ending in "/"; before the picker has changed folder, the initial one.
    const QString& folder() const { return m_folder; }
    const QString& currentFolder() const { return m_currentFolder; }
    QPushButton* openButton() const { return m_openButton; }

    // A typed path as an absolute one: relative paths start at the current folder.
    QString resolve(const QString& typed) const;
    // Enters the typed folder when it exists; otherwise nothing changes.
    bool goToFolder(const QString& typed);
    // Asks whether to create the missing folder and creates it; reports a failure.
    bool createAfterAsking(const QString& typed, CreationRequest request);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildControls();
    void startIn(const QString& initialFolder);
    void enterFolder(const QString& absolute);
    void OnOpen();
    void acceptFolder(const QString& typed);
    void showMessage(const QString& text);

    QFileSystemModel* m_model = nullptr;
    QLabel* m_lookIn = nullptr;
    QToolButton* m_upButton = nullptr;
    QListView* m_list = nullptr;
    CDirEdit* m_edit = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_cancelButton = nullptr;

    QString m_folder;
    QString m_currentFolder;
};
