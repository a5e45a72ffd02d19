#include "service/controls.h"

#include "net/timed_request.h"
#include "service/program_state.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QComboBox>

namespace qiv {

std::string serviceUrl(const ProgramState& state, std::string_view page)
{
    std::string url = "http://" + state.hosts.service;
    url += '/';
    url += page;
    return url;
}

Text postToService(ProgramState& state, std::string_view page, const Text& body)
{
    return timedRequest(state.network, serviceUrl(state, page), "POST", {}, {}, body);
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

namespace {
// UI thread only.
bool accountOperationRunning = false;
} // namespace

AccountOperation::AccountOperation(MainWindow& window) : window_(&window)
{
    if (accountOperationRunning)
        return;
    accountOperationRunning = true;
    started_ = true;
}

AccountOperation::~AccountOperation()
{
    if (!started_)
        return;
    accountOperationRunning = false;
    if (holding_ && window_)
        window_->分组框1->setEnabled(true);
}

void AccountOperation::holdLoginForm()
{
    if (!started_ || holding_ || !window_ || !window_->分组框1->isEnabled())
        return;
    holding_ = true;
    window_->分组框1->setEnabled(false);
}

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

Text GbkReader::combo(const QComboBox* box)
{
    int index = box->currentIndex();
    return index < 0 ? Text() : (*this)(box->itemText(index));
}

// The stop box an operation shows instead of sending text that GBK cannot
// hold.
static void showUnsupportedInput(MainWindow& window)
{
    showMessage(window, QMessageBox::Critical,
                QStringLiteral("输入内容含有不支持的字符,请修改后重试"));
}

bool GbkReader::refused(MainWindow& window) const
{
    if (ok_)
        return false;
    showUnsupportedInput(window);
    return true;
}

} // namespace qiv
