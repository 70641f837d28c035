#pragma once

#include <QDialog>
#include <QString>

class QButtonGroup;
class QLineEdit;
class QPushButton;

// The program's main window: operation, local folder and host; OK runs the operation in the
// progress dialog, Cancel ends the program.
class CQelDlg : public QDialog {
  public:
    explicit CQelDlg(QWidget* parent = nullptr);

    int operation() const { return m_operation; }
    const QString& localFolder() const { return m_localFolder; }
    const QString& host() const { return m_host; }
    int debugLevel() const { return m_debugLevel; }
    int filesAtOnce() const { return m_filesAtOnce; }

  protected:
    void accept() override;

  private:
    void buildControls();
    void OnInitDialog();
    void prefillFromRecoveryFile();
    void OnOK();
    void OnBrowse();
    void OnAbout();
    bool isDebugLevelEntry() const;
    void setDebugLevel();
    bool isFilesAtOnceEntry() const;
    void setFilesAtOnce();
    void runOperation();
    void reportMissingFolder();
    // Data exchange between the members and the controls.
    void readControls();
    void showMembers();

    QButtonGroup* m_operationGroup = nullptr;
    QLineEdit* m_folderEdit = nullptr;
    QLineEdit* m_hostEdit = nullptr;
    QPushButton* m_okButton = nullptr;

    int m_operation = -1;
    QString m_host;
    QString m_localFolder;
    int m_debugLevel = 0;
    int m_filesAtOnce = 1;
};
