// Worker threads and their synchronised calls into the main thread.
#include "platform/Thread.h"

#include "platform/Errors.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velmoran::platform {
namespace {

class Worker : public Thread {
public:
    explicit Worker(std::function<void(Worker&)> body) : Thread(true), body_(std::move(body)) {}
    void Call(const std::function<void()>& fn) { Synchronize(fn); }

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(Worker&)> body_;
};

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { InstallDispatcher(dispatcher); }
    void TearDown() override {
        dispatcher->Shutdown();
        InstallDispatcher(nullptr);
    }
    std::shared_ptr<QueueDispatcher> dispatcher = std::make_shared<QueueDispatcher>();
};

TEST_F(ThreadTest, CallsRunOnTheMainThreadInOrderWhileTheWorkerWaits) {
    const auto mainId = std::this_thread::get_id();
    std::vector<int> order;
    std::atomic<int> workerStep{0};
    bool ended = false;
    auto* worker = new Worker([&](Worker& self) {
        for (int i = 0; i < 100; ++i) {
            workerStep = i;
            self.Call([&, i] {
                EXPECT_EQ(std::this_thread::get_id(), mainId);
                EXPECT_EQ(workerStep.load(), i) << "the worker went on before the call ran";
                order.push_back(i);
            });
        }
    });
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [&](Thread&) { ended = true; };
    worker->Resume();
    dispatcher->RunUntil([&] { return ended; });
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

TEST_F(ThreadTest, AnErrorOfTheMainThreadComesBackToTheWorker) {
    std::string caught;
    Worker worker([&](Worker& self) {
        try {
            self.Call([] { throw Exception("Unable to write to x"); });
        } catch (const Exception& e) {
            caught = e.what();
        }
        self.Call([] { throw std::runtime_error("ends the run"); });
    });
    bool ended = false;
    std::string fatal;
    worker.OnTerminate = [&](Thread& t) {
        ended = true;
        try {
            std::rethrow_exception(t.FatalException());
        } catch (const std::exception& e) {
            fatal = e.what();
        }
    };
    worker.Resume();
    dispatcher->RunUntil([&] { return ended; });
    worker.WaitFor();
    EXPECT_EQ(caught, "Unable to write to x");
    EXPECT_EQ(fatal, "ends the run");
}

TEST_F(ThreadTest, AfterShutdownNoCallRunsAndTheWorkerEndsQuietly) {
    std::atomic<bool> firstRan{false};
    std::atomic<bool> secondRan{false};
    std::atomic<bool> reachedSecond{false};
    Worker worker([&](Worker& self) {
        self.Call([&] { firstRan = true; });
        reachedSecond = true;
        self.Call([&] { secondRan = true; }); // waits; shutdown must release it
        ADD_FAILURE() << "the worker went on after the dispatcher closed";
    });
    worker.Resume();
    dispatcher->RunUntil([&] { return firstRan.load(); });
    while (!reachedSecond) {
        std::this_thread::yield();
    }
    dispatcher->Shutdown(); // the window closes with a call pending
    worker.WaitFor();
    EXPECT_FALSE(secondRan);
    EXPECT_EQ(dispatcher->ProcessCalls(), 0);
}

TEST_F(ThreadTest, ACallFromTheMainThreadItselfRunsAtOnce) {
    bool ran = false;
    dispatcher->Invoke([&] { ran = true; });
    EXPECT_TRUE(ran);
}

} // namespace
} // namespace velmoran::platform
