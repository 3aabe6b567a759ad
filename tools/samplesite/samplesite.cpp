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

void SampleSite::setQueryButtonKind(const QString &kind)
{
    m_queryButtonKind = kind;
    setDelay(QStringLiteral("/resultado"), kind == u"aguarde" ? DelayedSubmitMs * 2 : 0);
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
            return m_loginAtRoot ? htmlResponse(loginPage(QString())) : redirect("/login");
        if (path == u"/login")
            return post ? handleLogin() : htmlResponse(loginPage(QString()));
        if (path == u"/cnpj")
            return hasSession(request) ? htmlResponse(cnpjPage()) : redirect("/login");
        if (path == u"/resultado")
            return hasSession(request) ? handleResult(request) : redirect("/login");
        if (path == u"/faixa")
            return htmlResponse(QStringLiteral("<!DOCTYPE html>\n<html><body style=\"margin:0;background:%1\"></body>"
                                               "</html>\n")
                                    .arg(QColor(BandColor).name())
                                    .toUtf8());
        if (path == u"/relatorio")
            return hasSession(request) ? reportOfLastQuery() : redirect("/login");
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
    if (m_sessionExpiring) {
        m_sessions.clear();
        return redirect("/login");
    }
    return reportOfLastQuery();
}

QHttpServerResponse SampleSite::reportOfLastQuery() const
{
    if (m_lastQuery.value(QStringLiteral("acao")) != u"consultar")
        return htmlResponse(simplePage(QStringLiteral("Consulta não solicitada"),
                                       QStringLiteral("O botão Consultar não foi acionado.")));
    const QString cnpj = m_lastQuery.value(QStringLiteral("cnpj0"));
    const QString header
        = QStringLiteral("<h1>Relatório de crédito</h1><div class=\"cnpj\">CNPJ %1</div>"
                         "<a id=\"novaConsulta\" href=\"/cnpj\">Nova consulta</a> <a id=\"sair\" href=\"/login\">Sair</a>")
              .arg(cnpj.toHtmlEscaped());
    if (m_reportLayout.startsWith(u"quadro"))
        return htmlResponse(framePage(m_reportLayout, m_reportHeight));
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
