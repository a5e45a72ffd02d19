#pragma once

#include "ui/service_items.h"
#include "ui/widgets.h"

#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

class QStyle;

namespace qiv {

// The login form as one value: the name and password as typed, the suffix
// as picked (with its bytes from the service).
struct LoginForm {
    QString name;
    ServiceChoice suffix;
    QString password;
};

// Page 0, "登 录": the user count and the login group 分组框1 with the nine
// login controls. The login group is written only through this page.
class LoginTab : public QWidget {
    Q_OBJECT
public:
    // `passwordStyle` masks the password box with "*".
    explicit LoginTab(QStyle* passwordStyle);

    LoginForm form() const;
    // The login group's caption, in a colour or in the one it has.
    void setCaption(const QString& text, const QColor& colour);
    void setCaption(const QString& text);
    // Disabled, no login control accepts input, "退 出" included.
    void setFormEnabled(bool enabled);
    // The login group's tooltip, as plain text; empty removes it.
    void setGroupToolTip(const QString& text);
    bool formEnabled() const;
    void setUserCount(const QString& text);
    void addSuffixes(const QStringList& texts, const QList<QByteArray>& bytes);
    void selectFirstSuffix();
    // A new account from the registration: its name and suffix (by index in
    // the same suffix list), with an empty password.
    void takeAccount(const QString& name, int suffixIndex);
    void clearPassword();

    const QList<QWidget*>& tabOrder() const { return tabOrder_; }

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

private:
    void setupGroup(QStyle* passwordStyle);
    void nameForScreenReaders();

    QList<QWidget*> tabOrder_;
};

} // namespace qiv
