#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QUrl;
class QWebEngineNewWindowRequest;
class QWebEnginePage;
class QWebEngineView;

// Keeps the windows the site opens in the one view the tool shows and walks:
// a form or link with another target, or a script's window.open(), opens in a
// page of the follower's own that the view then shows in place of the page
// that opened it (whose pending script answers still arrive). Outside a query
// the new page is only shown there. Each query starts on the view's own page
// again, and the followed pages are closed.
class WindowFollower : public QObject
{
    Q_OBJECT

public:
    // The view's follower, made on first use; it lives as long as the view.
    static WindowFollower *of(QWebEngineView *view);

    // Shows the view's own page again and closes the pages followed since.
    void restore();

signals:
    // The view shows page, a window its site opened at that address (empty or about:blank: none yet).
    void followed(QWebEnginePage *page, const QUrl &address);

private:
    explicit WindowFollower(QWebEngineView *view);
    void watch(QWebEnginePage *page);
    void follow(QWebEnginePage *opener, QWebEngineNewWindowRequest &request);

    QWebEngineView *m_view;
    QPointer<QWebEnginePage> m_own; // the view's page when the follower was made
    QList<QWebEnginePage *> m_followed;
};
