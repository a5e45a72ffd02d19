#include "service/gbk_reader.h"

#include "text/gbk.h"
#include "ui/main_window.h"

namespace qiv {

QString fromGbk(std::string_view text)
{
    return QString::fromStdString(gbkToUtf8(text));
}

Text GbkReader::operator()(const QString& text)
{
    std::optional<std::string> bytes = utf8ToGbk(text.toStdString());
    if (!bytes) {
        ok_ = false;
        return {};
    }
    return *bytes;
}

Text GbkReader::choice(const ServiceChoice& item)
{
    if (item.index < 0)
        return {};
    if (item.bytes)
        return item.bytes->toStdString();
    return (*this)(item.text);
}

Text GbkReader::box(const QString& text, const Text& original)
{
    return text == fromGbk(original) ? original : (*this)(text);
}

bool GbkReader::refused(MainWindow& window) const
{
    if (ok_)
        return false;
    // Instead of sending text that GBK cannot hold.
    showMessage(window, QMessageBox::Critical,
                QStringLiteral("输入内容含有不支持的字符,请修改后重试"));
    return true;
}

} // namespace qiv
