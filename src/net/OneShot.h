#pragma once

#include <QTimer>

#include <coroutine>
#include <memory>
#include <optional>
#include <utility>

namespace pealix::net {

// A completion that the first of several racing events (success, failure,
// timeout, end of stream) fulfils exactly once; later attempts are ignored.
// Copies share one state, so every callback can hold its own copy.
//
//     OneShot<bool> done;
//     connect(socket, &QSslSocket::encrypted, this, [done] { done.complete(true); });
//     QTimer::singleShot(6000, this, [done] { done.complete(false); });
//     const bool ok = co_await done;
template <typename T>
class OneShot
{
    struct State
    {
        std::optional<T> value;
        std::coroutine_handle<> waiter;
    };

public:
    OneShot() : m_state(std::make_shared<State>()) {}

    // Returns false when an earlier event already completed it.
    bool complete(T value) const
    {
        if (m_state->value)
            return false;
        m_state->value.emplace(std::move(value));
        if (auto waiter = std::exchange(m_state->waiter, nullptr)) {
            // Resume from the event loop, never inside the caller's own callback,
            // so the awaiting code may delete the object that signalled us.
            QTimer::singleShot(0, [waiter] { waiter.resume(); });
        }
        return true;
    }

    bool isCompleted() const { return m_state->value.has_value(); }

    // Only one coroutine may await a given OneShot.
    auto operator co_await() const
    {
        struct Awaiter
        {
            std::shared_ptr<State> state;
            bool await_ready() const noexcept { return state->value.has_value(); }
            void await_suspend(std::coroutine_handle<> handle) const noexcept { state->waiter = handle; }
            T await_resume() const { return *state->value; }
        };
        return Awaiter{m_state};
    }

private:
    std::shared_ptr<State> m_state;
};

} // namespace pealix::net
