// GuiDispatcher.cpp: queued calls into the GUI thread with a wait the GUI cannot block.
#include "updater/ui/GuiDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>

namespace velmoran {

TGuiDispatcher::TGuiDispatcher() : owner_(std::this_thread::get_id()) {}

void TGuiDispatcher::Invoke(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == owner_) {
        if (IsShutDown()) {
            throw platform::EDispatcherClosed();
        }
        fn();
        return;
    }
    auto call = std::make_shared<Call>();
    call->fn = &fn;
    std::unique_lock lock(mutex_);
    QCoreApplication* app = QCoreApplication::instance();
    if (closed_ || !app) {
        throw platform::EDispatcherClosed();
    }
    waiting_.push_back(call);
    // Posted under the lock: once Shutdown has run, nothing more is posted. The event keeps
    // the dispatcher and the call alive; a refused call is skipped when it comes up.
    QMetaObject::invokeMethod(
        app, [self = shared_from_this(), call] { self->Run(call); }, Qt::QueuedConnection);
    finished_.wait(lock,
                   [&] { return call->state == State::Done || call->state == State::Refused; });
    if (call->state == State::Refused) {
        throw platform::EDispatcherClosed();
    }
    if (call->error) {
        std::rethrow_exception(call->error);
    }
}

void TGuiDispatcher::Run(const std::shared_ptr<Call>& call) {
    {
        std::lock_guard lock(mutex_);
        if (call->state != State::Waiting) {
            return;
        }
        call->state = State::Running;
        waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), call), waiting_.end());
    }
    std::exception_ptr error;
    try {
        (*call->fn)();
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    call->error = error;
    call->state = State::Done;
    finished_.notify_all();
}

void TGuiDispatcher::Shutdown() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (const auto& call : waiting_) {
        call->state = State::Refused;
    }
    waiting_.clear();
    finished_.notify_all();
}

bool TGuiDispatcher::IsShutDown() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

} // namespace velmoran
