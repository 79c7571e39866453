// collector: the window of the collector.

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/qt/CCollectorApp.h"
#include "crawl/CurlFetcher.h"
#include "platform/Memory.h"

int main(int argc, char** argv) {
    CurlGlobalInit();
    platform::ReturnLargeBlocksToSystem();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("collector"));
    // The program speaks Simplified Chinese; so do Qt's own dialogs (the save dialog).
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }
    CCollectorApp theApp;
    return theApp.InitInstance();
}
