#include "app/CCollectorApp.h"

#include <QApplication>

#include "app/CCollectorDlg.h"
#include "app/UserPrompts.h"
#include "store/ModuleDirectory.h"

int CCollectorApp::InitInstance() {
    QtUserPrompts prompts;
    SteadyClock clock;
    CCollectorDlg dlg(DefaultStorePath(), prompts, clock);
    // The window may be hidden by F2, so the program ends when it is closed, not when no
    // window is visible.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&dlg, &QDialog::finished, qApp, &QApplication::quit);
    dlg.show();
    return QApplication::exec();
}
