#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

class QWebEngineProfile;
class QWebEngineView;
class QWidget;

// The web views of the advertisement boxes. Their pages come from a remote
// host over plain HTTP, so each page is treated as hostile: it can open no
// window or dialog, is granted no permission, downloads nothing and
// navigates only to http and https addresses. When the renderer ends
// abnormally, the views load their start addresses again, a bounded number
// of times. No view takes the keyboard focus or a drop, every page is
// muted, and the pages are frozen while the window is minimised or hidden.
namespace qiv {

class RendererWatch;

// How renderer deaths are answered. Up to kBurst deaths within kWindow are
// answered after kRecoveryPause; the next death of such a burst waits
// kFirstLongPause, every later one kLongPause, and a new burst may follow
// each of them. At most kMost deaths are answered in a run; after that the
// views stay empty. A death the program caused because the renderer cost
// too much (Cause::Cost) waits at least kCostPause: the page would do the
// same again at once. Times are offsets on one steady clock.
class RendererDeaths {
public:
    enum class Cause { Crash, Cost };

    static constexpr int kBurst = 3;
    static constexpr std::chrono::milliseconds kWindow{60'000};
    // The engine finishes tearing the old process down first.
    static constexpr std::chrono::milliseconds kRecoveryPause{1000};
    static constexpr std::chrono::milliseconds kFirstLongPause{10 * 60'000};
    static constexpr std::chrono::milliseconds kLongPause{60 * 60'000};
    static constexpr std::chrono::milliseconds kCostPause{120'000};
    static constexpr int kMost = 10;

    // Records a death at `now`: the pause before the views load again, or
    // nothing when it is not answered.
    std::optional<std::chrono::milliseconds> admit(std::chrono::milliseconds now, Cause cause);

private:
    std::deque<std::chrono::milliseconds> burst_;
    int answered_ = 0;
    int longPauses_ = 0;
    bool refused_ = false;
};

class AdViews : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRecoveryPause = RendererDeaths::kRecoveryPause;

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
    // Ends the renderer of the views because it costs too much: the death
    // is answered only after a pause (RendererDeaths::Cause::Cost).
    void endRendererForCost();

    // Reloads done after renderer deaths so far.
    int recoveries() const { return recoveries_; }

    // True while the focus is being given back from a view to the widget
    // that had it: to that widget it never left, as far as the user can
    // tell (a box that selects its text on focus keeps it as it was).
    static bool givingFocusBack();

    // Whether the pages are frozen: the window is minimised or hidden.
    bool frozen() const { return frozen_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // Every view has been sent to its start address again.
    void recovered();

private:
    // Whether `widget` is a view or inside one.
    static bool holds(const QWidget* widget);
    void rendererEnded();
    void recover();
    void followWindow();
    void freeze();
    void thaw();

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
    // The next death is one endRendererForCost caused.
    bool costDeath_ = false;
    // The window whose state the pages follow.
    QWidget* window_ = nullptr;
    bool frozen_ = false;
    // Refused a death: the views stay hidden.
    bool refused_ = false;
    // The widget that last had the focus outside the views.
    QPointer<QWidget> outside_;
    // A reload came due while frozen: it is done when the window is shown.
    bool reloadWhenShown_ = false;
};

} // namespace qiv
