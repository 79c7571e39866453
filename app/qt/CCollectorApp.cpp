#include "app/qt/CCollectorApp.h"

#include <unistd.h>

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <iostream>

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
    // One window per store and user: a window already open on this store is brought to the
    // front instead (other users, and other machines on a shared store, are never refused).
    const QString instance = QStringLiteral("collector-%1-%2")
                                 .arg(getuid())
                                 .arg(QString::fromStdString(WindowModel::StoreKey(store.path)));
    auto showRunning = [&] {
        QLocalSocket running;
        running.connectToServer(instance);
        if (!running.waitForConnected(1000)) {
            return false;
        }
        running.write("show\n");
        running.waitForBytesWritten(1000);
        running.disconnectFromServer();
        if (printState) {
            std::cout << "instance: the window open on this store was shown" << std::endl;
        }
        return true;
    };
    if (showRunning()) {
        return 0;
    }
    QLocalServer server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server.listen(instance)) {
        // Another start got there first, or a window that did not end cleanly left its name.
        if (showRunning()) {
            return 0;
        }
        QLocalServer::removeServer(instance);
        server.listen(instance);
    }
    CCollectorDlg dlg(store.path, prompts, clock, {}, nullptr, store.notice);
    QObject::connect(&server, &QLocalServer::newConnection, &dlg, [&server, &dlg] {
        while (QLocalSocket* other = server.nextPendingConnection()) {
            QObject::connect(other, &QLocalSocket::disconnected, other, &QObject::deleteLater);
            dlg.Model().ShowAgain();
        }
    });
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
