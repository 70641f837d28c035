#include "ui/DirDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QToolButton>

#include "ui/DirEdit.h"
#include "ui/MessageBoxes.h"
#include "ui/TextFitting.h"

namespace {

const QString kTitle = QStringLiteral("Select Folder");

QString withTrailingSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

CDirDialog::CDirDialog(const QString& initialFolder, QWidget* parent)
    : QDialog(parent), m_folder(initialFolder), m_currentFolder(QDir::currentPath()) {
    setWindowTitle(kTitle);
    setObjectName(QStringLiteral("dirDialog"));
    buildControls();
    limitToScreen(*this);
    startIn(initialFolder);
}

void CDirDialog::buildControls() {
    auto* layout = new QGridLayout(this);

    layout->addWidget(new QLabel(QStringLiteral("Look in:"), this), 0, 0);
    m_lookIn = new QLabel(this);
    m_lookIn->setObjectName(QStringLiteral("lookIn"));
    m_lookIn->setTextFormat(Qt::PlainText);
    layout->addWidget(m_lookIn, 0, 1);
    m_upButton = new QToolButton(this);
    m_upButton->setObjectName(QStringLiteral("upButton"));
    m_upButton->setText(QStringLiteral("Up"));
    m_upButton->setToolTip(QStringLiteral("Up one level"));
    connect(m_upButton, &QToolButton::clicked, this, [this] { goToFolder(QStringLiteral("..")); });
    layout->addWidget(m_upButton, 0, 2);

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("folderList"));
    m_list->setModel(m_model);
    m_list->setMinimumSize(420, 220);
    m_list->installEventFilter(this);
    connect(m_list, &QListView::doubleClicked, this,
            [this](const QModelIndex& index) { goToFolder(m_model->filePath(index)); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    m_edit->setText(m_model->filePath(current));
            });
    layout->addWidget(m_list, 1, 0, 1, 3);

    layout->addWidget(new QLabel(QStringLiteral("Folder:"), this), 2, 0);
    m_edit = new CDirEdit(*this, this);
    m_edit->setObjectName(QStringLiteral("folderEdit"));
    layout->addWidget(m_edit, 2, 1);
    m_openButton = new QPushButton(QStringLiteral("Open"), this);
    m_openButton->setObjectName(QStringLiteral("openButton"));
    m_openButton->setDefault(true);
    connect(m_openButton, &QPushButton::clicked, this, [this] { OnOpen(); });
    layout->addWidget(m_openButton, 2, 2);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAutoDefault(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(m_cancelButton, 3, 2);
    layout->setColumnStretch(1, 1);

    setTabOrder(m_edit, m_openButton);
    setTabOrder(m_openButton, m_cancelButton);
}

void CDirDialog::startIn(const QString& initialFolder) {
    // A folder that does not exist yet: show the nearest level that does, and keep the typed
    // folder in the edit so that "Open" can offer to create it.
    const QString target = resolve(initialFolder);
    QString existing = target;
    while (!QFileInfo(existing).isDir() && existing != QLatin1String("/"))
        existing = QFileInfo(existing).path();
    enterFolder(existing);
    if (existing != target)
        m_edit->setText(initialFolder);
}

QString CDirDialog::resolve(const QString& typed) const {
    if (typed.isEmpty())
        return m_currentFolder;
    QString path = typed;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    return QDir::cleanPath(QDir(m_currentFolder).absoluteFilePath(path));
}

bool CDirDialog::goToFolder(const QString& typed) {
    if (typed.isEmpty())
        return false;
    const QString target = resolve(typed);
    if (!QFileInfo(target).isDir())
        return false;
    enterFolder(target);
    return true;
}

void CDirDialog::enterFolder(const QString& absolute) {
    m_currentFolder = absolute;
    m_list->setRootIndex(m_model->setRootPath(absolute));
    m_list->setCurrentIndex(QModelIndex());
    setElidedText(*m_lookIn, absolute, lineWidthLimit(*this));
    m_upButton->setEnabled(absolute != QLatin1String("/"));
    m_folder = withTrailingSlash(absolute);
    m_edit->setText(m_folder);
    m_edit->setCursorPosition(static_cast<int>(m_folder.size()));
    m_edit->setFocus();
}

bool CDirDialog::createAfterAsking(const QString& typed, CreationRequest request) {
    const auto answer = messageBoxes().show(
        this, typed + QStringLiteral("\nThis folder does not exist.\n\nDo you want to create it?"),
        kTitle, MessageBoxes::Icon::None, MessageBoxes::Buttons::YesNo);
    if (answer != MessageBoxes::Answer::Yes)
        return false;
    const std::filesystem::path folder = resolve(typed).toStdString();
    if (const std::error_code error = createFolderPath(folder)) {
        showMessage(creationFailureMessage(folder, error, request));
        return false;
    }
    return true;
}

void CDirDialog::OnOpen() {
    QString typed = m_edit->text();
    if (typed.isEmpty() || typed == QLatin1String("/")) {
        acceptFolder(typed);
        return;
    }
    if (typed.endsWith(QLatin1Char('/')))
        typed.chop(1);
    const QFileInfo target(resolve(typed));
    if (!target.exists()) {
        if (createAfterAsking(typed, CreationRequest::OpenButton))
            acceptFolder(typed);
        else
            m_edit->setFocus();
    } else if (!target.isDir()) {
        showMessage(typed + QStringLiteral("\nThis is a file not a directory."));
        m_edit->setFocus();
    } else {
        acceptFolder(typed);
    }
}

void CDirDialog::acceptFolder(const QString& typed) {
    goToFolder(typed);
    accept();
}

void CDirDialog::showMessage(const QString& text) {
    messageBoxes().show(this, text, kTitle, MessageBoxes::Icon::None, MessageBoxes::Buttons::Ok);
}

void CDirDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Showing the dialog focuses the edit as if by Tab, which selects all of it; the caret
    // belongs at the end of the folder instead, so that typing goes on from there.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_edit->deselect();
            m_edit->end(false);
        },
        Qt::QueuedConnection);
}

bool CDirDialog::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the list enters the folder; it must not reach "Open" as well.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            const QModelIndex current = m_list->currentIndex();
            if (current.isValid())
                goToFolder(m_model->filePath(current));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
