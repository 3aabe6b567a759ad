#include "pdftools.h"
#include "samplesite.h"
#include "testdatabase.h"
#include "textlayer.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

#include <csignal>

// The unattended run through the real program, the sample site and a real
// database: what each client's line says, the exit status, and the archive.
class BatchTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestDatabase::addDriverRows(); }
    void init();
    void cleanup();
    void clientList_data();
    void clientList();

private:
    // Each stored line's PDF in the folder: the archived record, byte for byte, and its text.
    void checkPdfs(const QString &folder, const QStringList &lines);
    // Runs the program with the arguments and input; SIGTERM once its standard error shows stopAt.
    int run(const QStringList &arguments, const QByteArray &input, const QByteArray &stopAt, QStringList *lines,
            QStringList *errors = nullptr);

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<TestDatabase> m_db;
};

void BatchTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listen());
    m_site->setReportHeight(1500);
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), QStringLiteral("11222333000181"));
    m_db->addClient(1, 1002, QStringLiteral("Nova Exemplo S.A."), QStringLiteral("12ABC34501DE35"));
    m_db->addClient(1, 1004, QStringLiteral("Sem CNPJ Ltda"), QStringLiteral("123"));
    m_db->addSiteParameters(1, *m_site);
}

void BatchTest::cleanup()
{
    m_db.reset();
    m_site.reset();
}

int BatchTest::run(const QStringList &arguments, const QByteArray &input, const QByteArray &stopAt,
                   QStringList *lines, QStringList *errors)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DEVEZOZUVOR_DBENGINE_INI"), m_db->iniPath());
    tool.setProcessEnvironment(environment);
    QSignalSpy finished(&tool, &QProcess::finished);
    tool.start(QStringLiteral(DEVEZOZUVOR_EXE), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    QByteArray errorsSoFar;
    if (!stopAt.isEmpty()) {
        if (!QTest::qWaitFor([&] { return (errorsSoFar += tool.readAllStandardError()).contains(stopAt); }, 60000))
            return -2;
        ::kill(pid_t(tool.processId()), SIGTERM);
    }
    if (finished.isEmpty() && !finished.wait(120000))
        return -1;
    *lines = QString::fromUtf8(tool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    if (errors)
        *errors = QString::fromUtf8(errorsSoFar + tool.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

void BatchTest::clientList_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("earlierRuns"); // of the same command, before the one checked
    // "recusa": the site takes another password; "trava": it never answers a result, and SIGTERM comes;
    // "inquieto": its report never stops changing; "preso": the client table is locked, and SIGTERM comes;
    // "sem índice": the archive lacks its client index; "vencida": the CNPJ form answered by the login page;
    // x and .: each login's result fails, or not.
    QTest::addColumn<QString>("site");
    QTest::addColumn<QStringList>("expected"); // each line of the output, as a pattern; exit 2: of the errors
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("archived"); // reports of client 1001 afterwards

    const QString date = QStringLiteral("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d");
    const QStringList three = QStringLiteral("--lote 1 1001 1003 1004 1002").split(u' ');
    const QString refused = "1004\t123\tfalhou\tO CNPJ do cliente 1004 \\(Sem CNPJ Ltda\\) não é válido .*";
    QTest::newRow("one client missing, one CNPJ refused")
        << three << QByteArray() << 0 << QString()
        << QStringList{"1001\t11222333000181\tsalva\tprimeira consulta",
                       "1003\t\tfalhou\tErro ao localizar cliente para pesquisar\\.\\.\\.", refused,
                       "1002\t12ABC34501DE35\tsalva\tprimeira consulta", "2 salvas, 2 falharam em \\d+ s"}
        << 1 << 1;
    QTest::newRow("the same list again")
        << three << QByteArray() << 1 << QString()
        << QStringList{"1001\t11222333000181\tsalva\t0 mudanças desde " + date,
                       "1003\t\tfalhou\tErro ao localizar cliente para pesquisar\\.\\.\\.", refused,
                       "1002\t12ABC34501DE35\tsalva\t0 mudanças desde " + date, "2 salvas, 2 falharam em \\d+ s"}
        << 1 << 2;
    const QString siteFailed = "1001\t11222333000181\tfalhou\tO site da Equifax .*";
    QTest::newRow("a stored client ends a row of site failures")
        << QStringLiteral("--lote 1 1001 1001 1002 1001 1001 1002").split(u' ') << QByteArray() << 0
        << QStringLiteral("xx.xx.")
        << QStringList{siteFailed, siteFailed, "1002\t12ABC34501DE35\tsalva\tprimeira consulta", siteFailed,
                       siteFailed, "1002\t12ABC34501DE35\tsalva\t0 mudanças desde " + date,
                       "2 salvas, 4 falharam em \\d+ s"}
        << 1 << 0;
    QTest::newRow("a report that never stops changing")
        << QStringLiteral("--lote 1 1001").split(u' ') << QByteArray() << 0 << QStringLiteral("inquieto")
        << QStringList{"1001\t11222333000181\tsalva\tprimeira consulta\\. A página ainda estava carregando quando "
                       "foi capturada; confira a consulta\\.", "1 salvas, 0 falharam em \\d+ s"}
        << 0 << 1;
    QTest::newRow("refused login, clients from the input")
        << QStringList{QStringLiteral("--lote"), QStringLiteral("1")} << QByteArray("1001\n\n# lista\n1002\n") << 0
        << QStringLiteral("recusa")
        << QStringList{"1001\t11222333000181\tfalhou\tO site da Equifax recusou o login: .*",
                       "1002\t\tfalhou\tnão consultado: o site recusou o login", "0 salvas, 2 falharam em \\d+ s"}
        << 1 << 0;
    const QStringList two = QStringLiteral("--lote 1 1001 1002").split(u' ');
    const QString untried = QStringLiteral("%1\t\tfalhou\tnão consultado: execução interrompida");
    QTest::newRow("SIGTERM during a walk") << two << QByteArray() << 0 << QStringLiteral("trava")
        << QStringList{"1001\t11222333000181\tfalhou\tinterrompida antes de ser salva", untried.arg(1002),
                       "0 salvas, 2 falharam em \\d+ s"} << 1 << 0;
    QTest::newRow("SIGTERM during a client's lookup") << two << QByteArray() << 0 << QStringLiteral("preso")
        << QStringList{untried.arg(1001), untried.arg(1002), "0 salvas, 2 falharam em \\d+ s"} << 1 << 0;
    const QString expired = "\tfalhou\tO site da Equifax pediu o login de novo depois de tê-lo aceitado.*";
    QTest::newRow("an expired session is a site failure, not a refused login") << two << QByteArray() << 0
        << QStringLiteral("vencida")
        << QStringList{"1001\t11222333000181" + expired, "1002\t12ABC34501DE35" + expired,
                       "0 salvas, 2 falharam em \\d+ s"} << 1 << 0;
    const QStringList pdf{QStringLiteral("--lote"), QStringLiteral("--pdf"), QStringLiteral("PASTA"),
                          QStringLiteral("1"), QStringLiteral("1001"), QStringLiteral("1002")};
    QTest::newRow("a PDF of each stored report")
        << pdf << QByteArray() << 0 << QString()
        << QStringList{"1001\t11222333000181\tsalva\tprimeira consulta", "1002\t12ABC34501DE35\tsalva\tprimeira consulta",
                       "2 salvas, 0 falharam em \\d+ s"}
        << 0 << 1;
    QTest::newRow("a PDF folder that does not exist")
        << QStringList(pdf).replaceInStrings(QStringLiteral("PASTA"), QStringLiteral("PASTA/falta")).mid(0, 5)
        << QByteArray() << 0 << QString()
        << QStringList{"1001\t11222333000181\tsalva\tprimeira consulta; PDF não gravado: .*/falta/"
                       "11222333000181_\\d{8}_\\d{6}\\.pdf: No such file or directory",
                       "1 salvas, 0 falharam em \\d+ s"}
        << 1 << 1;
    QTest::newRow("bad arguments")
        << QStringList{QStringLiteral("--lote"), QStringLiteral("1"), QStringLiteral("mil")} << QByteArray() << 0
        << QString() << QStringList{"DeveZozuvor --lote: o cliente não é um número: 'mil'"} << 2 << 0;
    QTest::newRow("no client in the input")
        << QStringList{QStringLiteral("--lote"), QStringLiteral("1")} << QByteArray("\n# nenhum\n") << 0 << QString()
        << QStringList{"DeveZozuvor --lote: nenhum cliente para consultar"} << 2 << 0;
    QTest::newRow("archive without its client index")
        << three << QByteArray() << 0 << QStringLiteral("sem índice")
        << QStringList{"DeveZozuvor --lote: TDeveZozuvor: No index for fields 'Filial;Cod_Clifor'"} << 2 << 0;
}

void BatchTest::clientList()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, earlierRuns);
    QFETCH(QString, site);
    QFETCH(QStringList, expected);
    QFETCH(int, exitCode);
    QFETCH(int, archived);

    QStringList lines;
    QStringList errors;
    for (int i = 0; i < earlierRuns; ++i)
        QCOMPARE(run(arguments, input, {}, &lines), exitCode);
    if (site == u"recusa")
        m_site->setCredentials(m_site->user(), QStringLiteral("outra"));
    if (site == u"inquieto")
        m_site->setReportLayout(site);
    if (site == u"trava")
        m_site->setStalledPath(QStringLiteral("/resultado"));
    m_site->setSessionExpiring(site == u"vencida");
    if (site == u"sem índice")
        m_db->exec(QStringLiteral("DROP INDEX CliforDeveZozuvor_cliente"));
    if (site == u"preso") {
        if (!m_db->isPostgres())
            QSKIP("a SQLite file is locked whole: its parameters could not be read before the lookup");
        // Another user holds the client table until the test's database goes: the lookup waits.
        QSqlQuery lock(m_db->otherConnection());
        QVERIFY(lock.exec("BEGIN") && lock.exec("LOCK TABLE Clifor IN ACCESS EXCLUSIVE MODE"));
    }
    // The CNPJ sent (to a result that never comes), or the first client's lookup begun.
    const QByteArray stopAt = site == u"trava" ? "enviado em" : site == u"preso" ? "1/2 cliente 1001" : "";
    int logins = 0;
    if (site.contains(u'x')) {
        connect(m_site.get(), &SampleSite::loginPosted, this, [this, site, &logins] {
            if (site.mid(logins++, 1) == u"x")
                m_site->setErrorStatus(QStringLiteral("/resultado"), 500);
            else
                m_site->clearFailures();
        });
    }
    QTemporaryDir pdfFolder;
    arguments.replaceInStrings(QStringLiteral("PASTA"), pdfFolder.path());

    QCOMPARE(run(arguments, input, stopAt, &lines, &errors), exitCode);
    // Nothing could start: the errors say why, and nothing else is written.
    if (exitCode == 2) {
        QCOMPARE(lines, QStringList());
        lines = errors.mid(errors.size() - expected.size());
    }
    QCOMPARE(lines.size(), expected.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected.at(i)));
        QVERIFY2(pattern.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
    }
    QCOMPARE(m_db->archiveCount(1, 1001), archived);
    checkPdfs(pdfFolder.path(), arguments.contains(QStringLiteral("--pdf")) ? lines : QStringList());
    // A run that could not start, or stopped before its first query, asked nothing of the site, and sent no CNPJ.
    QCOMPARE(m_site->loginPosts() == 0, exitCode == 2 || site == u"preso");
    if (m_site->loginPosts() == 0)
        QCOMPARE(m_site->hits(QStringLiteral("/resultado")), 0);
}

void BatchTest::checkPdfs(const QString &folder, const QStringList &lines)
{
    const QStringList written = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(written.size(), lines.filter(QRegularExpression(QStringLiteral("\tsalva\t(?!.*PDF)"))).size());
    for (const QString &fileName : written) {
        const QString pdf = QDir(folder).filePath(fileName);
        const int code = fileName.startsWith(QStringLiteral("11222333000181_")) ? 1001 : 1002;
        const QByteArray stored = m_db->archiveImages(1, code).last();
        QCOMPARE(PdfTools::firstImage(pdf), stored);
        QVERIFY(PdfTools::pageText(pdf, 1).contains(Jpeg::textLayer(stored).first().text));
    }
}

QTEST_MAIN(BatchTest)
#include "tst_batch.moc"
