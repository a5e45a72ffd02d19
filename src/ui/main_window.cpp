#include "ui/main_window.h"

#include "ui/accessibility.h"
#include "ui/ad_views.h"
#include "ui/pages/builder.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QProxyStyle>

#include <mutex>

// The icons live in this static library; the linker keeps them only when the
// initialiser is referenced. Q_INIT_RESOURCE must be used outside namespaces.
static void initWindowResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace qiv {
namespace {

constexpr QSize kOuterSize{278, 564};
constexpr QPoint kDesignedPosition{50, 50};

// The default GUI font: WenQuanYi's bitmap face at 12 px has the 12-pixel
// line pitch the two-line labels were laid out for; a slightly tighter
// spacing lets the Latin texts ("HTTP://", "格式：010-123456") fit their boxes.
QFont defaultGuiFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("WenQuanYi Zen Hei Sharp"), QStringLiteral("WenQuanYi Zen Hei"),
                   QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(12);
    f.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
    return f;
}

// The window's own faces are Windows fonts; map them onto the CJK fonts the
// setup installs, and make the default GUI font one that has the Chinese
// glyphs (message boxes use it too).
void installFonts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("WenQuanYi Zen Hei"),
                                                            QStringLiteral("Noto Serif CJK SC"),
                                                            QStringLiteral("Noto Sans CJK SC")});
        QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                                   {QStringLiteral("WenQuanYi Micro Hei"),
                                    QStringLiteral("Noto Sans CJK SC"),
                                    QStringLiteral("WenQuanYi Zen Hei")});
        QApplication::setFont(defaultGuiFont());
    });
}

// The few places where the window differs from the application's style:
// password boxes mask with "*" (Qt takes the mask from the style), and the
// tab headers are narrow enough for all five captions to fit the 272-pixel
// tab control without scroll buttons.
class WindowStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        if (metric == PM_TabBarTabHSpace)
            return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// Keeps the window's outer size (frame included) at its design. The frame is
// known only once the window manager has framed the window; without one the
// client area gets the whole size.
class OuterSizeKeeper : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            fit(static_cast<QWidget*>(watched));
            break;
        default:
            break;
        }
        return false;
    }

private:
    static void fit(QWidget* window)
    {
        const QSize frame = window->frameGeometry().size() - window->geometry().size();
        if (frame.width() < 0 || frame.height() < 0 || frame.width() >= kOuterSize.width() / 2 ||
            frame.height() >= kOuterSize.height() / 2)
            return;
        const QSize client = kOuterSize - frame;
        if (window->size() != client)
            window->setFixedSize(client);
    }
};

} // namespace

MainWindow::MainWindow(Options options) : QWidget(nullptr), options_(std::move(options))
{
    initWindowResources();
    installFonts();
    installAccessibleFactories();
    // This widget took the application font before the line above ran.
    setFont(defaultGuiFont());

    QStyle* windowStyle = buildFrame();
    addPages(windowStyle);
    addAdBoxes();
    选择夹1->setCurrentIndex(0);

    keepTabInTheOrders();
    // The login group loses the focus while it is disabled (during the
    // start-up fetches and a login); it gets it back when enabled again.
    loginPage_->分组框1->installEventFilter(this);
    loginPage_->编辑框_用户名_登录->setFocus();
    if (options_.browserViews)
        AdViews::prepareWindow(this);
}

// The window itself, the top banner and the empty tab control.
QStyle* MainWindow::buildFrame()
{
    setWindowTitle(QStringLiteral("Qiv免费域名转发"));
    // The size is fixed: nothing to maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    QIcon icon;
    for (int size : {48, 32, 24, 16})
        icon.addFile(QStringLiteral(":/icons/qiv-forward-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    setWhiteBackground(this);
    setFixedSize(kOuterSize);
    move(kDesignedPosition);
    installEventFilter(new OuterSizeKeeper(this));

    place(new QWidget(this), NAMED(超文本浏览框1), {-56, -16, 400, 112});
    place(new QTabWidget(this), NAMED(选择夹1), {0, 96, 272, 472});
    setWhiteBackground(选择夹1);
    // A child of the tab control created after its tab bar and page stack, so it
    // is destroyed after every widget that uses it.
    auto* windowStyle = new WindowStyle();
    windowStyle->setParent(选择夹1);
    选择夹1->tabBar()->setStyle(windowStyle);
    return windowStyle;
}

void MainWindow::addPages(QStyle* windowStyle)
{
    选择夹1->addTab(loginPage_ = new LoginTab(windowStyle), QStringLiteral("登 录"));
    选择夹1->addTab(registrationPage_ = new RegistrationTab(windowStyle), QStringLiteral("注 册"));
    选择夹1->addTab(progressPage_ = new ProgressTab(), QStringLiteral("登录跳转"));
    选择夹1->addTab(accountPage_ = new AccountTab(windowStyle), QStringLiteral("主界面"));
    选择夹1->addTab(resultPage_ = new ResultTab(), QStringLiteral("注册提示"));
}

// The advertisement boxes of the pages lie over the page's controls, except
// on the result page, where the last separator and the links stay above.
void MainWindow::addAdBoxes()
{
    place(new QWidget(loginPage_), NAMED(超文本浏览框3), {-64, 176, 416, 256});
    place(new QWidget(registrationPage_), NAMED(超文本浏览框2), {-24, 328, 344, 104});
    place(new QWidget(resultPage_), NAMED(超文本浏览框4), {-37, 240, 360, 176});
    超文本浏览框4->stackUnder(resultPage_->分隔条5);
    for (QWidget* box : {超文本浏览框1, 超文本浏览框2, 超文本浏览框3, 超文本浏览框4})
        box->setAccessibleName(QStringLiteral("广告"));
}

void MainWindow::startBrowserViews()
{
    // No ad host from any source: the views ask nothing of anyone.
    if (!options_.browserViews || adViews_ != nullptr || options_.adHost.empty())
        return;
    // The views live in boxes made before it, so it outlives them.
    adViews_ = new AdViews(options_.adHost, this);
    adViews_->start(超文本浏览框1, QStringLiteral("/\\280.html"));
    adViews_->start(超文本浏览框3, QStringLiteral("/\\270x270.html"));
    adViews_->start(超文本浏览框2, QStringLiteral("/\\250x90.html"));
    adViews_->start(超文本浏览框4, QStringLiteral("/\\199.html"));
}

QWebEngineView* MainWindow::browserView(const QWidget* box)
{
    return AdViews::viewIn(box);
}

const QList<QWidget*>& MainWindow::tabOrder(int page) const
{
    switch (static_cast<Page>(page)) {
    case Page::Login:
        return loginPage_->tabOrder();
    case Page::Registration:
        return registrationPage_->tabOrder();
    case Page::LoginProgress:
        return progressPage_->tabOrder();
    case Page::Account:
        return accountPage_->tabOrder();
    case Page::RegistrationResult:
        break;
    }
    return resultPage_->tabOrder();
}

// Controls outside the Tab orders (buttons, the list, the tab bar) are
// still reached by a click, never by Tab.
void MainWindow::keepTabInTheOrders()
{
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->window() != this)
            continue;
        bool ordered = false;
        for (int page = 0; page < 选择夹1->count(); ++page)
            ordered = ordered || tabOrder(page).contains(w);
        if (!ordered)
            w->setFocusPolicy(Qt::FocusPolicy(w->focusPolicy() & ~Qt::TabFocus));
    }
}

bool MainWindow::focusNextPrevChild(bool next)
{
    const QList<QWidget*>& chain = tabOrder(选择夹1->currentIndex());
    const qsizetype n = chain.size();
    const qsizetype at = chain.indexOf(focusWidget());
    for (qsizetype step = 1; step <= n; ++step) {
        // From outside the order, Tab starts at its first control and
        // Shift+Tab at its last.
        const qsizetype from = at >= 0 ? at : next ? -1 : 0;
        QWidget* w = chain[((from + (next ? step : -step)) % n + n) % n];
        if (w->isEnabled() && w->isVisibleTo(this)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == loginPage_->分组框1 && event->type() == QEvent::EnabledChange &&
        loginPage_->formEnabled() && focusWidget() == nullptr &&
        选择夹1->currentIndex() == static_cast<int>(Page::Login))
        loginPage_->编辑框_用户名_登录->setFocus(Qt::OtherFocusReason);
    return QWidget::eventFilter(watched, event);
}

void showPage(MainWindow& window, Page page)
{
    window.选择夹1->setCurrentIndex(static_cast<int>(page));
}

void showMessage(MainWindow& window, QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, QStringLiteral("岚栖提示："), QString(), QMessageBox::Ok, &window);
    // Set before the text: a text from a reply is never taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.exec();
}

} // namespace qiv
