// A screen reader's view of the window, for bench_hostile: starts the
// program given on the command line with the accessibility bridge forced on,
// finds it on the AT-SPI bus and reads its window over and over, timing every
// answer, until the login group is titled "登 录" again after the start-up
// fetches. Run inside its own session bus (dbus-run-session), where the
// AT-SPI bus is started on demand; needs a display.
// Prints one line: "slowest FILL_MS idle IDLE_MS reads N items M events E":
// FILL_MS is the slowest answer from the last round of reads that saw the
// suffix box empty until the end, IDLE_MS the slowest before that, E the
// events the program sent.
// Usage: bench_atspi_probe PROGRAM [ARG]...

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr int kCallTimeoutMs = 10000;
constexpr int kFindTimeoutMs = 60000;
constexpr int kRunTimeoutMs = 120000;
constexpr int kMaxWalk = 600; // accessibles looked at to find the controls
constexpr uint kRoleComboBox = 11;

const char kAccessible[] = "org.a11y.atspi.Accessible";

struct Ref {
    QString service;
    QString path;
};

class Probe {
public:
    explicit Probe(QDBusConnection bus) : bus_(std::move(bus)) {}

    // One timed call; nullopt when it failed.
    std::optional<QDBusMessage> call(const Ref& to, const char* interface, const char* method,
                                     const QVariantList& args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            to.service, to.path, QString::fromLatin1(interface), QString::fromLatin1(method));
        message.setArguments(args);
        QElapsedTimer clock;
        clock.start();
        QDBusMessage reply = bus_.call(message, QDBus::Block, kCallTimeoutMs);
        lastMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        ++reads;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        return reply;
    }

    QVariant property(const Ref& of, const char* name)
    {
        auto reply = call(of, "org.freedesktop.DBus.Properties", "Get",
                          {QString::fromLatin1(kAccessible), QString::fromLatin1(name)});
        if (!reply)
            return {};
        return reply->arguments().at(0).value<QDBusVariant>().variant();
    }

    std::vector<Ref> children(const Ref& of)
    {
        std::vector<Ref> out;
        auto reply = call(of, kAccessible, "GetChildren");
        if (!reply)
            return out;
        const QDBusArgument list = reply->arguments().at(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString service;
            QDBusObjectPath path;
            list.beginStructure();
            list >> service >> path;
            list.endStructure();
            out.push_back({service, path.path()});
        }
        list.endArray();
        return out;
    }

    uint role(const Ref& of)
    {
        auto reply = call(of, kAccessible, "GetRole");
        return reply ? reply->arguments().at(0).toUInt() : 0;
    }

    double lastMs = 0;
    int reads = 0;

private:
    QDBusConnection bus_;
};

// Counts the events the program sends.
class Listener : public QObject {
    Q_OBJECT
public:
    int events = 0;
public slots:
    void event(const QDBusMessage&) { ++events; }
};

// The AT-SPI bus of this session, from the session bus.
std::optional<QDBusConnection> atspiBus()
{
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    QDBusMessage reply = QDBusConnection::sessionBus().call(ask, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    QDBusConnection bus =
        QDBusConnection::connectToBus(reply.arguments().at(0).toString(), QStringLiteral("a11y"));
    if (!bus.isConnected())
        return std::nullopt;
    return bus;
}

// The unique name of the process on the bus, once it has one.
QString serviceOf(QDBusConnection& bus, qint64 pid)
{
    const QStringList names = bus.interface()->registeredServiceNames().value();
    for (const QString& name : names) {
        if (name.startsWith(QChar(':')) && bus.interface()->servicePid(name).value() == pid)
            return name;
    }
    return {};
}

[[noreturn]] void fail(QProcess& program, const char* why)
{
    std::printf("failed: %s\n", why);
    std::fflush(stdout);
    program.kill();
    program.waitForFinished(5000);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_atspi_probe PROGRAM [ARG]...\n");
        return 2;
    }
    std::optional<QDBusConnection> bus = atspiBus();
    if (!bus) {
        std::printf("failed: no AT-SPI bus (is at-spi2-core installed?)\n");
        return 1;
    }
    // As a screen reader does: listen to every event, so that the program
    // sends them (it sends none nobody asked for). Before the program
    // starts, so that it finds them when it joins the bus.
    for (const char* event : {"Object:", "Window:", "Focus:"}) {
        QDBusMessage ask = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("RegisterEvent"));
        ask.setArguments({QString::fromLatin1(event), QStringList(), QString()});
        bus->call(ask, QDBus::Block, kCallTimeoutMs);
    }
    QDBusMessage match = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("AddMatch"));
    match.setArguments({QStringLiteral("type='signal',interface='org.a11y.atspi.Event.Object'")});
    bus->call(match, QDBus::Block, kCallTimeoutMs);
    Listener listener;
    for (const char* name : {"ChildrenChanged", "StateChanged", "PropertyChange"})
        bus->connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Object"),
                     QString::fromLatin1(name), &listener, SLOT(event(QDBusMessage)));

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(QString::fromLocal8Bit(argv[1]), app.arguments().mid(2));
    if (!program.waitForStarted(10000))
        fail(program, "the program did not start");

    Probe probe(*bus);

    // The program's application object, then its window, the login group
    // (found by its start-up caption) and a suffix box.
    QElapsedTimer clock;
    clock.start();
    Ref root;
    Ref window, group, combo;
    while (clock.elapsed() < kFindTimeoutMs) {
        if (root.service.isEmpty())
            root = {serviceOf(*bus, program.processId()),
                    QStringLiteral("/org/a11y/atspi/accessible/root")};
        if (!root.service.isEmpty()) {
            std::vector<Ref> top = probe.children(root);
            std::deque<Ref> pending(top.begin(), top.end());
            group = combo = {};
            for (int seen = 0; !pending.empty() && seen < kMaxWalk; ++seen) {
                Ref next = pending.front();
                pending.pop_front();
                const QString name = probe.property(next, "Name").toString();
                if (name.startsWith(QStringLiteral("域名后缀下载中")))
                    group = next;
                const uint role = probe.role(next);
                if (role == kRoleComboBox && combo.path.isEmpty())
                    combo = next;
                if (role == kRoleComboBox)
                    continue; // its items are not needed
                for (Ref& child : probe.children(next))
                    pending.push_back(std::move(child));
                if (!group.path.isEmpty() && !combo.path.isEmpty())
                    break;
            }
            // The program's window; the browser engine's off-screen
            // windows beside it have no children.
            int most = 0;
            for (const Ref& candidate : top) {
                const int count = probe.property(candidate, "ChildCount").toInt();
                if (count > most) {
                    most = count;
                    window = candidate;
                }
            }
            if (!group.path.isEmpty() && !combo.path.isEmpty())
                break;
        }
        if (program.state() != QProcess::Running)
            fail(program, "the program ended");
        QThread::msleep(50);
    }
    if (group.path.isEmpty() || combo.path.isEmpty())
        fail(program, "the login group or the suffix box was not found in time");

    // Rounds of reads: the suffix box's item count, the window's name and
    // state, the login group's caption.
    std::vector<std::pair<double, int>> rounds; // slowest answer, items seen
    int items = 0;
    clock.restart();
    for (;;) {
        double slowest = 0;
        // The box's one child is the drop-down list of its items; asked for
        // anew each time, as the box may replace it when its items change.
        const std::vector<Ref> parts = probe.children(combo);
        slowest = std::max(slowest, probe.lastMs);
        items = parts.empty() ? 0 : probe.property(parts.front(), "ChildCount").toInt();
        slowest = std::max(slowest, probe.lastMs);
        probe.property(window, "Name");
        slowest = std::max(slowest, probe.lastMs);
        probe.call(window, kAccessible, "GetState");
        slowest = std::max(slowest, probe.lastMs);
        const QString caption = probe.property(group, "Name").toString();
        slowest = std::max(slowest, probe.lastMs);
        rounds.emplace_back(slowest, items);
        QCoreApplication::processEvents(); // the events received meanwhile
        if (caption == QStringLiteral("登 录"))
            break;
        if (clock.elapsed() > kRunTimeoutMs || program.state() != QProcess::Running)
            fail(program, "the login group was not enabled in time");
    }

    // The boxes' count at the end: the last round may have read it before
    // the last batches.
    const std::vector<Ref> parts = probe.children(combo);
    items = parts.empty() ? 0 : probe.property(parts.front(), "ChildCount").toInt();

    size_t fillStart = 0;
    for (size_t i = 0; i < rounds.size(); ++i) {
        if (rounds[i].second == 0)
            fillStart = i;
    }
    double fill = 0, idle = 0;
    for (size_t i = 0; i < rounds.size(); ++i)
        (i < fillStart ? idle : fill) = std::max(i < fillStart ? idle : fill, rounds[i].first);
    std::printf("slowest %.1f idle %.1f reads %d items %d events %d\n", fill, idle, probe.reads,
                items, listener.events);
    std::fflush(stdout);
    program.kill();
    program.waitForFinished(5000);
    return 0;
}

#include "atspi_probe.moc"
