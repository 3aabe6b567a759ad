#pragma once

#include <QList>
#include <QString>

class QUrl;
class QWebEngineView;

// The address as the browser sends it, for comparing two of them: the scheme
// and host in lower case, the scheme's default port left out, an empty web
// path as "/", %-escapes written one way. Nothing else is loosened.
QString comparableAddress(const QUrl &url);

// What the query driver does to the page in the browser: load an address,
// recognise the loaded page by its address, fill and click named elements,
// and submit a form by position. Each call works on the document that the
// browser holds at that moment; nothing is cached between calls.
class PageAccess
{
public:
    explicit PageAccess(QWebEngineView *view);

    // Lets ClicaElemento() see what the page's own scripts send, in every
    // document the browser loads from now on.
    void prepare();

    // Starts loading; the page arrives later as a document-complete event.
    void navigate(const QString &url);

    // Stops whatever the browser is loading.
    void stop();

    // The top-level address as the browser reports it now.
    QString currentUrl() const;

    // True when the browser's top-level address is url: the same page, however
    // either writes its %-escapes, its scheme and host's case or a default port.
    bool EstaNaPagina(const QString &url) const;

    // Sets "value" of the first element in document order whose name or id
    // equals elementName. Throws AppError naming the element when it is missing.
    void PreencheElemento(const QString &elementName, const QString &value);

    // Calls "click" of that element; throws AppError when it is missing.
    // True when the click sent something: a form submitted (or handed to the
    // page's own submit handler), a navigation, or a request of the page's
    // scripts.
    bool ClicaElemento(const QString &elementName);

    // Throws AppError when document.forms has no form at that 0-based position.
    void checkForm(int index);
    // Submits the forms at those positions, in order (a later submission
    // replaces an earlier one's navigation); throws, submitting nothing, when
    // one of them is missing.
    void submitForms(const QList<int> &indices);

private:
    QWebEngineView *m_view;
};
