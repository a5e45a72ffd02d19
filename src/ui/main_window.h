#pragma once

#include "config/hosts.h"
#include "ui/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <initializer_list>
#include <string>

class QStyle;
class QWebEngineView;

namespace qiv {

class AdViews;

// The five pages of the tab control 选择夹1, by their index.
enum class Page { Login = 0, Registration, LoginProgress, Account, RegistrationResult };

// The program's one window: an advertisement banner over a tab control with
// five pages and their controls. A view without behaviour: the operations
// read and change the controls through the members below, which carry the
// system's own control names (each is also the widget's objectName).
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

    // Top level.
    QWidget* 超文本浏览框1;
    QTabWidget* 选择夹1;

    // Page 0, login.
    TransparentLabel* 透明标签_申请个数;
    CaptionGroupBox* 分组框1;
    QLineEdit* 编辑框_用户名_登录;
    TransparentLabel* 透明标签2;
    QComboBox* 组合框1;
    TransparentLabel* 透明标签1;
    QLineEdit* 编辑框_密码_登录;
    TransparentLabel* 透明标签3;
    QPushButton* 按钮1;
    QPushButton* 按钮_登录;
    QPushButton* 按钮_取消;
    QWidget* 超文本浏览框3;

    // Page 1, registration.
    TransparentLabel* 透明标签5;
    SeparatorLine* 分隔条3;
    QPushButton* 按钮_检查域名_注册;
    TransparentLabel* 透明标签4;
    TransparentLabel* 透明标签_检查域名;
    QLineEdit* 编辑框_用户名_注册;
    TransparentLabel* 透明标签7;
    QComboBox* 组合框2;
    TransparentLabel* 透明标签6;
    QLineEdit* 编辑框_密码_注册;
    TransparentLabel* 透明标签35;
    TransparentLabel* 透明标签8;
    QLineEdit* 编辑框_确认密码_注册;
    TransparentLabel* 透明标签9;
    TransparentLabel* 透明标签38;
    QLineEdit* 编辑框_主页名称_注册;
    TransparentLabel* 透明标签10;
    QLineEdit* 编辑框_转向地址_注册;
    TransparentLabel* 透明标签11;
    QCheckBox* 选择框_隐藏_注册;
    TransparentLabel* 透明标签39;
    SeparatorLine* 分隔条1;
    TransparentLabel* 透明标签13;
    QLineEdit* 编辑框_邮箱_注册;
    TransparentLabel* 透明标签12;
    QLineEdit* 编辑框_姓名_注册;
    TransparentLabel* 透明标签36;
    TransparentLabel* 透明标签14;
    QLineEdit* 编辑框_电话_注册;
    TransparentLabel* 透明标签37;
    TransparentLabel* 透明标签15;
    QLineEdit* 编辑框_联系地址_注册;
    TransparentLabel* 透明标签16;
    SeparatorLine* 分隔条2;
    QPushButton* 按钮_返回登录;
    QPushButton* 按钮_注册;
    QWidget* 超文本浏览框2;

    // Page 2, login progress.
    QPushButton* 按钮3;

    // Page 3, account.
    TransparentLabel* 透明标签18;
    SeparatorLine* 分隔条6;
    HyperlinkBox* 超级链接框_域名地址;
    TransparentLabel* 透明标签19;
    QLineEdit* 编辑框_用户密码_修改资料;
    TransparentLabel* 透明标签22;
    TransparentLabel* 透明标签20;
    QLineEdit* 编辑框_主页名称_修改资料;
    TransparentLabel* 透明标签21;
    QLineEdit* 编辑框_转向地址_修改资料;
    TransparentLabel* 透明标签24;
    QCheckBox* 选择框2;
    TransparentLabel* 透明标签30;
    QLineEdit* 编辑框_邮箱_修改资料;
    TransparentLabel* 透明标签25;
    QLineEdit* 编辑框_姓名_修改资料;
    TransparentLabel* 透明标签26;
    TransparentLabel* 透明标签28;
    QLineEdit* 编辑框_电话_修改资料;
    TransparentLabel* 透明标签27;
    TransparentLabel* 透明标签29;
    QLineEdit* 编辑框_联系地址_修改资料;
    TransparentLabel* 透明标签31;
    TransparentLabel* 透明标签32;
    TransparentLabel* 透明标签33;
    SeparatorLine* 分隔条4;
    QPushButton* 按钮_删除域名;
    QPushButton* 按钮_刷新资料;
    QPushButton* 按钮_修改资料;
    QListWidget* 列表框1;
    TransparentLabel* 透明标签_公网IP;

    // Page 4, registration result.
    TransparentLabel* 透明标签23;
    SeparatorLine* 分隔条7;
    TransparentLabel* 透明标签_申请提示;
    HyperlinkBox* 超级链接框_返回注册;
    HyperlinkBox* 超级链接框_返回登录;
    QWidget* 超文本浏览框4;
    SeparatorLine* 分隔条5;

protected:
    // Tab and Shift+Tab go round the current page's Tab order only.
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One builder per part of the window; each creates its controls in the
    // order they lie over each other (later ones on top). The frame builder
    // returns the window's own style for the password boxes.
    QStyle* buildFrame();
    void buildLoginPage(QWidget* page, QStyle* windowStyle);
    void buildRegistrationPage(QWidget* page, QStyle* windowStyle);
    void buildLoginProgressPage(QWidget* page);
    void buildAccountPage(QWidget* page, QStyle* windowStyle);
    void buildRegistrationResultPage(QWidget* page);
    void nameForScreenReaders();
    // A page's Tab order; every other control is left out of tabbing.
    void chainTabOrder(Page page, std::initializer_list<QWidget*> order);
    void keepTabInTheOrders();

    Options options_;
    QList<QWidget*> tabOrders_[5];
    AdViews* adViews_ = nullptr;
};

} // namespace qiv
