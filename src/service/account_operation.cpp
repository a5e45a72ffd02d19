#include "service/account_operation.h"

#include "service/program_state.h"
#include "ui/main_window.h"

namespace qiv {

AccountOperation::AccountOperation(MainWindow& window, ProgramState& state)
    : window_(&window), state_(state)
{
    if (state_.accountOperationRunning)
        return;
    state_.accountOperationRunning = true;
    started_ = true;
    buttonsDisabled_ = window.accountPage()->disableButtons();
}

AccountOperation::~AccountOperation()
{
    if (!started_)
        return;
    state_.accountOperationRunning = false;
    if (!window_)
        return;
    window_->accountPage()->enableButtons(buttonsDisabled_);
    if (holding_)
        window_->loginPage()->setFormEnabled(true);
}

bool AccountOperation::running(const ProgramState& state)
{
    return state.accountOperationRunning;
}

void AccountOperation::holdLoginForm()
{
    if (!started_ || holding_ || !window_ || !window_->loginPage()->formEnabled())
        return;
    holding_ = true;
    window_->loginPage()->setFormEnabled(false);
}

} // namespace qiv
