#include <QApplication>

#include "engine/oplog/ToolVersion.h"
#include "ui/AppIcon.h"
#include "ui/QelApp.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("k7_qel"));
    QApplication::setApplicationVersion(QString::fromLatin1(vlmFTPClient::kToolVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("k7_qel"));
    QApplication::setWindowIcon(appIcon());

    CQelApp app;
    app.InitInstance();
    return 0;
}
