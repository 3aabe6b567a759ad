#include "pagescript.h"

#include "apperror.h"

#include <QFile>
#include <QJsonDocument>

namespace PageScript {

namespace {

QString source(const QString &file)
{
    QFile script(file);
    if (!script.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("O script interno %1 não está no programa: %2").arg(file, script.errorString()));
    return QString::fromUtf8(script.readAll()).trimmed();
}

// As a JavaScript literal; the two line separators escaped too, for engines
// that predate JSON superset.
QString json(const QJsonObject &argument)
{
    QString text = QString::fromUtf8(QJsonDocument(argument).toJson(QJsonDocument::Compact));
    text.replace(QChar(0x2028), QLatin1String("\\u2028"));
    text.replace(QChar(0x2029), QLatin1String("\\u2029"));
    return text;
}

} // namespace

QString call(const QString &file, const QJsonObject &argument, const QStringList &helpers)
{
    QString script = QStringLiteral("(function() { try {\n");
    for (const QString &helper : helpers)
        script += source(helper) + u'\n';
    script += QStringLiteral("return (") + source(file) + QStringLiteral(")(") + json(argument)
              + QStringLiteral(");\n} catch (e) { return {erro: 'Erro no navegador: ' + String(e)}; } })()");
    return script;
}

QString inPageWorld(const QString &file, const QJsonObject &argument)
{
    return QStringLiteral("(") + source(file) + QStringLiteral(")(") + json(argument) + QStringLiteral(");");
}

} // namespace PageScript
