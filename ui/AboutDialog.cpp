#include "ui/AboutDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/oplog/ToolVersion.h"
#include "ui/AppIcon.h"

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Velmora Backup/Restore Utility"));
    setObjectName(QStringLiteral("aboutDialog"));

    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);

    auto* version = new QLabel(
        QStringLiteral("Version : ") + QString::fromLatin1(vlmFTPClient::kToolVersion), this);
    auto* purpose = new QLabel(
        QStringLiteral("Backs up, restores and collects the log files of a Velmora server."), this);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(purpose);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(texts, 1);
    top->addWidget(ok, 0, Qt::AlignTop);
    setLayout(top);
}
