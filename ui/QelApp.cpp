#include "ui/QelApp.h"

#include "ui/QelDlg.h"

bool CQelApp::InitInstance() {
    CQelDlg dialog;
    dialog.exec();
    return false;
}
