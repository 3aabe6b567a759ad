#include "reportsettle.h"

#include "capturescripts.h"
#include "scriptrunner.h"

#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace ReportSettle {

void prepare(QWebEnginePage *page)
{
    const QString name = QStringLiteral("devezozuvor-requisicoes");
    if (!page->scripts().find(name).isEmpty())
        return;
    QWebEngineScript counter;
    counter.setName(name);
    counter.setSourceCode(CaptureScripts::requestCounter(ShortTimerMs));
    counter.setInjectionPoint(QWebEngineScript::DocumentCreation);
    counter.setWorldId(QWebEngineScript::MainWorld);
    counter.setRunsOnSubFrames(false);
    page->scripts().insert(counter);
}

bool wait(QWebEnginePage *page, QDeadlineTimer deadline, QString *unsettled)
{
    QVariantMap state;
    const auto count = [&](const char *name) { return state.value(QLatin1String(name)).toInt(); };
    const bool settled = ScriptRunner::waitUntil(
        [&] {
            state = ScriptRunner::runChecked(page, CaptureScripts::settleState()).toMap();
            return count("pending") == 0 && count("timers") == 0 && count("images") == 0 && count("frames") == 0
                   && state.value(QStringLiteral("quietMs")).toDouble() >= QuietMs
                   && state.value(QStringLiteral("fonts")).toBool();
        },
        deadline, page);
    if (!settled && unsettled) {
        *unsettled = QStringLiteral("%1 requisições pendentes, %2 temporizadores por disparar, documento alterado há "
                                    "%3 ms, fontes %4, %5 imagens e %6 quadros por carregar")
                         .arg(count("pending"))
                         .arg(count("timers"))
                         .arg(qRound(state.value(QStringLiteral("quietMs")).toDouble()))
                         .arg(state.value(QStringLiteral("fonts")).toBool() ? QStringLiteral("carregadas")
                                                                             : QStringLiteral("não carregadas"))
                         .arg(count("images"))
                         .arg(count("frames"));
    }
    return settled;
}

} // namespace ReportSettle
