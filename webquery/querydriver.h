#pragma once

#include "pageaccess.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWebEnginePage>

#include <chrono>

class QWebEngineCertificateError;
class QWebEngineLoadingInfo;
class QWebEngineView;
struct SiteParameters;

// Walks the bureau's site for one query: start address, login page, CNPJ page,
// result page. Pages are recognised only by their address, at each loaded
// document of the view; what happens is told through the signals, in order.
// A query ends exactly once, with succeeded() or failed().
class QueryDriver : public QObject
{
    Q_OBJECT

public:
    static constexpr int Steps = 7;
    static constexpr std::chrono::seconds DefaultPageTimeout{90};

    // Where a query stands.
    enum class Stage {
        Idle,      // no query, or the last one has ended
        Walking,   // from "Consultar CNPJ" until the result page loads
        Capturing, // the result page is being captured
        Storing,   // the capture is being archived
    };

    QueryDriver(QWebEngineView *view, const SiteParameters &site, QObject *parent = nullptr);

    // How long the site may take from each step of the walk to the next page
    // it recognises; past it the query fails, naming the page, and nothing is stored.
    void setPageTimeout(std::chrono::milliseconds timeout) { m_pageTimer.setInterval(timeout); }

    Stage stage() const { return m_stage; }
    // The client's CNPJ reduced to digits when the query started.
    const QString &cnpjDigitos() const { return m_cnpjDigitos; }

    // "Consultar CNPJ" for the CNPJ as the window shows it: resets the progress,
    // keeps the digits and starts loading the site. A start address that cannot
    // be loaded ends the query at once with failed().
    void start(const QString &displayedCnpj);

    // The user is leaving: a wait on the page in progress ends at once, and
    // nothing more of this query is walked, reported or stored.
    void cancel();

    // Submits the form at that position of the current document. While a
    // document is handled it is checked at once but sent when the handling
    // ends, so that the page stays one document until then.
    void LoginClick(int index);

    // What became of the result page announced by resultPageReached().
    void resultStoring();
    void resultStored();
    void resultFailed(const QString &message);

signals:
    void progressRestarted(int maximum); // position 0, then the maximum
    void progressStep();
    void statusChanged(const QString &text);
    // A query has started; the browser is what the user follows now.
    void queryStarted();
    // The result page of this query has loaded: capture it before returning,
    // then store it and answer with resultStored() or resultFailed(). Once per query.
    void resultPageReached();
    void succeeded(const QString &message);
    void failed(const QString &message);

private:
    void documentLoaded();
    void loadingChanged(const QWebEngineLoadingInfo &info);
    void certificateRejected(const QWebEngineCertificateError &error);
    void rendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    void awaitPage(const QString &what);
    void pageTimedOut();
    void handle();
    void walk();
    void handleLogin();
    void handleCnpjPage(const QString &punctuatedCnpj);
    void handleResult();
    // Ends the query in hand (or reports a failure between queries) once.
    void fail(const QString &status, const QString &message);
    // The text with the site password masked, for the log.
    QString redacted(QString text) const;

    QWebEngineView *m_view;
    PageAccess m_page;
    const SiteParameters &m_site;
    Stage m_stage = Stage::Idle;
    QString m_displayedCnpj;
    QString m_cnpjDigitos;
    // The login form goes to the site once per query, so that a refused login
    // is not retried until the bureau locks the account.
    bool m_loginSubmitted = false;

    QTimer m_pageTimer;
    QString m_awaitedPage;
    // Why the engine refused the site's certificate, until the load fails for it.
    QString m_certificateProblem;

    bool m_handling = false;
    int m_pendingDocuments = 0; // loaded while one was handled, handled after it
    QList<int> m_heldForms;
    QElapsedTimer m_elapsed; // since the query started, for the log
};
