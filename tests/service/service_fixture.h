#pragma once

// The real window against qiv-devserver running in this process on free
// loopback ports.
#include "../common/kept_state.h"
#include "../common/modal_catcher.h"
#include "app/app.h"
#include "devserver/dev_server.h"
#include "net/timed_request.h"
#include "service/account_page.h"
#include "service/background.h"
#include "service/login.h"
#include "service/program_state.h"
#include "text/gbk.h"
#include "text/text.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace qiv::testing {

inline std::string utf8(std::string_view gbkBytes)
{
    return gbkToUtf8(gbkBytes);
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        devserver::Options options;
        options.serviceAddress = "127.0.0.1:0";
        options.ipAddress = "127.0.0.2:0";
        options.adAddress = "127.0.0.3:0";
        server_ = std::make_unique<devserver::DevServer>(options);
        std::string error;
        ASSERT_TRUE(server_->start(&error)) << error;
        state_ = &keptState(new ProgramState{
            .hosts = {.service = "127.0.0.1:" + std::to_string(server_->servicePort()),
                      .ipLookup = "127.0.0.2:" + std::to_string(server_->ipPort()),
                      .ad = "127.0.0.3:" + std::to_string(server_->adPort())},
            .network = {.requestLimit = std::chrono::milliseconds(10000)},
            .retryPause = std::chrono::milliseconds(20),
            .connectivityCheck = [] { return true; }});
        window_ = std::make_unique<MainWindow>(MainWindow::Options{.browserViews = false});
        wireEvents(*window_, *state_, [] {});
        window_->show();
    }

    void TearDown() override
    {
        window_.reset();
        QCoreApplication::processEvents();
        server_->stop();
    }

    // Waits, handling events, until `done` holds; false after `ms`.
    static bool waitFor(const std::function<bool()>& done, int ms = 10000)
    {
        return QTest::qWaitFor(done, ms);
    }

    // Runs the start-up fetches and waits until the login group is back.
    void startUp()
    {
        startStartupFetches(*window_, *state_);
        ASSERT_TRUE(waitFor([this] {
            return window_->loginPage()->分组框1->isEnabled() &&
                   window_->loginPage()->分组框1->title() == "登 录" &&
                   window_->loginPage()->组合框1->count() > 0;
        }));
    }

    devserver::Account account(const std::string& name, const std::string& password = "secret1")
    {
        devserver::Account a;
        a.name = name;
        a.suffix = "qiv.cn";
        a.password = password;
        a.title = gbk("我的主页");
        a.sendUrl = "http://example.org/home";
        a.email = "me@example.org";
        a.regName = gbk("张三");
        a.linkTel = "010-123456";
        a.address = gbk("北京市");
        return a;
    }

    MainWindow& w() { return *window_; }
    ProgramState& state() { return *state_; }

    std::unique_ptr<devserver::DevServer> server_;
    ProgramState* state_ = nullptr;
    std::unique_ptr<MainWindow> window_;
};

inline int runTests(int argc, char** argv)
{
    // The views of the tests that make them start as the program's do.
    prepareBrowserEngine();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace qiv::testing
