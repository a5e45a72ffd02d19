// qiv_screenshots OUTDIR: shows the real window, waits (bounded) for the four
// advertisement boxes, and writes OUTDIR/page-N.png for each of the five
// pages. Meant to run under Xvfb (scripts/screenshots).
#include "app/app.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QWebEngineView>

#include <cstdio>

namespace {

constexpr int kLoadBoundMs = 20000;
// Chromium paints a view that was just made visible on its own schedule;
// there is no signal for "painted", so each page gets this long to settle.
constexpr int kSettleMs = 800;

} // namespace

int main(int argc, char** argv)
{
    // The program's own browser flags: the sandbox unless root. The views are
    // made here, not by qiv-forward's start-up: as root they show the local
    // service's pages without the sandbox, as qiv-forward does with
    // --ads-without-sandbox, for the pictures need them.
    qiv::prepareBrowserEngine();
    QApplication app(argc, argv);
    const QString outDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "qiv_screenshots: cannot create %s\n", qPrintable(outDir));
        return 1;
    }

    qiv::MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window, 10000)) {
        std::fprintf(stderr, "qiv_screenshots: the window was not shown\n");
        return 1;
    }
    window.startBrowserViews();
    int pending = 0;
    for (QWidget* box :
         {window.超文本浏览框1, window.超文本浏览框2, window.超文本浏览框3, window.超文本浏览框4}) {
        if (QWebEngineView* view = qiv::MainWindow::browserView(box)) {
            ++pending;
            QObject::connect(
                view, &QWebEngineView::loadFinished, view, [&pending, box, view](bool ok) {
                    --pending;
                    std::fprintf(stderr, "qiv_screenshots: %s %s %s\n",
                                 qPrintable(box->objectName()), qPrintable(view->url().toString()),
                                 ok ? "loaded" : "failed");
                });
        }
    }
    if (!QTest::qWaitFor([&] { return pending <= 0; }, kLoadBoundMs))
        std::fprintf(stderr, "qiv_screenshots: %d advertisement box(es) still loading\n", pending);

    for (int page = 0; page < window.选择夹1->count(); ++page) {
        window.选择夹1->setCurrentIndex(page);
        QTest::qWait(kSettleMs);
        const QString file = QDir(outDir).filePath(QStringLiteral("page-%1.png").arg(page));
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "qiv_screenshots: cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
