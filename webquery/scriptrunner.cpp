#include "scriptrunner.h"

#include "apperror.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <memory>

namespace ScriptRunner {

QVariant run(QWebEnginePage *page, const QString &script, int timeoutMs)
{
    if (!page)
        throw AppError(QStringLiteral("O navegador não está disponível."));

    // The callback may outlive this frame (late answer after a timeout), so
    // the answer lives in shared state and the loop is reached through a guard.
    struct Answer
    {
        bool arrived = false;
        QVariant value;
    };
    auto answer = std::make_shared<Answer>();
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    QPointer<QWebEnginePage> pageGuard(page);

    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(page, &QObject::destroyed, &loop, &QEventLoop::quit);

    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [answer, guard](const QVariant &value) {
        answer->arrived = true;
        answer->value = value;
        if (guard)
            guard->quit();
    });
    if (!answer->arrived) {
        timeout.start(timeoutMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    if (answer->arrived)
        return answer->value;
    if (!pageGuard)
        throw AppError(QStringLiteral("A página foi fechada enquanto o navegador executava uma operação."));
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

} // namespace ScriptRunner
