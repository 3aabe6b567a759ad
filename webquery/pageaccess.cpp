#include "pageaccess.h"

#include "apperror.h"
#include "pagescripts.h"
#include "scriptrunner.h"
#include "windowfollower.h"

#include <QUrl>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

PageAccess::PageAccess(QWebEngineView *view) : m_view(view) { }

void PageAccess::prepare()
{
    const QString name = QStringLiteral("devezozuvor-envios");
    WindowFollower::of(m_view);
    QWebEnginePage *page = m_view->page();
    if (!page->scripts().find(name).isEmpty())
        return;
    QWebEngineScript watch;
    watch.setName(name);
    watch.setSourceCode(PageScripts::sendWatch());
    watch.setInjectionPoint(QWebEngineScript::DocumentCreation);
    watch.setWorldId(QWebEngineScript::MainWorld);
    watch.setRunsOnSubFrames(false);
    page->scripts().insert(watch);
}

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

QString comparableAddress(const QUrl &url)
{
    QUrl address = url;
    const QString scheme = address.scheme();
    const bool web = scheme == u"http" || scheme == u"https";
    if ((scheme == u"http" && address.port() == 80) || (scheme == u"https" && address.port() == 443))
        address.setPort(-1);
    if (web && address.path().isEmpty())
        address.setPath(QStringLiteral("/"));
    return address.toString(QUrl::FullyEncoded);
}

bool PageAccess::EstaNaPagina(const QString &url) const
{
    const QUrl wanted(url);
    return wanted.isValid() && !url.isEmpty() && comparableAddress(m_view->url()) == comparableAddress(wanted);
}

void PageAccess::PreencheElemento(const QString &elementName, const QString &value)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::fillElement(elementName, value));
}

bool PageAccess::ClicaElemento(const QString &elementName)
{
    return ScriptRunner::runChecked(m_view->page(), PageScripts::clickElement(elementName)).toBool();
}

void PageAccess::checkForm(int index)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::submitForms({index}, false));
}

void PageAccess::submitForms(const QList<int> &indices)
{
    ScriptRunner::runChecked(m_view->page(), PageScripts::submitForms(indices, true));
}
