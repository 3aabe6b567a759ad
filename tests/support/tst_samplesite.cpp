// Past the usual length on purpose: one subject, the sample site every browser test stands on.
#include "samplesite.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslError>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Reply
{
    int status = -1;
    QByteArray body;
    QUrl url;
    QByteArray location;
    QByteArray contentType;
    QByteArray cacheControl;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString text() const { return QString::fromUtf8(body); }
};

struct Row
{
    QString color;
    int height;
};

// The coloured rows of a report page, in document order.
QList<Row> rowsOf(const QString &html)
{
    static const QRegularExpression re(
        uR"(<div class="linha" style="background:(#[0-9a-f]{6})(?:;height:(\d+)px)?">)"_s);
    QList<Row> rows;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        rows.append({m.captured(1), m.captured(2).isEmpty() ? SampleSite::RowHeight : m.captured(2).toInt()});
    }
    return rows;
}

} // namespace

class TestSampleSite : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void loginPageForm_data();
    void loginPageForm();
    void loginLeadsToCnpjPage();
    void reportRows_data();
    void reportRows();
    void formDecoding_data();
    void formDecoding();
    void rowColorsStayApart();
    void setPageServesAnyMethod();
    void serverPrintsItsAddress();
    void tlsCertificateIsSelfSigned();

private:
    Reply fetch(const QString &path, const QByteArray &body = {}, bool post = false, bool follow = false)
    {
        return send(m_site->url(path), body, post, follow);
    }
    Reply send(const QUrl &url, const QByteArray &body, bool post, bool follow);
    bool hasSessionCookie() const;
    Reply login() { return fetch(u"/login"_s, "usuario=demo&senha=demo123&type=", true, true); }

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<QNetworkAccessManager> m_nam;
};

void TestSampleSite::init()
{
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listen());
    m_nam = std::make_unique<QNetworkAccessManager>();
}

void TestSampleSite::cleanup()
{
    m_nam.reset();
    m_site.reset();
}

Reply TestSampleSite::send(const QUrl &url, const QByteArray &body, bool post, bool follow)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         follow ? QNetworkRequest::NoLessSafeRedirectPolicy : QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded"_ba);
    const std::unique_ptr<QNetworkReply> reply(post ? m_nam->post(request, body) : m_nam->get(request));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!reply->isFinished() && !finished.wait(5000))
        return {-1, "no answer from " + url.toEncoded(), url, {}, {}, {}, {}};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->readAll(),
            reply->url(),
            reply->rawHeader("Location"),
            reply->rawHeader("Content-Type"),
            reply->rawHeader("Cache-Control"),
            reply->error()};
}

bool TestSampleSite::hasSessionCookie() const
{
    const auto cookies = m_nam->cookieJar()->cookiesForUrl(m_site->url(u"/cnpj"_s));
    return std::any_of(cookies.begin(), cookies.end(), [](const QNetworkCookie &c) { return c.name() == "sessao"; });
}

void TestSampleSite::answers_data()
{
    QTest::addColumn<QString>("before");  // "login", "cookie sessao=…", "dropped", "error 500", "closed", "delay"
    QTest::addColumn<QString>("request"); // method and path
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("status"); // 0: the connection closed before any answer
    QTest::addColumn<QString>("to"); // a redirect's Location, or the page a followed request ends on
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<int>("rows"); // the report rows' total height
    QTest::addColumn<bool>("session");
    const QByteArray query = "cnpj0=11222333000181&acao=consultar";
    const QStringList wrong{u"Usuário ou senha inválidos"_s, u"name=\"usuario\""_s};
    QTest::newRow("root redirects") << QString() << u"GET /"_s << QByteArray() << false << 302 << u"/login"_s
                                    << QStringList() << 0 << false;
    QTest::newRow("root followed") << QString() << u"GET /"_s << QByteArray() << true << 200 << u"/login"_s
                                   << QStringList{u"<meta charset=\"utf-8\">"_s} << 0 << false;
    for (const auto &[name, body] : {std::pair("wrong password", "usuario=demo&senha=errada&type="_ba),
                                     {"wrong user", "usuario=outro&senha=demo123&type="},
                                     {"password field absent", "usuario=demo&type="},
                                     {"empty body", ""}})
        QTest::newRow(name) << QString() << u"POST /login"_s << body << true << 200 << u"/login"_s << wrong << 0
                            << false;
    for (const auto &[name, before, request] : {std::tuple("cnpj, no cookie", "", "GET /cnpj"),
                                                {"resultado, no cookie", "", "POST /resultado"},
                                                {"cnpj, forged cookie", "cookie sessao=123abc", "GET /cnpj"},
                                                {"resultado, forged cookie", "cookie sessao=", "POST /resultado"},
                                                {"cnpj, dropped session", "dropped", "GET /cnpj"}})
        QTest::newRow(name) << QString::fromUtf8(before) << QString::fromUtf8(request) << query << false << 302
                            << u"/login"_s << QStringList() << 0 << (*before != 0);
    QTest::newRow("query without the button")
        << u"login"_s << u"POST /resultado"_s << "cnpj0=11222333000181&acao="_ba << false << 200 << QString()
        << QStringList{u"Consulta não solicitada"_s} << 0 << true;
    QTest::newRow("unknown path") << QString() << u"GET /nao/existe"_s << QByteArray() << false << 404 << QString()
                                  << QStringList{u"Página não encontrada"_s} << 0 << false;
    QTest::newRow("error status without a session")
        << u"error 500"_s << u"POST /resultado"_s << query << false << 500 << QString() << QStringList() << 0 << false;
    QTest::newRow("error status") << u"login error 500"_s << u"POST /resultado"_s << query << false << 500 << QString()
                                  << QStringList{u"Erro interno do servidor"_s} << 0 << true;
    for (const auto &[name, height, status] :
         {std::tuple("tall", "20050", 200), {"one px", "1", 200}, {"not a number", "muito", 400}, {"missing", "", 400}})
        QTest::newRow(name) << QString() << u"GET /pagina%1%2"_s.arg(*height ? "?altura=" : "", height) << QByteArray()
                            << false << status << QString() << QStringList() << (status == 200 ? atoi(height) : 0)
                            << false;
    QTest::newRow("closed path") << u"closed"_s << u"GET /cnpj"_s << QByteArray() << false << 0 << QString()
                                 << QStringList() << 0 << false;
    QTest::newRow("delayed answer") << u"delay"_s << u"GET /login"_s << QByteArray() << false << 200 << QString()
                                    << QStringList{u"name=\"usuario\""_s} << 0 << false;
}

// One request and the site's answer: status, where it leads, what it says, its report rows and the session.
void TestSampleSite::answers()
{
    QFETCH(QString, before);
    QFETCH(QString, request);
    QFETCH(QByteArray, body);
    QFETCH(bool, follow);
    QFETCH(int, status);
    QFETCH(QString, to);
    QFETCH(QStringList, says);
    QFETCH(int, rows);
    QFETCH(bool, session);
    const auto [method, path] = std::pair(request.section(' ', 0, 0), request.section(' ', 1));
    if (before.contains(u"error 500"))
        m_site->setErrorStatus(path, 500);
    if (before.startsWith(u"login") || before == u"dropped")
        QCOMPARE(login().url, m_site->url(u"/cnpj"_s));
    if (before == u"dropped")
        m_site->dropSessions();
    if (before.startsWith(u"cookie "))
        m_nam->cookieJar()->setCookiesFromUrl(QNetworkCookie::parseCookies(before.mid(7).toUtf8()), m_site->url("/"));
    if (before == u"closed")
        m_site->setClosedPath(path);
    constexpr int delay = 400;
    if (before == u"delay")
        m_site->setDelay(path, delay);
    const int logins = m_site->loginPosts();
    QSignalSpy queried(m_site.get(), &SampleSite::queryPosted);
    QElapsedTimer clock;
    clock.start();
    const Reply r = fetch(path, body, method == u"POST", follow);
    QVERIFY2(before != u"delay" || clock.elapsed() >= delay, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(r.status, status);
    // Not == 1: Qt's client sends a request again when its connection closes before any answer.
    QVERIFY(m_site->hits(path.section('?', 0, 0)) >= 1);
    QCOMPARE(r.error == QNetworkReply::RemoteHostClosedError, status == 0);
    QCOMPARE(r.body.isEmpty(), status == 0 || status == 302);
    if (status == 302)
        QCOMPARE(r.location, to.toUtf8());
    else if (!to.isEmpty())
        QCOMPARE(r.url, m_site->url(to));
    QCOMPARE(r.cacheControl.isEmpty(), status == 0);
    if (status == 200 || status == 500)
        QCOMPARE(r.contentType, "text/html; charset=utf-8"_ba);
    for (const QString &text : says)
        QVERIFY2(r.text().contains(text), qPrintable(text));
    int total = 0;
    for (const Row &row : rowsOf(r.text()))
        total += row.height;
    QCOMPARE(total, rows);
    QCOMPARE(hasSessionCookie(), session);
    QCOMPARE(m_site->loginPosts() - logins, int(request == u"POST /login"));
    QCOMPARE(queried.count(), int(status == 200 && path == u"/resultado"));
    if (request == u"POST /resultado" && status != 302)
        QCOMPARE(m_site->lastPost().value(u"cnpj0"_s), u"11222333000181"_s);
    QCOMPARE(m_site->url(u"/x"_s).toString(), u"http://127.0.0.1:%1/x"_s.arg(m_site->port()));
    QCOMPARE(fetch(u"/login"_s).status, 200); // the site goes on answering
}

void TestSampleSite::loginPageForm_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password"); // the element's name; empty: the password field is left out
    QTest::newRow("default names") << u"usuario"_s << u"senha"_s;
    QTest::newRow("renamed elements") << u"login_x"_s << u"pw_y"_s;
    QTest::newRow("password missing") << u"usuario"_s << QString();
}

void TestSampleSite::loginPageForm()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    if (user != u"usuario")
        m_site->setUserElementName(user);
    if (password != u"senha")
        m_site->setPasswordElementName(password);
    m_site->setOmitPasswordField(password.isEmpty());

    const Reply r = fetch(u"/login"_s);
    QCOMPARE(r.status, 200);
    const QString html = r.text();
    QCOMPARE(html.count(u"<form"_s), 1);
    for (const QString &part :
         {u"method=\"post\" action=\"/login\""_s, u"type=\"text\" name=\"%1\" id=\"%1\""_s.arg(user),
          u"type=\"hidden\" name=\"type\" id=\"type\""_s, u"type=\"submit\""_s})
        QVERIFY2(html.contains(part), qPrintable(part));
    QCOMPARE(
        html.contains(u"type=\"password\" name=\"%1\" id=\"%1\""_s.arg(password.isEmpty() ? u"senha"_s : password)),
        !password.isEmpty());
    QVERIFY(!html.contains(u"Usuário ou senha inválidos"_s));
}

void TestSampleSite::loginLeadsToCnpjPage()
{
    QSignalSpy posted(m_site.get(), &SampleSite::loginPosted);
    const Reply r = login();
    QCOMPARE(r.status, 200);
    QCOMPARE(r.url, m_site->url(u"/cnpj"_s));
    QVERIFY(hasSessionCookie());
    QCOMPARE(m_site->loginPosts(), 1);
    QCOMPARE(posted.count(), 1);
    const auto fields = posted.at(0).at(0).value<QMap<QString, QString>>();
    QCOMPARE(fields.value(u"usuario"_s), u"demo"_s);
    QCOMPARE(m_site->lastLogin(), fields);

    // The query form is the second one; the first belongs to something else on the page.
    const QString html = r.text();
    QCOMPARE(html.count(u"<form"_s), 2);
    const QString queryForm = html.mid(html.indexOf(u"<form"_s, html.indexOf(u"<form"_s) + 1));
    QVERIFY(queryForm.startsWith(u"<form method=\"post\" action=\"/resultado\""_s));
    for (const QString &part :
         {u"name=\"cnpj0\" id=\"cnpj0\""_s, u"type=\"hidden\" name=\"acao\" id=\"acao\" value=\"\""_s,
          u"type=\"button\" name=\"consultar\" id=\"consultar\""_s})
        QVERIFY2(queryForm.contains(part), qPrintable(part));
}

void TestSampleSite::reportRows_data()
{
    QTest::addColumn<int>("height");
    QTest::newRow("default 6000") << 0;
    QTest::newRow("whole rows") << 300;
    QTest::newRow("short last row") << 1234;
    QTest::newRow("header only, shortened") << 40;
}

void TestSampleSite::reportRows()
{
    QFETCH(int, height);
    if (height > 0)
        m_site->setReportHeight(height);
    else
        height = 6000;
    QCOMPARE(login().status, 200);

    QSignalSpy queried(m_site.get(), &SampleSite::queryPosted);
    const Reply r = fetch(u"/resultado"_s, "cnpj0=12.345.678%2F0001-90&acao=consultar", true);
    QCOMPARE(r.status, 200);
    QCOMPARE(queried.count(), 1);
    QCOMPARE(m_site->lastQuery().value(u"cnpj0"_s), u"12.345.678/0001-90"_s);

    const QString html = r.text();
    QVERIFY(html.contains(u"Relatório de crédito"_s));
    const QList<Row> rows = rowsOf(html);
    QCOMPARE(rows.size(), (height + 99) / 100);
    int total = 0;
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows.at(i).color, SampleSite::rowColor(i).name());
        if (i + 1 < rows.size())
            QCOMPARE(rows.at(i).height, 100);
        total += rows.at(i).height;
    }
    QCOMPARE(total, height);
    // The header is the first row: the CNPJ comes before the second row starts, if there is one.
    const qsizetype cnpj = html.indexOf(u"12.345.678/0001-90"_s, html.indexOf(u"<body"_s));
    QVERIFY(cnpj > 0);
    if (rows.size() > 1)
        QVERIFY(cnpj < html.indexOf(u"<div class=\"linha\""_s, html.indexOf(u"<div class=\"linha\""_s) + 1));
}

void TestSampleSite::formDecoding_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("accents, quotes, backslash, markup") << u"Sénha \"x\" \\ </script>"_s;
    QTest::newRow("plus, ampersand, equals, percent") << u"a+b&c=d%20e"_s;
    QTest::newRow("apostrophe and non-latin") << u"it's ação 日本"_s;
    QTest::newRow("leading and trailing spaces") << u"  x  "_s;
}

// A browser's form body: spaces as '+', the rest percent-escaped UTF-8.
void TestSampleSite::formDecoding()
{
    QFETCH(QString, password);
    m_site->setCredentials(u"demo"_s, password);
    const QByteArray encoded = password.toUtf8().toPercentEncoding(" ").replace(' ', '+');
    const Reply r = fetch(u"/login"_s, "usuario=demo&senha=" + encoded + "&type=PJ", true, true);
    QCOMPARE(m_site->lastLogin().value(u"senha"_s), password);
    QCOMPARE(m_site->lastLogin().value(u"type"_s), u"PJ"_s);
    QCOMPARE(r.url, m_site->url(u"/cnpj"_s));
}

// Neighbouring rows must stay apart after heavy JPEG loss: every pair of the cycle
// differs by a wide margin in some channel.
void TestSampleSite::rowColorsStayApart()
{
    for (int i = 0; i < 6; ++i)
        for (int j = i + 1; j < 6; ++j) {
            const QColor a = SampleSite::rowColor(i), b = SampleSite::rowColor(j);
            const int diff
                = std::max({qAbs(a.red() - b.red()), qAbs(a.green() - b.green()), qAbs(a.blue() - b.blue())});
            QVERIFY2(diff >= 150, qPrintable(u"rows %1 and %2 too close"_s.arg(i).arg(j)));
        }
    QCOMPARE(SampleSite::rowColor(59), SampleSite::rowColor(5));
}

void TestSampleSite::setPageServesAnyMethod()
{
    const QByteArray html = "<!DOCTYPE html><html><body><form id=\"f\"></form>única</body></html>";
    m_site->setPage(u"/tudo"_s, html);
    m_site->setPage(u"/login"_s, html);

    const Reply got = fetch(u"/tudo?x=1"_s);
    QCOMPARE(got.status, 200);
    QCOMPARE(got.body, html);
    QCOMPARE(got.cacheControl, "no-store"_ba);
    QCOMPARE(fetch(u"/tudo"_s, "campo=%C3%A9", true).body, html);
    QCOMPARE(m_site->lastPost().value(u"campo"_s), u"é"_s);
    QCOMPARE(m_site->hits(u"/tudo"_s), 2);

    // A set page takes the place of the built-in one.
    QCOMPARE(fetch(u"/login"_s).body, html);
    QCOMPARE(m_site->hits(u"/login"_s), 1);
    QCOMPARE(m_site->hits(u"/nada"_s), 0);
}

void TestSampleSite::serverPrintsItsAddress()
{
    QProcess server;
    server.start(QStringLiteral(SAMPLESITE_EXE),
                 {u"--port"_s, u"0"_s, u"--user"_s, u"ana"_s, u"--password"_s, u"s3gredo"_s});
    QVERIFY2(server.waitForStarted(5000), qPrintable(server.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 5000);
    const QString line = QString::fromUtf8(server.readLine());
    static const QRegularExpression re(uR"(^samplesite listening on http://127\.0\.0\.1:(\d+)/\n$)"_s);
    const auto match = re.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));

    const Reply r
        = send(QUrl(u"http://127.0.0.1:%1/login"_s.arg(match.captured(1))), "usuario=ana&senha=s3gredo", true, false);
    QCOMPARE(r.status, 302);
    QCOMPARE(r.location, "/cnpj"_ba);
    server.kill();
    QVERIFY(server.waitForFinished(5000));
}

void TestSampleSite::tlsCertificateIsSelfSigned()
{
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listenTls());
    QCOMPARE(m_site->url(u"/login"_s).scheme(), u"https"_s);

    const QNetworkRequest request(m_site->url(u"/login"_s));
    const std::unique_ptr<QNetworkReply> refused(m_nam->get(request));
    QSignalSpy sslErrors(refused.get(), &QNetworkReply::sslErrors);
    QVERIFY(QSignalSpy(refused.get(), &QNetworkReply::finished).wait(5000));
    QCOMPARE(refused->error(), QNetworkReply::SslHandshakeFailedError);
    QCOMPARE(sslErrors.count(), 1);
    const QSslError selfSigned(QSslError::SelfSignedCertificate, SampleSite::tlsCertificate());
    QCOMPARE(sslErrors.first().first().value<QList<QSslError>>(), QList<QSslError>{selfSigned});

    const std::unique_ptr<QNetworkReply> accepted(m_nam->get(request));
    accepted->ignoreSslErrors({selfSigned});
    QVERIFY(QSignalSpy(accepted.get(), &QNetworkReply::finished).wait(5000));
    QCOMPARE(accepted->error(), QNetworkReply::NoError);
    QVERIFY(QString::fromUtf8(accepted->readAll()).contains(u"name=\"usuario\""_s));
}

QTEST_GUILESS_MAIN(TestSampleSite)
#include "tst_samplesite.moc"
