// collector: the window of the collector.

#include <QApplication>

#include "app/CCollectorApp.h"
#include "crawl/CurlFetcher.h"

int main(int argc, char** argv) {
    CurlGlobalInit();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("collector"));
    CCollectorApp theApp;
    return theApp.InitInstance();
}
