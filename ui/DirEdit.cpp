#include "ui/DirEdit.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>

#include "ui/DirDialog.h"
#include "ui/FolderCompletion.h"

CDirEdit::CDirEdit(CDirDialog& dialog, QWidget* parent) : QLineEdit(parent), m_dialog(dialog) {}

bool CDirEdit::event(QEvent* event) {
    // Seen before the focus chain would take the Tab away.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
            m_dialog.openButton()->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CDirEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnEnter();
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        QLineEdit::keyPressEvent(event);
        afterEditing(false);
        return;
    default:
        QLineEdit::keyPressEvent(event);
        if (!event->text().isEmpty() && event->text().front().isPrint())
            afterEditing(true);
        return;
    }
}

void CDirEdit::afterEditing(bool completionAllowed) {
    const QString typed = text();
    if (typed.endsWith(QLatin1Char('/')))
        m_dialog.goToFolder(typed);
    else if (completionAllowed && cursorPosition() == typed.size())
        complete();
}

void CDirEdit::complete() {
    const QString typed = text();
    const QString folderPart = typed.left(typed.lastIndexOf(QLatin1Char('/')) + 1);
    const auto completion = completeFolderName(typed, m_dialog.resolve(folderPart));
    if (!completion)
        return;
    setText(completion->text);
    setSelection(static_cast<int>(completion->selectionStart),
                 static_cast<int>(completion->selectionLength));
}

void CDirEdit::OnEnter() {
    QString typed = text();
    if (typed != QLatin1String("/") && typed.endsWith(QLatin1Char('/')))
        typed.chop(1);
    if (!typed.isEmpty()) {
        const QFileInfo target(m_dialog.resolve(typed));
        if (!target.exists() && !m_dialog.createAfterAsking(typed, CreationRequest::EnterKey))
            return;
        // Entering the folder shows it with a trailing "/"; a file name stays as typed.
        m_dialog.goToFolder(typed);
    }
    setFocus();
}
