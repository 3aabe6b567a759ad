#pragma once

#include <QString>

class PageAccess;
struct SiteParameters;

// What the query driver needs from the window that hosts it.
class QueryHost
{
public:
    virtual void SetaStatus(const QString &text) = 0;
    virtual void IncProgresso() = 0;
    virtual void restartProgress(int maximum) = 0; // position 0, then the maximum
    virtual void showTab(int index) = 0;           // 0 archive, 1 browser
    virtual QString displayedCnpj() const = 0;
    virtual void setCnpjDigitos(const QString &digits) = 0;
    virtual void LoginClick(int index) = 0;
    virtual void SalvaPagina() = 0;
    virtual void announceSuccess(const QString &text) = 0;

protected:
    ~QueryHost() = default;
};

// Walks the bureau's site for one query: start address, login page, CNPJ page,
// result page. Pages are recognised only by their address, at each loaded document.
class QueryDriver
{
public:
    static constexpr int Steps = 7;

    QueryDriver(QueryHost &host, PageAccess &page, const SiteParameters &site);

    // "Consultar CNPJ": resets the progress, keeps the CNPJ digits and starts loading the site.
    void start();

    // A document has finished loading (ok false: it failed to load).
    void documentComplete(bool ok);

private:
    void handleLogin();
    void handleCnpjPage(const QString &punctuatedCnpj);
    void handleResult();

    QueryHost &m_host;
    PageAccess &m_page;
    const SiteParameters &m_site;
    // The login form goes to the site once per query, so that a refused login
    // is not retried until the bureau locks the account.
    bool m_loginSubmitted = false;
};
