// DispatcherTest.cpp: a worker's synchronised calls through the Qt event loop, and the
// shutdown that must release a worker however the GUI thread is doing.
#include "tests/ui/UiTestSupport.h"
#include "updater/ui/GuiDispatcher.h"

#include <QCoreApplication>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace velmoran::testing {
namespace {

struct CallOutcome {
    bool ran = false;
    std::thread::id ranOn;
    std::string error;
};

// Makes one call from a worker thread; the future is ready when the call has returned.
std::future<std::string> CallFromWorker(const std::shared_ptr<TGuiDispatcher>& dispatcher,
                                        std::function<void()> fn) {
    return std::async(std::launch::async, [dispatcher, fn = std::move(fn)] {
        try {
            dispatcher->Invoke(fn);
            return std::string("returned");
        } catch (const platform::EDispatcherClosed&) {
            return std::string("closed");
        } catch (const std::exception& e) {
            return std::string("error:") + e.what();
        }
    });
}

bool Ready(const std::future<std::string>& result) {
    return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TEST(GuiDispatcher, CallsRunOnTheGuiThreadAndTheirErrorsGoBack) {
    auto dispatcher = std::make_shared<TGuiDispatcher>();
    std::thread::id ranOn;
    auto result = CallFromWorker(dispatcher, [&] { ranOn = std::this_thread::get_id(); });
    ASSERT_TRUE(WaitUntil([&] { return Ready(result); }));
    EXPECT_EQ(result.get(), "returned");
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    auto failing = CallFromWorker(dispatcher, [] { throw std::runtime_error("refused"); });
    ASSERT_TRUE(WaitUntil([&] { return Ready(failing); }));
    EXPECT_EQ(failing.get(), "error:refused");
}

TEST(GuiDispatcher, ShutdownReleasesAWaitingWorkerWithoutRunningItsCall) {
    auto dispatcher = std::make_shared<TGuiDispatcher>();
    std::atomic<bool> ran{false};
    // The GUI thread processes no events here: the call is queued and the worker waits.
    auto result = CallFromWorker(dispatcher, [&] { ran = true; });
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);

    dispatcher->Shutdown();
    EXPECT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), "closed");
    QCoreApplication::processEvents(); // the queued event comes up and is skipped
    EXPECT_FALSE(ran);

    auto later = CallFromWorker(dispatcher, [&] { ran = true; });
    EXPECT_EQ(later.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "refused without the event loop";
    EXPECT_EQ(later.get(), "closed");
    EXPECT_THROW(dispatcher->Invoke([] {}), platform::EDispatcherClosed) << "the GUI thread too";
    EXPECT_FALSE(ran);
}

} // namespace
} // namespace velmoran::testing
