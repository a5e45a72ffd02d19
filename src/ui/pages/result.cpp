#include "ui/pages/result.h"

#include "ui/pages/builder.h"

namespace qiv {

// The links lie inside the result text's area and stay above it; the
// window's advertisement box goes in under the separator 分隔条5.
ResultTab::ResultTab()
{
    QWidget* p = this;
    setWhiteBackground(this);
    styledLabel(p, NAMED(透明标签23), {8, 8, 216, 32}, "申请域名", faceFont("宋体", 20, true),
                QColor(0, 0, 255));
    separator(p, NAMED(分隔条7), 8, 37, 256);
    label(p, NAMED(透明标签_申请提示), {8, 50, 248, 202}, "")->setWordWrap(true);
    link(p, NAMED(超级链接框_返回注册), {48, 216, 48, 16}, "返回注册", qRgb(0, 0, 255),
         qRgb(128, 0, 0), qRgb(0, 0, 255));
    link(p, NAMED(超级链接框_返回登录), {152, 216, 48, 16}, "返回登录", qRgb(0, 0, 255),
         qRgb(0, 0, 255), qRgb(0, 0, 255));
    separator(p, NAMED(分隔条5), 8, 264, 256);
    超级链接框_返回注册->raise();
    超级链接框_返回登录->raise();
}

void ResultTab::setResultText(const QString& text)
{
    透明标签_申请提示->setText(text);
}

} // namespace qiv
