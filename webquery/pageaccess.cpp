#include "pageaccess.h"

#include "apperror.h"
#include "pagescripts.h"
#include "scriptrunner.h"

#include <QUrl>
#include <QWebEngineView>

PageAccess::PageAccess(QWebEngineView *view) : m_view(view) { }

void PageAccess::navigate(const QString &url)
{
    const QUrl target = QUrl::fromUserInput(url);
    if (url.trimmed().isEmpty() || !target.isValid())
        throw AppError(QStringLiteral("Endereço do site inválido: \"%1\"").arg(url));
    m_view->load(target);
}

void PageAccess::stop()
{
    m_view->stop();
}

QString PageAccess::currentUrl() const
{
    return m_view->url().toString();
}

bool PageAccess::EstaNaPagina(const QString &url) const
{
    return currentUrl() == url;
}

void PageAccess::PreencheElemento(const QString &elementName, const QString &value)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::fillElement(elementName, value));
}

void PageAccess::ClicaElemento(const QString &elementName)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::clickElement(elementName));
}

void PageAccess::checkForm(int index)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::submitForms({index}, false));
}

void PageAccess::submitForms(const QList<int> &indices)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::submitForms(indices, true));
}
