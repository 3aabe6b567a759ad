#pragma once

#include "clientlookup.h"
#include "leparametro.h"
#include "siteparameters.h"

#include <QObject>
#include <QSize>

#include <chrono>
#include <memory>

class DatabaseThread;
class QuerySession;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

// What a query of the branch needs before its walk, made in one place for the
// window and for the list: the branch's site parameters read and checked, the
// browser (an off-the-record profile, its page, the view), the capture
// folder, the page time bound, the CNPJ check, and a view the engine draws:
// a query starts once the previous capture has given its memory back.
class QueryRoom : public QObject
{
    Q_OBJECT

public:
    // The window's room: its queries walk in the window's browser.
    QueryRoom(DatabaseThread *database, QWebEngineView *view, QObject *parent = nullptr);
    // The list's room: a view of its own, of the window's browser's size, shown (the engine draws only a shown view).
    QueryRoom(DatabaseThread *database, QSize browserSize, QObject *parent = nullptr);
    ~QueryRoom() override;

    // Makes the capture folder (see prepareCaptureFolder) and returns it.
    const QString &prepareCaptureFolder(const QString &programDirectory);
    const QString &captureFolder() const { return m_captureFolder; }

    enum class Check { Parameters, StoreFirst };
    // Reads the branch's site parameters on the database thread: each one not
    // read is told by parameterFailed() and stays empty, then parametersRead()
    // comes. StoreFirst checks the database and that the archive can take a
    // report before; failed() tells what stops it, as do a failed job's words.
    void readParameters(qint32 branch, Check check);
    const SiteParameters &site() const { return m_site; }
    // Why the branch's site cannot be queried; empty when it can.
    QString siteRefusal(qint32 branch) const;

    // The view the queries walk in, its page made on first call.
    QWebEngineView *browser();
    // Its page; null until browser() has made it.
    QWebEnginePage *page() const { return m_page.get(); }

    // A query of the client's CNPJ as shown, made by parent. Throws AppError
    // with the reason the user is told when the CNPJ cannot be sent.
    QuerySession *newQuery(const Client &client, const QString &cnpj, QObject *parent);
    // Starts the query once the engine draws the view again; deleting the query meanwhile drops it.
    void start(QuerySession *session);

signals:
    void parameterFailed(const QString &key, const QString &failure);
    void parametersRead(const SiteParameters &site);
    void failed(const QString &message);

private:
    void fold(const QList<ParameterRead> &reads);
    void startWhenShown(QuerySession *session, int triesLeft);

    DatabaseThread *m_database;
    // The profile outlives its page, the page its view.
    std::unique_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<QWebEnginePage> m_page;
    std::unique_ptr<QWebEngineView> m_ownView; // the list's
    QWebEngineView *m_view;
    std::chrono::seconds m_pageTimeout{0};
    QString m_captureFolder;
    SiteParameters m_site;
};
