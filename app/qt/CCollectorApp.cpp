#include "app/qt/CCollectorApp.h"

#include <QApplication>

#include "app/qt/CCollectorDlg.h"
#include "app/qt/UserPrompts.h"

using namespace crawl;
using namespace store;

int CCollectorApp::InitInstance(const std::string& storePath) {
    QtUserPrompts prompts;
    SteadyClock clock;
    bool printState = false;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--store") && i + 1 < args.size()) {
            ++i;  // read before Qt started, with its password
        } else if (args[i] == QStringLiteral("--print-state")) {
            printState = true;
        }
    }
    const WindowModel::StoreChoice store = WindowModel::ChooseStore(storePath);
    CCollectorDlg dlg(store.path, prompts, clock, {}, nullptr, store.notice);
    dlg.PrintStateLines(printState);
    if (printState) {
        dlg.Render(dlg.Model().State());  // the first line, before any input
    }
    // The window may be hidden by F2, so the program ends when it is closed, not when no
    // window is visible.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&dlg, &QDialog::finished, qApp, &QApplication::quit);
    dlg.show();
    return QApplication::exec();
}
