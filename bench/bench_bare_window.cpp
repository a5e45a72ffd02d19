// The least a Qt program with a browser view does before its window is
// mapped: QApplication, a 278x564 window shown, then one browser view made
// once the window is out. bench_window_first launches it to compare
// qiv-forward's start against it. It stays until it is ended.
// Usage: bench_bare_window

#include <QApplication>
#include <QTimer>
#include <QWebEngineView>
#include <QWidget>

#include <unistd.h>

int main(int argc, char** argv)
{
    // Chromium's sandbox cannot run as root.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bench_bare_window"));
    window.setFixedSize(278, 564);
    window.show();
    QTimer::singleShot(0, &window, [&window] {
        auto* view = new QWebEngineView(&window);
        view->setGeometry(0, 0, 278, 90);
        view->show();
    });
    return app.exec();
}
