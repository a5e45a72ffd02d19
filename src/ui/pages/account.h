#pragma once

#include "ui/widgets.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include <array>

class QStyle;

namespace qiv {

// The six account texts as the account page shows them.
struct AccountTexts {
    QString title;
    QString sendUrl;
    QString email;
    QString regName;
    QString linkTel;
    QString address;
};

// Page 3, "主界面": the account form, its three buttons, the status log and
// the public IP.
class AccountTab : public QWidget {
    Q_OBJECT
public:
    // `passwordStyle` masks the password box with "*".
    explicit AccountTab(QStyle* passwordStyle);

    // The domain link's address (the link shows it).
    void setDomainLink(const QString& address);
    void setValues(const AccountTexts& values);
    AccountTexts values() const;
    void setHideBox(bool ticked);
    bool hideBox() const;
    // The new password; empty keeps the old one.
    QString password() const;
    void clearPassword();
    void setPublicIpText(const QString& text);

    // The status log: a line at the end, kept in view.
    void appendLog(const QString& line);
    void clearLog();

    // The three account buttons (修改, 刷新, 删除此域名): all disabled, and
    // which of them were enabled before; given that back, those again.
    using ButtonStates = std::array<bool, 3>;
    ButtonStates disableButtons();
    void enableButtons(const ButtonStates& wereEnabled);
    void setModifyEnabled(bool enabled);
    void setRefreshEnabled(bool enabled);
    // "删除此域名" disabled and captioned "正在删除" while a deletion runs.
    void setDeleting(bool deleting);

    const QList<QWidget*>& tabOrder() const { return tabOrder_; }

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

private:
    void setupForm(QStyle* passwordStyle);
    void setupContact();
    void setupButtonsAndLog();
    void nameForScreenReaders();
    std::array<QPushButton*, 3> buttons() const;

    QList<QWidget*> tabOrder_;
};

} // namespace qiv
