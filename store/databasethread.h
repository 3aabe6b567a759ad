#pragma once

#include "apperror.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QPromise>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

class QThread;

// What a job posted to DatabaseThread returns, whether or not it takes the
// abandoned flag.
template<typename Fn>
using JobResult = typename std::conditional_t<std::is_invocable_v<Fn &, const std::atomic<bool> &>,
                                              std::invoke_result<Fn &, const std::atomic<bool> &>,
                                              std::invoke_result<Fn &>>::type;

// The tool's database work runs on a thread of its own, with connections of
// that thread, so that a database that stops answering never freezes the
// window. A job is posted and its result comes back as a future, to be taken
// up with QFuture::then(context, ...) on the caller's thread; nobody waits.
// Jobs run one after the other. A job that outlasts the limit is abandoned:
// its future fails at once, and it goes on alone on its thread (later jobs get
// a fresh thread and connection), where it can only roll back.
class DatabaseThread : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds DefaultLimit{45};

    explicit DatabaseThread(QObject *parent = nullptr);
    ~DatabaseThread() override;

    void setLimit(std::chrono::milliseconds limit) { m_limit = limit; }

    // Runs job on the database thread. The future holds its result, or fails
    // with its exception; with AppError past the limit, and with Cancelled
    // after cancel(). what says, in Portuguese, what the job does ("gravação
    // da consulta"). The job must own everything it uses. A job that takes
    // the abandoned flag (const std::atomic<bool> &) is given its own, set once
    // nobody waits for it any more: it must then commit nothing.
    template<typename Fn>
    auto post(const QString &what, Fn job) -> QFuture<JobResult<Fn>>
    {
        using Result = JobResult<Fn>;
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        promise->start();
        auto posted = std::make_shared<Job>();
        posted->what = what;
        posted->run = [promise, job = std::move(job)](Job &self) mutable {
            const auto call = [&job, &self]() -> Result {
                if constexpr (std::is_invocable_v<Fn &, const std::atomic<bool> &>)
                    return job(std::as_const(self.abandoned));
                else
                    return job();
            };
            try {
                if constexpr (std::is_void_v<Result>) {
                    call();
                    if (self.settle())
                        promise->finish();
                } else {
                    Result result = call();
                    if (self.settle()) {
                        promise->addResult(std::move(result));
                        promise->finish();
                    }
                }
            } catch (...) {
                if (self.settle()) {
                    promise->setException(std::current_exception());
                    promise->finish();
                }
            }
        };
        posted->fail = [promise](std::exception_ptr failure) {
            promise->setException(failure);
            promise->finish();
        };
        dispatch(std::move(posted));
        return future;
    }

    // Abandons every job in hand: their futures fail with Cancelled, and what
    // they had begun never commits.
    void cancel();

    // Whether a job posted here has not come back from its thread yet; the
    // program then ends without waiting for it.
    bool anyStuck() const { return m_unreturned->load() > 0; }

signals:
    // The job in hand has run for this many whole seconds (from one on).
    void waiting(const QString &what, int seconds);
    void waitEnded();

private:
    struct Job
    {
        quint64 id = 0;
        QString what;
        std::function<void(Job &)> run;
        std::function<void(std::exception_ptr)> fail;
        std::atomic<bool> settled{false};
        std::atomic<bool> started{false};
        std::atomic<bool> abandoned{false};
        int seconds = 0;
        // The first to settle reports: the job itself, or its abandonment.
        bool settle() { return !settled.exchange(true); }
    };

    void dispatch(std::shared_ptr<Job> job);
    void send(const std::shared_ptr<Job> &job);
    void tick();
    void jobFinished(quint64 id);
    void abandon(const std::shared_ptr<Job> &job, std::exception_ptr failure);
    void startThread();
    void retireThread();

    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr;
    std::chrono::milliseconds m_limit = DefaultLimit;
    QList<std::shared_ptr<Job>> m_jobs; // in hand, in order; the first is running
    QTimer m_tick;
    // Jobs whose work has not come back from their thread; shared with the
    // jobs, which may outlive this object.
    std::shared_ptr<std::atomic<int>> m_unreturned = std::make_shared<std::atomic<int>>(0);
    quint64 m_lastId = 0;
    bool m_waitShown = false;
};
