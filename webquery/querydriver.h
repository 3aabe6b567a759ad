#pragma once

#include "pageaccess.h"
#include "siteparameters.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWebEnginePage>

#include <chrono>

class QWebEngineCertificateError;
class QWebEngineLoadingInfo;
class QWebEngineView;

// An address as the log shows it: no user, password or query string.
QString loggedAddress(const QString &url);

// Walks the bureau's site for one query, from "Consultar CNPJ" to its result
// page: start address, login page, CNPJ page, result page. Pages are
// recognised only by their address, at each document the view loads while the
// walk runs; what happens is told through the signals, in order. The walk
// ends once: with resultPageReached(), failed(), or silently by cancel().
// Afterwards it leaves the view alone.
class QueryDriver : public QObject
{
    Q_OBJECT

public:
    static constexpr int Steps = 7;
    static constexpr std::chrono::seconds DefaultPageTimeout{90};

    // displayedCnpj: the client's CNPJ as the window shows it.
    QueryDriver(QWebEngineView *view, const SiteParameters &site, const QString &displayedCnpj,
                QObject *parent = nullptr);

    // How long the site may take from each step of the walk to the next page
    // it recognises; past it the query fails, naming the page, and nothing is stored.
    void setPageTimeout(std::chrono::milliseconds timeout) { m_pageTimer.setInterval(timeout); }

    // Resets the progress and starts loading the site. A start address that
    // cannot be loaded ends the walk at once with failed().
    void start();

    // Ends the walk without a word: a wait on the page in progress ends at
    // once, and nothing more is typed, submitted or reported.
    void cancel();

    // Submits the form at that position of the current document. While a
    // document is handled it is checked at once but sent when the handling
    // ends, so that the page stays one document until then.
    void LoginClick(int index);

    // The walk failed because the login page came back after the login was
    // sent, before the site had accepted it; a login page after the CNPJ page
    // is an expired session, a failure of the site.
    bool loginRefused() const { return m_loginRefused; }

signals:
    void progressRestarted(int maximum); // position 0, then the maximum
    void progressStep();
    void statusChanged(const QString &text);
    // A query has started; the browser is what the user follows now.
    void queryStarted();
    // The result page of this query has loaded; the walk is over.
    void resultPageReached();
    void failed(const QString &message);

private:
    void documentLoaded();
    void loadingChanged(const QWebEngineLoadingInfo &info);
    void certificateRejected(const QWebEngineCertificateError &error);
    void rendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    void watchPage(QWebEnginePage *page);
    void windowFollowed(QWebEnginePage *page, const QUrl &address);
    void awaitPage(const QString &what);
    void pageTimedOut();
    // False when the driver was deleted meanwhile.
    bool handle();
    void walk();
    void handleLogin();
    void handleCnpjPage(const QString &punctuatedCnpj);
    void handleResult();
    // Ends the walk; the signals and the page's events no longer reach it.
    void finish();
    void fail(const QString &status, const QString &message);
    // The text with the site password masked, for the log.
    QString redacted(QString text) const;

    QWebEngineView *m_view;
    QPointer<QWebEnginePage> m_watched; // whose loads the walk follows: the page the view shows
    PageAccess m_page;
    const SiteParameters m_site;
    const QString m_displayedCnpj;
    const QString m_cnpjDigitos; // for the log
    bool m_walking = false;
    // The login form goes to the site once per query, so that a refused login
    // is not retried until the bureau locks the account.
    bool m_loginSubmitted = false;
    bool m_loginRefused = false;
    // Each query of the CNPJ is billed: its form goes out once per query too.
    bool m_cnpjSubmitted = false;
    bool m_cnpjPageReached = false; // the site had accepted the login

    QTimer m_pageTimer;
    QString m_awaitedPage;
    // The page the site showed last, when the walk does not know it.
    QString m_unknownPage;
    // The window the site opened in the page, when it has shown no page the walk knows since.
    QString m_openedWindow;
    // Why the engine refused the site's certificate, until the load fails for it.
    QString m_certificateProblem;

    bool m_handling = false;
    int m_pendingDocuments = 0; // loaded while one was handled, handled after it
    QList<int> m_heldForms;
    QElapsedTimer m_elapsed; // since the walk started, for the log
};
