#pragma once

#include "ui/service_items.h"
#include "ui/widgets.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

class QStyle;

namespace qiv {

// The registration form as one value, the texts as typed.
struct RegistrationForm {
    QString name;
    ServiceChoice suffix;
    QString password;
    QString confirmation;
    QString title;
    QString target;
    bool hide = false;
    QString email;
    QString regName;
    QString phone;
    QString address;
};

// Page 1, "注 册": the registration form with the availability check.
class RegistrationTab : public QWidget {
    Q_OBJECT
public:
    // `passwordStyle` masks the password boxes with "*".
    explicit RegistrationTab(QStyle* passwordStyle);

    RegistrationForm form() const;
    // "检查域名" disabled and captioned "查询中" while a check runs.
    void setChecking(bool checking);
    // The availability answer beside the button.
    void setAvailability(const QString& text, const QColor& colour);
    void setSubmitEnabled(bool enabled);
    // Back to the empty form: every box and the availability answer
    // cleared, the first suffix selected, the hide box unticked.
    void clearForm();
    // The forwarding address box (the public IP is offered there).
    void setTarget(const QString& text);
    void addSuffixes(const QStringList& texts, const QList<QByteArray>& bytes);
    void selectFirstSuffix();

    const QList<QWidget*>& tabOrder() const { return tabOrder_; }

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

private:
    void setupDomain(QStyle* passwordStyle);
    void setupSite();
    void setupRegistrant();
    void nameForScreenReaders();

    QList<QWidget*> tabOrder_;
};

} // namespace qiv
