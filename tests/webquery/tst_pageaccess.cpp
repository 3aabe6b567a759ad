#include "apperror.h"
#include "browserfixture.h"
#include "pageaccess.h"
#include "samplesite.h"
#include "scriptrunner.h"

#include <QTest>

class PageAccessTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fillsByNameOrId_data();
    void fillsByNameOrId();
    void fillsFirstOfTwo();
    void hostileValuesArriveUnchanged_data();
    void hostileValuesArriveUnchanged();
    void missingElementNamesIt();
    void clickRunsTheScript();
    void submitsFormByPosition();
    void submitIgnoresShadowingField();
    void missingFormSubmitsNothing();
    void checkedFormsGoOutTogether();
    void recognisesPageExactly_data();
    void recognisesPageExactly();

private:
    QString valueOf(const QString &id);
    bool waitForPost(int postsBefore, const QString &path);

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<BrowserFixture> m_browser;
    std::unique_ptr<PageAccess> m_access;
};

static const char formsPage[] = R"(<!doctype html><html><head><meta charset="utf-8"></head><body>
<form action="/recebe0" method="post"><input name="a" id="campoA"><input name="dup" id="dup1"></form>
<form action="/recebe1" method="post">
  <input name="dup" id="dup2">
  <input id="soid">
  <textarea name="texto" id="texto"></textarea>
  <select name="tipo" id="tipo"><option value="x">x</option><option value="CNPJ">CNPJ</option></select>
  <div id="painel"></div>
  <input type="button" name="botao" id="botao" value="ok" onclick="document.getElementById('campoA').value='clicado'">
</form>
<form action="/recebe2" method="post"><input name="submit" value="sombra"><input name="campo2" value="v2"></form>
</body></html>)";

void PageAccessTest::init()
{
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listen());
    m_site->setPage(QStringLiteral("/formularios"), formsPage);
    m_site->setPage(QStringLiteral("/recebe1"), "<html><body>recebido 1</body></html>");
    m_site->setPage(QStringLiteral("/recebe2"), "<html><body>recebido 2</body></html>");
    m_site->setPage(QStringLiteral("/vazia"), "<html><body>sem formulários</body></html>");
    m_browser = std::make_unique<BrowserFixture>();
    m_access = std::make_unique<PageAccess>(m_browser->view);
    QVERIFY(m_browser->load(m_site->url(QStringLiteral("/formularios"))));
}

void PageAccessTest::cleanup()
{
    m_access.reset();
    m_browser.reset();
    m_site.reset();
}

QString PageAccessTest::valueOf(const QString &id)
{
    return ScriptRunner::run(m_browser->page.get(), QStringLiteral("document.getElementById('%1').value").arg(id))
        .toString();
}

bool PageAccessTest::waitForPost(int postsBefore, const QString &path)
{
    QSignalSpy finished(m_browser->page.get(), &QWebEnginePage::loadFinished);
    if (!finished.wait(20000))
        return false;
    return m_site->hits(path) == postsBefore + 1;
}

void PageAccessTest::fillsByNameOrId_data()
{
    QTest::addColumn<QString>("elementName");
    QTest::addColumn<QString>("id");

    QTest::newRow("input by name") << "a"
                                   << "campoA";
    QTest::newRow("input by id") << "campoA"
                                 << "campoA";
    QTest::newRow("input with id only") << "soid"
                                        << "soid";
    QTest::newRow("textarea") << "texto"
                              << "texto";
    QTest::newRow("select") << "tipo"
                            << "tipo";
    QTest::newRow("element without a value") << "painel"
                                             << "painel";
}

void PageAccessTest::fillsByNameOrId()
{
    QFETCH(QString, elementName);
    QFETCH(QString, id);

    const QString value = elementName == u"tipo" ? QStringLiteral("CNPJ") : QStringLiteral("valor 1");
    m_access->PreencheElemento(elementName, value);
    QCOMPARE(valueOf(id), value);
}

void PageAccessTest::fillsFirstOfTwo()
{
    m_access->PreencheElemento(QStringLiteral("dup"), QStringLiteral("primeiro"));
    QCOMPARE(valueOf(QStringLiteral("dup1")), QStringLiteral("primeiro"));
    QCOMPARE(valueOf(QStringLiteral("dup2")), QString());
}

void PageAccessTest::hostileValuesArriveUnchanged_data()
{
    QTest::addColumn<QString>("value");

    QTest::newRow("quotes") << QStringLiteral("a'b\"c`d${x}");
    QTest::newRow("backslashes") << QStringLiteral("C:\\pasta\\n\\\\");
    QTest::newRow("script end") << QStringLiteral("</script><script>alert(1)</script>");
    QTest::newRow("line breaks") << QStringLiteral("linha 1\nlinha 2\r\nlinha 3");
    QTest::newRow("accents") << QString::fromUtf8("São João — ação, coração ç");
    QTest::newRow("line separators") << QString::fromUtf8("a\u2028b\u2029c");
    QTest::newRow("placeholders") << QStringLiteral("%1 %2 %L1");
}

void PageAccessTest::hostileValuesArriveUnchanged()
{
    QFETCH(QString, value);

    m_access->PreencheElemento(QStringLiteral("texto"), value);
    // A textarea normalises CR LF to LF in its value, as browsers do.
    QString expected = value;
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QCOMPARE(valueOf(QStringLiteral("texto")), expected);

    // The same text as an element name is looked up literally, not run.
    try {
        m_access->PreencheElemento(value, QStringLiteral("x"));
        QFAIL("a missing element was filled");
    } catch (const AppError &error) {
        QVERIFY2(error.message().contains(value), qPrintable(error.message()));
    }
}

void PageAccessTest::missingElementNamesIt()
{
    const int before = m_site->hits(QStringLiteral("/recebe0"));
    try {
        m_access->PreencheElemento(QStringLiteral("senha"), QStringLiteral("x"));
        QFAIL("filling a missing element succeeded");
    } catch (const AppError &error) {
        QCOMPARE(error.message(), QStringLiteral("Elemento \"senha\" não encontrado na página."));
    }
    try {
        m_access->ClicaElemento(QStringLiteral("consultar"));
        QFAIL("clicking a missing element succeeded");
    } catch (const AppError &error) {
        QCOMPARE(error.message(), QStringLiteral("Elemento \"consultar\" não encontrado na página."));
    }
    QCOMPARE(m_site->hits(QStringLiteral("/recebe0")), before);
}

void PageAccessTest::clickRunsTheScript()
{
    m_access->ClicaElemento(QStringLiteral("botao"));
    QCOMPARE(valueOf(QStringLiteral("campoA")), QStringLiteral("clicado"));
}

void PageAccessTest::submitsFormByPosition()
{
    m_access->PreencheElemento(QStringLiteral("dup2"), QString::fromUtf8("segundo ç"));
    m_access->submitForms({1});
    QVERIFY(waitForPost(0, QStringLiteral("/recebe1")));
    QCOMPARE(m_site->lastPost().value(QStringLiteral("dup")), QString::fromUtf8("segundo ç"));
    QCOMPARE(m_browser->view->url(), m_site->url(QStringLiteral("/recebe1")));
}

void PageAccessTest::submitIgnoresShadowingField()
{
    m_access->submitForms({2});
    QVERIFY(waitForPost(0, QStringLiteral("/recebe2")));
    QCOMPARE(m_site->lastPost().value(QStringLiteral("campo2")), QStringLiteral("v2"));
}

void PageAccessTest::missingFormSubmitsNothing()
{
    try {
        m_access->submitForms({0, 3});
        QFAIL("a missing form was submitted");
    } catch (const AppError &error) {
        QCOMPARE(error.message(), QStringLiteral("Formulário 4 não encontrado na página (a página tem 3)."));
    }
    QVERIFY(m_browser->load(m_site->url(QStringLiteral("/vazia"))));
    QVERIFY_THROWS_EXCEPTION(AppError, m_access->submitForms({0}));
    QCOMPARE(m_site->hits(QStringLiteral("/recebe0")), 0);
}

void PageAccessTest::checkedFormsGoOutTogether()
{
    m_access->checkForm(1);
    QVERIFY_THROWS_EXCEPTION(AppError, m_access->checkForm(5));
    m_access->PreencheElemento(QStringLiteral("campo2"), QStringLiteral("depois"));
    QCOMPARE(m_site->hits(QStringLiteral("/recebe1")), 0);
    QVERIFY(m_access->EstaNaPagina(m_site->url(QStringLiteral("/formularios")).toString()));

    QSignalSpy finished(m_browser->page.get(), &QWebEnginePage::loadFinished);
    m_access->submitForms({1, 2});
    QVERIFY(finished.wait(20000));
    // The later submission replaced the earlier one's navigation.
    QCOMPARE(m_browser->view->url(), m_site->url(QStringLiteral("/recebe2")));
    QCOMPARE(m_site->lastPost().value(QStringLiteral("campo2")), QStringLiteral("depois"));
}

void PageAccessTest::recognisesPageExactly_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("match");

    QTest::newRow("same") << "/formularios" << true;
    QTest::newRow("letter case") << "/Formularios" << false;
    QTest::newRow("trailing slash") << "/formularios/" << false;
    QTest::newRow("query string") << "/formularios?x=1" << false;
    QTest::newRow("fragment") << "/formularios#a" << false;
}

void PageAccessTest::recognisesPageExactly()
{
    QFETCH(QString, path);
    QFETCH(bool, match);

    QCOMPARE(m_access->EstaNaPagina(m_site->url(path).toString()), match);
    QVERIFY(!m_access->EstaNaPagina(QString()));
}

BROWSER_TEST_MAIN(PageAccessTest)
#include "tst_pageaccess.moc"
