// Thread.h: worker threads whose calls into the main thread are synchronised.
//
// Stands in for the toolkit's thread class. A worker reaches the main thread only through
// Synchronize(fn), which runs fn there and waits until it has run. The main thread is
// whoever installed the dispatcher: the window's event loop or a terminal program's loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace velmoran::platform {

// Raised in a worker whose Synchronize call can no longer run: the main thread has shut
// its dispatcher down (the window closed). The thread ends quietly on it.
class EDispatcherClosed : public std::exception {
public:
    const char* what() const noexcept override { return "the main thread takes no more calls"; }
};

// The main thread's side of Synchronize.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    // Runs fn on the main thread and returns when it has run; an error raised by fn comes
    // back to the caller. Raises EDispatcherClosed when the dispatcher is shut down.
    virtual void Invoke(const std::function<void()>& fn) = 0;
};

// Installs the process's dispatcher (nullptr removes it). Call on the main thread before
// any worker starts; the dispatcher must outlive every worker that can still call it.
void InstallDispatcher(std::shared_ptr<Dispatcher> dispatcher);
std::shared_ptr<Dispatcher> InstalledDispatcher();

// A dispatcher for programs without an event loop: the main thread runs queued calls in
// ProcessCalls / RunUntil, the workers wait for their turn.
class QueueDispatcher : public Dispatcher {
public:
    // The thread that creates the dispatcher is its main thread; its own calls run at once.
    QueueDispatcher();
    void Invoke(const std::function<void()>& fn) override;

    // Runs calls as they come until done() holds (checked after every call and whenever
    // Wake() is called), then returns.
    void RunUntil(const std::function<bool()>& done);
    // Runs the calls queued now; returns how many ran.
    int ProcessCalls();
    // Makes RunUntil look at its condition again.
    void Wake();
    // Refuses further calls and fails the waiting ones with EDispatcherClosed.
    void Shutdown();

private:
    struct Call {
        const std::function<void()>* fn;
        std::exception_ptr error;
        std::atomic<bool> done{false};
        bool refused = false;
    };

    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable workers_;
    std::condition_variable main_;
    std::deque<Call*> queue_;
    bool closed_ = false;
    bool woken_ = false;
    // Calls come in bursts (one per KiB of a download); both sides wait a moment before
    // they sleep, so that a call does not cost two trips through the scheduler.
    std::atomic<int> queued_{0};
};

// A worker thread. Derive and override Execute. Created suspended, it starts at Resume.
// With FreeOnTerminate the object deletes itself when Execute has returned; an error that
// ends Execute is caught and kept in FatalException.
class Thread {
public:
    explicit Thread(bool createSuspended);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void Resume();
    // Waits for Execute to return. Not for threads that free themselves.
    void WaitFor();

    bool FreeOnTerminate = false;
    // Runs on the main thread (through Synchronize) after Execute has returned, while the
    // object still exists; skipped when the dispatcher is closed.
    std::function<void(Thread&)> OnTerminate;

    // The error that ended Execute, if one did.
    std::exception_ptr FatalException() const { return fatal_; }

protected:
    virtual void Execute() = 0;
    // Runs fn on the main thread and waits for it. See Dispatcher::Invoke.
    void Synchronize(const std::function<void()>& fn);

private:
    void Run();

    struct State;
    std::shared_ptr<State> state_;
    std::exception_ptr fatal_;
};

} // namespace velmoran::platform
