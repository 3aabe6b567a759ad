// Past the usual length on purpose: one subject (a press to its one ending), one fixture, one engine per run.
#include "browserfixture.h"
#include "comparisondialog.h"
#include "devezozuvorapplication.h"
#include "jpegcodec.h"
#include "textlayer.h"
#include "jvxpprogressbar.h"
#include "querydriver.h"
#include "samplesite.h"
#include "scriptrunner.h"
#include "testdatabase.h"
#include "udevezozuvor.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QLabel>
#include <QTabWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <QWindow>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

const QString success = QStringLiteral("Consulta realizada com sucesso para este cnpj!");

// Remembers every text the status line paints, in order.
class StatusTrail : public QObject
{
public:
    explicit StatusTrail(QLabel *label) : m_label(label) { label->installEventFilter(this); }
    QStringList texts;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        // A wait on the database is told only on a slow machine (a sanitized build): not part of the trail.
        if (event->type() == QEvent::Paint && (texts.isEmpty() || texts.last() != m_label->text())
            && !m_label->text().startsWith(u"Aguardando o banco de dados"))
            texts.append(m_label->text());
        return false;
    }

private:
    QLabel *m_label;
};

bool near(QRgb a, QColor b, int tolerance = 40)
{
    return qAbs(qRed(a) - b.red()) <= tolerance && qAbs(qGreen(a) - b.green()) <= tolerance
           && qAbs(qBlue(a) - b.blue()) <= tolerance;
}

// Every log line of the tool's categories while it lives, debug included.
class LogTrail
{
public:
    LogTrail()
    {
        s_trail = this;
        QLoggingCategory::setFilterRules(QStringLiteral("devezozuvor.*.debug=true"));
        m_previous = qInstallMessageHandler(&LogTrail::handle);
    }
    ~LogTrail()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        s_trail = nullptr;
    }
    QList<std::pair<QtMsgType, QString>> lines; // type, "category: message"

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        const QString category = QString::fromLatin1(context.category);
        if (s_trail && category.startsWith(QLatin1String("devezozuvor.")))
            s_trail->lines.append({type, category + QStringLiteral(": ") + message});
        if (s_trail)
            s_trail->m_previous(type, context, message);
    }
    static inline LogTrail *s_trail = nullptr;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fullQueryArchivesTheWholePage();
    void retentionAcrossThreeQueries();
    void tallReport();
    void reportsAsTheUserSeesThem_data();
    void reportsAsTheUserSeesThem();
    void userSwitchesTabsWhileTheResultLoads();
    void secondPressWhileTheLoginIsFilled();
    void sairDuringAQueryStoresNothing();
    void sairWhileTheBrowserIsBusy();
    void loginPageWithoutPassword();
    void wrongPasswordIsNotRetried();
    void unreachableSite();
    void missingStartAddress();
    void unknownPage_data();
    void unknownPage();
    void oneSubmissionPerPress_data();
    void oneSubmissionPerPress();
    void cnpjPageBackAfterItsSubmission();
    void newWindowWithoutAPageIsToldAsSuch();
    void alphanumericCnpjs();
    void loginAndCnpjOnOneAddress_data();
    void loginAndCnpjOnOneAddress();
    void expiredSessionIsToldAsSuch();
    void hostileValuesReachTheSite();
    void invalidCnpjMakesNoRequest_data();
    void invalidCnpjMakesNoRequest();
    void resultPageThatNeverAnswers();
    void failedPagesEndTheQuery_data();
    void failedPagesEndTheQuery();
    void untrustedCertificate();
    void rendererEndsWhileTheCnpjPageLoads();
    void pagesAfterAQueryAreOnlyShown();
    void refusedStoreEndsTheQueryBeforeItsLastStep();
    void failedCaptureStoresNothing();
    void lostDatabaseIsFoundBeforeTheWalk();
    void logsTellEachStepButNeverThePassword();

private:
    void start(const QString &cgc = QStringLiteral("11222333000181"));
    // The site parameter eEquifaxAutoKEY, after addSiteParameters().
    void setSiteParameter(const QString &key, const QString &value);
    // Presses "Consultar CNPJ" and waits until a box ends the query.
    bool runQuery();
    template<typename T>
    T *child(const char *name)
    {
        return m_app->child<T>(name);
    }
    int progress() { return child<JvXPProgressBar>("JvXPProgressBar1")->position(); }
    QString status() { return m_app->status(); }
    TfoDeveZozuvor *window() { return m_app->window(); }
    QList<BoxRecorder::Box> &boxes() { return m_app->boxes.boxes; }

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
    bool m_siteParameters = true;
};

void EndToEndTest::init()
{
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listen());
    m_site->setReportHeight(3000);
    m_db = std::make_unique<TestDatabase>();
    QCOMPARE(m_db->create(), QString());
    m_app = std::make_unique<WindowFixture>(m_db->dir());
    m_siteParameters = true;
}

void EndToEndTest::cleanup()
{
    m_app.reset();
    m_db.reset();
    m_site.reset();
}

void EndToEndTest::start(const QString &cgc)
{
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), cgc);
    if (m_siteParameters)
        m_db->addSiteParameters(1, *m_site);
    QVERIFY(m_app->start());
    boxes().clear(); // the start-up's "no query yet" box
}

void EndToEndTest::setSiteParameter(const QString &key, const QString &value)
{
    m_db->exec(QStringLiteral("UPDATE ParametrosEmpresa SET ValorStr = ? WHERE NomeParametro = ?"),
               {value, QStringLiteral("eEquifaxAuto") + key});
}

bool EndToEndTest::runQuery()
{
    const qsizetype before = boxes().size();
    QTest::mouseClick(child<QAbstractButton>("BotaoConsultar"), Qt::LeftButton);
    if (!m_app->boxes.waitForBox(before, 60000)) {
        qWarning("no box ended the query; status: %s", qPrintable(status()));
        return false;
    }
    if (boxes().last().text != success)
        qWarning("the query ended with: %s", qPrintable(boxes().last().text));
    return boxes().last().text == success;
}

void EndToEndTest::fullQueryArchivesTheWholePage()
{
    start();
    StatusTrail trail(child<QLabel>("LStatus"));
    QVERIFY(runQuery());

    QCOMPARE(boxes().last().kind, MessageBox::Kind::Information);
    QCOMPARE(
        trail.texts,
        (QStringList{"Conectando ao web site", "Pagina de login carregada com sucesso", "Preenchendo usuario e senha",
                     "Fazendo login na Equifax", "Login realizado com sucesso", "Pagina de login carregada com sucesso",
                     "Consultando CNPJ 11.222.333/0001-81", "Carregando consulta", "Consulta carregada com sucesso",
                     "Pagina de login carregada com sucesso", "Salvando consulta", "Consulta salva com sucesso"}));
    QCOMPARE(progress(), 7);
    QCOMPARE(child<JvXPProgressBar>("JvXPProgressBar1")->maximum(), 7);
    QCOMPARE(child<QTabWidget>("PageControl1")->currentIndex(), 0);

    QCOMPARE(m_site->lastLogin().value("usuario"), m_site->user());
    QCOMPARE(m_site->lastLogin().value("senha"), m_site->password());
    QCOMPARE(m_site->lastLogin().value("type"), QStringLiteral("CNPJ"));
    QCOMPARE(m_site->lastQuery().value("cnpj0"), QStringLiteral("11.222.333/0001-81"));

    QFile capture(m_db->captureFolder() + QStringLiteral("11222333000181"));
    QVERIFY(capture.open(QIODevice::ReadOnly));
    const QByteArray bytes = capture.readAll();
    const QList<QByteArray> archived = m_db->archiveImages(1, 1001);
    QCOMPARE(archived.size(), 1);
    QVERIFY(archived.first() == bytes);

    const QImage decoded = Jpeg::decode(bytes);
    QCOMPARE(decoded.height(), 3000);
    QVERIFY(decoded.width() > 700 && decoded.width() <= SampleSite::ReportWidth); // the report as laid out in the view
    QVERIFY(bytes.contains(QByteArray("\xFF\xC0", 2)));
    // The stored report carries its text, read from the page as it was captured.
    const ReportText text = Jpeg::textLayer(archived.first());
    QVERIFY(std::any_of(text.cbegin(), text.cend(), [](const ReportLine &line) {
        return line.text.contains(QStringLiteral("CNPJ 11.222.333/0001-81")) && line.top < SampleSite::RowHeight;
    }));

    const QImage image = Jpeg::decode(bytes);
    for (const int row : {0, 1, 14, 28, 29}) {
        const QRgb pixel = image.pixel(5, row * SampleSite::RowHeight + 50);
        QVERIFY2(near(pixel, SampleSite::rowColor(row)),
                 qPrintable(QStringLiteral("row %1: %2").arg(row).arg(pixel, 8, 16)));
    }
    // The picture follows the box, once decoded.
    QTRY_COMPARE(child<QWidget>("Image1")->size(), image.size());
    // Given back its size and shown again, whichever tab the user looks at.
    QTRY_VERIFY(!child<QWidget>("WebBrowser1")->isHidden());
    QCOMPARE(child<QWidget>("WebBrowser1")->size(), QSize(761, 465));
}

void EndToEndTest::retentionAcrossThreeQueries()
{
    start();
    // The second and third presses come as the user's, while the previous query's box stands.
    m_app->boxes.onBox = [this](const BoxRecorder::Box &) {
        m_site->setReportHeight(1000 + 100 * int(boxes().size()));
        if (boxes().size() < 3)
            m_app->clickThroughWindowSystem("BotaoConsultar");
    };
    m_site->setReportHeight(1000);
    QVERIFY(runQuery() && m_app->boxes.waitForBox(1, 60000) && m_app->boxes.waitForBox(2, 60000));
    QCOMPARE(m_app->boxes.texts(), QStringList(3, success));
    const QList<QByteArray> archived = m_db->archiveImages(1, 1001);
    QCOMPARE(archived.size(), 2);
    QCOMPARE(Jpeg::decode(archived.at(0)).height(), 1100);
    QCOMPARE(Jpeg::decode(archived.at(1)).height(), 1200);
    QTRY_COMPARE(child<QWidget>("Image1")->height(), 1200);
    // Beside the date, the new report's changes against the previous one (its last row); a click compares them.
    auto *changes = child<QAbstractButton>("BotaoMudancas");
    QTRY_VERIFY(changes->isVisible());
    QCOMPARE(changes->text(), QStringLiteral("1 mudança"));
    QTest::mouseClick(changes, Qt::LeftButton);
    QTRY_VERIFY(std::ranges::any_of(QApplication::topLevelWidgets(), [](QWidget *w) {
        return qobject_cast<ComparisonDialog *>(w) && w->isVisible();
    }));
}

void EndToEndTest::tallReport()
{
    m_site->setReportHeight(32000);
    start();
    QVERIFY(runQuery());
    const QList<QByteArray> archived = m_db->archiveImages(1, 1001);
    QCOMPARE(archived.size(), 1);
    const QImage image = Jpeg::decode(archived.first());
    QCOMPARE(image.height(), 32000);
    for (const int row : {0, 160, 318, 319}) {
        const QRgb pixel = image.pixel(5, row * SampleSite::RowHeight + 50);
        QVERIFY2(near(pixel, SampleSite::rowColor(row)),
                 qPrintable(QStringLiteral("row %1: %2").arg(row).arg(pixel, 8, 16)));
    }
}

void EndToEndTest::reportsAsTheUserSeesThem_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("height"); // px of rows the site serves
    QTest::addColumn<int>("band");   // px above the rows
    QTest::addColumn<int>("shown");  // px of rows in the picture; 0: all
    QTest::addColumn<QString>("box");
    const QString incomplete = success + QStringLiteral("\nA página ainda estava carregando quando foi capturada; "
                                                        "confira a consulta.");
    const QString cut = success + QStringLiteral("\nO relatório está num quadro de outro site e pode ter saído "
                                                 "cortado; confira a consulta.");
    QTest::newRow("rows filled by a script 0.8 s after the load") << "tardio" << 3000 << 0 << 0 << success;
    QTest::newRow("wrapper of min-height 100vh, footer after it") << "rodape" << 3000 << 0 << 0 << success;
    QTest::newRow("band of height 100vh") << "faixa" << 3000 << 465 << 0 << success;
    QTest::newRow("band sized by a resize handler") << "script" << 3000 << 465 << 0 << success;
    QTest::newRow("rows in a box that scrolls by itself") << "rolagem" << 3000 << 0 << 0 << success;
    QTest::newRow("rows in a box of max-height that scrolls, footer after it")
        << "rolagem-maxima" << 3000 << 0 << 0 << success;
    QTest::newRow("rows as lazy pictures, 9,000 px") << "preguicoso" << 9000 << 0 << 0 << success;
    QTest::newRow("rows shown by a timer 0.8 s after the load") << "temporizador" << 3000 << 0 << 0 << success;
    QTest::newRow("a page that never stops changing") << "inquieto" << 3000 << 0 << 0 << incomplete;
    QTest::newRow("rows fetched after a send() that throws") << "tardio-recusado" << 3000 << 0 << 0 << success;
    QTest::newRow("busy past the script wait, captured as it stands") << "ocupado" << 3000 << 0 << 0 << incomplete;
    QTest::newRow("400 rows in an iframe one window tall") << "quadro" << 40000 << 0 << 0 << success;
    QTest::newRow("400 rows in a frameset below a top frame")
        << "quadros" << 40000 << int(SampleSite::FrameBandHeight) << 0 << success;
    QTest::newRow("a frameset whose top row is 13 %")
        << "quadros-percentual" << 3000 << int(SampleSite::FrameBandHeight) << 0 << success;
    QTest::newRow("400 rows in another site's iframe, captured as shown") << "quadro-externo" << 40000 << 0 << 465 << cut;
}

// Run again with QT_SCALE_FACTOR set: the picture is at the page's own size on any screen.
void EndToEndTest::reportsAsTheUserSeesThem()
{
    QFETCH(QString, layout);
    QFETCH(int, height);
    QFETCH(int, band);
    QFETCH(int, shown);
    QFETCH(QString, box);
    m_site->setReportLayout(layout);
    m_site->setReportHeight(height);
    start();
    QCOMPARE(window()->devicePixelRatio(), qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble());
    QTest::mouseClick(child<QAbstractButton>("BotaoConsultar"), Qt::LeftButton);
    QVERIFY(m_app->boxes.waitForBox(0, 60000));
    QCOMPARE(boxes().first().text, box);
    const QByteArray bytes = m_db->archiveImages(1, 1001).value(0);
    const QImage stored = Jpeg::decode(bytes);
    const int rows = (shown > 0 ? shown : height) / SampleSite::RowHeight;
    QCOMPARE(stored.height(), band + (shown > 0 ? shown : height));
    // As wide as the window at most, which a screen scaled 1.5 times rounds up to whole page pixels.
    QVERIFY2(stored.width() > 700 && stored.width() <= 762, qPrintable(QString::number(stored.width())));
    for (int row = 0; row < rows; ++row)
        QVERIFY2(near(stored.pixel(5, band + row * SampleSite::RowHeight + 50), SampleSite::rowColor(row)),
                 qPrintable(QString::number(row)));
    // The find bar finds the last row's text where the picture shows it (pictures and another site's frame have none).
    const ReportText text = Jpeg::textLayer(bytes);
    QVERIFY(layout == u"preguicoso" || shown > 0 || std::ranges::any_of(text, [&](const ReportLine &line) {
                return line.text == QStringLiteral("Linha %1 - nada consta").arg(rows - 1)
                       && line.top >= band + (rows - 1) * SampleSite::RowHeight && line.top < band + height;
            }));
    // The browser as the user left it, zoom and size, the page's layout its own again.
    QCOMPARE(child<QWebEngineView>("WebBrowser1")->zoomFactor(), 1.0);
    QCOMPARE(child<QWebEngineView>("WebBrowser1")->size(), QSize(761, 465));
    const QString rowsOf = layout == u"quadros" ? "60,*" : layout == u"quadros-percentual" ? "13%,*" : "-";
    QTRY_COMPARE(ScriptRunner::run(child<QWebEngineView>("WebBrowser1")->page(),
                                   "document.querySelectorAll('[style*=important]').length + ':'"
                                   " + (document.body.getAttribute('rows') || '-')")
                     .toString(),
                 "0:" + rowsOf);
}

void EndToEndTest::userSwitchesTabsWhileTheResultLoads()
{
    start();
    connect(m_site.get(), &SampleSite::queryPosted, this,
            [this] { child<QTabWidget>("PageControl1")->setCurrentIndex(0); });
    QVERIFY(runQuery());
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
    QTRY_COMPARE(child<QWidget>("Image1")->height(), 3000);
}

void EndToEndTest::secondPressWhileTheLoginIsFilled()
{
    // The login page's script keeps the browser busy, so filling it takes a while.
    m_site->setBusyLoginPage(150);
    start();
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (status() != QStringLiteral("Preenchendo usuario e senha"))
            return;
        watch.stop();
        m_app->clickThroughWindowSystem("BotaoConsultar");
    });
    watch.start();
    QVERIFY(runQuery());
    // The first query ended silently; the second went through alone.
    QCOMPARE(m_app->boxes.texts(), QStringList{success});
    QVERIFY(!watch.isActive());
    QCOMPARE(m_site->loginPosts(), 1);
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
}

void EndToEndTest::sairDuringAQueryStoresNothing()
{
    start();
    QSignalSpy loginSeen(m_site.get(), &SampleSite::loginPosted);
    QTest::mouseClick(child<QAbstractButton>("BotaoConsultar"), Qt::LeftButton);
    QVERIFY(loginSeen.wait(20000));
    QTest::mouseClick(child<QAbstractButton>("JvXPButton2"), Qt::LeftButton);
    QVERIFY(!window()->isVisible());
    m_app->reset();
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
    QVERIFY(boxes().isEmpty());
}

void EndToEndTest::sairWhileTheBrowserIsBusy()
{
    // Once loaded, the login page's own script keeps the browser busy for 20 s,
    // so the tool's first script on it waits for an answer.
    m_site->setPage(QStringLiteral("/login"),
                    "<!DOCTYPE html><html><body><form name=\"acesso\" method=\"post\" action=\"/login\">"
                    "<input name=\"usuario\"><input name=\"senha\" type=\"password\"></form><script>"
                    "onload = () => setTimeout(() => { const end = Date.now() + 20000; while (Date.now() < end); });"
                    "</script></body></html>");
    start();

    // "Sair" is clicked the way a user clicks: through the window system's queue.
    QElapsedTimer sinceSair;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (status() != QStringLiteral("Preenchendo usuario e senha"))
            return;
        watch.stop();
        sinceSair.start();
        m_app->clickThroughWindowSystem("JvXPButton2");
    });
    watch.start();
    QTest::mouseClick(child<QAbstractButton>("BotaoConsultar"), Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(sinceSair.isValid() && !window()->isVisible(), 30000);
    // At once, not when the script's own time limit ran out, and silently.
    QVERIFY2(sinceSair.elapsed() < 3000, qPrintable(QString::number(sinceSair.elapsed())));
    QVERIFY(boxes().isEmpty());
    QCOMPARE(m_site->hits(QStringLiteral("/login")), 1);
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
}

void EndToEndTest::loginPageWithoutPassword()
{
    m_site->setOmitPasswordField(true);
    start();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().kind, MessageBox::Kind::Report);
    QCOMPARE(boxes().last().text, QStringLiteral("Elemento \"senha\" não encontrado na página."));
    QCOMPARE(status(), QStringLiteral("Preenchendo usuario e senha"));
    QCOMPARE(progress(), 2);
    QCOMPARE(m_site->loginPosts(), 0);
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
}

void EndToEndTest::wrongPasswordIsNotRetried()
{
    m_siteParameters = false;
    m_db->addSiteParameters(1, *m_site);
    m_db->exec(QStringLiteral("UPDATE ParametrosEmpresa SET ValorStr = 'errada' "
                              "WHERE NomeParametro = 'eEquifaxAutoSenhaUsu'"));
    start();
    QVERIFY(!runQuery());
    QVERIFY2(boxes().last().text.contains(QStringLiteral("recusou o login")), qPrintable(boxes().last().text));
    QCOMPARE(m_site->loginPosts(), 1);
    QCOMPARE(progress(), 4);
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
}

void EndToEndTest::unreachableSite()
{
    m_siteParameters = false;
    // A port just freed: nothing listens there.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    m_db->addParameter(1, QStringLiteral("eEquifaxAutoURLConsulta"), address);
    start();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().kind, MessageBox::Kind::Report);
    QVERIFY2(
        boxes().last().text.startsWith(QStringLiteral("O site da Equifax não pôde ser carregado (página inicial, %1): "
                                                      "o site recusou a conexão (")
                                           .arg(address)),
        qPrintable(boxes().last().text));
    QCOMPARE(status(), QStringLiteral("O site não pôde ser carregado: página inicial"));
    QCOMPARE(progress(), 1);
}

void EndToEndTest::missingStartAddress()
{
    m_siteParameters = false;
    start();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().kind, MessageBox::Kind::Report);
    QCOMPARE(boxes().last().text,
             QStringLiteral("O endereço do site da Equifax (parâmetro eEquifaxAutoURLConsulta) não está cadastrado "
                            "para esta filial."));
    QCOMPARE(status(), QStringLiteral("Conectando ao web site"));
    QCOMPARE(progress(), 0);
    QCOMPARE(child<QTabWidget>("PageControl1")->currentIndex(), 1);
}

void EndToEndTest::unknownPage_data()
{
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<QString>("address"); // the parameter's value, a path on the site
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("progress");
    // A notice at an address of its own, in place of the site.
    QTest::newRow("notice at the start") << "URLConsulta"
                                         << "/manutencao"
                                         << "página inicial"
                                         << "/manutencao"
                                         << "Aviso de manutenção" << 1;
    // The CNPJ page moved: its parameter no longer matches what the site shows after the login.
    QTest::newRow("moved CNPJ page") << "URLPagPreencheCnpj"
                                     << "/consulta-cnpj"
                                     << "resposta ao login"
                                     << "/cnpj"
                                     << "Bureau de Crédito - Consulta por CNPJ" << 4;
}

void EndToEndTest::unknownPage()
{
    QFETCH(QString, parameter);
    QFETCH(QString, address);
    QFETCH(QString, step);
    QFETCH(QString, shown);
    QFETCH(QString, title);
    QFETCH(int, progress);
    // A page the walk does not know changes only the status line, and leaves
    // the step's time running; then it is named, not taken for a silence.
    qputenv("DEVEZOZUVOR_PAGE_TIMEOUT", "3");
    m_site->setPage(QStringLiteral("/manutencao"),
                    "<html><head><title>Aviso de manutenção</title></head><body>Site em manutenção</body></html>");
    m_siteParameters = false;
    m_db->addSiteParameters(1, *m_site);
    setSiteParameter(parameter, m_site->url(address).toString());
    LogTrail log;
    start();
    qunsetenv("DEVEZOZUVOR_PAGE_TIMEOUT");
    QTest::mouseClick(child<QAbstractButton>("BotaoConsultar"), Qt::LeftButton);
    QVERIFY(m_app->boxes.waitForBox(0, 30000));
    QCOMPARE(boxes().last().text,
             QStringLiteral("O site da Equifax mostrou uma página que a ferramenta não espera (%1): %2, com o título "
                            "\"%3\". Pode ser um aviso do site ou um parâmetro de endereço que não confere mais com o "
                            "site. A consulta foi interrompida após 3 s e nada foi gravado.")
                 .arg(step, m_site->url(shown).toString(), title));
    QCOMPARE(status(), QStringLiteral("O site mostrou uma página inesperada: ") + step);
    QCOMPARE(this->progress(), progress);
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
    QVERIFY(std::any_of(log.lines.cbegin(), log.lines.cend(), [&](const auto &line) {
        return line.first == QtInfoMsg && line.second.contains(QStringLiteral("página desconhecida: ")
                                                               + m_site->url(shown).toString());
    }));
}

void EndToEndTest::oneSubmissionPerPress_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("result"); // the result page's address, when not the form's
    QTest::addColumn<QString>("login"); // the login page's address as the administrator wrote it (%1: the port)
    QTest::newRow("plain button, the form submitted") << "" << "" << "";
    QTest::newRow("submit button") << "submit" << "" << "";
    QTest::newRow("handler that submits") << "script" << "" << "";
    QTest::newRow("handler that navigates") << "navega" << "/resultado?acao=consultar&cnpj0=11.222.333%2F0001-81"
                                            << "";
    QTest::newRow("submit handler that sends by script") << "cancela" << "" << "";
    QTest::newRow("handler that posts by fetch()") << "fetch" << "/relatorio" << "";
    QTest::newRow("handler that posts by XMLHttpRequest") << "xhr" << "/relatorio" << "";
    QTest::newRow("handler that opens the result by window.open()")
        << "janela" << "/resultado?acao=consultar&cnpj0=11.222.333%2F0001-81" << "";
    QTest::newRow("form that answers in a new window") << "nova-janela" << "" << "";
    QTest::newRow("button that shows Aguarde and submits 150 ms later") << "aguarde" << "" << "";
    // Addresses compared as the browser sends them.
    QTest::newRow("login address with escapes in the query")
        << "" << "" << "http://127.0.0.1:%1/login?origem=minha%20empresa";
    QTest::newRow("login address with the scheme in capitals") << "" << "" << "HTTP://127.0.0.1:%1/login";
    QTest::newRow("login address without a path, at the site's root") << "" << "" << "http://127.0.0.1:%1";
}

void EndToEndTest::oneSubmissionPerPress()
{
    QFETCH(QString, button);
    QFETCH(QString, result);
    QFETCH(QString, login);
    m_site->setQueryButtonKind(button);
    m_site->setLoginAtRoot(login.endsWith(u"%1"));
    m_siteParameters = false;
    m_db->addSiteParameters(1, *m_site);
    if (!result.isEmpty())
        setSiteParameter(QStringLiteral("URLResultConsulta"), m_site->url(QString()).toString() + result);
    if (!login.isEmpty()) {
        for (const QString &key : {QStringLiteral("URLConsulta"), QStringLiteral("URLPagLogin")})
            setSiteParameter(key, login.arg(m_site->port()));
    }
    start();
    QVERIFY(runQuery());
    // The bureau bills every query it receives.
    QCOMPARE(m_site->hits(QStringLiteral("/resultado")), 1);
    QCOMPARE(m_site->loginPosts(), 1);
    QCOMPARE(m_site->lastQuery().value("acao"), QStringLiteral("consultar"));
    QCOMPARE(m_site->lastQuery().value("cnpj0"), QStringLiteral("11.222.333/0001-81"));
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
}

void EndToEndTest::cnpjPageBackAfterItsSubmission()
{
    // A CNPJ page that answers its own form with itself, as a site does with a complaint.
    m_site->setPage(QStringLiteral("/consulta"), R"(<!doctype html><html><body><form></form>
<form action="/consulta" method="post"><input name="cnpj0"><input type="button" name="consultar"></form>
</body></html>)");
    m_siteParameters = false;
    m_db->addSiteParameters(1, *m_site);
    for (const QString &key : {QStringLiteral("URLConsulta"), QStringLiteral("URLPagPreencheCnpj")})
        setSiteParameter(key, m_site->url(QStringLiteral("/consulta")).toString());
    start();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().text,
             QStringLiteral("O site da Equifax voltou à página de consulta depois de enviado o CNPJ. A consulta não foi "
                            "repetida, para não ser cobrada duas vezes; confira a página no navegador antes de "
                            "consultar de novo."));
    QCOMPARE(m_site->hits(QStringLiteral("/consulta")), 2); // the page, and the one query
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
}

void EndToEndTest::newWindowWithoutAPageIsToldAsSuch()
{
    qputenv("DEVEZOZUVOR_PAGE_TIMEOUT", "3");
    m_site->setQueryButtonKind(QStringLiteral("janela-vazia"));
    start();
    qunsetenv("DEVEZOZUVOR_PAGE_TIMEOUT");
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().text,
             QStringLiteral("O site da Equifax abriu uma nova janela (sem endereço), que não mostrou em 3 s a página "
                            "esperada (resultado da consulta do CNPJ). A consulta foi interrompida e nada foi gravado; "
                            "confira a janela no navegador."));
    QCOMPARE(m_site->hits(QStringLiteral("/resultado")), 0);
}

void EndToEndTest::alphanumericCnpjs()
{
    // Two CNPJs with the same digits in the same order, the second stored in lower case.
    m_db->addClient(1, 1002, QStringLiteral("Outra Empresa Ltda"), QStringLiteral("12abn34501de35"));
    start(QStringLiteral("12ABC34501DE35"));
    StatusTrail trail(child<QLabel>("LStatus"));
    QVERIFY(runQuery());
    QVERIFY(trail.texts.contains(QStringLiteral("Consultando CNPJ 12.ABC.345/01DE-35")));
    m_app.reset(); // one recorder of boxes at a time
    m_app = std::make_unique<WindowFixture>(m_db->dir());
    QVERIFY(m_app->start({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1002")}));
    QVERIFY(runQuery());
    QCOMPARE(m_site->lastQuery().value("cnpj0"), QStringLiteral("12.ABN.345/01DE-35"));

    // Each CNPJ's file holds its own report, the one archived under its client.
    for (const auto &[client, name] : {std::pair(1001, "12ABC34501DE35"), std::pair(1002, "12ABN34501DE35")}) {
        QFile capture(m_db->captureFolder() + QLatin1String(name));
        QVERIFY(capture.open(QIODevice::ReadOnly));
        QCOMPARE(m_db->archiveImages(1, client), QList<QByteArray>{capture.readAll()});
    }
}

void EndToEndTest::loginAndCnpjOnOneAddress_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("plain button, both forms submitted") << "button";
    QTest::newRow("submit button, the held login form dropped") << "submit";
}

void EndToEndTest::loginAndCnpjOnOneAddress()
{
    QFETCH(QString, button);
    m_site->setPage(QStringLiteral("/tudo"), QStringLiteral(R"(<!doctype html><html><body>
<form action="/entrar" method="post"><input name="usuario"><input name="senha" type="password"><input name="type"></form>
<form action="/fim" method="post"><input name="cnpj0"><input type="hidden" name="acao" id="acao">
<input type="%1" name="consultar" onclick="document.getElementById('acao').value='ok'"></form>
</body></html>)").arg(button).toUtf8());
    m_site->setPage(QStringLiteral("/fim"),
                    "<html><body style='margin:0'><div style='height:1500px;background:#00a000'>"
                    "fim</div></body></html>");
    m_siteParameters = false;
    const QString all = m_site->url(QStringLiteral("/tudo")).toString();
    m_db->addSiteParameters(1, *m_site);
    m_db->exec(
        QStringLiteral("UPDATE ParametrosEmpresa SET ValorStr = '%1' WHERE NomeParametro IN "
                       "('eEquifaxAutoURLConsulta', 'eEquifaxAutoURLPagLogin', 'eEquifaxAutoURLPagPreencheCnpj')")
            .arg(all));
    m_db->exec(QStringLiteral("UPDATE ParametrosEmpresa SET ValorStr = '%1' WHERE NomeParametro = "
                              "'eEquifaxAutoURLResultConsulta'")
                   .arg(m_site->url(QStringLiteral("/fim")).toString()));
    start();
    QVERIFY(runQuery());
    // Both pages' steps ran on the one event, the login first; the CNPJ form's submission won.
    QCOMPARE(m_site->lastPost().value("cnpj0"), QStringLiteral("11.222.333/0001-81"));
    QCOMPARE(m_site->lastPost().value("acao"), QStringLiteral("ok"));
    QCOMPARE(progress(), 7);
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
}

void EndToEndTest::expiredSessionIsToldAsSuch()
{
    m_site->setSessionExpiring(true);
    start();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().text,
             QStringLiteral("O site da Equifax pediu o login de novo depois de tê-lo aceitado, provavelmente porque a "
                            "sessão expirou. O CNPJ já tinha sido enviado: a consulta pode ter sido cobrada, mas nada "
                            "foi gravado. Confira no site antes de consultar de novo."));
    QCOMPARE(m_site->hits(QStringLiteral("/resultado")), 1);
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
    // The next press logs in afresh.
    m_site->setSessionExpiring(false);
    QVERIFY(runQuery());
    QCOMPARE(m_site->loginPosts(), 2);
    QCOMPARE(m_site->hits(QStringLiteral("/resultado")), 2);
}

void EndToEndTest::hostileValuesReachTheSite()
{
    const QString password = QString::fromUtf8("a'b\"c\\d</script>é%1");
    m_site->setCredentials(QString::fromUtf8("usuário \"x\""), password);
    start();
    QVERIFY(runQuery());
    QCOMPARE(m_site->lastLogin().value("senha"), password);
    QCOMPARE(m_site->lastLogin().value("usuario"), QString::fromUtf8("usuário \"x\""));
}

void EndToEndTest::invalidCnpjMakesNoRequest_data()
{
    QTest::addColumn<QString>("cgc");
    QTest::addColumn<QString>("message");
    const QString invalid = QStringLiteral("O CNPJ do cliente 1001 (Comercial Exemplo Ltda) não é válido (\"%1\"): a "
                                           "consulta não foi feita.");
    QTest::newRow("wrong check digit") << "12ABC34501DE36" << invalid.arg("12ABC34501DE36");
    QTest::newRow("no digits") << "ISENTO" << invalid.arg("ISENTO");
    QTest::newRow("blank") << "  "
                           << QStringLiteral("O cliente 1001 (Comercial Exemplo Ltda) não tem CNPJ cadastrado "
                                             "(\"  \"): a consulta não foi feita.");
}

void EndToEndTest::invalidCnpjMakesNoRequest()
{
    QFETCH(QString, cgc);
    QFETCH(QString, message);
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    start(cgc);
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().text, message);
    QCOMPARE(m_site->hits(QStringLiteral("/")) + m_site->hits(QStringLiteral("/login")), 0);
    QCOMPARE(child<QTabWidget>("PageControl1")->currentIndex(), 0);
    QCOMPARE(m_db->allArchiveRows(), before);
}

void EndToEndTest::resultPageThatNeverAnswers()
{
    qputenv("DEVEZOZUVOR_PAGE_TIMEOUT", "2");
    m_site->setStalledPath(QStringLiteral("/resultado"));
    start();
    qunsetenv("DEVEZOZUVOR_PAGE_TIMEOUT");
    QVERIFY(!runQuery());
    QCOMPARE(boxes().last().kind, MessageBox::Kind::Report);
    QCOMPARE(boxes().last().text,
             QStringLiteral("O site da Equifax não respondeu em 2 s (resultado da consulta do CNPJ). A consulta foi "
                            "interrompida e nada foi gravado; tente de novo mais tarde."));
    QCOMPARE(status(), QStringLiteral("O site não respondeu: resultado da consulta do CNPJ"));
    QCOMPARE(progress(), 6);
    QCOMPARE(m_site->hits(QStringLiteral("/resultado")), 1);
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
}

void EndToEndTest::failedPagesEndTheQuery_data()
{
    QTest::addColumn<int>("httpStatus"); // 0: the connection is closed without an answer
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("reason");
    QTest::newRow("HTTP 500 at the result") << 500 << "/resultado"
                                            << "resultado da consulta do CNPJ"
                                            << "o site respondeu com o erro HTTP 500";
    QTest::newRow("HTTP 503 after the login") << 503 << "/cnpj"
                                              << "resposta ao login"
                                              << "o site respondeu com o erro HTTP 503";
    QTest::newRow("closed at the start") << 0 << "/login"
                                         << "página inicial"
                                         << "o site fechou a conexão sem responder";
}

void EndToEndTest::failedPagesEndTheQuery()
{
    QFETCH(int, httpStatus);
    QFETCH(QString, path);
    QFETCH(QString, step);
    QFETCH(QString, reason);
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    if (httpStatus)
        m_site->setErrorStatus(path, httpStatus);
    else
        m_site->setClosedPath(path);
    start();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().size(), 1);
    QCOMPARE(boxes().last().kind, MessageBox::Kind::Report);
    const QString text = boxes().last().text;
    QVERIFY2(text.startsWith(QStringLiteral("O site da Equifax não pôde ser carregado (%1, ").arg(step))
                 && text.contains(QStringLiteral("): %1").arg(reason))
                 && text.endsWith(QStringLiteral("nada foi gravado.")),
             qPrintable(text));
    QCOMPARE(status(), QStringLiteral("O site não pôde ser carregado: %1").arg(step));
    QCOMPARE(m_db->allArchiveRows(), before);
    QVERIFY(!QFile::exists(m_db->captureFolder() + QStringLiteral("11222333000181")));

    // The window is ready for the next query, and that one alone is told.
    m_site->clearFailures();
    QVERIFY(runQuery());
    QCOMPARE(boxes().size(), 2);
    QCOMPARE(m_db->archiveCount(1, 1001), 2);
}

void EndToEndTest::untrustedCertificate()
{
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listenTls());
    start();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().size(), 1);
    QVERIFY2(boxes().last().text.contains(
                 QStringLiteral("(página inicial, %1): o certificado do site não é confiável: emitido por quem o "
                                "navegador não reconhece (")
                     .arg(m_site->url(QStringLiteral("/")).toString())),
             qPrintable(boxes().last().text));
    QCOMPARE(m_site->loginPosts(), 0);
    QCOMPARE(m_db->archiveCount(1, 1001), 0);
}

void EndToEndTest::rendererEndsWhileTheCnpjPageLoads()
{
    m_site->setDelay(QStringLiteral("/cnpj"), 5000);
    start();
    QSignalSpy loginSeen(m_site.get(), &SampleSite::loginPosted);
    QTest::mouseClick(child<QAbstractButton>("BotaoConsultar"), Qt::LeftButton);
    QVERIFY(loginSeen.wait(20000));
    const qint64 renderer = child<QWebEngineView>("WebBrowser1")->page()->renderProcessPid();
    QVERIFY(renderer > 0);
    QElapsedTimer sinceKill;
    sinceKill.start();
    QCOMPARE(::kill(pid_t(renderer), SIGKILL), 0);
    QVERIFY(m_app->boxes.waitForBox(0, 10000));
    QVERIFY2(sinceKill.elapsed() < 5000, qPrintable(QString::number(sinceKill.elapsed())));
    QVERIFY2(boxes().last().text.startsWith(QStringLiteral("O processo do navegador que exibia a página")),
             qPrintable(boxes().last().text));
    QCOMPARE(m_db->archiveCount(1, 1001), 0);

    m_site->clearFailures();
    QVERIFY(runQuery());
    QCOMPARE(boxes().size(), 2);
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
}

void EndToEndTest::pagesAfterAQueryAreOnlyShown()
{
    start();
    QVERIFY(runQuery());
    QSignalSpy logins(m_site.get(), &SampleSite::loginPosted);
    QSignalSpy queries(m_site.get(), &SampleSite::queryPosted);
    auto *view = child<QWebEngineView>("WebBrowser1");
    // The report's link to the CNPJ page, in a new window the browser shows, then the login page and the result
    // address again.
    view->page()->runJavaScript(QStringLiteral("const a = document.getElementById('novaConsulta'); "
                                               "a.target = '_blank'; a.click()"));
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("Bureau de Crédito - Consulta por CNPJ"), 20000);
    QWebEnginePage *page = view->page();
    QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
    for (const char *path : {"/login", "/resultado"}) {
        page->load(m_site->url(QLatin1String(path)));
        QVERIFY(loaded.wait(20000));
    }
    QCOMPARE(m_site->hits(QStringLiteral("/cnpj")), 2);
    QCOMPARE(status(), QStringLiteral("Consulta salva com sucesso"));
    QCOMPARE(boxes().size(), 1);
    QCOMPARE(logins.size(), 0);
    QCOMPARE(queries.size(), 1); // the reload's own, without a CNPJ
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
}

void EndToEndTest::refusedStoreEndsTheQueryBeforeItsLastStep()
{
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    start();
    m_db->refuseArchiveWrites();
    QVERIFY(!runQuery());
    QCOMPARE(boxes().size(), 1);
    QVERIFY2(boxes().last().text.startsWith(QStringLiteral("TDeveZozuvor: não foi possível gravar a consulta: ")),
             qPrintable(boxes().last().text));
    QCOMPARE(progress(), 6);
    QCOMPARE(status(), QStringLiteral("Consulta não salva"));
    QCOMPARE(m_db->allArchiveRows(), before);

    m_db->allowArchiveWrites();
    QVERIFY(runQuery());
    QCOMPARE(progress(), 7);
}

void EndToEndTest::failedCaptureStoresNothing()
{
    m_site->setReportHeight(70000);
    start();
    // The CNPJ's capture file of an earlier query is still in the folder.
    QFile older(m_db->captureFolder() + QStringLiteral("11222333000181"));
    QVERIFY(older.open(QIODevice::WriteOnly));
    older.write(makeJpeg(1));
    older.close();
    QVERIFY(!runQuery());
    QVERIFY2(boxes().last().text.contains(QStringLiteral("alta demais")), qPrintable(boxes().last().text));
    QCOMPARE(status(), QStringLiteral("Consulta não salva"));
    // The next query's store runs after anything the failed one had posted.
    m_site->setReportHeight(3000);
    QVERIFY(runQuery());
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
}

void EndToEndTest::lostDatabaseIsFoundBeforeTheWalk()
{
    start();
    const QString path = m_db->sqlitePath();
    QVERIFY(QFile::rename(path, path + QStringLiteral(".fora")));
    QVERIFY(!runQuery());
    QVERIFY2(boxes().last().text.startsWith(QStringLiteral("Não foi possível abrir o banco de dados 'tervik': o arquivo")),
             qPrintable(boxes().last().text));
    QCOMPARE(m_site->hits(QStringLiteral("/")) + m_site->hits(QStringLiteral("/login")), 0);
    // Back in place, the next press opens it again and stores.
    QVERIFY(QFile::rename(path + QStringLiteral(".fora"), path));
    QVERIFY(runQuery());
    QCOMPARE(m_db->archiveCount(1, 1001), 1);
}

void EndToEndTest::logsTellEachStepButNeverThePassword()
{
    LogTrail log;
    start();
    QVERIFY(runQuery());

    const auto page = [this](const char *path) { return m_site->url(QLatin1String(path)).toString(); };
    const QStringList expected{"devezozuvor.query: consulta do CNPJ 11222333000181 iniciada em " + page("/"),
                               "devezozuvor.query: página de login " + page("/login") + ": usuário e senha enviados em",
                               "devezozuvor.query: página do CNPJ " + page("/cnpj")
                                   + ": CNPJ 11.222.333/0001-81 enviado em",
                               "devezozuvor.capture: captura " + m_db->captureFolder() + "11222333000181 gravada:",
                               "devezozuvor.store: filial 1 cliente 1001: consulta arquivada,",
                               "devezozuvor.query: página de resultado " + page("/resultado") + ": consulta salva em"};
    QStringList infos;
    for (const auto &[type, line] : std::as_const(log.lines)) {
        QVERIFY2(!line.contains(m_site->password()), qPrintable(line));
        // Connections opened (the window's database thread has its own) are not steps.
        if (type == QtInfoMsg && !line.startsWith(QLatin1String("devezozuvor.store: banco de dados")))
            infos.append(line);
    }
    QCOMPARE(infos.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        QVERIFY2(infos.at(i).startsWith(expected.at(i)), qPrintable(infos.at(i) + u'\n' + expected.at(i)));
    QVERIFY(
        std::any_of(log.lines.cbegin(), log.lines.cend(), [](const auto &line) { return line.first == QtDebugMsg; }));
}

// The tool's own engine set-up, so that the tall capture also holds on a
// display with OpenGL (the xcb run of this test).
BROWSER_TEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
