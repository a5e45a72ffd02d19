#include "ui/ad_views.h"

#include "ui/renderer_budget.h"

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

// Keeps the widgets of a web view out of the focus, and keeps any window
// the engine opens over a view (the colour chooser, a message box) off the
// screen and closes it unanswered. The engine makes its render widget, the
// view's focus proxy, only once a page is on its way.
class Confinement : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (event->type() == QEvent::ChildAdded && child->isWidgetType()) {
                // A window is known as one from its construction on, before
                // it can be shown.
                auto* widget = static_cast<QWidget*>(child);
                if (isOwnWindow(widget))
                    widget->setAttribute(Qt::WA_DontShowOnScreen);
                child->installEventFilter(this);
            }
            if (watched == parent())
                keepOut(static_cast<QWidget*>(watched));
        } else if (event->type() == QEvent::Show && watched != parent()) {
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
        view->setFocusPolicy(Qt::NoFocus);
        for (QWidget* child : view->findChildren<QWidget*>())
            child->setFocusPolicy(Qt::NoFocus);
        if (view->focusProxy() != nullptr)
            view->focusProxy()->setFocusPolicy(Qt::NoFocus);
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

bool RendererDeaths::admit(std::chrono::milliseconds now)
{
    if (refused_)
        return false;
    while (!answered_.empty() && now - answered_.front() >= kWindow)
        answered_.pop_front();
    if (answered_.size() >= static_cast<size_t>(kLimit)) {
        // A page that kills its renderer this often would do it again.
        refused_ = true;
        return false;
    }
    answered_.push_back(now);
    return true;
}

AdViews::AdViews(std::string host, QObject* parent)
    : QObject(parent), host_(std::move(host)), profile_(makeProfile(this))
{
    recovery_.setSingleShot(true);
    recovery_.setInterval(kRecoveryPause);
    connect(&recovery_, &QTimer::timeout, this, &AdViews::recover);
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
    auto* view = new QWebEngineView(box);
    view->setGeometry(box->rect());
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->installEventFilter(new Confinement(view));
    Confinement::keepOut(view);
    auto* page = new ConfinedPage(profile_, view);
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

void AdViews::rendererEnded()
{
    // The other views of the same renderer report the same death.
    if (recovery_.isActive())
        return;
    if (deaths_.admit(sinceStart()))
        recovery_.start();
}

void AdViews::endRendererForCost()
{
    const qint64 pid = views_.empty() ? 0 : views_.front().view->page()->renderProcessPid();
    if (pid > 0)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

void AdViews::recover()
{
    for (const View& v : views_)
        v.view->load(v.start);
    ++recoveries_;
    emit recovered();
}

} // namespace qiv
