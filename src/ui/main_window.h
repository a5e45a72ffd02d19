#pragma once

#include "config/hosts.h"
#include "ui/pages/account.h"
#include "ui/pages/login.h"
#include "ui/pages/progress.h"
#include "ui/pages/registration.h"
#include "ui/pages/result.h"

#include <QMessageBox>
#include <QTabWidget>
#include <QWidget>

#include <string>

class QWebEngineView;

namespace qiv {

class AdViews;

// The five pages of the tab control 选择夹1, by their index.
enum class Page { Login = 0, Registration, LoginProgress, Account, RegistrationResult };

// The program's one window: an advertisement banner over a tab control with
// five pages. A view without behaviour: each page owns its controls (members
// are named in Chinese by kind, purpose and page, as 编辑框_用户密码_修改资料,
// each also the widget's objectName that tests and accessibility tools find
// it by) and offers what the operations read and write; the window holds the frame,
// the pages and the four advertisement boxes.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    struct Options {
        // Web views in the four advertisement boxes, made by
        // startBrowserViews. Without them each box stays an empty container.
        bool browserViews = true;
        // Where the advertisement pages come from, "host" or "host:port".
        std::string adHost = config::builtInHosts().ad;
    };

    explicit MainWindow(Options options);
    MainWindow() : MainWindow(Options{}) {}

    // Fills each advertisement box with a confined web view (see AdViews)
    // and starts its page. Meant
    // for once the window is on the screen: the window does not wait for the
    // browser engine. Without browserViews, and on a second call, nothing.
    void startBrowserViews();
    // The web view in an advertisement box; null while it has none.
    static QWebEngineView* browserView(const QWidget* box);

    LoginTab* loginPage() const { return loginPage_; }
    RegistrationTab* registrationPage() const { return registrationPage_; }
    ProgressTab* progressPage() const { return progressPage_; }
    AccountTab* accountPage() const { return accountPage_; }
    ResultTab* resultPage() const { return resultPage_; }

    // The frame. 超文本浏览框1 is the banner; 2 to 4 lie on their pages
    // (registration, login, result).
    QWidget* 超文本浏览框1;
    QTabWidget* 选择夹1;
    QWidget* 超文本浏览框2;
    QWidget* 超文本浏览框3;
    QWidget* 超文本浏览框4;

protected:
    // Tab and Shift+Tab go round the current page's Tab order only.
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Returns the window's own style for the password boxes.
    QStyle* buildFrame();
    void addPages(QStyle* windowStyle);
    void addAdBoxes();
    const QList<QWidget*>& tabOrder(int page) const;
    void keepTabInTheOrders();

    Options options_;
    LoginTab* loginPage_ = nullptr;
    RegistrationTab* registrationPage_ = nullptr;
    ProgressTab* progressPage_ = nullptr;
    AccountTab* accountPage_ = nullptr;
    ResultTab* resultPage_ = nullptr;
    AdViews* adViews_ = nullptr;
};

// Makes a page of the tab control current.
void showPage(MainWindow& window, Page page);

// A modal box with an OK button and the program's title "岚栖提示：". The
// text is shown as plain text: it may come from a reply.
void showMessage(MainWindow& window, QMessageBox::Icon icon, const QString& text);

} // namespace qiv
