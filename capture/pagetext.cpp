#include "pagetext.h"

#include "apperror.h"
#include "logcategories.h"
#include "capturescripts.h"
#include "scriptrunner.h"

#include <QVariantList>

namespace PageText {

ReportText read(QWebEnginePage *page)
{
    ReportText lines;
    try {
        if (!page)
            throw AppError(QStringLiteral("o navegador não está disponível"));
        const QVariantList answer = ScriptRunner::runChecked(page, CaptureScripts::visibleTextLines()).toList();
        lines.reserve(answer.size());
        for (const QVariant &row : answer) {
            const QVariantList f = row.toList();
            if (f.size() == 5)
                lines.append({f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toString()});
        }
    } catch (const AppError &e) {
        qCWarning(lcCapture).noquote() << "texto da página não lido, a captura segue sem texto:" << e.message();
        return {};
    }
    return lines;
}

} // namespace PageText
