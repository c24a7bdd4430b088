#pragma once

// A request to stop uploads early, handed to them by whoever may want to stop them (the program
// at quit). An upload checks it between its steps, its renders poll it from their own threads,
// and every wait of the upload is raced against it, so a stopped upload ends at once wherever it
// waits.
//
// Threads: cancel() and the races on the thread the object lives on (the main thread);
// cancelled() and check() on any thread.
//
// Errors: a stopped upload ends with Cancelled, which callers take as "nothing to tell".

#include <QCoro/QCoroTask>
#include <QObject>
#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace vantel {

class Cancelled : public std::runtime_error {
public:
    Cancelled();
};

class Cancellation : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Stops every race against this object at once (their awaiters resume before this returns)
    // and makes every later check() throw. Further calls do nothing.
    void cancel();
    bool cancelled() const { return m_cancelled.load(); }
    // Throws Cancelled once cancel() was called.
    void check() const;

signals:
    void fired();

private:
    std::atomic<bool> m_cancelled{false};
};

namespace detail {

// The meeting point of a piece of work and a cancellation: whichever comes first resumes the
// one awaiting coroutine; the other finds it settled.
template <typename T> struct Race {
    std::coroutine_handle<> waiting;
    bool settled = false;
    bool byCancel = false;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
    QMetaObject::Connection onCancel;

    ~Race() { QObject::disconnect(onCancel); }
    void settle(bool cancelledFirst) {
        if (settled)
            return;
        settled = true;
        byCancel = cancelledFirst;
        if (std::coroutine_handle<> resume = std::exchange(waiting, {}))
            resume.resume();
    }
};

template <typename T> struct RaceAwaiter {
    Race<T>& race;
    bool await_ready() const noexcept { return race.settled; }
    void await_suspend(std::coroutine_handle<> awaiting) noexcept { race.waiting = awaiting; }
    void await_resume() const noexcept {}
};

// Awaits the work and settles the race with its outcome; dropped by its caller, it frees itself
// when the work ends, also after the race was lost.
template <typename T> QCoro::Task<> runRace(QCoro::Task<T> work, std::shared_ptr<Race<T>> race) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(work);
        } else {
            T result = co_await std::move(work);
            if (!race->settled)
                race->value.emplace(std::move(result));
        }
    } catch (...) {
        race->error = std::current_exception();
    }
    race->settle(false);
}

} // namespace detail

// Awaits `work` unless `cancellation` fires first: then Cancelled is thrown at once and `work`
// runs on unattended until it ends, its outcome dropped. Without a cancellation, a plain await.
template <typename T>
QCoro::Task<T> unlessCancelled(QCoro::Task<T> work, std::shared_ptr<Cancellation> cancellation) {
    if (!cancellation) {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(work);
            co_return;
        } else {
            co_return co_await std::move(work);
        }
    }
    cancellation->check();
    auto race = std::make_shared<detail::Race<T>>();
    std::weak_ptr<detail::Race<T>> weak = race;
    race->onCancel = QObject::connect(cancellation.get(), &Cancellation::fired, [weak] {
        if (const std::shared_ptr<detail::Race<T>> alive = weak.lock())
            alive->settle(true);
    });
    detail::runRace(std::move(work), race);
    if (!race->settled)
        co_await detail::RaceAwaiter<T>{*race};
    if (race->byCancel)
        throw Cancelled();
    if (race->error)
        std::rethrow_exception(race->error);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*race->value);
}

} // namespace vantel
