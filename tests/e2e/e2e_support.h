#pragma once

// Shared by the end-to-end tests: qiv-devserver as a child process, the
// accounts it keeps in its SQLite file, and typing as a user does.
#include "devserver/account_store.h"
#include "devserver_child.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

namespace qiv::e2e {

// The binary on loopback, its accounts in a file of a temporary directory.
class DevServerProcess {
public:
    struct Ports {
        int service = 0;
        int ip = 0;
        int ads = 0;
    };

    // Starts it on the given addresses (port 0: any free port) and waits for
    // its "listening" line. Empty on success, otherwise why not.
    QString start(const QString& service = QStringLiteral("127.0.0.1:0"),
                  const QString& ip = QStringLiteral("127.0.0.2:0"),
                  const QString& ads = QStringLiteral("127.0.0.3:0"),
                  const std::vector<std::string>& extraArgs = {})
    {
        if (!dir_.isValid())
            return QStringLiteral("no temporary directory");
        dbPath_ = dir_.filePath(QStringLiteral("accounts.db"));
        server_.emplace(
            test::DevServerAddresses{service.toStdString(), ip.toStdString(), ads.toStdString()},
            [&] {
                std::vector<std::string> args{"--db", dbPath_.toStdString()};
                args.insert(args.end(), extraArgs.begin(), extraArgs.end());
                return args;
            }());
        if (!server_->running())
            return QStringLiteral("qiv-devserver did not start: ") + log();
        const auto port = [](const std::string& host) {
            return std::stoi(host.substr(host.rfind(':') + 1));
        };
        ports_ = {port(server_->serviceHost()), port(server_->ipHost()), port(server_->adHost())};
        return {};
    }

    const Ports& ports() const { return ports_; }

    // Everything it has logged so far: one line per request it served.
    const QString& log()
    {
        log_ = server_ ? QString::fromStdString(server_->err()) : QString();
        return log_;
    }
    const QString& dbPath() const { return dbPath_; }

    // The account as the service holds it in its file.
    std::optional<devserver::Account> account(const std::string& name,
                                              const std::string& suffix) const
    {
        devserver::AccountStore store;
        std::string error;
        if (!store.open(dbPath_.toStdString(), &error))
            return std::nullopt;
        return store.find(name, suffix);
    }

    std::size_t accountCount() const
    {
        devserver::AccountStore store;
        std::string error;
        return store.open(dbPath_.toStdString(), &error) ? store.count() : 0;
    }

private:
    QTemporaryDir dir_;
    QString dbPath_;
    std::optional<test::DevServerChild> server_;
    Ports ports_;
    QString log_;
};

// Types `text` into `box` as a user would: ASCII by keys, everything else
// committed by the input method, as a Chinese input method does.
inline void typeText(QWidget* box, const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(box, c.toLatin1());
        } else {
            QInputMethodEvent event;
            event.setCommitString(QString(c));
            QCoreApplication::sendEvent(box, &event);
        }
    }
}

// Clicks into the box, selects what it holds and types over it.
inline void replaceText(QWidget* box, const QString& text)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    typeText(box, text);
}

} // namespace qiv::e2e
