#include "app/CCollectorApp.h"

#include <QApplication>

#include "app/CCollectorDlg.h"
#include "app/UserPrompts.h"
#include "platform/ProgramFolders.h"

int CCollectorApp::InitInstance() {
    QtUserPrompts prompts;
    SteadyClock clock;
    std::string storePath;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QStringLiteral("--store")) {
            storePath = args[i + 1].toStdString();
        }
    }
    CCollectorDlg dlg(storePath.empty() ? DefaultStorePath() : storePath, prompts, clock);
    // The window may be hidden by F2, so the program ends when it is closed, not when no
    // window is visible.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&dlg, &QDialog::finished, qApp, &QApplication::quit);
    dlg.show();
    return QApplication::exec();
}
