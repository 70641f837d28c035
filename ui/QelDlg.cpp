#include "ui/QelDlg.h"

#include <algorithm>

#include <QAction>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <unistd.h>

#include "common/StringTable.h"
#include "engine/OperationTypes.h"
#include "engine/RecoveryFiles.h"
#include "platform/Registry.h"
#include "ui/AboutDialog.h"
#include "ui/AppIcon.h"
#include "ui/DecimalText.h"
#include "ui/DirDialog.h"
#include "ui/MessageBoxes.h"
#include "ui/ProceedDialog.h"

namespace {

const QString kDebugLevelEntry = QStringLiteral("Debug Level");
// Hidden like the debug level: Log Files, this text as the folder and the number as the host.
const QString kFilesAtOnceEntry = QStringLiteral("Files At Once");

QString text(int id) {
    return QString::fromStdString(LoadString(id));
}

bool changeDirectory(const QString& folder) {
    return !folder.isEmpty() && ::chdir(folder.toStdString().c_str()) == 0;
}

} // namespace

CQelDlg::CQelDlg(QWidget* parent) : QDialog(parent) {
    // A system menu and a close box, but no minimise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Velmora Backup/Restore Utility"));
    setObjectName(QStringLiteral("mainDialog"));
    buildControls();
    OnInitDialog();
}

void CQelDlg::buildControls() {
    auto* layout = new QGridLayout(this);

    layout->addWidget(new QLabel(QStringLiteral("Operation:"), this), 0, 0, 1, 2);
    m_operationGroup = new QButtonGroup(this);
    auto* radios = new QHBoxLayout;
    const char* names[] = {"backupRadio", "restoreRadio", "logFilesRadio"};
    const char* labels[] = {"Backup", "Restore", "Log Files"};
    for (int id = Backup; id <= LogFiles; ++id) {
        auto* radio = new QRadioButton(QString::fromLatin1(labels[id]), this);
        radio->setObjectName(QString::fromLatin1(names[id]));
        m_operationGroup->addButton(radio, id);
        radios->addWidget(radio);
    }
    radios->addStretch();
    layout->addLayout(radios, 1, 0, 1, 2);

    layout->addWidget(new QLabel(QStringLiteral("Local Folder:"), this), 2, 0, 1, 2);
    m_folderEdit = new QLineEdit(this);
    m_folderEdit->setObjectName(QStringLiteral("folderEdit"));
    m_folderEdit->setMinimumWidth(280);
    layout->addWidget(m_folderEdit, 3, 0);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    layout->addWidget(browse, 3, 1);

    layout->addWidget(new QLabel(QStringLiteral("Velmora hostname or IP address:"), this), 4, 0, 1,
                      2);
    m_hostEdit = new QLineEdit(this);
    m_hostEdit->setObjectName(QStringLiteral("hostEdit"));
    layout->addWidget(m_hostEdit, 5, 0);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &CQelDlg::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(m_okButton);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 6, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CQelDlg::OnInitDialog() {
    // The window manager owns the system menu; the About entry lives in the context menu and
    // on F1 instead.
    const QString aboutText = text(IDS_ABOUTBOX);
    if (!aboutText.isEmpty()) {
        auto* about = new QAction(aboutText, this);
        about->setObjectName(QStringLiteral("aboutAction"));
        about->setShortcut(QKeySequence(Qt::Key_F1));
        connect(about, &QAction::triggered, this, [this] { OnAbout(); });
        addAction(about);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    setWindowIcon(appIcon());

    m_operation = Backup;
    m_debugLevel = 0;
    prefillFromRecoveryFile();
    showMembers();
}

void CQelDlg::prefillFromRecoveryFile() {
    registry::Key key;
    if (!key.create(kRegistryKey))
        return;
    std::optional<std::string> folder;
    if (key.queryValueSize(kRegistryValue))
        folder = key.queryStringValue(kRegistryValue);
    key.close();
    if (!folder || !changeDirectory(QString::fromStdString(*folder)))
        return;

    // A damaged file still gives what could be read before the damage; the operation only
    // when all the fields before the file list were read.
    const RecoveryHeaderFields fields = readRecoveryHeaderFields(kRecoveryFileName);
    if (fields.hostRead)
        m_host = QString::fromStdString(fields.header.host);
    if (!fields.folderRead)
        return;
    m_localFolder = QString::fromStdString(fields.header.folder);
    // The file holds the operation plus one; 0 (never marked) selects nothing.
    m_operation = fields.header.code > 0 ? fields.header.code - 1 : -1;
}

void CQelDlg::accept() {
    OnOK();
}

void CQelDlg::OnOK() {
    readControls();
    if (isDebugLevelEntry())
        setDebugLevel();
    else if (isFilesAtOnceEntry())
        setFilesAtOnce();
    else if (changeDirectory(m_localFolder))
        runOperation();
    else
        reportMissingFolder();
}

bool CQelDlg::isDebugLevelEntry() const {
    return m_operation == LogFiles && m_localFolder == kDebugLevelEntry;
}

void CQelDlg::setDebugLevel() {
    m_debugLevel = strToInt(m_host);
    messageBoxes().show(this, text(IDS_DEBUG_LEVEL_SET) + QString::number(m_debugLevel),
                        QStringLiteral("Debug Level"), MessageBoxes::Icon::Information,
                        MessageBoxes::Buttons::Ok);
}

bool CQelDlg::isFilesAtOnceEntry() const {
    return m_operation == LogFiles && m_localFolder == kFilesAtOnceEntry;
}

// Out of range, the number is brought to the nearest that the engine takes.
void CQelDlg::setFilesAtOnce() {
    m_filesAtOnce = std::clamp(strToInt(m_host), 1, static_cast<int>(kMaxFilesAtOnce));
    messageBoxes().show(
        this, QStringLiteral("Files moved at once set to ") + QString::number(m_filesAtOnce),
        kFilesAtOnceEntry, MessageBoxes::Icon::Information, MessageBoxes::Buttons::Ok);
}

void CQelDlg::runOperation() {
    CProceedDialog progress(this);
    progress.setOperationParameters(m_operation, m_localFolder, m_host, m_debugLevel);
    progress.setFilesAtOnce(m_filesAtOnce);
    if (progress.exec() == QDialog::Accepted)
        QDialog::accept();
}

void CQelDlg::reportMissingFolder() {
    messageBoxes().show(this, text(IDS_FOLDER) + m_localFolder + text(IDS_FOLDER_DOES_NOT_EXIST),
                        text(IDS_FOLDER_NOT_FOUND), MessageBoxes::Icon::Exclamation,
                        MessageBoxes::Buttons::Ok);
}

void CQelDlg::OnBrowse() {
    readControls();
    CDirDialog picker(m_localFolder, this);
    if (picker.exec() != QDialog::Accepted)
        return;
    QString chosen = picker.folder();
    // The root keeps its "/": without it the folder would be empty.
    if (chosen.size() > 1 && chosen.endsWith(QLatin1Char('/')))
        chosen.chop(1);
    m_localFolder = chosen;
    showMembers();
}

void CQelDlg::OnAbout() {
    CAboutDialog about(this);
    about.exec();
}

void CQelDlg::readControls() {
    m_operation = m_operationGroup->checkedId();
    m_host = m_hostEdit->text();
    m_localFolder = m_folderEdit->text();
}

void CQelDlg::showMembers() {
    if (QAbstractButton* radio = m_operationGroup->button(m_operation)) {
        radio->setChecked(true);
    } else {
        // An exclusive group cannot be emptied directly.
        m_operationGroup->setExclusive(false);
        for (QAbstractButton* button : m_operationGroup->buttons())
            button->setChecked(false);
        m_operationGroup->setExclusive(true);
    }
    m_hostEdit->setText(m_host);
    m_folderEdit->setText(m_localFolder);
}
