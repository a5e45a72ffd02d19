// Changes issued from another thread reach the UI thread in order.
#include "ui/ui_thread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace qiv {
namespace {

TEST(UiThread, BurstFromAnotherThreadKeepsOrder)
{
    QWidget target;
    std::vector<int> seen;
    bool allOnUiThread = true;
    const int count = 20000;
    QThread* ui = QThread::currentThread();

    std::thread worker([&] {
        for (int i = 0; i < count; ++i) {
            onUiThread(&target, [&, i] {
                allOnUiThread = allOnUiThread && QThread::currentThread() == ui;
                seen.push_back(i);
            });
        }
    });
    QElapsedTimer clock;
    clock.start();
    while (static_cast<int>(seen.size()) < count && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    worker.join();
    QCoreApplication::processEvents();

    ASSERT_EQ(static_cast<int>(seen.size()), count);
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(seen[static_cast<size_t>(i)], i);
    EXPECT_TRUE(allOnUiThread);
}

// The event loop gets control back between two queued changes: an event
// the first one posts runs before the second, which was queued already.
TEST(UiThread, EventPostedByAChangeRunsBeforeTheNext)
{
    QWidget target;
    std::vector<std::string> seen;
    std::thread([&] {
        onUiThread(&target, [&] {
            seen.push_back("first");
            QMetaObject::invokeMethod(
                &target, [&] { seen.push_back("posted"); }, Qt::QueuedConnection);
        });
        onUiThread(&target, [&] { seen.push_back("second"); });
    }).join();
    QElapsedTimer clock;
    clock.start();
    while (seen.size() < 3 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "posted", "second"}));
}

TEST(UiThread, OnTheUiThreadRunsAtOnce)
{
    QWidget target;
    bool ran = false;
    onUiThread(&target, [&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(UiThread, ChangeForADeletedContextIsDropped)
{
    auto* target = new QWidget;
    bool ran = false;
    std::thread([&] { onUiThread(target, [&] { ran = true; }); }).join();
    delete target;
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

#ifdef __SANITIZE_THREAD__
// The hand-over hides nothing: a race inside a change is reported (by a child run).
TEST(UiThread, RaceInsideAChangeIsReported)
{
    if (qEnvironmentVariableIsSet("QIV_RACE_CHILD")) {
        QWidget target;
        int shared = 0, ran = 0;
        std::thread worker([&] {
            onUiThread(&target, [&] { ran = ++shared; });
            ++shared; // unguarded, after the hand-over
        });
        while (!ran)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return worker.join();
    }
    qputenv("QIV_RACE_CHILD", "1");
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=*RaceInsideAChange*"});
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_TRUE(child.readAllStandardError().contains("ThreadSanitizer: data race"));
}
#endif

} // namespace
} // namespace qiv

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
