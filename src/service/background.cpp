#include "service/background.h"

#include "service/gbk_reader.h"
#include "service/program_state.h"
#include "ui/main_window.h"
#include "ui/ui_thread.h"

#include <QCoreApplication>

#include <functional>
#include <system_error>
#include <thread>

namespace qiv {
namespace {

constexpr QColor kBlue(0, 0, 255);
constexpr QColor kBlack(0, 0, 0);

// Suffix items per queued change: a bounded list still reaches the boxes in
// pieces short enough that the window keeps answering meanwhile.
constexpr qsizetype kSuffixBatch = 100;

// Tries of the user count and of the public IP before going on without it:
// neither is needed to log in, and the IP host is not the service's.
constexpr int kBoundedTries = 3;

// Whether to give up retrying: the background thread is told by its flag; on
// the UI thread (no flag) the window itself says whether it is still there.
bool stopped(const QPointer<MainWindow>& window, const StopFlag& stop)
{
    return stop ? stop->load() : window.isNull();
}

// Hands a change of the window to the UI thread. Changes run in the order
// issued and are dropped once the window is gone.
template <typename F> void change(const QPointer<MainWindow>& window, F f)
{
    onUiThread(QCoreApplication::instance(), [window, f] {
        if (window)
            f(*window);
    });
}

void setCaption(const QPointer<MainWindow>& window, const QString& caption)
{
    change(window, [caption](MainWindow& w) { w.loginPage()->setCaption(caption); });
}

void retryCaption(const QPointer<MainWindow>& window, const char* prefixUtf8, int count)
{
    setCaption(window, QString::fromUtf8(prefixUtf8) + QString::number(count) + QChar(')'));
}

void pauseBeforeRetry(const ProgramState& state)
{
    waitHandlingEvents(state.retryPause.load());
}

} // namespace

bool startStartupFetches(MainWindow& window, ProgramState& state)
{
    auto stop = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread(runStartupFetches, QPointer<MainWindow>(&window), std::ref(state), stop)
            .detach();
    } catch (const std::system_error&) {
        // No thread to be had: the window stays as it was created, without
        // the suffixes, the count and the IP, but usable.
        return false;
    }
    QObject::connect(&window, &QObject::destroyed, [stop] { stop->store(true); });
    return true;
}

void runStartupFetches(QPointer<MainWindow> window, ProgramState& state, StopFlag stop)
{
    change(window, [](MainWindow& w) {
        w.loginPage()->setCaption(QStringLiteral("域名后缀下载中...请稍候"), kBlue);
        w.loginPage()->setFormEnabled(false);
    });
    fetchDomainSuffixes(window, state, stop);
    setCaption(window, QStringLiteral("获取申请人数下载中...请稍候"));
    fetchUserCount(window, state, stop);
    setCaption(window, QStringLiteral("获取公网IP中...请稍候"));
    fetchPublicIp(window, state, stop);
    if (stopped(window, stop))
        return;
    change(window, [](MainWindow& w) {
        w.loginPage()->setFormEnabled(true);
        w.loginPage()->setCaption(QStringLiteral("登 录"), kBlack);
    });
}

void fetchDomainSuffixes(QPointer<MainWindow> window, ProgramState& state, const StopFlag& stop)
{
    while (!stopped(window, stop)) {
        if (const std::optional<std::vector<Text>> suffixes =
                client::domainSuffixes(serviceConnection(state))) {
            // Each item keeps its bytes: a suffix goes back to the service as
            // it came, even one that is not valid GBK.
            QStringList items;
            QList<QByteArray> bytes;
            for (const Text& suffix : *suffixes) {
                items << fromGbk(suffix);
                bytes << QByteArray(suffix.data(), std::ssize(suffix));
            }
            for (qsizetype from = 0; from < items.size(); from += kSuffixBatch) {
                change(window, [batch = items.mid(from, kSuffixBatch),
                                batchBytes = bytes.mid(from, kSuffixBatch)](MainWindow& w) {
                    w.loginPage()->addSuffixes(batch, batchBytes);
                    w.registrationPage()->addSuffixes(batch, batchBytes);
                });
            }
            change(window, [](MainWindow& w) {
                w.loginPage()->setGroupToolTip({});
                w.loginPage()->selectFirstSuffix();
                w.registrationPage()->selectFirstSuffix();
            });
            return;
        }
        retryCaption(window, "获取域名后缀失败..自动重试(", ++state.suffixRetries);
        change(window, [tip = QStringLiteral("服务主机 %1 没有应答（设置于 %2）。")
                                  .arg(QString::fromStdString(state.hosts.service),
                                       QString::fromStdString(state.hostsFrom.service))](
                           MainWindow& w) { w.loginPage()->setGroupToolTip(tip); });
        pauseBeforeRetry(state);
    }
}

void fetchUserCount(QPointer<MainWindow> window, ProgramState& state, const StopFlag& stop)
{
    for (int tries = 1; !stopped(window, stop); ++tries) {
        const Text count = client::userCount(serviceConnection(state));
        if (!count.empty()) {
            QString caption =
                QStringLiteral("现用户申请总数:") + fromGbk(count) + QStringLiteral("个");
            change(window, [caption](MainWindow& w) { w.loginPage()->setUserCount(caption); });
            return;
        }
        retryCaption(window, "获取申请人数失败...自动重试(", ++state.userCountRetries);
        if (tries == kBoundedTries)
            break;
        pauseBeforeRetry(state);
    }
    // Given up: the label keeps its text from creation.
}

void fetchPublicIp(QPointer<MainWindow> window, ProgramState& state, const StopFlag& stop)
{
    // No IP host from any source: nothing to ask, the IP stays unknown.
    if (state.hosts.ipLookup.empty())
        return;
    for (int tries = 1; !stopped(window, stop); ++tries) {
        const client::IpReply reply = client::publicIp(serviceConnection(state));
        if (reply.address) {
            state.lastPublicIp.set(reply.reply);
            QString ip = fromGbk(reply.reply);
            change(window, [ip](MainWindow& w) {
                w.registrationPage()->setTarget(ip);
                w.accountPage()->setPublicIpText(QStringLiteral("您当前公网IP:") + ip);
            });
            return;
        }
        // A failed lookup leaves no address behind.
        state.lastPublicIp.set({});
        retryCaption(window, "获取公网IP失败...自动重试(", ++state.ipRetries);
        if (tries == kBoundedTries)
            break;
        pauseBeforeRetry(state);
    }
    // Given up: the IP stays unknown and its label keeps what it shows.
}

void fetchPublicIp(MainWindow& window, ProgramState& state)
{
    fetchPublicIp(QPointer<MainWindow>(&window), state, nullptr);
}

} // namespace qiv
