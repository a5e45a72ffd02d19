#include "service/controls.h"

#include "net/timed_request.h"
#include "service/program_state.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStandardItemModel>

#include <array>

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

std::array<QWidget*, 3> accountButtons(MainWindow& w)
{
    return {w.按钮_修改资料, w.按钮_刷新资料, w.按钮_删除域名};
}
} // namespace

AccountOperation::AccountOperation(MainWindow& window) : window_(&window)
{
    if (accountOperationRunning)
        return;
    accountOperationRunning = true;
    started_ = true;
    std::array<QWidget*, 3> buttons = accountButtons(window);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        buttonsDisabled_[i] = buttons[i]->isEnabled();
        buttons[i]->setEnabled(false);
    }
}

AccountOperation::~AccountOperation()
{
    if (!started_)
        return;
    accountOperationRunning = false;
    if (!window_)
        return;
    std::array<QWidget*, 3> buttons = accountButtons(*window_);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttonsDisabled_[i])
            buttons[i]->setEnabled(true);
    }
    if (holding_)
        window_->分组框1->setEnabled(true);
}

bool AccountOperation::running()
{
    return accountOperationRunning;
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

void addServiceItems(QComboBox* box, const QStringList& texts, const QList<QByteArray>& bytes)
{
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    if (model == nullptr) {
        box->addItems(texts);
        return;
    }
    // The data is set before the rows go in: one insertion, no change
    // notice per item.
    QList<QStandardItem*> rows;
    rows.reserve(texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        auto* item = new QStandardItem(texts[i]);
        if (i < bytes.size())
            item->setData(bytes[i], kGbkBytesRole);
        rows << item;
    }
    model->invisibleRootItem()->appendRows(rows);
}

Text GbkReader::combo(const QComboBox* box)
{
    int index = box->currentIndex();
    if (index < 0)
        return {};
    QVariant bytes = box->itemData(index, kGbkBytesRole);
    if (bytes.typeId() == QMetaType::QByteArray)
        return bytes.toByteArray().toStdString();
    return (*this)(box->itemText(index));
}

Text GbkReader::box(const QLineEdit* box, const Text& original)
{
    QString text = box->text();
    return text == fromGbk(original) ? original : (*this)(text);
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
