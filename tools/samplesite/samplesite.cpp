#include "samplesite.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QPointer>
#include <QRandomGenerator>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

namespace {

using Status = QHttpServerResponder::StatusCode;

const QByteArray sessionCookie = QByteArrayLiteral("sessao");

QHttpServerResponse htmlResponse(const QByteArray &body, Status status = Status::Ok)
{
    return QHttpServerResponse(QByteArrayLiteral("text/html; charset=utf-8"), body, status);
}

// A bare redirect: no body, so no Content-Type. Qt's client, following it on
// the same connection, can fold the redirect's headers into the final
// reply's, which for a second Content-Type reads "text/html, text/html".
QHttpServerResponse redirect(const QByteArray &location)
{
    QHttpServerResponse response(Status::Found);
    response.clearHeader(QByteArrayLiteral("Content-Type"));
    response.setHeader(QByteArrayLiteral("Location"), location);
    return response;
}

QByteArray simplePage(const QString &title, const QString &text)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
                          "<title>%1</title></head>\n<body><h1>%1</h1><p>%2</p></body></html>\n")
        .arg(title.toHtmlEscaped(), text.toHtmlEscaped())
        .toUtf8();
}

QString attr(const QString &value)
{
    return value.toHtmlEscaped();
}

QByteArray resource(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

struct SampleSite::Delayed
{
    QHttpServerResponse response;
    QHttpServerResponder responder;
    QPointer<QTcpSocket> socket; // the server deletes it when the client goes first
};

SampleSite::SampleSite(QObject *parent) : QObject(parent), m_server(std::make_unique<QHttpServer>())
{
    // No routes: every request lands here, so query strings and unknown paths are handled alike.
    m_server->setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        const QString path = request.url().path();
        if (!m_stalledPath.isEmpty() && path == m_stalledPath) {
            ++m_hits[m_stalledPath];
            m_stalled.push_back(std::move(responder));
            return;
        }
        if (m_closedPaths.contains(path)) {
            ++m_hits[path];
            // The server deletes the socket once this handler returns and finds it unconnected.
            responder.socket()->abort();
            return;
        }
        if (const int delay = m_delays.value(path); delay > 0) {
            sendLater(handle(request), std::move(responder), delay);
            return;
        }
        handle(request).write(std::move(responder));
    });
}

SampleSite::~SampleSite()
{
    // Before the server that owns their connections.
    m_delayed.clear();
    m_stalled.clear();
}

void SampleSite::setStalledPath(const QString &path)
{
    m_stalledPath = path;
}

void SampleSite::setErrorStatus(const QString &path, int status)
{
    m_errorStatus.insert(path, status);
}

void SampleSite::setClosedPath(const QString &path)
{
    m_closedPaths.insert(path);
}

void SampleSite::clearFailures()
{
    m_errorStatus.clear();
    m_closedPaths.clear();
    m_delays.clear();
    m_stalledPath.clear();
}

void SampleSite::setDelay(const QString &path, int ms)
{
    m_delays.insert(path, qMax(0, ms));
}

void SampleSite::sendLater(QHttpServerResponse &&response, QHttpServerResponder &&responder, int ms)
{
    QPointer<QTcpSocket> socket = responder.socket();
    m_delayed.push_back({std::move(response), std::move(responder), socket});
    const auto it = std::prev(m_delayed.end());
    // A coarse timer may fire early; the contract is "not before".
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, it] {
        if (it->socket && it->socket->state() == QAbstractSocket::ConnectedState)
            it->response.write(std::move(it->responder));
        m_delayed.erase(it);
    });
}

bool SampleSite::listen(quint16 port)
{
    m_port = m_server->listen(QHostAddress::LocalHost, port);
    return m_port != 0;
}

QSslCertificate SampleSite::tlsCertificate()
{
    return QSslCertificate(resource(QStringLiteral(":/samplesite/tls/cert.pem")), QSsl::Pem);
}

bool SampleSite::listenTls(quint16 port)
{
    const QSslKey key(resource(QStringLiteral(":/samplesite/tls/key.pem")), QSsl::Rsa, QSsl::Pem);
    const QSslCertificate certificate = tlsCertificate();
    if (!QSslSocket::supportsSsl() || key.isNull() || certificate.isNull())
        return false;
    m_server->sslSetup(certificate, key);
    m_tls = true;
    return listen(port);
}

quint16 SampleSite::port() const
{
    return m_port;
}

QUrl SampleSite::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(m_tls ? u"https" : u"http").arg(m_port).arg(path));
}

void SampleSite::setCredentials(const QString &user, const QString &password)
{
    m_user = user;
    m_password = password;
}

void SampleSite::setUserElementName(const QString &name)
{
    m_userElement = name;
}

void SampleSite::setPasswordElementName(const QString &name)
{
    m_passwordElement = name;
}

void SampleSite::setQueryButtonName(const QString &name)
{
    m_queryButton = name;
}

void SampleSite::setOmitPasswordField(bool omit)
{
    m_omitPassword = omit;
}

void SampleSite::setReportLayout(const QString &layout)
{
    m_reportLayout = layout;
    setDelay(QStringLiteral("/linhas"), layout.startsWith(u"tardio") ? LateReportMs : 0);
    setDelay(QStringLiteral("/imagem"), layout == u"preguicoso" ? LazyPictureMs : 0);
}

void SampleSite::setReportHeight(int px)
{
    m_reportHeight = qMax(1, px);
}

void SampleSite::setPage(const QString &path, const QByteArray &html)
{
    m_pages.insert(path, html);
}

void SampleSite::dropSessions()
{
    m_sessions.clear();
}

int SampleSite::hits(const QString &path) const
{
    return m_hits.value(path);
}

QColor SampleSite::rowColor(int index)
{
    static const QRgb colors[] = {0xc00000, 0x00a000, 0x0000c0, 0xc0c000, 0x00c0c0, 0xc000c0};
    constexpr int count = int(std::size(colors));
    return QColor::fromRgb(colors[((index % count) + count) % count]);
}

QMap<QString, QString> SampleSite::parseForm(const QByteArray &body)
{
    QMap<QString, QString> fields;
    for (const QByteArray &pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype eq = pair.indexOf('=');
        QByteArray name = eq < 0 ? pair : pair.left(eq);
        QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        name.replace('+', ' ');
        value.replace('+', ' ');
        fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return fields;
}

QHttpServerResponse SampleSite::handle(const QHttpServerRequest &request)
{
    const QString path = request.url().path();
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    ++m_hits[path];
    if (post)
        m_lastPost = parseForm(request.body());

    QHttpServerResponse response = [&] {
        if (const int status = m_errorStatus.value(path); status != 0)
            return htmlResponse(
                simplePage(QStringLiteral("Erro %1").arg(status), QStringLiteral("Erro interno do servidor")),
                Status(status));
        if (m_pages.contains(path))
            return htmlResponse(m_pages.value(path));
        if (path == u"/")
            return redirect("/login");
        if (path == u"/login")
            return post ? handleLogin() : htmlResponse(loginPage(QString()));
        if (path == u"/cnpj")
            return hasSession(request) ? htmlResponse(cnpjPage()) : redirect("/login");
        if (path == u"/resultado")
            return hasSession(request) ? handleResult(request) : redirect("/login");
        if (path == u"/pagina" || path == u"/linhas" || path == u"/imagem") {
            bool ok = false;
            const int height = request.query().queryItemValue(QStringLiteral("altura")).toInt(&ok);
            if (!ok || height < 1 || height > 1000000)
                return htmlResponse(
                    simplePage(QStringLiteral("Altura inválida"), QStringLiteral("Informe altura entre 1 e 1000000.")),
                    Status::BadRequest);
            if (path == u"/imagem")
                return rowPicture(request.query().queryItemValue(QStringLiteral("linha")).toInt(), height);
            if (path == u"/linhas")
                return htmlResponse(rows(QString(), height, 1).toUtf8());
            return htmlResponse(rowsPage(QStringLiteral("Página de %1 px").arg(height),
                                         QStringLiteral("Página de teste, %1 px").arg(height), height,
                                         request.query().queryItemValue(QStringLiteral("leiaute"))));
        }
        return htmlResponse(simplePage(QStringLiteral("Página não encontrada"), path), Status::NotFound);
    }();
    response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    return response;
}

QHttpServerResponse SampleSite::handleLogin()
{
    ++m_loginPosts;
    m_lastLogin = m_lastPost;
    emit loginPosted(m_lastLogin);

    const bool valid = m_lastLogin.contains(m_userElement) && m_lastLogin.contains(m_passwordElement)
                       && m_lastLogin.value(m_userElement) == m_user
                       && m_lastLogin.value(m_passwordElement) == m_password;
    if (!valid)
        return htmlResponse(loginPage(QStringLiteral("Usuário ou senha inválidos")));

    QRandomGenerator *random = QRandomGenerator::system();
    const QByteArray id = QByteArray::number(random->generate64(), 16) + QByteArray::number(random->generate64(), 16);
    m_sessions.insert(id);
    QHttpServerResponse response = redirect("/cnpj");
    response.setHeader(QByteArrayLiteral("Set-Cookie"), sessionCookie + '=' + id + "; Path=/; HttpOnly");
    return response;
}

QHttpServerResponse SampleSite::handleResult(const QHttpServerRequest &request)
{
    // A query sent by a link has its fields in the address.
    m_lastQuery = request.method() == QHttpServerRequest::Method::Post
                      ? parseForm(request.body())
                      : parseForm(request.url().query(QUrl::FullyEncoded).toUtf8());
    emit queryPosted(m_lastQuery);

    if (m_lastQuery.value(QStringLiteral("acao")) != u"consultar")
        return htmlResponse(simplePage(QStringLiteral("Consulta não solicitada"),
                                       QStringLiteral("O botão Consultar não foi acionado.")));
    const QString cnpj = m_lastQuery.value(QStringLiteral("cnpj0"));
    const QString header
        = QStringLiteral("<h1>Relatório de crédito</h1><div class=\"cnpj\">CNPJ %1</div>"
                         "<a id=\"novaConsulta\" href=\"/cnpj\">Nova consulta</a> <a id=\"sair\" href=\"/login\">Sair</a>")
              .arg(cnpj.toHtmlEscaped());
    return htmlResponse(
        rowsPage(QStringLiteral("Relatório de crédito - %1").arg(cnpj), header, m_reportHeight, m_reportLayout));
}

bool SampleSite::hasSession(const QHttpServerRequest &request) const
{
    const auto headers = request.headers();
    for (const auto &[name, value] : headers) {
        if (name.compare("cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &cookie : value.split(';')) {
            const QByteArray trimmed = cookie.trimmed();
            const qsizetype eq = trimmed.indexOf('=');
            if (eq > 0 && trimmed.left(eq) == sessionCookie && m_sessions.contains(trimmed.mid(eq + 1)))
                return true;
        }
    }
    return false;
}

QByteArray SampleSite::loginPage(const QString &error) const
{
    QString html
        = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
                         "<title>Bureau de Crédito - Acesso</title>\n"
                         "<style>body{font-family:sans-serif;margin:40px} .erro{color:#b00000;font-weight:bold}"
                         " label{display:inline-block;width:80px}</style></head>\n<body>\n<h1>Acesso restrito</h1>\n");
    if (!error.isEmpty())
        html += QStringLiteral("<p class=\"erro\" id=\"erro\">%1</p>\n").arg(error.toHtmlEscaped());
    html += QStringLiteral("<form method=\"post\" action=\"/login\" name=\"acesso\">\n"
                           "<p><label for=\"%1\">Usuário</label> <input type=\"text\" name=\"%1\" id=\"%1\"></p>\n")
                .arg(attr(m_userElement));
    if (!m_omitPassword)
        html += QStringLiteral("<p><label for=\"%1\">Senha</label> "
                               "<input type=\"password\" name=\"%1\" id=\"%1\"></p>\n")
                    .arg(attr(m_passwordElement));
    html += QStringLiteral("<input type=\"hidden\" name=\"type\" id=\"type\" value=\"\">\n"
                           "<p><input type=\"submit\" value=\"Entrar\"></p>\n</form>\n");
    if (m_busySliceMs > 0)
        html += QStringLiteral("<script>setInterval(() => { const end = Date.now() + %1; while (Date.now() < end); }, 0);"
                               "</script>\n")
                    .arg(m_busySliceMs);
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

QByteArray SampleSite::cnpjPage() const
{
    // Each kind of button sets acao to "consultar"; all but the plain one also send the form.
    QString button = QStringLiteral("<input type=\"button\" name=\"%1\" id=\"%1\" value=\"Consultar\" "
                                    "onclick=\"document.getElementById('acao').value='consultar'\">");
    QString onSubmit;
    if (m_queryButtonKind == u"submit") {
        button.replace(QStringLiteral("type=\"button\""), QStringLiteral("type=\"submit\""));
    } else if (m_queryButtonKind == u"script") {
        button.replace(QStringLiteral("'consultar'\""), QStringLiteral("'consultar'; this.form.submit()\""));
    } else if (m_queryButtonKind == u"navega") {
        button.replace(QStringLiteral("document.getElementById('acao').value='consultar'"),
                       QStringLiteral("location.href='/resultado?acao=consultar&amp;cnpj0='"
                                      " + encodeURIComponent(document.getElementById('cnpj0').value)"));
    } else if (m_queryButtonKind == u"cancela") {
        button.replace(QStringLiteral("type=\"button\""), QStringLiteral("type=\"submit\""));
        onSubmit = QStringLiteral(" onsubmit=\"event.preventDefault(); this.submit()\"");
    }
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
               "<title>Bureau de Crédito - Consulta por CNPJ</title>\n"
               "<style>body{font-family:sans-serif;margin:40px}</style></head>\n<body>\n"
               "<form method=\"get\" action=\"/busca\" name=\"noticias\">\n"
               "<input type=\"text\" name=\"q\" id=\"q\"> <input type=\"submit\" value=\"Buscar notícias\">\n"
               "</form>\n<h1>Consulta por CNPJ</h1>\n"
               "<form method=\"post\" action=\"/resultado\" name=\"consulta\"%2>\n"
               "<p><label for=\"cnpj0\">CNPJ</label> <input type=\"text\" name=\"cnpj0\" id=\"cnpj0\"></p>\n"
               "<input type=\"hidden\" name=\"acao\" id=\"acao\" value=\"\">\n"
               "<p>%1</p>\n"
               "</form>\n</body></html>\n")
        .arg(button.arg(attr(m_queryButton)), onSubmit)
        .toUtf8();
}

QByteArray SampleSite::rowsPage(const QString &title, const QString &header, int height, const QString &layout)
{
    QString html
        = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\"><title>%1</title>\n"
                         "<style>html,body{margin:0;padding:0;background:#ffffff}"
                         " body{font-family:sans-serif}"
                         " .linha{box-sizing:border-box;max-width:%2px;height:%3px;overflow:hidden;"
                         "padding:6px 0 0 %4px;font-size:12px;line-height:16px;color:#ffffff}"
                         " .linha h1{margin:0;font-size:18px;line-height:22px}"
                         " #faixa{background:%5}</style></head>\n<body>\n")
              .arg(title.toHtmlEscaped())
              .arg(ReportWidth)
              .arg(RowHeight)
              .arg(TextIndent)
              .arg(QColor(BandColor).name());
    const QString all = rows(header, height, 0);
    if (layout == u"rodape") {
        const qsizetype last = all.lastIndexOf(QStringLiteral("<div class=\"linha\""));
        html += QStringLiteral("<div style=\"min-height:100vh\">") + all.left(last) + QStringLiteral("</div>\n")
                + all.mid(last);
    } else if (layout == u"faixa") {
        html += QStringLiteral("<div id=\"faixa\" style=\"height:100vh\"></div>\n") + all;
    } else if (layout == u"script") {
        html += QStringLiteral("<div id=\"faixa\"></div>\n<script>const faixa = document.getElementById('faixa');"
                               "const fit = () => { faixa.style.height = innerHeight + 'px'; };"
                               "fit(); addEventListener('resize', fit);</script>\n")
                + all;
    } else if (layout == u"rolagem") {
        html += QStringLiteral("<style>html,body{height:100%;overflow:hidden}</style>\n"
                               "<div id=\"rolagem\" style=\"height:100vh;overflow:auto\">\n")
                + all + QStringLiteral("</div>\n");
    } else if (layout == u"preguicoso") {
        html += rows(header, qMin(height, RowHeight), 0);
        for (int i = 1; i * RowHeight < height; ++i) {
            const int rowHeight = qMin(RowHeight, height - i * RowHeight);
            html += QStringLiteral("<img loading=\"lazy\" alt=\"\" style=\"display:block\" width=\"%1\" height=\"%2\" "
                                   "src=\"/imagem?linha=%3&amp;altura=%2\">\n")
                        .arg(ReportWidth)
                        .arg(rowHeight)
                        .arg(i);
        }
    } else if (layout == u"temporizador") {
        html += rows(header, qMin(height, RowHeight), 0)
                + QStringLiteral("<div id=\"linhas\">carregando...</div>\n<template id=\"dados\">%1</template>\n"
                                 "<script>setTimeout(() => { document.getElementById('linhas')"
                                 ".replaceWith(document.getElementById('dados').content); }, %2);</script>\n")
                      .arg(rows(QString(), height, 1))
                      .arg(LateReportMs);
    } else if (layout == u"inquieto") {
        // A timer always set before the page changes: never settled, however late the timers fire.
        html += all + QStringLiteral("<script>const tick = () => { setTimeout(tick, 20); "
                                     "document.title = 'Relatório ' + Date.now(); }; tick();</script>\n");
    } else if (layout == u"tardio" || layout == u"tardio-recusado") {
        // A careless page's send() on a request never opened throws, and nothing is sent.
        const QString refused = layout == u"tardio-recusado"
                                    ? QStringLiteral("try { new XMLHttpRequest().send(); } catch (e) { }")
                                    : QString();
        html += rows(header, qMin(height, RowHeight), 0)
                + QStringLiteral("<div id=\"linhas\">carregando...</div>\n<script>%2 fetch('/linhas?altura=%1')"
                                 ".then(answer => answer.text())"
                                 ".then(rows => { document.getElementById('linhas').outerHTML = rows; });</script>\n")
                      .arg(height)
                      .arg(refused);
    } else if (layout == u"ocupado") {
        html += all
                + QStringLiteral("<script>addEventListener('load', () => setTimeout(() => {"
                                 " const end = Date.now() + %1; while (Date.now() < end); }, 0));</script>\n")
                      .arg(BusyReportMs);
    } else {
        html += all;
    }
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

// One row as a picture: ReportWidth x height px of rowColor(index).
QHttpServerResponse SampleSite::rowPicture(int index, int height)
{
    const QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\">"
                                       "<rect width=\"100%\" height=\"100%\" fill=\"%3\"/></svg>")
                            .arg(ReportWidth)
                            .arg(height)
                            .arg(rowColor(index).name());
    return QHttpServerResponse(QByteArrayLiteral("image/svg+xml"), svg.toUtf8());
}

// Rows first to the end of a stack height px tall; row 0 carries the header.
QString SampleSite::rows(const QString &header, int height, int first)
{
    QString html;
    const int count = (height + RowHeight - 1) / RowHeight;
    for (int i = first; i < count; ++i) {
        const int rowHeight = qMin(RowHeight, height - i * RowHeight);
        QString style = QStringLiteral("background:%1").arg(rowColor(i).name());
        if (rowHeight != RowHeight)
            style += QStringLiteral(";height:%1px").arg(rowHeight);
        const QString text = i == 0 ? header : QStringLiteral("Linha %1 - nada consta").arg(i);
        html += QStringLiteral("<div class=\"linha\" style=\"%1\">%2</div>\n").arg(style, text);
    }
    return html;
}

QByteArray SampleSite::revisedReport(const QString &cnpj, int revision, int height)
{
    QList<std::pair<int, QString>> rows; // colour index and text
    rows.append({0, QStringLiteral("<h1>Relatório de crédito</h1><div>CNPJ %1</div>").arg(cnpj.toHtmlEscaped())});
    for (int i = 1; rows.size() * RowHeight < height; ++i) {
        if (revision == 2 && i == 3)
            rows.append({97, QStringLiteral("Nova linha - crédito negado")});
        if (revision == 2 && i == 12)
            continue;
        rows.append({i, revision == 2 && i == 5 ? QStringLiteral("Linha 5 - PROTESTO de R$ 1.234,56 em 05/11/2026")
                                                : QStringLiteral("Linha %1 - nada consta").arg(i)});
    }
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
                                  "<title>Relatório de crédito - %1</title><style>html,body{margin:0;padding:0}"
                                  " body{font-family:sans-serif} div.l{box-sizing:border-box;width:%2px;height:%3px;"
                                  "padding:6px 0 0 %4px;font-size:12px;line-height:16px;color:#fff}"
                                  " h1{margin:0;font-size:18px;line-height:22px}</style></head>\n<body>\n")
                       .arg(cnpj.toHtmlEscaped())
                       .arg(ReportWidth)
                       .arg(RowHeight)
                       .arg(TextIndent);
    for (const auto &[colour, text] : rows)
        html += QStringLiteral("<div class=\"l\" style=\"background:%1\">%2</div>\n").arg(rowColor(colour).name(), text);
    return (html + QStringLiteral("</body></html>\n")).toUtf8();
}

QByteArray SampleSite::retypedReport(const QString &cnpj, int height, const QString &typed, bool onWhite)
{
    QByteArray html = revisedReport(cnpj, 2, height).replace("1.234,56 em 05/11/2026", typed.toUtf8());
    if (onWhite)
        html.replace("background:" + rowColor(5).name().toLatin1(), "background:#fff;color:#000");
    return html;
}
