#include "ui/renderer_budget.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <unistd.h>

namespace qiv {

namespace {

// A small file of /proc whole; /proc files report no size.
QByteArray procFile(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(8192);
}

} // namespace

RendererBudget::Verdict RendererBudget::add(const RendererUse& use)
{
    if (use.residentKiB > kResidentKiB)
        return Verdict::OverMemory;
    if (use.wall <= std::chrono::milliseconds::zero())
        return Verdict::Within;
    window_.push_back(use);
    std::chrono::milliseconds wall{0};
    std::chrono::milliseconds cpu{0};
    for (const RendererUse& u : window_) {
        wall += u.wall;
        cpu += u.cpu;
    }
    // The oldest intervals go once the rest covers the window alone.
    while (wall - window_.front().wall >= kCpuWindow) {
        wall -= window_.front().wall;
        cpu -= window_.front().cpu;
        window_.pop_front();
    }
    if (wall >= kCpuWindow && static_cast<double>(cpu.count()) > kCpuShare * wall.count())
        return Verdict::OverCpu;
    return Verdict::Within;
}

RendererWatch::RendererWatch(std::function<qint64()> pid, std::function<void()> overBudget,
                             QObject* parent)
    : QObject(parent), pid_(std::move(pid)), overBudget_(std::move(overBudget))
{
    timer_.setInterval(kInterval);
    // A second late or early changes nothing: no precise timer is needed.
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &RendererWatch::sample);
    timer_.start();
}

std::optional<RendererWatch::Reading> RendererWatch::read(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    // The command name, in parentheses, may hold spaces and parentheses:
    // the fields are counted from the last ")". utime and stime are fields
    // 14 and 15, the 12th and 13th after the state.
    const QByteArray stat = procFile(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    bool okUser = false;
    bool okSystem = false;
    const qulonglong ticks = fields[11].toULongLong(&okUser) + fields[12].toULongLong(&okSystem);
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (!okUser || !okSystem || perSecond <= 0)
        return std::nullopt;

    std::optional<std::uint64_t> resident;
    for (const QByteArray& line : procFile(pid, "status").split('\n'))
        if (line.startsWith("VmRSS:"))
            resident = line.mid(6).trimmed().split(' ').value(0).toULongLong();
    if (!resident)
        return std::nullopt;
    return Reading{std::chrono::milliseconds(static_cast<std::int64_t>(ticks * 1000 / perSecond)),
                   *resident};
}

void RendererWatch::sample()
{
    const qint64 pid = pid_();
    const auto now = std::chrono::steady_clock::now();
    const std::optional<Reading> reading = read(pid);
    if (pid != lastPid_ || !reading || !last_) {
        budget_.reset();
        lastPid_ = pid;
        last_ = reading;
        lastAt_ = now;
        return;
    }
    const RendererUse use{std::chrono::duration_cast<std::chrono::milliseconds>(now - lastAt_),
                          reading->cpu - last_->cpu, reading->residentKiB};
    last_ = reading;
    lastAt_ = now;
    if (budget_.add(use) != RendererBudget::Verdict::Within) {
        budget_.reset();
        last_.reset();
        overBudget_();
    }
}

} // namespace qiv
