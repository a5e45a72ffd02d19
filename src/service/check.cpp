#include "service/check.h"

#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "ui/main_window.h"

#include <QPointer>

namespace qiv {

void checkAvailability(MainWindow& window, ProgramState& state)
{
    RegistrationTab& page = *window.registrationPage();
    GbkReader read;
    Text name = read(page.form().name);
    if (read.refused(window))
        return;
    if (name.empty()) {
        showMessage(window, QMessageBox::Warning, QStringLiteral("请填写注册域名完整"));
        return;
    }
    // Counted in GBK bytes: one Chinese character is long enough.
    if (textLength(name) < 2) {
        showMessage(window, QMessageBox::Critical,
                    QStringLiteral("您申请的域名长度必须大于2个字符!"));
        return;
    }
    Text suffix = read.choice(page.form().suffix);
    if (read.refused(window))
        return;

    QPointer<MainWindow> guard(&window);
    page.setChecking(true);

    const client::NameCheck check = client::checkName(serviceConnection(state), name, suffix);
    if (!guard)
        return;

    if (check == client::NameCheck::Free)
        page.setAvailability(QStringLiteral("该域名可以注册！"), QColor(0, 136, 255));
    else
        page.setAvailability(QStringLiteral("对不起,该域名已被注册！"), QColor(255, 0, 0));
    page.setChecking(false);
}

} // namespace qiv
