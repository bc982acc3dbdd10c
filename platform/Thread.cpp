// Thread.cpp: worker threads over std::thread and the queue dispatcher.
#include "platform/Thread.h"

#include "platform/Errors.h"

#include <chrono>
#include <thread>

namespace velmoran::platform {

namespace {

std::mutex gDispatcherMutex;
std::shared_ptr<Dispatcher> gDispatcher;

// Waits up to a few tens of microseconds for ready() without sleeping.
template <typename Ready> void SpinUntil(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
    while (!ready() && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
}

} // namespace

void InstallDispatcher(std::shared_ptr<Dispatcher> dispatcher) {
    std::lock_guard lock(gDispatcherMutex);
    gDispatcher = std::move(dispatcher);
}

std::shared_ptr<Dispatcher> InstalledDispatcher() {
    std::lock_guard lock(gDispatcherMutex);
    return gDispatcher;
}

QueueDispatcher::QueueDispatcher() : owner_(std::this_thread::get_id()) {}

void QueueDispatcher::Invoke(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == owner_) {
        fn();
        return;
    }
    Call call{&fn, nullptr};
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            throw EDispatcherClosed();
        }
        queue_.push_back(&call);
        queued_.fetch_add(1, std::memory_order_release);
        main_.notify_one();
    }
    SpinUntil([&] { return call.done.load(std::memory_order_acquire); });
    if (!call.done.load(std::memory_order_acquire)) {
        std::unique_lock lock(mutex_);
        workers_.wait(lock, [&] { return call.done.load() || call.refused; });
    }
    if (call.refused) {
        throw EDispatcherClosed();
    }
    if (call.error) {
        std::rethrow_exception(call.error);
    }
}

int QueueDispatcher::ProcessCalls() {
    int ran = 0;
    std::unique_lock lock(mutex_);
    while (!queue_.empty() && !closed_) {
        Call* call = queue_.front();
        queue_.pop_front();
        queued_.fetch_sub(1, std::memory_order_relaxed);
        lock.unlock();
        try {
            (*call->fn)();
        } catch (...) {
            call->error = std::current_exception();
        }
        lock.lock();
        // The call lives on the worker's stack: once done is set it may be gone.
        call->done.store(true, std::memory_order_release);
        workers_.notify_all();
        ++ran;
    }
    return ran;
}

void QueueDispatcher::RunUntil(const std::function<bool()>& done) {
    while (true) {
        ProcessCalls();
        if (done()) {
            return;
        }
        SpinUntil([&] { return queued_.load(std::memory_order_acquire) > 0; });
        std::unique_lock lock(mutex_);
        main_.wait(lock, [&] { return !queue_.empty() || woken_ || closed_; });
        woken_ = false;
        if (closed_) {
            return;
        }
    }
}

void QueueDispatcher::Wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    main_.notify_all();
}

void QueueDispatcher::Shutdown() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Call* call : queue_) {
        call->refused = true;
    }
    queue_.clear();
    queued_.store(0);
    workers_.notify_all();
    main_.notify_all();
}

struct Thread::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool finished = false;
};

Thread::Thread(bool createSuspended) : state_(std::make_shared<State>()) {
    if (!createSuspended) {
        Resume();
    }
}

Thread::~Thread() = default;

void Thread::Resume() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->started) {
            return;
        }
        state_->started = true;
    }
    // Detached: a thread that frees itself has nobody to join it.
    std::thread([this] { Run(); }).detach();
}

void Thread::WaitFor() {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return state_->finished; });
}

void Thread::Synchronize(const std::function<void()>& fn) {
    const auto dispatcher = InstalledDispatcher();
    if (!dispatcher) {
        throw EDispatcherClosed();
    }
    dispatcher->Invoke(fn);
}

void Thread::Run() {
    const auto state = state_; // outlives the object when it frees itself
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(*this); });
        } catch (...) {
            // The main thread has gone away or the handler failed; the thread ends anyway.
        }
    }
    const bool freeSelf = FreeOnTerminate;
    if (freeSelf) {
        delete this;
    }
    std::lock_guard lock(state->mutex);
    state->finished = true;
    state->changed.notify_all();
}

} // namespace velmoran::platform
