#include "databasethread.h"

#include "dbengine.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace {

// Threads whose job has not come back yet, this one included.
std::atomic<int> stuckThreads{0};

// The abandoned flag of the job running on this thread.
thread_local const std::atomic<bool> *currentAbandoned = nullptr;

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

struct DatabaseThread::Job
{
    quint64 id = 0;
    std::function<void()> work;
    std::exception_ptr failure;
    std::atomic<bool> finished{false};
    std::atomic<bool> abandoned{false};
};

bool DatabaseThread::jobAbandoned()
{
    return currentAbandoned && currentAbandoned->load();
}

DatabaseThread::DatabaseThread(QObject *parent)
    : QObject(parent)
{
}

DatabaseThread::~DatabaseThread()
{
    retireThread(true);
}

bool DatabaseThread::anyStuck()
{
    return stuckThreads.load() > 0;
}

void DatabaseThread::startThread()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("database"));
    auto *worker = new Worker;
    worker->moveToThread(m_thread);
    m_worker = worker;
    // The worker goes with its thread's event loop, closing its connections there.
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    m_thread->start();
}

// join: wait for an idle thread to end; a busy one is left to end by itself
// once its job comes back (or with the process).
void DatabaseThread::retireThread(bool join)
{
    if (!m_thread)
        return;
    QThread *thread = std::exchange(m_thread, nullptr);
    m_worker = nullptr;
    thread->quit();
    if (join && !m_busy)
        thread->wait();
}

void DatabaseThread::cancel()
{
    m_cancelled = true;
    if (m_quitWait)
        m_quitWait();
}

void DatabaseThread::runJob(const QString &what, std::function<void()> work)
{
    if (m_busy)
        throw AppError(QStringLiteral("O banco de dados ainda está ocupado com outra operação (%1)").arg(what));
    if (!m_thread)
        startThread();

    static quint64 lastId = 0;
    auto job = std::make_shared<Job>();
    job->id = ++lastId;
    job->work = std::move(work);

    QEventLoop loop;
    QTimer tick;
    tick.setInterval(1000);
    int seconds = 0;
    bool timedOut = false;
    connect(&tick, &QTimer::timeout, &loop, [&] {
        ++seconds;
        if (std::chrono::seconds(seconds) >= m_limit) {
            timedOut = true;
            loop.quit();
            return;
        }
        emit waiting(what, seconds);
    });
    const QMetaObject::Connection finished = connect(static_cast<Worker *>(m_worker), &Worker::jobFinished, &loop,
                                                     [&loop, id = job->id](quint64 done) {
                                                         if (done == id)
                                                             loop.quit();
                                                     });

    m_busy = true;
    m_cancelled = false;
    ++stuckThreads;
    QMetaObject::invokeMethod(m_worker, [job, worker = static_cast<Worker *>(m_worker)] {
        currentAbandoned = &job->abandoned;
        try {
            job->work();
        } catch (...) {
            job->failure = std::current_exception();
        }
        currentAbandoned = nullptr;
        job->finished = true;
        --stuckThreads;
        emit worker->jobFinished(job->id);
    });

    // Fast jobs never show the wait; the loop only runs when one takes time.
    if (!job->finished) {
        const auto quit = [&loop] { loop.quit(); };
        m_quitWait = quit;
        tick.start();
        loop.exec();
        m_quitWait = nullptr;
    }
    disconnect(finished);
    m_busy = false;
    if (seconds > 0)
        emit waitEnded();

    if (!job->finished) {
        // Left to its thread; the next job starts on a new one.
        job->abandoned = true;
        retireThread(false);
        if (timedOut) {
            throw AppError(QStringLiteral("O banco de dados não respondeu em %1 s (%2); a operação foi abandonada e "
                                          "nada foi gravado")
                               .arg(std::chrono::duration_cast<std::chrono::seconds>(m_limit).count())
                               .arg(what));
        }
        throw Cancelled();
    }
    if (job->failure)
        std::rethrow_exception(job->failure);
}

#include "databasethread.moc"
