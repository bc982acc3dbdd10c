// GuiDispatcher.h: the synchronised calls of worker threads, run by the Qt event loop.
#pragma once

#include "platform/Thread.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmoran {

// Runs every call of a worker on the thread that created the dispatcher (the GUI thread)
// as a queued event, while the worker waits. The worker never relies on the GUI thread
// answering: Shutdown releases every waiting worker with EDispatcherClosed and refuses
// further calls, so a window that closes never leaves a worker waiting on a loop that
// has stopped.
class TGuiDispatcher : public platform::Dispatcher,
                       public std::enable_shared_from_this<TGuiDispatcher> {
public:
    // Create it on the GUI thread, with the application object in place.
    TGuiDispatcher();

    // Raises EDispatcherClosed once Shutdown has run. Calls from the GUI thread itself run
    // at once.
    void Invoke(const std::function<void()>& fn) override;
    // Refuses further calls and fails the waiting ones with EDispatcherClosed. A call that
    // is running already completes.
    void Shutdown();
    bool IsShutDown() const;

private:
    enum class State { Waiting, Running, Done, Refused };
    struct Call {
        const std::function<void()>* fn = nullptr;
        std::exception_ptr error;
        State state = State::Waiting;
    };

    void Run(const std::shared_ptr<Call>& call);

    const std::thread::id owner_;
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    std::vector<std::shared_ptr<Call>> waiting_;
    bool closed_ = false;
};

} // namespace velmoran
