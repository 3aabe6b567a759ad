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
        QStringLiteral(R"(<div class="linha" style="background:(#[0-9a-f]{6})(?:;height:(\d+)px)?">)"));
    QList<Row> rows;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        rows.append({m.captured(1), m.captured(2).isEmpty() ? SampleSite::RowHeight : m.captured(2).toInt()});
    }
    return rows;
}

QByteArray formBody(const QList<QPair<QString, QString>> &fields)
{
    QByteArray body;
    for (const auto &[name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += name.toUtf8().toPercentEncoding(" ").replace(' ', '+') + '='
                + value.toUtf8().toPercentEncoding(" ").replace(' ', '+');
    }
    return body;
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
    Reply fetch(const QString &path, const QByteArray &body = {}, bool post = false, bool follow = false);
    Reply post(const QString &path, const QByteArray &body, bool follow = false)
    {
        return fetch(path, body, true, follow);
    }
    bool hasSessionCookie() const;
    Reply login();

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

Reply TestSampleSite::fetch(const QString &path, const QByteArray &body, bool post, bool follow)
{
    QNetworkRequest request(m_site->url(path));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         follow ? QNetworkRequest::NoLessSafeRedirectPolicy : QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply;
    if (post) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply.reset(m_nam->post(request, body));
    } else {
        reply.reset(m_nam->get(request));
    }
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    Reply result;
    if (!reply->isFinished() && !finished.wait(5000)) {
        result.body = "no answer from " + request.url().toEncoded();
        return result;
    }
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.url = reply->url();
    result.location = reply->rawHeader("Location");
    result.contentType = reply->rawHeader("Content-Type");
    result.cacheControl = reply->rawHeader("Cache-Control");
    result.error = reply->error();
    return result;
}

bool TestSampleSite::hasSessionCookie() const
{
    const auto cookies = m_nam->cookieJar()->cookiesForUrl(m_site->url(QStringLiteral("/cnpj")));
    return std::any_of(cookies.begin(), cookies.end(), [](const QNetworkCookie &c) { return c.name() == "sessao"; });
}

Reply TestSampleSite::login()
{
    return post(QStringLiteral("/login"), "usuario=demo&senha=demo123&type=", true);
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
    const QStringList wrong{QStringLiteral("Usuário ou senha inválidos"), QStringLiteral("name=\"usuario\"")};
    QTest::newRow("root redirects") << ""
                                    << "GET /" << QByteArray() << false << 302 << "/login" << QStringList() << 0
                                    << false;
    QTest::newRow("root followed") << ""
                                   << "GET /" << QByteArray() << true << 200 << "/login"
                                   << QStringList{"<meta charset=\"utf-8\">"} << 0 << false;
    for (const auto &[name, body] : {std::pair("wrong password", QByteArray("usuario=demo&senha=errada&type=")),
                                     {"wrong user", "usuario=outro&senha=demo123&type="},
                                     {"password field absent", "usuario=demo&type="},
                                     {"empty body", ""}})
        QTest::newRow(name) << ""
                            << "POST /login" << body << true << 200 << "/login" << wrong << 0 << false;
    for (const auto &[name, before, request] : {std::tuple("cnpj, no cookie", "", "GET /cnpj"),
                                                {"resultado, no cookie", "", "POST /resultado"},
                                                {"cnpj, forged cookie", "cookie sessao=123abc", "GET /cnpj"},
                                                {"resultado, forged cookie", "cookie sessao=", "POST /resultado"},
                                                {"cnpj, dropped session", "dropped", "GET /cnpj"}})
        QTest::newRow(name) << before << request << query << false << 302 << "/login" << QStringList() << 0
                            << !QString(before).isEmpty();
    QTest::newRow("query without the button") << "login"
                                              << "POST /resultado" << QByteArray("cnpj0=11222333000181&acao=") << false
                                              << 200 << "" << QStringList{"Consulta não solicitada"} << 0 << true;
    QTest::newRow("unknown path") << ""
                                  << "GET /nao/existe" << QByteArray() << false << 404 << ""
                                  << QStringList{"Página não encontrada"} << 0 << false;
    QTest::newRow("error status without a session")
        << "error 500"
        << "POST /resultado" << query << false << 500 << "" << QStringList() << 0 << false;
    QTest::newRow("error status") << "login error 500"
                                  << "POST /resultado" << query << false << 500 << ""
                                  << QStringList{"Erro interno do servidor"} << 0 << true;
    for (const auto &[name, height, status] :
         {std::tuple("tall", "20050", 200), {"one px", "1", 200}, {"not a number", "muito", 400}, {"missing", "", 400}})
        QTest::newRow(name) << "" << QStringLiteral("GET /pagina%1%2").arg(*height ? "?altura=" : "", height)
                            << QByteArray() << false << status << "" << QStringList()
                            << (status == 200 ? atoi(height) : 0) << false;
    QTest::newRow("closed path") << "closed"
                                 << "GET /cnpj" << QByteArray() << false << 0 << "" << QStringList() << 0 << false;
    QTest::newRow("delayed answer") << "delay"
                                    << "GET /login" << QByteArray() << false << 200 << ""
                                    << QStringList{"name=\"usuario\""} << 0 << false;
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
    if (before.contains(QLatin1String("error 500")))
        m_site->setErrorStatus(path, 500);
    if (before.startsWith(QLatin1String("login")) || before == u"dropped")
        QCOMPARE(login().url, m_site->url(QStringLiteral("/cnpj")));
    if (before == u"dropped")
        m_site->dropSessions();
    if (before.startsWith(QLatin1String("cookie ")))
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
        QCOMPARE(r.contentType, QByteArray("text/html; charset=utf-8"));
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
        QCOMPARE(m_site->lastPost().value(QStringLiteral("cnpj0")), QStringLiteral("11222333000181"));
    QCOMPARE(m_site->url(QStringLiteral("/x")).toString(), QStringLiteral("http://127.0.0.1:%1/x").arg(m_site->port()));
    QCOMPARE(fetch(QStringLiteral("/login")).status, 200); // the site goes on answering
}

void TestSampleSite::loginPageForm_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("passwordName");
    QTest::addColumn<bool>("omitPassword");
    QTest::newRow("default names") << QString() << QString() << false;
    QTest::newRow("renamed elements") << QStringLiteral("login_x") << QStringLiteral("pw_y") << false;
    QTest::newRow("password missing") << QString() << QString() << true;
}

void TestSampleSite::loginPageForm()
{
    QFETCH(QString, userName);
    QFETCH(QString, passwordName);
    QFETCH(bool, omitPassword);
    if (!userName.isEmpty())
        m_site->setUserElementName(userName);
    if (!passwordName.isEmpty())
        m_site->setPasswordElementName(passwordName);
    m_site->setOmitPasswordField(omitPassword);
    const QString user = userName.isEmpty() ? QStringLiteral("usuario") : userName;
    const QString password = passwordName.isEmpty() ? QStringLiteral("senha") : passwordName;

    const Reply r = fetch(QStringLiteral("/login"));
    QCOMPARE(r.status, 200);
    const QString html = r.text();
    QCOMPARE(html.count(QStringLiteral("<form")), 1);
    QVERIFY(html.contains(QStringLiteral("method=\"post\" action=\"/login\"")));
    QVERIFY(html.contains(QStringLiteral("type=\"text\" name=\"%1\" id=\"%1\"").arg(user)));
    QCOMPARE(html.contains(QStringLiteral("type=\"password\" name=\"%1\" id=\"%1\"").arg(password)), !omitPassword);
    QVERIFY(html.contains(QStringLiteral("type=\"hidden\" name=\"type\" id=\"type\"")));
    QVERIFY(html.contains(QStringLiteral("type=\"submit\"")));
    QVERIFY(!html.contains(QStringLiteral("Usuário ou senha inválidos")));
}

void TestSampleSite::loginLeadsToCnpjPage()
{
    QSignalSpy posted(m_site.get(), &SampleSite::loginPosted);
    const Reply r = login();
    QCOMPARE(r.status, 200);
    QCOMPARE(r.url, m_site->url(QStringLiteral("/cnpj")));
    QVERIFY(hasSessionCookie());
    QCOMPARE(m_site->loginPosts(), 1);
    QCOMPARE(posted.count(), 1);
    const auto fields = posted.at(0).at(0).value<QMap<QString, QString>>();
    QCOMPARE(fields.value(QStringLiteral("usuario")), QStringLiteral("demo"));
    QCOMPARE(m_site->lastLogin(), fields);

    // The query form is the second one; the first belongs to something else on the page.
    const QString html = r.text();
    QCOMPARE(html.count(QStringLiteral("<form")), 2);
    const qsizetype second = html.indexOf(QStringLiteral("<form"), html.indexOf(QStringLiteral("<form")) + 1);
    const QString queryForm = html.mid(second);
    QVERIFY(queryForm.startsWith(QStringLiteral("<form method=\"post\" action=\"/resultado\"")));
    QVERIFY(queryForm.contains(QStringLiteral("name=\"cnpj0\" id=\"cnpj0\"")));
    QVERIFY(queryForm.contains(QStringLiteral("type=\"hidden\" name=\"acao\" id=\"acao\" value=\"\"")));
    QVERIFY(queryForm.contains(QStringLiteral("type=\"button\" name=\"consultar\" id=\"consultar\"")));
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
    const Reply r = post(QStringLiteral("/resultado"), "cnpj0=12.345.678%2F0001-90&acao=consultar");
    QCOMPARE(r.status, 200);
    QCOMPARE(queried.count(), 1);
    QCOMPARE(m_site->lastQuery().value(QStringLiteral("cnpj0")), QStringLiteral("12.345.678/0001-90"));

    const QString html = r.text();
    QVERIFY(html.contains(QStringLiteral("Relatório de crédito")));
    QVERIFY(html.contains(QStringLiteral("12.345.678/0001-90")));
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
    // The header is the first row: title and CNPJ come before the second row starts.
    const qsizetype secondRow = html.indexOf(QStringLiteral("<div class=\"linha\""),
                                             html.indexOf(QStringLiteral("<div class=\"linha\"")) + 1);
    if (secondRow > 0)
        QVERIFY(html.indexOf(QStringLiteral("12.345.678/0001-90"), html.indexOf(QStringLiteral("<body"))) < secondRow);
}

void TestSampleSite::formDecoding_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("accents, quotes, backslash, markup") << QStringLiteral("Sénha \"x\" \\ </script>");
    QTest::newRow("plus, ampersand, equals, percent") << QStringLiteral("a+b&c=d%20e");
    QTest::newRow("apostrophe and non-latin") << QStringLiteral("it's ação 日本");
    QTest::newRow("leading and trailing spaces") << QStringLiteral("  x  ");
}

void TestSampleSite::formDecoding()
{
    QFETCH(QString, password);
    m_site->setCredentials(QStringLiteral("demo"), password);
    const Reply r = post(QStringLiteral("/login"),
                         formBody({{QStringLiteral("usuario"), QStringLiteral("demo")},
                                   {QStringLiteral("senha"), password},
                                   {QStringLiteral("type"), QStringLiteral("PJ")}}),
                         true);
    QCOMPARE(m_site->lastLogin().value(QStringLiteral("senha")), password);
    QCOMPARE(m_site->lastLogin().value(QStringLiteral("type")), QStringLiteral("PJ"));
    QCOMPARE(r.url, m_site->url(QStringLiteral("/cnpj")));
}

void TestSampleSite::rowColorsStayApart()
{
    // Neighbouring rows must stay apart after heavy JPEG loss: every pair of the cycle
    // differs by a wide margin in some channel.
    for (int i = 0; i < 6; ++i) {
        for (int j = i + 1; j < 6; ++j) {
            const QColor a = SampleSite::rowColor(i);
            const QColor b = SampleSite::rowColor(j);
            const int diff
                = qMax(qAbs(a.red() - b.red()), qMax(qAbs(a.green() - b.green()), qAbs(a.blue() - b.blue())));
            QVERIFY2(diff >= 150, qPrintable(QStringLiteral("rows %1 and %2 too close").arg(i).arg(j)));
        }
    }
    QCOMPARE(SampleSite::rowColor(59), SampleSite::rowColor(5));
}

void TestSampleSite::setPageServesAnyMethod()
{
    const QByteArray html = "<!DOCTYPE html><html><body><form id=\"f\"></form>única</body></html>";
    m_site->setPage(QStringLiteral("/tudo"), html);
    m_site->setPage(QStringLiteral("/login"), html);

    const Reply got = fetch(QStringLiteral("/tudo?x=1"));
    QCOMPARE(got.status, 200);
    QCOMPARE(got.body, html);
    QCOMPARE(got.cacheControl, QByteArray("no-store"));
    const Reply posted = post(QStringLiteral("/tudo"), "campo=%C3%A9");
    QCOMPARE(posted.body, html);
    QCOMPARE(m_site->lastPost().value(QStringLiteral("campo")), QStringLiteral("é"));
    QCOMPARE(m_site->hits(QStringLiteral("/tudo")), 2);

    // A set page takes the place of the built-in one.
    QCOMPARE(fetch(QStringLiteral("/login")).body, html);
    QCOMPARE(m_site->hits(QStringLiteral("/login")), 1);
    QCOMPARE(m_site->hits(QStringLiteral("/nada")), 0);
}

void TestSampleSite::serverPrintsItsAddress()
{
    QProcess server;
    server.start(QStringLiteral(SAMPLESITE_EXE),
                 {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--user"), QStringLiteral("ana"),
                  QStringLiteral("--password"), QStringLiteral("s3gredo")});
    QVERIFY2(server.waitForStarted(5000), qPrintable(server.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 5000);
    const QString line = QString::fromUtf8(server.readLine());
    static const QRegularExpression re(QStringLiteral(R"(^samplesite listening on http://127\.0\.0\.1:(\d+)/\n$)"));
    const auto match = re.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));

    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/login").arg(match.captured(1))));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(m_nam->post(request, QByteArray("usuario=ana&senha=s3gredo")));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    QVERIFY(finished.wait(5000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 302);
    QCOMPARE(reply->rawHeader("Location"), QByteArray("/cnpj"));

    server.kill();
    QVERIFY(server.waitForFinished(5000));
}

void TestSampleSite::tlsCertificateIsSelfSigned()
{
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listenTls());
    QCOMPARE(m_site->url(QStringLiteral("/login")).scheme(), QStringLiteral("https"));

    QNetworkRequest request(m_site->url(QStringLiteral("/login")));
    std::unique_ptr<QNetworkReply> refused(m_nam->get(request));
    QSignalSpy sslErrors(refused.get(), &QNetworkReply::sslErrors);
    QSignalSpy refusedDone(refused.get(), &QNetworkReply::finished);
    QVERIFY(refusedDone.wait(5000));
    QCOMPARE(refused->error(), QNetworkReply::SslHandshakeFailedError);
    QCOMPARE(sslErrors.count(), 1);
    const auto errors = sslErrors.first().first().value<QList<QSslError>>();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().error(), QSslError::SelfSignedCertificate);
    QCOMPARE(errors.first().certificate(), SampleSite::tlsCertificate());

    std::unique_ptr<QNetworkReply> accepted(m_nam->get(request));
    accepted->ignoreSslErrors({QSslError(QSslError::SelfSignedCertificate, SampleSite::tlsCertificate())});
    QSignalSpy acceptedDone(accepted.get(), &QNetworkReply::finished);
    QVERIFY(acceptedDone.wait(5000));
    QCOMPARE(accepted->error(), QNetworkReply::NoError);
    QVERIFY(QString::fromUtf8(accepted->readAll()).contains(QStringLiteral("name=\"usuario\"")));
}

QTEST_GUILESS_MAIN(TestSampleSite)
#include "tst_samplesite.moc"
