#include "service/register.h"

#include "service/account_operation.h"
#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

namespace {

client::Registration registration(const RegistrationForm& f, GbkReader& read)
{
    return {.name = read(f.name),
            .suffix = read.choice(f.suffix),
            .password = read(f.password),
            .confirmation = read(f.confirmation),
            .title = read(f.title),
            .target = read(f.target),
            .hide = f.hide,
            .email = read(f.email),
            .regName = read(f.regName),
            .phone = read(f.phone),
            .address = read(f.address)};
}

// The success: the login form takes the new account, the result text shows
// it, and the registration form is emptied.
void showRegistered(MainWindow& window, const ProgramState& state)
{
    RegistrationTab& page = *window.registrationPage();
    // An account operation that waits now, and the next delete, take the
    // account from the login form: it is not rewritten under them. The
    // result text below still shows the new name and password.
    const bool carryOver = !AccountOperation::running(state);
    // Read again after the reply: the text shows the form as it stands.
    const RegistrationForm f = page.form();
    if (carryOver)
        window.loginPage()->takeAccount(f.name, f.suffix.index);
    window.resultPage()->setResultText(
        QStringLiteral("您的域名已注册成功：\r\n  http://") + f.name + QChar('.') + f.suffix.text +
        QStringLiteral("\r\n您的转向地址是：\r\n  ") + f.target + QStringLiteral("\r\n您的密码：") +
        f.password + QStringLiteral("(请牢记)"));
    page.clearForm();
    if (carryOver)
        window.loginPage()->clearPassword();
}

} // namespace

void registerDomain(MainWindow& window, ProgramState& state)
{
    RegistrationTab& page = *window.registrationPage();
    GbkReader read;
    const client::Registration form = registration(page.form(), read);
    if (read.refused(window))
        return;

    QPointer<MainWindow> guard(&window);
    page.setSubmitEnabled(false);
    const client::RegistrationResult result =
        client::registerDomain(serviceConnection(state), form);
    if (!guard)
        return;

    if (result.registered)
        showRegistered(window, state);
    else
        window.resultPage()->setResultText(fromGbk(result.failure));
    page.setSubmitEnabled(true);
    showPage(window, Page::RegistrationResult);
}

} // namespace qiv
