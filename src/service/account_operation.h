#pragma once

#include "ui/pages/account.h"

#include <QPointer>

// Nothing here waits on the network.
namespace qiv {

class MainWindow;
struct ProgramState;

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
    AccountOperation(MainWindow& window, ProgramState& state);
    ~AccountOperation();
    AccountOperation(const AccountOperation&) = delete;
    AccountOperation& operator=(const AccountOperation&) = delete;

    // False when another account operation runs: then do nothing.
    bool started() const { return started_; }
    // Whether an account operation runs now. UI thread only.
    static bool running(const ProgramState& state);
    // Disables the login group until the operation ends, unless something
    // else (the start-up fetches) has it disabled already.
    void holdLoginForm();

private:
    QPointer<MainWindow> window_;
    ProgramState& state_;
    bool started_ = false;
    bool holding_ = false;
    // The account buttons this operation disabled, to enable again.
    AccountTab::ButtonStates buttonsDisabled_{};
};

} // namespace qiv
