#pragma once

#include <QPushButton>
#include <QWidget>

namespace qiv {

// Page 2, "登录跳转": shown while a login request runs. The button is a
// notice: nothing is bound to it.
class ProgressTab : public QWidget {
    Q_OBJECT
public:
    ProgressTab();

    const QList<QWidget*>& tabOrder() const { return tabOrder_; }

    QPushButton* 按钮3;

private:
    QList<QWidget*> tabOrder_;
};

} // namespace qiv
