#pragma once

#include <QColor>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <list>
#include <memory>

class QHttpServer;
class QHttpServerResponder;
class QHttpServerRequest;
class QHttpServerResponse;

// A stand-in for the credit bureau's web site, served on 127.0.0.1 only.
//
// Pages:
//   GET  /            302 to /login, or the login page itself with setLoginAtRoot()
//   GET  /login       form 0 (POST /login): text "usuario", password "senha", hidden "type", submit
//   POST /login       right credentials: 302 to /cnpj with "Set-Cookie: sessao=<id>; Path=/; HttpOnly";
//                     wrong ones: 200, the login page again with "Usuário ou senha inválidos"
//   GET  /cnpj        session needed (else 302 to /login); form 0 is a news search (GET /busca),
//                     form 1 (POST /resultado): text "cnpj0", hidden "acao" (empty), and a type=button
//                     "consultar" whose onclick sets acao to "consultar" without submitting (other
//                     kinds of button with setQueryButtonKind())
//   POST /resultado   (or GET with the fields in the query) session needed; acao == "consultar" gives the report, otherwise
//                     "Consulta não solicitada"
//                     the report's header row links back to /cnpj ("novaConsulta") and /login ("sair");
//                     with setSessionExpiring() the query is taken, every session dropped, and 302 to /login
//   GET  /relatorio   session needed; the report of the latest query, shown again without a new one
//   GET  /pagina?altura=N   the row pattern alone, N px tall, no session needed; with &leiaute=
//                     rodape  the rows but the last in a wrapper of min-height 100vh, the last one after it
//                     faixa   a band of BandColor, height 100vh, above the rows
//                     script  that band, its height set to innerHeight by a script at load and at each resize
//                     ocupado the rows, and a script that keeps the browser busy for BusyReportMs once loaded
//                     rolagem       the rows in a box of height 100vh that scrolls by itself (overflow:auto),
//                                   html and body 100% tall, overflow hidden: the "app shell" layout
//                     preguicoso    the header row, then each row a picture from /imagem, loading="lazy"
//                     temporizador  the header and "carregando...", the rows in the page, shown by a
//                                   setTimeout LateReportMs after the load, with no request
//                     inquieto      the rows, and a chain of 20 ms timers that changes the title, for ever
//                     rolagem-maxima the rows but the last in a box of max-height 100vh that scrolls by
//                                   itself, the last one after it
//   The report (not /pagina) in frames, its rows /pagina's: "quadro" an iframe as wide and tall as the
//   window (html and body 100% tall, overflow hidden), "quadros" a frameset of a FrameBandHeight px top
//   frame (/faixa, BandColor) above the report's frame ("quadros-percentual": that frame's row 13% tall,
//   60 px in the window), "quadro-externo" the iframe from another origin
//   (http://localhost:PORT): no border anywhere.
//   GET  /faixa       an empty page of BandColor
//   GET  /linhas?altura=N   the report's rows after its header, as a fragment (the late report's)
//   GET  /imagem?linha=I&altura=N   row I as an SVG picture, ReportWidth x N px of rowColor(I)
//   anything else     404 "Página não encontrada", unless set with setPage()
//
// Failures, per path (the path alone, without the query), any method:
//   setErrorStatus()  that status, the page titled "Erro <status>" saying "Erro interno do servidor",
//                     session or not; hits() and lastPost() see the request, no page logic runs
//   setClosedPath()   the request is read, then the connection is closed without a byte of answer
//   setStalledPath()  the request is read and never answered
//   setDelay()        the answer is made when the request arrives and sent ms later
//   listenTls()       the whole site over TLS, with a fixed self-signed certificate for 127.0.0.1
//
// Report geometry (report and /pagina): html and body have no margin; the content is at most
// ReportWidth px wide and exactly reportHeight() (or N) CSS px tall. It is a stack of rows of
// RowHeight px, the last one shortened to fit; row i has the solid background rowColor(i).
// On the report, row 0 is the header carrying "Relatório de crédito" and the CNPJ in white.
// Text starts TextIndent px from the left, so the pixel at x = 5, y in
// [i*RowHeight + 10, i*RowHeight + 90] always has rowColor(i).
class SampleSite : public QObject
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 100;
    static constexpr int ReportWidth = 760;
    static constexpr int TextIndent = 40;
    static constexpr QRgb BandColor = 0x204060;
    static constexpr int LateReportMs = 800;
    // Longer than the tool's 10 s wait for a script's answer.
    static constexpr int BusyReportMs = 11000;
    // How late each of the lazy rows' pictures is answered.
    static constexpr int LazyPictureMs = 100;
    static constexpr int FrameBandHeight = 60;
    static constexpr int DelayedSubmitMs = 150;

    explicit SampleSite(QObject *parent = nullptr);
    ~SampleSite() override;

    // Binds 127.0.0.1 on the port (0 picks a free one); false when the port is taken.
    bool listen(quint16 port = 0);
    // As listen(), in place of it, but over TLS; the certificate is self-signed, so a client
    // that checks it fails. False too when no TLS backend is available.
    bool listenTls(quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:PORT" + path, or https after listenTls()
    QUrl url(const QString &path) const;
    // The certificate listenTls() serves.
    static QSslCertificate tlsCertificate();

    void setCredentials(const QString &user, const QString &password);
    QString user() const { return m_user; }
    QString password() const { return m_password; }

    void setUserElementName(const QString &name);
    void setPasswordElementName(const QString &name);
    void setQueryButtonName(const QString &name);
    // How the CNPJ form's button sends it: "" a plain button that sends nothing (the walk submits the
    // form), "submit" a submit button, "script" a plain button whose handler submits the form, "navega" one whose handler
    // loads /resultado with the fields in its query,
    // "cancela" a submit button whose form's submit handler cancels the submission and sends it by script,
    // "fetch" and "xhr" a plain button whose handler posts the form by fetch() or XMLHttpRequest and then
    // loads /relatorio, "janela" one whose handler opens /resultado with the fields in its query by
    // window.open() ("janela-vazia": an empty window, and nothing sent), "nova-janela" a submit button of a form with target="_blank", "aguarde" a plain button
    // that shows "Aguarde..." and submits the form by script DelayedSubmitMs later (and /resultado answers
    // DelayedSubmitMs * 2 late, so that the page is still there then).
    void setQueryButtonKind(const QString &kind);
    // The CNPJ form answered by a redirect to the login page, as at an expired session.
    void setSessionExpiring(bool expiring) { m_sessionExpiring = expiring; }
    void setLoginAtRoot(bool atRoot) { m_loginAtRoot = atRoot; }
    void setOmitPasswordField(bool omit);
    // The login page's own script keeps the browser busy in slices of ms, as a heavy page does; 0 for none.
    void setBusyLoginPage(int sliceMs) { m_busySliceMs = sliceMs; }
    void setReportHeight(int px);
    // The report laid out as /pagina's leiaute (rodape, faixa, script, ocupado, rolagem, preguicoso,
    // temporizador, inquieto, rolagem-maxima), or in frames (quadro, quadros, quadro-externo: see above);
    // or "tardio": its header and
    // "carregando...", and a script that fetches its rows from /linhas, which answers LateReportMs later,
    // as sites that fill a report from their own service do; "tardio-recusado": the same, after a send() that
    // throws. Empty for the plain report.
    void setReportLayout(const QString &layout);
    int reportHeight() const { return m_reportHeight; }

    // Serves html at path for any method, ahead of the built-in pages.
    void setPage(const QString &path, const QByteArray &html);
    // Requests for path are taken and never answered, as by a server that hangs.
    void setStalledPath(const QString &path);
    // status 400-599; a code Qt does not name goes out without a reason phrase.
    void setErrorStatus(const QString &path, int status);
    void setClosedPath(const QString &path);
    // 0 answers at once again.
    void setDelay(const QString &path, int ms);
    // Every path answers as the site does again: no error status, closed, stalled or delayed path.
    void clearFailures();
    // Forgets every session, as if they had expired on the server.
    void dropSessions();

    int hits(const QString &path) const;
    int loginPosts() const { return m_loginPosts; }
    QMap<QString, QString> lastLogin() const { return m_lastLogin; }
    QMap<QString, QString> lastQuery() const { return m_lastQuery; }
    // Fields of the latest POST to any path, set pages included.
    QMap<QString, QString> lastPost() const { return m_lastPost; }

    static QColor rowColor(int index);
    // A report for the CNPJ, height px tall, as the site answers it at two
    // queries: revision 1 is the rows pattern with the header row; revision 2
    // adds "Nova linha - crédito negado" after row 2, turns row 5's "nada consta" into a
    // protest and leaves row 12 out; the rest keep their text and colour and
    // move. Served with setPage("/resultado", ...) it is the answer to a query.
    static QByteArray revisedReport(const QString &cnpj, int revision, int height);
    // Revision 2 with row 5's amount and date as typed (there "1.234,56 em 05/11/2026"), in white on
    // the row's colour or, onWhite, in black on white.
    static QByteArray retypedReport(const QString &cnpj, int height, const QString &typed, bool onWhite);
    // Decodes an application/x-www-form-urlencoded body ('+' is a space, UTF-8 percent escapes).
    static QMap<QString, QString> parseForm(const QByteArray &body);

signals:
    void loginPosted(const QMap<QString, QString> &fields);
    void queryPosted(const QMap<QString, QString> &fields);

private:
    QHttpServerResponse handle(const QHttpServerRequest &request);
    QHttpServerResponse handleLogin();
    QHttpServerResponse handleResult(const QHttpServerRequest &request);
    QHttpServerResponse reportOfLastQuery() const;
    bool hasSession(const QHttpServerRequest &request) const;
    QByteArray loginPage(const QString &error) const;
    QByteArray cnpjPage() const;
    QByteArray framePage(const QString &layout, int height) const;
    static QByteArray rowsPage(const QString &title, const QString &header, int height,
                               const QString &layout = QString());
    static QString rows(const QString &header, int height, int first);
    static QHttpServerResponse rowPicture(int index, int height);
    void sendLater(QHttpServerResponse &&response, QHttpServerResponder &&responder, int ms);

    std::unique_ptr<QHttpServer> m_server;
    quint16 m_port = 0;
    QString m_user = QStringLiteral("demo");
    QString m_password = QStringLiteral("demo123");
    QString m_userElement = QStringLiteral("usuario");
    QString m_passwordElement = QStringLiteral("senha");
    QString m_queryButton = QStringLiteral("consultar");
    QString m_queryButtonKind;
    bool m_omitPassword = false;
    bool m_sessionExpiring = false;
    bool m_loginAtRoot = false;
    int m_busySliceMs = 0;
    int m_reportHeight = 6000;
    QString m_reportLayout;
    QHash<QString, QByteArray> m_pages;
    QString m_stalledPath;
    std::list<QHttpServerResponder> m_stalled; // kept open, never written
    QHash<QString, int> m_errorStatus;
    QSet<QString> m_closedPaths;
    QHash<QString, int> m_delays;
    struct Delayed;
    std::list<Delayed> m_delayed; // answers waiting for their timer
    bool m_tls = false;
    QHash<QString, int> m_hits;
    QSet<QByteArray> m_sessions;
    int m_loginPosts = 0;
    QMap<QString, QString> m_lastLogin;
    QMap<QString, QString> m_lastQuery;
    QMap<QString, QString> m_lastPost;
};
