#pragma once

// Runs a function on a Qt thread pool (the global one unless another is given) and awaits it,
// passing its result or its exception (any type, unchanged) back to the awaiting coroutine on
// that coroutine's thread.

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <exception>
#include <optional>
#include <type_traits>

namespace vantel::detail {

template <typename R> struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
};
template <> struct Outcome<void> { std::exception_ptr error; };

template <typename F>
auto inBackground(F work, QThreadPool* pool = QThreadPool::globalInstance())
    -> QCoro::Task<std::invoke_result_t<F&>> {
    using R = std::invoke_result_t<F&>;
    // The future is a named local: GCC 12 destroys lambda temporaries inside a co_await
    // expression twice.
    QFuture<Outcome<R>> running = QtConcurrent::run(pool, [work = std::move(work)]() mutable {
        Outcome<R> result;
        try {
            if constexpr (std::is_void_v<R>)
                work();
            else
                result.value.emplace(work());
        } catch (...) {
            result.error = std::current_exception();
        }
        return result;
    });
    Outcome<R> outcome = co_await running;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*outcome.value);
}

} // namespace vantel::detail
