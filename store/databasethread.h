#pragma once

#include "apperror.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

class QThread;

// The tool's database work runs on a thread of its own, with connections of
// that thread, so that a database that stops answering never freezes the
// window: the caller waits in a local event loop that keeps painting and
// taking clicks. A job that outlasts the limit is abandoned on its thread
// (the next job gets a fresh thread and connection); whatever it had begun
// is never committed, so its transaction rolls back.
class DatabaseThread : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds DefaultLimit{45};

    explicit DatabaseThread(QObject *parent = nullptr);
    ~DatabaseThread() override;

    void setLimit(std::chrono::milliseconds limit) { m_limit = limit; }
    bool isBusy() const { return m_busy; }

    // Runs job on the database thread and returns its result, or throws its
    // failure. what says, in Portuguese, what the job does ("gravação da
    // consulta"). Throws AppError past the limit, and Cancelled when the wait
    // was ended by cancel() or by the application quitting. The job must own
    // what it uses: an abandoned job runs on after the caller has returned.
    template<typename Fn>
    auto run(const QString &what, Fn job) -> std::invoke_result_t<Fn>
    {
        using Result = std::invoke_result_t<Fn>;
        if constexpr (std::is_void_v<Result>) {
            runJob(what, std::move(job));
        } else {
            auto result = std::make_shared<std::optional<Result>>();
            runJob(what, [result, job = std::move(job)]() mutable { result->emplace(job()); });
            return std::move(**result);
        }
    }

    // Ends the current wait at once.
    void cancel();

    // On the database thread: whether the caller has stopped waiting for the
    // job in hand, so that it must not commit anything more.
    static bool jobAbandoned();

    // Whether a job is still stuck on an abandoned or running thread; the
    // program then ends without waiting for it.
    static bool anyStuck();

signals:
    // A job has run for this many whole seconds (from one on).
    void waiting(const QString &what, int seconds);
    void waitEnded();

private:
    struct Job;
    void runJob(const QString &what, std::function<void()> job);
    void startThread();
    void retireThread(bool join);

    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr;
    std::chrono::milliseconds m_limit = DefaultLimit;
    bool m_busy = false;
    bool m_cancelled = false;
    std::function<void()> m_quitWait;
};
