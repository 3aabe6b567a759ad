#pragma once

#include "pageaccess.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <chrono>

#include <functional>

class QWebEngineView;
struct SiteParameters;

// Walks the bureau's site for one query: start address, login page, CNPJ page,
// result page. Pages are recognised only by their address, at each loaded
// document; what happens is told through the signals, in order.
class QueryDriver : public QObject
{
    Q_OBJECT

public:
    static constexpr int Steps = 7;
    static constexpr std::chrono::seconds DefaultPageTimeout{90};

    QueryDriver(QWebEngineView *view, const SiteParameters &site, QObject *parent = nullptr);

    // Archives the result page once it is recognised. A failure thrown from it
    // ends that document's handling like a failure of any other step.
    void setResultHandler(std::function<void()> handler) { m_resultHandler = std::move(handler); }

    // How long the site may take to answer each request of the walk; past it
    // the query ends with a failure naming the page and nothing is stored.
    void setPageTimeout(std::chrono::milliseconds timeout) { m_pageTimer.setInterval(timeout); }

    PageAccess &page() { return m_page; }
    // A document is being handled: its steps may be waiting on the page.
    bool isHandling() const { return m_handling; }
    // The client's CNPJ reduced to digits when the query started.
    const QString &cnpjDigitos() const { return m_cnpjDigitos; }

    // "Consultar CNPJ" for the CNPJ as the window shows it: resets the progress,
    // keeps the digits and starts loading the site. Throws AppError when the
    // site cannot be reached from here.
    void start(const QString &displayedCnpj);

    // A document has finished loading (ok false: it failed to load). Documents
    // that load while one is being handled are handled after it, in order.
    void documentComplete(bool ok);

    // The user is leaving: a wait on the page in progress ends at once, and
    // nothing more of this query is walked, reported or stored.
    void cancel();

    // Submits the form at that position of the current document. While a
    // document is handled it is checked at once but sent when the handling
    // ends, so that the page stays one document until then.
    void LoginClick(int index);

signals:
    void progressRestarted(int maximum); // position 0, then the maximum
    void progressStep();
    void statusChanged(const QString &text);
    void tabRequested(int index); // 0 archive, 1 browser
    void succeeded(const QString &message);
    void failed(const QString &message);

private:
    void awaitPage(const QString &what);
    void pageTimedOut();
    void handle(bool ok);
    void walk(bool ok);
    void handleLogin();
    void handleCnpjPage(const QString &punctuatedCnpj);
    void handleResult();
    // The text with the site password masked, for the log.
    QString redacted(QString text) const;

    PageAccess m_page;
    const SiteParameters &m_site;
    std::function<void()> m_resultHandler;
    QString m_displayedCnpj;
    QString m_cnpjDigitos;
    // The login form goes to the site once per query, so that a refused login
    // is not retried until the bureau locks the account.
    bool m_loginSubmitted = false;

    QTimer m_pageTimer;
    QString m_awaitedPage;
    // Set by a time-out: pages that arrive late are not walked until the next start.
    bool m_abandoned = false;

    bool m_handling = false;
    bool m_resultStored = false;
    QQueue<bool> m_pendingDocuments;
    QList<int> m_heldForms;
    QElapsedTimer m_elapsed; // since the query started, for the log
};
