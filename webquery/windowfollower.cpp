#include "windowfollower.h"

#include "logcategories.h"

#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

WindowFollower *WindowFollower::of(QWebEngineView *view)
{
    auto *follower = view->findChild<WindowFollower *>(QString(), Qt::FindDirectChildrenOnly);
    return follower ? follower : new WindowFollower(view);
}

WindowFollower::WindowFollower(QWebEngineView *view) : QObject(view), m_view(view), m_own(view->page())
{
    watch(view->page());
}

void WindowFollower::watch(QWebEnginePage *page)
{
    connect(page, &QWebEnginePage::newWindowRequested, this,
            [this, page](QWebEngineNewWindowRequest &request) { follow(page, request); });
}

void WindowFollower::follow(QWebEnginePage *opener, QWebEngineNewWindowRequest &request)
{
    const QUrl address = request.requestedUrl();
    qCInfo(lcQuery).noquote() << "o site abriu uma nova janela, mostrada no navegador:"
                              << address.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
    // The new page runs the scripts the opener's documents run, from its first document.
    auto *page = new QWebEnginePage(opener->profile(), this);
    for (const QWebEngineScript &script : opener->scripts().toList())
        page->scripts().insert(script);
    watch(page);
    m_followed.append(page);
    request.openIn(page);
    m_view->setPage(page);
    emit followed(page, address);
}

void WindowFollower::restore()
{
    if (m_own && m_view->page() != m_own)
        m_view->setPage(m_own);
    // Whatever still waits on a closed page ends as its wait does when a page goes away.
    for (QWebEnginePage *page : std::exchange(m_followed, {}))
        page->deleteLater();
}
