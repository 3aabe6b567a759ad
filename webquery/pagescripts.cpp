#include "pagescripts.h"

#include "pagescript.h"

#include <QJsonArray>

namespace PageScripts {

namespace {

const QString findElement = QStringLiteral(":/webquery/findelement.js");

} // namespace

QString fillElement(const QString &elementName, const QString &value)
{
    return PageScript::call(QStringLiteral(":/webquery/fillelement.js"),
                            {{QStringLiteral("name"), elementName}, {QStringLiteral("value"), value}}, {findElement});
}

QString clickElement(const QString &elementName)
{
    return PageScript::call(QStringLiteral(":/webquery/clickelement.js"), {{QStringLiteral("name"), elementName}},
                            {findElement});
}

QString sendWatch()
{
    return PageScript::inPageWorld(QStringLiteral(":/webquery/sendwatch.js"));
}

QString submitForms(const QList<int> &indices, bool submit)
{
    QJsonArray list;
    for (const int index : indices)
        list.append(index);
    return PageScript::call(QStringLiteral(":/webquery/submitforms.js"),
                            {{QStringLiteral("indices"), list}, {QStringLiteral("submit"), submit}});
}

} // namespace PageScripts
