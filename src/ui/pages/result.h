#pragma once

#include "ui/widgets.h"

#include <QWidget>

namespace qiv {

// Page 4, "注册提示": the outcome of a registration and the two links back.
class ResultTab : public QWidget {
    Q_OBJECT
public:
    ResultTab();

    void setResultText(const QString& text);
    const QList<QWidget*>& tabOrder() const { return tabOrder_; }

    TransparentLabel* 透明标签23;
    SeparatorLine* 分隔条7;
    TransparentLabel* 透明标签_申请提示;
    HyperlinkBox* 超级链接框_返回注册;
    HyperlinkBox* 超级链接框_返回登录;
    SeparatorLine* 分隔条5;

private:
    QList<QWidget*> tabOrder_;
};

} // namespace qiv
