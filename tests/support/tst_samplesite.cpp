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

    void rootRedirectsToLogin();
    void loginPageForm_data();
    void loginPageForm();
    void loginLeadsToCnpjPage();
    void wrongCredentialsShowError_data();
    void wrongCredentialsShowError();
    void sessionRequired_data();
    void sessionRequired();
    void reportRows_data();
    void reportRows();
    void queryWithoutButton();
    void formDecoding_data();
    void formDecoding();
    void rowColorsStayApart();
    void heightPage_data();
    void heightPage();
    void setPageServesAnyMethod();
    void unknownPathIsNotFound();
    void serverPrintsItsAddress();
    void errorStatusAtPath();
    void closedPathSendsNothing();
    void tlsCertificateIsSelfSigned();
    void delayedAnswer();

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

void TestSampleSite::rootRedirectsToLogin()
{
    const Reply r = fetch(QStringLiteral("/"));
    QCOMPARE(r.status, 302);
    QCOMPARE(r.location, QByteArray("/login"));
    QCOMPARE(r.cacheControl, QByteArray("no-store"));

    const Reply followed = fetch(QStringLiteral("/"), {}, false, true);
    QCOMPARE(followed.status, 200);
    QCOMPARE(followed.url, m_site->url(QStringLiteral("/login")));
    QCOMPARE(followed.contentType, QByteArray("text/html; charset=utf-8"));
    QVERIFY(followed.text().contains(QStringLiteral("<meta charset=\"utf-8\">")));
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

void TestSampleSite::wrongCredentialsShowError_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("wrong password") << QByteArray("usuario=demo&senha=errada&type=");
    QTest::newRow("wrong user") << QByteArray("usuario=outro&senha=demo123&type=");
    QTest::newRow("password field absent") << QByteArray("usuario=demo&type=");
    QTest::newRow("empty body") << QByteArray();
}

void TestSampleSite::wrongCredentialsShowError()
{
    QFETCH(QByteArray, body);
    const Reply r = post(QStringLiteral("/login"), body, true);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.url, m_site->url(QStringLiteral("/login")));
    QVERIFY(r.text().contains(QStringLiteral("Usuário ou senha inválidos")));
    QVERIFY(r.text().contains(QStringLiteral("name=\"usuario\"")));
    QVERIFY(!hasSessionCookie());
    QCOMPARE(m_site->loginPosts(), 1);
}

void TestSampleSite::sessionRequired_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("post");
    QTest::addColumn<QString>("cookie");
    QTest::newRow("cnpj, no cookie") << QStringLiteral("/cnpj") << false << QString();
    QTest::newRow("resultado, no cookie") << QStringLiteral("/resultado") << true << QString();
    QTest::newRow("cnpj, forged cookie") << QStringLiteral("/cnpj") << false << QStringLiteral("sessao=123abc");
    QTest::newRow("resultado, forged cookie") << QStringLiteral("/resultado") << true << QStringLiteral("sessao=");
    QTest::newRow("cnpj, dropped session") << QStringLiteral("/cnpj") << false << QStringLiteral("dropped");
}

void TestSampleSite::sessionRequired()
{
    QFETCH(QString, path);
    QFETCH(bool, post);
    QFETCH(QString, cookie);
    if (cookie == u"dropped") {
        QCOMPARE(login().url, m_site->url(QStringLiteral("/cnpj")));
        m_site->dropSessions();
    } else if (!cookie.isEmpty()) {
        m_nam->cookieJar()->setCookiesFromUrl(QNetworkCookie::parseCookies(cookie.toUtf8()), m_site->url("/"));
    }
    QSignalSpy queried(m_site.get(), &SampleSite::queryPosted);
    const Reply r = fetch(path, "cnpj0=1&acao=consultar", post);
    QCOMPARE(r.status, 302);
    QCOMPARE(r.location, QByteArray("/login"));
    QCOMPARE(queried.count(), 0);
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

void TestSampleSite::queryWithoutButton()
{
    QCOMPARE(login().status, 200);
    const Reply r = post(QStringLiteral("/resultado"), "cnpj0=11222333000181&acao=");
    QCOMPARE(r.status, 200);
    QVERIFY(r.text().contains(QStringLiteral("Consulta não solicitada")));
    QVERIFY(rowsOf(r.text()).isEmpty());
    QCOMPARE(m_site->lastQuery().value(QStringLiteral("cnpj0")), QStringLiteral("11222333000181"));
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

void TestSampleSite::heightPage_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("height");
    QTest::newRow("tall") << QStringLiteral("altura=20050") << 200 << 20050;
    QTest::newRow("one px") << QStringLiteral("altura=1") << 200 << 1;
    QTest::newRow("not a number") << QStringLiteral("altura=muito") << 400 << 0;
    QTest::newRow("missing") << QString() << 400 << 0;
}

void TestSampleSite::heightPage()
{
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(int, height);
    const Reply r = fetch(QStringLiteral("/pagina?") + query);
    QCOMPARE(r.status, status);
    QCOMPARE(m_site->hits(QStringLiteral("/pagina")), 1);
    int total = 0;
    for (const Row &row : rowsOf(r.text()))
        total += row.height;
    QCOMPARE(total, height);
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

void TestSampleSite::unknownPathIsNotFound()
{
    const Reply r = fetch(QStringLiteral("/nao/existe"));
    QCOMPARE(r.status, 404);
    QVERIFY(r.text().contains(QStringLiteral("Página não encontrada")));
    QCOMPARE(m_site->url(QStringLiteral("/x")).toString(), QStringLiteral("http://127.0.0.1:%1/x").arg(m_site->port()));
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

void TestSampleSite::errorStatusAtPath()
{
    m_site->setErrorStatus(QStringLiteral("/resultado"), 500);
    QCOMPARE(fetch(QStringLiteral("/resultado"), "acao=consultar", true).status, 500); // no session
    QCOMPARE(login().status, 200);
    QSignalSpy queried(m_site.get(), &SampleSite::queryPosted);
    const Reply r = post(QStringLiteral("/resultado"), "cnpj0=11222333000181&acao=consultar");
    QCOMPARE(r.status, 500);
    QCOMPARE(r.contentType, QByteArray("text/html; charset=utf-8"));
    QVERIFY(r.text().contains(QStringLiteral("Erro interno do servidor")));
    QCOMPARE(m_site->lastPost().value(QStringLiteral("cnpj0")), QStringLiteral("11222333000181"));
    QCOMPARE(queried.count(), 0);
}

void TestSampleSite::closedPathSendsNothing()
{
    m_site->setClosedPath(QStringLiteral("/cnpj"));
    const Reply r = fetch(QStringLiteral("/cnpj"));
    QCOMPARE(r.error, QNetworkReply::RemoteHostClosedError);
    QCOMPARE(r.status, 0); // no status line came
    QVERIFY(r.body.isEmpty());
    // Not == 1: Qt's client sends a request again when its connection closes before any answer.
    QVERIFY(m_site->hits(QStringLiteral("/cnpj")) >= 1);
    QCOMPARE(fetch(QStringLiteral("/login")).status, 200);
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

void TestSampleSite::delayedAnswer()
{
    constexpr int delay = 400;
    m_site->setDelay(QStringLiteral("/login"), delay);
    QElapsedTimer clock;
    clock.start();
    const Reply r = fetch(QStringLiteral("/login"));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(r.status, 200);
    QVERIFY2(elapsed >= delay, qPrintable(QStringLiteral("answered after %1 ms").arg(elapsed)));
    QCOMPARE(m_site->hits(QStringLiteral("/login")), 1);
}

QTEST_GUILESS_MAIN(TestSampleSite)
#include "tst_samplesite.moc"
