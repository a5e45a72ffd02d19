#include "service/account_page.h"

#include "service/background.h"
#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "text/account_forms.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

void fillAccountPage(MainWindow& window, ProgramState& state, std::string_view page)
{
    fillAccountPage(window, state, cutAccountPage(page));
}

void fillAccountPage(MainWindow& window, ProgramState& state, const AccountPage& cut)
{
    AccountTab& account = *window.accountPage();
    // The link is the login form's account, not the reply's.
    const LoginForm login = window.loginPage()->form();
    account.setDomainLink(QStringLiteral("http://") + login.name + QChar('.') + login.suffix.text);
    window.registrationPage()->setTarget(fromGbk(state.lastPublicIp.get()));

    AccountSnapshot& snapshot = state.accountSnapshot;
    snapshot = cut.values;
    account.setValues({fromGbk(snapshot.Title), fromGbk(snapshot.SendUrl),
                       fromGbk(snapshot.EmailAdr), fromGbk(snapshot.RegName),
                       fromGbk(snapshot.LinkTel), fromGbk(snapshot.Address)});
    account.setHideBox(hideBoxTicked(cut.state));

    QPointer<MainWindow> guard(&window);
    fetchPublicIp(window, state);
    if (guard)
        showPage(window, Page::Account);
}

} // namespace qiv
