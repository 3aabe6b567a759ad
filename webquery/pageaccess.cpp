#include "pageaccess.h"

#include "apperror.h"
#include "pagescripts.h"
#include "scriptrunner.h"

#include <QUrl>
#include <QWebEngineView>

PageAccess::PageAccess(QWebEngineView *view)
    : m_view(view)
{
}

void PageAccess::navigate(const QString &url)
{
    const QUrl target = QUrl::fromUserInput(url);
    if (url.trimmed().isEmpty() || !target.isValid())
        throw AppError(QStringLiteral("Endereço do site inválido: \"%1\"").arg(url));
    m_view->load(target);
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

void PageAccess::submitForm(int index)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::submitForms({index}, !m_holding));
    if (m_holding)
        m_heldForms.append(index);
}

void PageAccess::holdSubmissions()
{
    m_holding = true;
}

void PageAccess::releaseSubmissions()
{
    m_holding = false;
    const QList<int> forms = std::exchange(m_heldForms, {});
    if (!forms.isEmpty())
        ScriptRunner::runChecked(m_view->page(), PageScripts::submitForms(forms, true));
}
