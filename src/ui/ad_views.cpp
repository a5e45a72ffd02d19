#include "ui/ad_views.h"

#include "ui/renderer_budget.h"

#include <QApplication>
#include <QAuthenticator>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QQuickWidget>
#include <QWebEngineClientCertificateSelection>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineQuotaRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

#include <signal.h>

#include <algorithm>
#include <utility>

namespace qiv {

namespace {

bool isWebAddress(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

// A page that may show nothing outside its view and ask for nothing.
class ConfinedPage : public QWebEnginePage {
public:
    ConfinedPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent)
    {
        connect(this, &QWebEnginePage::featurePermissionRequested, this,
                [this](const QUrl& origin, Feature feature) {
                    setFeaturePermission(origin, feature, PermissionDeniedByUser);
                });
        connect(this, &QWebEnginePage::fullScreenRequested, this,
                [](QWebEngineFullScreenRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::quotaRequested, this,
                [](QWebEngineQuotaRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
                [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
                [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::selectClientCertificate, this,
                [](QWebEngineClientCertificateSelection selection) { selection.selectNone(); });
        // A null authenticator cancels the request.
        connect(this, &QWebEnginePage::authenticationRequired, this,
                [](const QUrl&, QAuthenticator* authenticator) { *authenticator = {}; });
        connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
                [](const QUrl&, QAuthenticator* authenticator, const QString&) {
                    *authenticator = {};
                });
        // Unhandled, the request fails: the page gets no window of its own.
        // A link the user clicked goes to the desktop's browser instead.
        connect(this, &QWebEnginePage::newWindowRequested, this,
                [](QWebEngineNewWindowRequest& request) {
                    if (request.isUserInitiated() && isWebAddress(request.requestedUrl()))
                        QDesktopServices::openUrl(request.requestedUrl());
                });
    }

protected:
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override
    {
        return {};
    }
    void javaScriptAlert(const QUrl&, const QString&) override {}
    // The engine asks whether to leave a page with a beforeunload handler
    // through this call too, with its own fixed question: the page is left.
    // A page's own confirm() is answered as if dismissed.
    bool javaScriptConfirm(const QUrl&, const QString& message) override
    {
        return message == QCoreApplication::translate(
                              "QWebEnginePage", "Are you sure you want to leave this page? Changes "
                                                "that you made may not be saved.");
    }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override
    {
        return false;
    }
    // A page's console is no business of the program's output.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override
    {}
    // The empty documents of frames (about:blank, about:srcdoc) load
    // nothing from anywhere; every other address must be a web one.
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        return isWebAddress(url) || (!isMainFrame && url.scheme() == QLatin1String("about"));
    }
};

// Keeps the widgets of a web view out of the focus and closed to drops, and
// keeps any window the engine opens over a view (the colour chooser, a
// message box) off the screen and closes it unanswered. The engine makes its
// render widget, the view's focus proxy, only once a page is on its way, and
// anew after its renderer ended: every widget that appears inside the view
// is watched too.
class Confinement : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ChildAdded:
        case QEvent::ChildPolished: {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (event->type() == QEvent::ChildAdded && child->isWidgetType()) {
                // A window is known as one from its construction on, before
                // it can be shown.
                auto* widget = static_cast<QWidget*>(child);
                if (isOwnWindow(widget))
                    widget->setAttribute(Qt::WA_DontShowOnScreen);
                child->installEventFilter(this);
            }
            keepOut(static_cast<QWidget*>(parent()));
            break;
        }
        case QEvent::Show:
            if (watched != parent()) {
                auto* widget = static_cast<QWidget*>(watched);
                if (isOwnWindow(widget))
                    QMetaObject::invokeMethod(
                        widget,
                        [widget] {
                            if (auto* dialog = qobject_cast<QDialog*>(widget))
                                dialog->reject();
                            else
                                widget->close();
                        },
                        Qt::QueuedConnection);
                else
                    keepOut(static_cast<QWidget*>(parent()));
            }
            break;
        // Whatever brought it, a drag ends here, before the page.
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop:
            event->ignore();
            return true;
        default:
            break;
        }
        return false;
    }

    // A popup (a <select> list) is left alone: only a click in the view
    // opens one, and the next click elsewhere closes it.
    static bool isOwnWindow(const QWidget* widget)
    {
        return widget->isWindow() && widget->windowType() != Qt::Popup &&
               widget->windowType() != Qt::ToolTip;
    }

    static void keepOut(QWidget* view)
    {
        const auto close = [](QWidget* widget) {
            widget->setFocusPolicy(Qt::NoFocus);
            widget->setAcceptDrops(false);
        };
        close(view);
        for (QWidget* child : view->findChildren<QWidget*>())
            close(child);
        if (view->focusProxy() != nullptr)
            close(view->focusProxy());
    }
};

QWebEngineProfile* makeProfile(QObject* parent)
{
    // Without a storage name the profile is off the record: cookies, cache
    // and storage stay in memory and end with the run.
    auto* profile = new QWebEngineProfile(parent);
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->setSpellCheckEnabled(false);
    // Nothing reaches the disk: a download is refused before it is given
    // a file.
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile,
                     [](QWebEngineDownloadRequest* download) { download->cancel(); });

    QWebEngineSettings* s = profile->settings();
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    s->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    s->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::AllowGeolocationOnInsecureOrigins, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    s->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    return profile;
}

bool focusGoingBack = false;

// Marks the views of AdViews: the focus may change while a window and its
// views are destroyed, so a widget is known as inside a view from its own
// ancestors, which are alive while it is.
constexpr char kViewMark[] = "qivAdView";

// The one steady clock of the deaths' bound.
std::chrono::milliseconds sinceStart()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return std::chrono::milliseconds(clock.elapsed());
}

} // namespace

std::optional<std::chrono::milliseconds> RendererDeaths::admit(std::chrono::milliseconds now,
                                                               Cause cause)
{
    if (refused_ || answered_ >= kMost) {
        // A page that kills its renderer this often would do it again.
        refused_ = true;
        return std::nullopt;
    }
    while (!burst_.empty() && now - burst_.front() >= kWindow)
        burst_.pop_front();
    std::chrono::milliseconds pause = cause == Cause::Cost ? kCostPause : kRecoveryPause;
    if (burst_.size() >= static_cast<size_t>(kBurst)) {
        pause = std::max(pause, longPauses_ == 0 ? kFirstLongPause : kLongPause);
        ++longPauses_;
        // After the pause a page gets a burst again.
        burst_.clear();
    }
    burst_.push_back(now);
    ++answered_;
    return pause;
}

AdViews::AdViews(std::string host, QObject* parent)
    : QObject(parent), host_(std::move(host)), profile_(makeProfile(this))
{
    recovery_.setSingleShot(true);
    connect(&recovery_, &QTimer::timeout, this, &AdViews::recover);
    // The engine gives its render widget the focus when a page asks for it
    // and when a new renderer starts: the focus goes back where it was.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (now == nullptr)
            return;
        if (!holds(now)) {
            outside_ = now;
            return;
        }
        QWidget* back = old != nullptr && !holds(old) ? old : outside_.data();
        focusGoingBack = true;
        if (back != nullptr)
            back->setFocus(Qt::OtherFocusReason);
        else
            now->clearFocus();
        focusGoingBack = false;
    });
}

bool AdViews::holds(const QWidget* widget)
{
    for (; widget != nullptr; widget = widget->parentWidget())
        if (widget->property(kViewMark).toBool())
            return true;
    return false;
}

bool AdViews::givingFocusBack()
{
    return focusGoingBack;
}

void AdViews::prepareWindow(QWidget* window)
{
    // Qt decides how a top-level window is drawn when it creates it, from
    // the children it has then: a hidden Qt Quick widget (what a web view is
    // built on) is enough, and costs nothing while hidden.
    auto* marker = new QQuickWidget(window);
    marker->setGeometry(0, 0, 1, 1);
    marker->hide();
}

QUrl AdViews::startAddress(const std::string& host, const QString& path)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setAuthority(QString::fromStdString(host));
    url.setPath(path, QUrl::DecodedMode);
    return url;
}

void AdViews::start(QWidget* box, const QString& path)
{
    if (window_ == nullptr) {
        window_ = box->window();
        window_->installEventFilter(this);
    }
    auto* view = new QWebEngineView(box);
    view->setProperty(kViewMark, true);
    view->setGeometry(box->rect());
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->installEventFilter(new Confinement(view));
    Confinement::keepOut(view);
    auto* page = new ConfinedPage(profile_, view);
    // Muted again whenever a document starts, in case a new renderer
    // forgot it.
    page->setAudioMuted(true);
    connect(page, &QWebEnginePage::loadStarted, page, [page] { page->setAudioMuted(true); });
    connect(page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    rendererEnded();
            });
    view->setPage(page);
    view->show();
    if (watch_ == nullptr)
        watch_ =
            new RendererWatch([this] { return views_.front().view->page()->renderProcessPid(); },
                              [this] { endRendererForCost(); }, this);
    const QUrl url = startAddress(host_, path);
    views_.push_back({view, url});
    view->load(url);
}

QWebEngineView* AdViews::viewIn(const QWidget* box)
{
    return box->findChild<QWebEngineView*>(QString(), Qt::FindDirectChildrenOnly);
}

void AdViews::endRendererForCost()
{
    if (views_.empty())
        return;
    const qint64 pid = views_.front().view->page()->renderProcessPid();
    if (pid <= 0)
        return;
    costDeath_ = true;
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

void AdViews::rendererEnded()
{
    const RendererDeaths::Cause cause = std::exchange(costDeath_, false)
                                            ? RendererDeaths::Cause::Cost
                                            : RendererDeaths::Cause::Crash;
    // The other views of the same renderer report the same death.
    if (recovery_.isActive() || refused_)
        return;
    const std::optional<std::chrono::milliseconds> pause = deaths_.admit(sinceStart(), cause);
    if (!pause) {
        // Until the next start the boxes show their own background.
        refused_ = true;
        for (const View& v : views_)
            v.view->hide();
        return;
    }
    recovery_.start(*pause);
}

void AdViews::recover()
{
    if (frozen_) {
        reloadWhenShown_ = true;
        return;
    }
    reloadWhenShown_ = false;
    for (const View& v : views_)
        v.view->load(v.start);
    ++recoveries_;
    emit recovered();
}

bool AdViews::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_ && (event->type() == QEvent::WindowStateChange ||
                               event->type() == QEvent::Hide || event->type() == QEvent::Show))
        // Once the window has handled it: it hides and shows the views.
        QMetaObject::invokeMethod(this, &AdViews::followWindow, Qt::QueuedConnection);
    return false;
}

void AdViews::followWindow()
{
    const bool unseen = window_->isMinimized() || !window_->isVisible();
    if (unseen && !frozen_)
        freeze();
    else if (!unseen && frozen_)
        thaw();
}

void AdViews::freeze()
{
    frozen_ = true;
    // Only a page that is not shown can be frozen.
    for (const View& v : views_) {
        QWebEnginePage* page = v.view->page();
        page->setVisible(false);
        page->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
    }
}

void AdViews::thaw()
{
    frozen_ = false;
    for (const View& v : views_) {
        QWebEnginePage* page = v.view->page();
        // A page the engine discarded meanwhile to free its memory loads
        // again on the way.
        page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
        page->setVisible(v.view->isVisible());
    }
    if (reloadWhenShown_)
        recover();
}

} // namespace qiv
