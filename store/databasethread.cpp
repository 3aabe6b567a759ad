#include "databasethread.h"

#include "dbengine.h"

#include <QThread>

namespace {

// Lives on the database thread; its connections end with it.
class Worker : public QObject
{
    Q_OBJECT
public:
    ~Worker() override { DbEngine::reset(); }

signals:
    void jobFinished(quint64 id);
};

} // namespace

DatabaseThread::DatabaseThread(QObject *parent) : QObject(parent)
{
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &DatabaseThread::tick);
}

DatabaseThread::~DatabaseThread()
{
    const bool idle = m_jobs.isEmpty();
    QThread *thread = m_thread;
    retireThread();
    if (thread && idle)
        thread->wait();
}

void DatabaseThread::startThread()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("database"));
    auto *worker = new Worker;
    worker->moveToThread(m_thread);
    m_worker = worker;
    connect(worker, &Worker::jobFinished, this, &DatabaseThread::jobFinished);
    // The worker goes with its thread's event loop, closing its connections there.
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    m_thread->start();
}

// The thread ends once the job it holds comes back (or with the process).
void DatabaseThread::retireThread()
{
    if (!m_thread)
        return;
    std::exchange(m_thread, nullptr)->quit();
    m_worker = nullptr;
}

void DatabaseThread::dispatch(std::shared_ptr<Job> job)
{
    job->id = ++m_lastId;
    ++*m_unreturned;
    m_jobs.append(job);
    send(job);
    if (!m_tick.isActive())
        m_tick.start();
}

void DatabaseThread::send(const std::shared_ptr<Job> &job)
{
    if (!m_thread)
        startThread();
    QMetaObject::invokeMethod(m_worker, [job, worker = static_cast<Worker *>(m_worker), unreturned = m_unreturned] {
        // Sent again to a fresh thread, a job runs on whichever reaches it first.
        if (job->started.exchange(true))
            return;
        job->run(*job);
        --*unreturned;
        emit worker->jobFinished(job->id);
    });
}

void DatabaseThread::jobFinished(quint64 id)
{
    const bool wasFirst = !m_jobs.isEmpty() && m_jobs.first()->id == id;
    m_jobs.removeIf([id](const std::shared_ptr<Job> &job) { return job->id == id; });
    if (!wasFirst)
        return;
    if (m_waitShown) {
        m_waitShown = false;
        emit waitEnded();
    }
    if (m_jobs.isEmpty())
        m_tick.stop();
}

void DatabaseThread::tick()
{
    if (m_jobs.isEmpty()) {
        m_tick.stop();
        return;
    }
    const std::shared_ptr<Job> job = m_jobs.first();
    ++job->seconds;
    if (std::chrono::seconds(job->seconds) < m_limit) {
        m_waitShown = true;
        emit waiting(job->what, job->seconds);
        return;
    }
    abandon(job, std::make_exception_ptr(
                     AppError(QStringLiteral("O banco de dados não respondeu em %1 s (%2); a operação foi abandonada "
                                             "e nada foi gravado")
                                  .arg(std::chrono::duration_cast<std::chrono::seconds>(m_limit).count())
                                  .arg(job->what))));
}

void DatabaseThread::abandon(const std::shared_ptr<Job> &job, std::exception_ptr failure)
{
    job->abandoned = true;
    m_jobs.removeOne(job);
    // The jobs behind it were queued on the stuck thread: they go to a fresh one.
    retireThread();
    for (const std::shared_ptr<Job> &waiting : std::as_const(m_jobs))
        send(waiting);
    if (m_waitShown) {
        m_waitShown = false;
        emit waitEnded();
    }
    if (m_jobs.isEmpty())
        m_tick.stop();
    if (job->settle())
        job->fail(failure);
}

void DatabaseThread::cancel()
{
    const QList<std::shared_ptr<Job>> jobs = std::exchange(m_jobs, {});
    m_tick.stop();
    m_waitShown = false;
    if (!jobs.isEmpty())
        retireThread();
    for (const std::shared_ptr<Job> &job : jobs) {
        job->abandoned = true;
        // One that has not begun never will.
        if (!job->started.exchange(true))
            --*m_unreturned;
        if (job->settle())
            job->fail(std::make_exception_ptr(Cancelled()));
    }
}

#include "databasethread.moc"
