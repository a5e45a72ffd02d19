#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace qiv {
class RendererWatch;
}
class QWebEngineProfile;
class QWebEngineView;
class QWidget;

// The web views of the advertisement boxes. Their pages come from a remote
// host over plain HTTP, so each page is treated as hostile: it can open no
// window or dialog, is granted no permission, downloads nothing and
// navigates only to http and https addresses. When the renderer ends
// abnormally, the views load their start addresses again, a bounded number
// of times.
namespace qiv {

// Which renderer deaths are answered with a reload: at most kLimit within
// any kWindow. Once one is refused, none is answered again in this run: the
// views stay empty rather than reload a page that keeps killing them. Times
// are offsets on one steady clock.
class RendererDeaths {
public:
    static constexpr int kLimit = 3;
    static constexpr std::chrono::milliseconds kWindow{60'000};

    // Records a death at `now`; true when it is to be answered.
    bool admit(std::chrono::milliseconds now);

private:
    std::deque<std::chrono::milliseconds> answered_;
    bool refused_ = false;
};

class AdViews : public QObject {
    Q_OBJECT
public:
    // Between a renderer's death and the reload: the engine finishes
    // tearing the old process down first.
    static constexpr std::chrono::milliseconds kRecoveryPause{1000};

    // Views of pages from "http://" + host ("host" or "host:port").
    AdViews(std::string host, QObject* parent);

    // Makes `window`, before it is first shown, a window that GPU-drawn
    // children (the views) can draw into. Without it Qt makes the native
    // window anew when the first view arrives: a second map with a new X
    // id, a visible flash, and a window that tools found a moment ago gone.
    static void prepareWindow(QWidget* window);

    // Fills `box` with a web view and starts the page at `path` (taken
    // literally: a backslash is a character of the path). A page that
    // cannot be loaded leaves the box empty instead of showing an error.
    void start(QWidget* box, const QString& path);

    // The view in a box; null while it has none.
    static QWebEngineView* viewIn(const QWidget* box);
    // "http://" + host + path, the path taken literally.
    static QUrl startAddress(const std::string& host, const QString& path);

    QWebEngineProfile* profile() const { return profile_; }
    // Reloads done after renderer deaths so far.
    int recoveries() const { return recoveries_; }

    // Ends the renderer because of what it costs: a death of its own,
    // never answered with a reload at once.
    void endRendererForCost();

signals:
    // Every view has been sent to its start address again.
    void recovered();

private:
    void rendererEnded();
    void recover();

    std::string host_;
    QWebEngineProfile* profile_;
    struct View {
        QWebEngineView* view;
        QUrl start;
    };
    std::vector<View> views_;
    RendererDeaths deaths_;
    // Pending while a death is being answered: the signals of the other
    // views that shared the renderer join it.
    QTimer recovery_;
    int recoveries_ = 0;
    // The renderer's budget, from the first view on.
    RendererWatch* watch_ = nullptr;
};

} // namespace qiv
