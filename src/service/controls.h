#pragma once

#include "text/text.h"

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>

class QComboBox;
class QLineEdit;

namespace qiv {

class MainWindow;
struct ProgramState;
enum class Page;

// "http://" + service host + "/" + page.
std::string serviceUrl(const ProgramState& state, std::string_view page);
// Posts a form body to a service page; the reply text, empty on any failure.
Text postToService(ProgramState& state, std::string_view page, const Text& body);

// Makes a page of the tab control current.
void showPage(MainWindow& window, Page page);

// A modal box with an OK button and the program's title "岚栖提示：". The
// text is shown as plain text: it may come from a reply.
void showMessage(MainWindow& window, QMessageBox::Icon icon, const QString& text);

// Keeps the account operations (login, refresh, modification, deletion)
// apart. Each waits for the service with the window live, so without this
// a login started inside another's wait would send a second request, and
// the first reply would fill the account page under whatever the login form
// says by then. While one runs another does not start, and the login form
// (the account's name, suffix and password) can be held against edits.
// The account buttons (修改, 刷新, 删除此域名) are disabled meanwhile, so a
// second operation is visibly not to be had.
class AccountOperation {
public:
    explicit AccountOperation(MainWindow& window);
    ~AccountOperation();
    AccountOperation(const AccountOperation&) = delete;
    AccountOperation& operator=(const AccountOperation&) = delete;

    // False when another account operation runs: then do nothing.
    bool started() const { return started_; }
    // Whether an account operation runs now. UI thread only.
    static bool running();
    // Disables the login group until the operation ends, unless something
    // else (the start-up fetches) has it disabled already.
    void holdLoginForm();

private:
    QPointer<MainWindow> window_;
    bool started_ = false;
    bool holding_ = false;
    // The account buttons this operation disabled, to enable again.
    bool buttonsDisabled_[3] = {};
};

// GBK bytes as a widget text.
QString fromGbk(std::string_view text);

// The item data role under which a combo box item from the service keeps the
// bytes it came as: its text may show them only in part (U+FFFD for a byte
// that is not GBK).
inline constexpr int kGbkBytesRole = Qt::UserRole;

// Appends items from the service, each keeping its bytes, in one insertion.
void addServiceItems(QComboBox* box, const QStringList& texts, const QList<QByteArray>& bytes);

// Reads control texts as GBK bytes. A text that GBK cannot represent reads
// as empty and marks the reader as failed, so an operation can refuse to
// send anything altered. Text that came from the service goes back as the
// bytes it came as, whether they are valid GBK or not: only what the user
// typed is checked.
class GbkReader {
public:
    Text operator()(const QString& text);
    // The selected item: its bytes from the service, or else its text;
    // empty when nothing is selected.
    Text combo(const QComboBox* box);
    // A box filled from `original` (service bytes): while it still shows
    // them, those bytes; once edited, its text.
    Text box(const QLineEdit* box, const Text& original);
    bool ok() const { return ok_; }
    // When a text could not be read, shows the stop box and says so: the
    // operation then sends nothing.
    bool refused(MainWindow& window) const;

private:
    bool ok_ = true;
};

} // namespace qiv
