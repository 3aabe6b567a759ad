#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <type_traits>
#include <utility>

// Work that is not the database's runs here, on the program's thread pool; the
// database thread does database work only. The future gives back the result,
// or the work's own exception as it was thrown.
namespace BackgroundWork {

template<typename Fn>
auto run(Fn fn) -> QFuture<std::invoke_result_t<Fn>>
{
    using Result = std::invoke_result_t<Fn>;
    return QtConcurrent::run(QThreadPool::globalInstance(), [fn = std::move(fn)](QPromise<Result> &promise) mutable {
        try {
            if constexpr (std::is_void_v<Result>)
                fn();
            else
                promise.addResult(fn());
        } catch (...) {
            promise.setException(std::current_exception());
        }
    });
}

// The future's result taken further on the pool; a failure passes through to the new future.
template<typename T, typename Fn>
auto then(QFuture<T> future, Fn fn)
{
    return future.then(QThreadPool::globalInstance(), std::move(fn));
}

// For a caller that works on one half itself meanwhile: the other half's end is
// awaited before the caller's own failure leaves the scope its work refers to.
template<typename T>
void awaitQuietly(QFuture<T> &future) noexcept
{
    try {
        future.waitForFinished();
    } catch (...) {
    }
}

} // namespace BackgroundWork
