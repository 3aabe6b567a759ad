#include "scriptrunner.h"

#include "apperror.h"

#include <QEventLoop>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <memory>

namespace ScriptRunner {

namespace {

// How often waitUntil re-checks a condition that nothing signals (a drawn pixel).
constexpr int RecheckMs = 8;

// A callback that may outlive the wait (a late answer after a time-out) reaches
// the running round only through this guard.
using Round = std::shared_ptr<QPointer<QEventLoop>>;

// The waits running on one page, innermost last, and how many times they were
// cancelled: a wait that sees the count change throws Cancelled. Kept by the
// page, so it lives exactly as long as the waits it serves can.
class PageWaits : public QObject
{
    Q_OBJECT // findChild() tells it from the page's other children by its type

public:
    static PageWaits *of(QWebEnginePage *page)
    {
        auto *waits = page->findChild<PageWaits *>(QString(), Qt::FindDirectChildrenOnly);
        return waits ? waits : new PageWaits(page);
    }

    QList<QEventLoop *> rounds;
    quint64 cancellations = 0;

private:
    explicit PageWaits(QObject *page) : QObject(page) { }
};

bool wait(const std::function<bool()> &done, QDeadlineTimer deadline, QWebEnginePage *page, int recheckMs,
          const Round &round)
{
    const QPointer<QWebEnginePage> pageGuard(page);
    const QPointer<PageWaits> waits(PageWaits::of(page));
    const quint64 cancelledBefore = waits->cancellations;
    for (;;) {
        if (waits && waits->cancellations != cancelledBefore)
            throw Cancelled();
        if (done())
            return true;
        if (!pageGuard)
            throw AppError(QStringLiteral("A página foi fechada enquanto o navegador executava uma operação."));
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        *round = &loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(page, &QObject::destroyed, &loop, &QEventLoop::quit);
        qint64 wakeMs = deadline.remainingTime(); // -1: no deadline
        if (recheckMs > 0 && (wakeMs < 0 || wakeMs > recheckMs))
            wakeMs = recheckMs;
        if (wakeMs >= 0)
            timer.start(int(wakeMs));
        // The user's clicks and keys are served meanwhile: the window answers
        // and "Sair" ends the wait.
        waits->rounds.append(&loop);
        loop.exec();
        if (waits)
            waits->rounds.removeOne(&loop);
        *round = nullptr;
    }
}

} // namespace

QVariant run(QWebEnginePage *page, const QString &script, int timeoutMs)
{
    if (!page)
        throw AppError(QStringLiteral("O navegador não está disponível."));

    struct Answer
    {
        bool arrived = false;
        QVariant value;
    };
    auto answer = std::make_shared<Answer>();
    auto round = std::make_shared<QPointer<QEventLoop>>();
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [answer, round](const QVariant &value) {
        answer->arrived = true;
        answer->value = value;
        if (*round)
            (*round)->quit();
    });
    if (wait([&] { return answer->arrived; }, QDeadlineTimer(timeoutMs), page, 0, round))
        return answer->value;
    throw AppError(QStringLiteral("O navegador não respondeu em %1 segundos.").arg(timeoutMs / 1000.0));
}

QVariant runChecked(QWebEnginePage *page, const QString &script, int timeoutMs)
{
    const QVariantMap answer = run(page, script, timeoutMs).toMap();
    if (answer.contains(QStringLiteral("erro")))
        throw AppError(answer.value(QStringLiteral("erro")).toString());
    if (!answer.contains(QStringLiteral("ok")))
        throw AppError(QStringLiteral("A página não pôde ser lida pelo navegador (resposta inesperada do script)."));
    return answer.value(QStringLiteral("ok"));
}

void cancelWaits(QWebEnginePage *page)
{
    if (!page)
        return;
    PageWaits *waits = PageWaits::of(page);
    ++waits->cancellations;
    for (QEventLoop *loop : std::as_const(waits->rounds))
        loop->quit();
}

bool waitUntil(const std::function<bool()> &done, QDeadlineTimer deadline, QWebEnginePage *page)
{
    if (!page)
        throw AppError(QStringLiteral("O navegador não está disponível."));
    return wait(done, deadline, page, RecheckMs, std::make_shared<QPointer<QEventLoop>>());
}

} // namespace ScriptRunner

#include "scriptrunner.moc"
