#include "service/register.h"

#include "service/account_operation.h"
#include "service/gbk_reader.h"
#include "service/requests.h"
#include "text/verdicts.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

namespace {

Text registrationBody(const RegistrationForm& f, GbkReader& read)
{
    return formBody({
        {"username", read(f.name)},
        {"domainname", read.choice(f.suffix)},
        {"Password", read(f.password)},
        {"rePassword", read(f.confirmation)},
        {"Title", read(f.title)},
        {"SendUrl", read(f.target)},
        {.key = "State", .value = "1", .raw = true, .present = f.hide},
        {"EmailAdr", read(f.email)},
        {"RegName", read(f.regName)},
        {"LinkTel", read(f.phone)},
        {"Address", read(f.address)},
    });
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
    Text body = registrationBody(page.form(), read);
    if (read.refused(window))
        return;

    QPointer<MainWindow> guard(&window);
    page.setSubmitEnabled(false);
    Text reply = postToService(state, "reg.php", body);
    if (!guard)
        return;

    if (isRegisteredReply(reply))
        showRegistered(window, state);
    else
        window.resultPage()->setResultText(fromGbk(registrationFailureMessage(reply)));
    page.setSubmitEnabled(true);
    showPage(window, Page::RegistrationResult);
}

} // namespace qiv
