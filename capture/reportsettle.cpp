#include "reportsettle.h"

#include "pagescripts.h"
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
    counter.setSourceCode(PageScripts::requestCounter());
    counter.setInjectionPoint(QWebEngineScript::DocumentCreation);
    counter.setWorldId(QWebEngineScript::MainWorld);
    counter.setRunsOnSubFrames(false);
    page->scripts().insert(counter);
}

bool wait(QWebEnginePage *page, QDeadlineTimer deadline, QString *unsettled)
{
    QVariantMap state;
    const bool settled = ScriptRunner::waitUntil(
        [&] {
            state = ScriptRunner::runChecked(page, PageScripts::settleState()).toMap();
            return state.value(QStringLiteral("pending")).toInt() == 0
                   && state.value(QStringLiteral("quietMs")).toDouble() >= QuietMs
                   && state.value(QStringLiteral("fonts")).toBool() && state.value(QStringLiteral("images")).toBool();
        },
        deadline, page);
    if (!settled && unsettled) {
        const auto yesNo = [](bool loaded) { return loaded ? QStringLiteral("carregadas") : QStringLiteral("não"); };
        *unsettled = QStringLiteral("%1 requisições pendentes, documento alterado há %2 ms, fontes %3, imagens %4")
                         .arg(state.value(QStringLiteral("pending")).toInt())
                         .arg(qRound(state.value(QStringLiteral("quietMs")).toDouble()))
                         .arg(yesNo(state.value(QStringLiteral("fonts")).toBool()),
                              yesNo(state.value(QStringLiteral("images")).toBool()));
    }
    return settled;
}

} // namespace ReportSettle
