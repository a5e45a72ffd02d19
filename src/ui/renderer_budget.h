#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

// What the advertisement views' renderer may take of the machine. One
// renderer process serves the four views, so the bound is the renderer's:
// a share of one core over a few seconds, and a resident size. A renderer
// over either is ended; its pages are not worth more than that.
namespace qiv {

// The renderer's use in one interval between two samples.
struct RendererUse {
    std::chrono::milliseconds wall{0}; // the interval's length
    std::chrono::milliseconds cpu{0};  // user + system time used in it
    std::uint64_t residentKiB = 0;     // VmRSS at its end
};

// The decision on the samples alone, with no process or clock of its own.
class RendererBudget {
public:
    // At most half of one core, averaged over any kCpuWindow: an animated
    // ad takes a tenth or so, a page that never yields the whole core, and
    // a script may still work through a burst of nearly 3 s.
    static constexpr double kCpuShare = 0.5;
    static constexpr std::chrono::milliseconds kCpuWindow{6000};
    // The resident size at most. The engine's own heap limit (a V8 flag the
    // program starts with) ends a page's script allocations first; this
    // bounds what lies outside it: canvases, images, array buffers.
    static constexpr std::uint64_t kResidentKiB = 448 * 1024;

    enum class Verdict { Within, OverCpu, OverMemory };

    // One more interval of the same renderer.
    Verdict add(const RendererUse& use);
    // Another renderer (or none): what was seen of the last one goes.
    void reset() { window_.clear(); }

private:
    std::deque<RendererUse> window_;
};

// Samples a renderer process about once a second from /proc and calls
// `overBudget` when it is over its budget. `pid` names the renderer of the
// moment (0 while there is none); sampling is a few small reads.
class RendererWatch : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kInterval{1000};

    RendererWatch(std::function<qint64()> pid, std::function<void()> overBudget, QObject* parent);

    // Reads /proc/PID/stat and /proc/PID/status: user + system time since
    // the process started, and its resident size. Nothing once it is gone.
    struct Reading {
        std::chrono::milliseconds cpu;
        std::uint64_t residentKiB;
    };
    static std::optional<Reading> read(qint64 pid);

private:
    void sample();

    std::function<qint64()> pid_;
    std::function<void()> overBudget_;
    QTimer timer_;
    RendererBudget budget_;
    qint64 lastPid_ = 0;
    std::optional<Reading> last_;
    std::chrono::steady_clock::time_point lastAt_;
};

} // namespace qiv
