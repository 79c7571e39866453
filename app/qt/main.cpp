// collector: the window of the collector.

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/qt/CCollectorApp.h"
#include "cli/CliCommands.h"
#include "crawl/CurlFetcher.h"
#include "platform/Memory.h"
#include "store/Store.h"

using namespace crawl;
using namespace store;

int main(int argc, char** argv) {
    // Started by a schedule: the refresh runs without a window (and without a display).
    if (auto code = RunWithoutWindow(std::vector<std::string>(argv + 1, argv + argc))) {
        return *code;
    }
    CurlGlobalInit();
    platform::ReturnLargeBlocksToSystem();
    // The store is read before the arguments lose their passwords: from here on `ps` shows
    // none, for the whole life of the window.
    std::string storePath;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--store") {
            storePath = argv[i + 1];
        }
    }
    HidePasswordsInArguments(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("collector"));
    // The program speaks Simplified Chinese; so do Qt's own dialogs (the save dialog).
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }
    CCollectorApp theApp;
    return theApp.InitInstance(storePath);
}
