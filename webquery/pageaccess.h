#pragma once

#include <QList>
#include <QString>

class QWebEngineView;

// What the query driver does to the page in the browser: load an address,
// recognise the loaded page by its address, fill and click named elements,
// and submit a form by position. Each call works on the document that the
// browser holds at that moment; nothing is cached between calls.
class PageAccess
{
public:
    explicit PageAccess(QWebEngineView *view);

    // Starts loading; the page arrives later as a document-complete event.
    void navigate(const QString &url);

    // The top-level address as the browser reports it now.
    QString currentUrl() const;

    // True when the browser's top-level address equals url exactly.
    bool EstaNaPagina(const QString &url) const;

    // Sets "value" of the first element in document order whose name or id
    // equals elementName. Throws AppError naming the element when it is missing.
    void PreencheElemento(const QString &elementName, const QString &value);

    // Calls "click" of that element; throws AppError when it is missing.
    void ClicaElemento(const QString &elementName);

    // Submits the form at that 0-based position of document.forms; throws
    // AppError, submitting nothing, when there is no such form.
    void submitForm(int index);

    // While held, a submission is checked at once but sent on release, so
    // that the page stays one document until the handler working on it ends.
    void holdSubmissions();
    void releaseSubmissions();

private:
    QWebEngineView *m_view;
    bool m_holding = false;
    QList<int> m_heldForms;
};
