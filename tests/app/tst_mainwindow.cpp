// One subject, the window from its launch arguments to "Sair".
#include "browserfixture.h"
#include "capturefolder.h"
#include "dbengine.h"
#include "jvxpprogressbar.h"
#include "pictureview.h"
#include "systemlocale.h"
#include "testdatabase.h"
#include "windowfixture.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTabWidget>

using namespace Qt::StringLiterals;

namespace {

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

const QString clientMissing = u"Erro ao localizar cliente para pesquisar..."_s;
const QDate lastDay(2026, 3, 4);
const QTime queryTime(15, 30, 5);

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_app.reset(), m_db.reset(); }

    void windowAsDesigned();
    void startUp_data();
    void startUp();
    void databaseCannotBeOpened();
    void missingParameterTable();
    void browsesTheArchive();
    void buttonsWaitForStartUp();
    void captureFolderIsOwnerOnly_data();
    void captureFolderIsOwnerOnly();

private:
    // Client 1001 of branch 1, whose archive holds these pictures a day apart, the last on lastDay.
    void addClient(const QList<QByteArray> &pictures);
    TfoDeveZozuvor *window() const { return m_app->window(); }
    BoxRecorder &boxes() { return m_app->boxes; }

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
};

void MainWindowTest::init()
{
    QStandardPaths::setTestModeEnabled(true);
    m_db = std::make_unique<TestDatabase>();
    QCOMPARE(m_db->create(), QString());
    m_app = std::make_unique<WindowFixture>(m_db->dir());
}

void MainWindowTest::addClient(const QList<QByteArray> &pictures)
{
    m_db->addClient(1, 1001, u"Cliente"_s, u"11222333000181"_s);
    for (qsizetype i = 0; i < pictures.size(); ++i)
        m_db->addArchive({1, 1001, lastDay.addDays(i + 1 - pictures.size()), queryTime, pictures.at(i)});
}

// The window started for nobody: its texts and layout, its status line and bar painted at once, its closed archive.
void MainWindowTest::windowAsDesigned()
{
    QVERIFY(m_app->start({}));
    QVERIFY(QTest::qWaitForWindowExposed(window()));
    QCOMPARE(window()->windowTitle(), u"Tervik - Consulta Equifax:"_s);
    QCOMPARE(m_app->status(), u"Clique em Consultar CNPJ para iniciar..."_s);
    auto *tabs = m_app->child<QTabWidget>("PageControl1");
    QCOMPARE((QStringList{tabs->tabText(0), tabs->tabText(1), QString::number(tabs->currentIndex())}),
             (QStringList{u"Consultas Realizadas"_s, u"Browser"_s, u"0"_s}));
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(m_app->child<QLabel>("Label1")->text(), u"Código"_s);
    for (const auto &[name, text] : {std::pair{"Button1", u"<< Consulta Anterior"_s},
                                     {"Button2", u"Próxima Consulta >>"_s},
                                     {"BotaoConsultar", u"Consultar CNPJ"_s},
                                     {"JvXPButton2", u"Sair"_s}}) {
        auto *button = m_app->child<QAbstractButton>(name);
        QCOMPARE(button->text(), text);
        QVERIFY2(button->font().bold() && button->cursor().shape() == Qt::PointingHandCursor, name);
    }
    for (const char *name : {"DBEdit1", "DBEdit2", "DbeCnpj", "DBEdit3", "DBEdit4"})
        QVERIFY(!m_app->child<QWidget>(name)->isEnabled());
    // Each caption fits its label, and the label ends before the field beside it.
    for (const auto &[label, field] :
         {std::pair{"Label1", "DBEdit1"}, {"Label2", "DBEdit2"}, {"Label3", "DbeCnpj"}, {"Label4", "DBEdit3"}}) {
        const auto *caption = m_app->child<QLabel>(label);
        const int textWidth = caption->fontMetrics().horizontalAdvance(caption->text());
        QVERIFY2(textWidth <= caption->contentsRect().width(), label);
        const QWidget *beside = m_app->child<QWidget>(field);
        if (caption->geometry().bottom() >= beside->y() && caption->x() < beside->x())
            QVERIFY2(caption->geometry().right() < beside->x(), label);
    }
    // With no picture the view keeps its design size, so the scroll box scrolls.
    QVERIFY(m_app->child<QScrollArea>("ScrollBox1")->verticalScrollBar()->maximum() > 0);

    auto *bar = m_app->child<JvXPProgressBar>("JvXPProgressBar1");
    QCOMPARE(std::pair(bar->position(), bar->maximum()), std::pair(0, 100));
    PaintCounter statusPaints(m_app->child<QLabel>("LStatus"));
    PaintCounter barPaints(bar);
    QSignalSpy barChanged(bar, &JvXPProgressBar::changed);
    window()->SetaStatus(u"Conectando ao web site"_s);
    QCOMPARE(m_app->status(), u"Conectando ao web site"_s);
    QCOMPARE(statusPaints.count, 1); // painted before SetaStatus returned
    window()->SetaStatus(u"Conectando ao web site"_s);
    QCOMPARE(statusPaints.count, 1); // same text: nothing invalidated, nothing painted
    window()->IncProgresso();
    QCOMPARE((QList<int>{bar->position(), barPaints.count, int(barChanged.size())}), (QList<int>{1, 1, 1}));
    bar->setMaximum(1);
    window()->IncProgresso(); // paints what the maximum invalidated
    const int paintsAtFull = barPaints.count;
    window()->IncProgresso(); // only the maximum's notification; nothing invalidated
    QCOMPARE((QList<int>{bar->position(), int(barChanged.size()), barPaints.count}), (QList<int>{1, 2, paintsAtFull}));

    m_app->click("Button1");
    m_app->click("Button2");
    QCOMPARE(boxes().boxes.size(), 3);
    for (const BoxRecorder::Box &box : boxes().boxes.mid(1))
        QCOMPARE(
            std::pair(box.kind, box.text),
            std::pair(MessageBox::Kind::Report, u"TDeveZozuvor: Cannot perform this operation on a closed dataset."_s));
    m_app->click("JvXPButton2");
    QVERIFY(!window()->isVisible());
}

void MainWindowTest::startUp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<MessageBox::Kind>("kind"); // the first box's
    QTest::addColumn<QString>("name");          // the client's as shown
    QTest::addColumn<bool>("found");            // the client, and so "Consultar CNPJ" and its branch's parameters
    const QString none = u"Nenhuma consulta realizada para o cnpj %1, clique em CONSULTA CNPJ para prosseguir..."_s;
    using K = MessageBox::Kind;
    QTest::newRow("without arguments") << QStringList() << QStringList{clientMissing} << K::Error << u""_s << false;
    // A generic client 0 of branch 0 is common; it must not stand in for the one asked for.
    QTest::newRow("bad argument looks nobody up")
        << QStringList{"abc", "2", "1500"} << QStringList{u"'abc' is not a valid integer value."_s} << K::Report
        << u""_s << false;
    QTest::newRow("branch out of range")
        << QStringList{"1", "40000", "1"}
        << QStringList{u"40000 is not a valid value for field 'Filial'. The allowed range is -32768 to 32767."_s}
        << K::Report << u""_s << false;
    QTest::newRow("client without archive")
        << QStringList{"0", "1", "10"} << QStringList{none.arg("11.222.333/0001-81")} << K::Information
        << u"Cliente Sem Consulta"_s << true;
    QTest::newRow("only its own branch's archive")
        << QStringList{"0", "1", "20"} << QStringList{none.arg("11222333000181")} << K::Information << u"Filial 1"_s
        << true;
    QTest::newRow("empty picture") << QStringList{"0", "1", "30"} << QStringList() << K::Error << u"Cliente"_s << true;
}

// The window as start-up leaves it when no picture is shown: its boxes, the client's fields, the query button.
void MainWindowTest::startUp()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, boxes);
    QFETCH(MessageBox::Kind, kind);
    QFETCH(QString, name);
    QFETCH(bool, found);
    const QString code = found ? arguments.last() : QString();
    if (!arguments.isEmpty())
        m_db->addClient(0, 0, u"Consumidor Genérico"_s, u"11222333000181"_s);
    m_db->addClient(2, 1500, u"Cliente"_s, u"11222333000181"_s);
    m_db->addClient(1, 10, u"Cliente Sem Consulta"_s, u"11.222.333/0001-81"_s);
    m_db->addClient(1, 20, u"Filial 1"_s, u"11222333000181"_s);
    m_db->addClient(2, 20, u"Filial 2"_s, u"99888777000166"_s);
    m_db->addArchive({2, 20, QDate(2026, 1, 1), QTime(8, 0), solidJpeg(50, 60, Qt::green)});
    m_db->addClient(1, 30, u"Cliente"_s, u"11222333000181"_s);
    m_db->addArchive({1, 30, QDate(2026, 1, 1), QTime(8, 0), QByteArray()});
    m_db->addParameter(1, u"eEquifaxAutoURLConsulta"_s, u" \thttp://a/\r\n"_s);
    m_db->addParameter(2, u"eEquifaxAutoIdUsu"_s, u"outra filial"_s);
    m_db->addParameter(1, u"eEquifaxAutoTagTipoCons"_s, u"  CNPJ  "_s);
    QVERIFY(m_app->start(arguments));

    QCOMPARE(this->boxes().texts(), boxes);
    if (!boxes.isEmpty()) {
        QCOMPARE(this->boxes().boxes.first().kind, kind);
        // The window first, then what start-up found.
        QVERIFY(this->boxes().boxes.first().windowVisible || kind == MessageBox::Kind::Report);
    }
    QVERIFY(window()->isVisible());
    QCOMPARE(m_app->child<QWidget>("BotaoConsultar")->isEnabled(), found);
    QVERIFY(m_app->child<QWidget>("Button1")->isEnabled());
    QCOMPARE(m_app->child<QLineEdit>("DBEdit1")->text(), code);
    QCOMPARE(m_app->child<QLineEdit>("DBEdit2")->text(), name);
    QCOMPARE(m_app->child<QLineEdit>("DBEdit3")->text().isEmpty(),
             code != u"30"); // the date of a record without a picture
    QCOMPARE(m_app->child<QLineEdit>("DbeCnpj")->text().isEmpty(), code.isEmpty());
    if (arguments.isEmpty() || arguments.first() == u"abc") // nobody asked for, nobody looked up
        QCOMPARE(std::pair(window()->FilialAtual(), window()->CodCliforAtual()), std::pair(0, 0));
    const SiteParameters &site = window()->site(); // trimmed, and only the client's own branch's
    QCOMPARE(QStringList({site.URLConsulta, site.IdUsu, site.TagTipoCons}),
             found ? QStringList({"http://a/", "", "CNPJ"}) : QStringList({"", "", ""}));
    QCOMPARE(window()->PastaCapturas(), m_db->captureFolder());
    QVERIFY(QFileInfo(m_db->captureFolder()).isDir());
    // No picture: every command of the archive tab is off, and its zoom key does nothing.
    auto *image = m_app->child<PictureView>("Image1");
    QVERIFY(image->picture().isNull());
    QCOMPARE(image->actions().size(), 13);
    for (const QAction *action : image->actions())
        QVERIFY2(!action->isEnabled(), qPrintable(action->text()));
    QVERIFY(QTest::qWaitForWindowActive(window()));
    QTest::keyClick(window(), Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(image->geometry(), QRect(40, 16, 824, 2192));
    image->repaint();
    QCOMPARE(this->boxes().texts(), boxes);
}

void MainWindowTest::databaseCannotBeOpened()
{
    QFile ini(QDir(m_db->dir()).filePath(u"dbengine.ini"_s));
    QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write("[tervik]\ndriver=sqlite\npath=nao-existe/tervik.sqlite\n");
    ini.close();
    DbEngine::reset();
    QVERIFY(m_app->start());
    QCOMPARE(boxes().boxes.size(), 1);
    QCOMPARE(boxes().boxes.first().kind, MessageBox::Kind::Report);
    QVERIFY2(boxes().texts().first().contains(u"tervik"_s), qPrintable(boxes().texts().first()));
    QVERIFY(window()->isVisible());
    QVERIFY(!m_app->child<QWidget>("BotaoConsultar")->isEnabled());
    QVERIFY(!QFile::exists(QDir(m_db->dir()).filePath(u"nao-existe/tervik.sqlite"_s)));
}

void MainWindowTest::missingParameterTable()
{
    addClient({});
    m_db->exec(u"DROP TABLE ParametrosEmpresa"_s);
    QVERIFY(m_app->start());
    QCOMPARE(boxes().boxes.size(), 11); // ten failed reads, then the empty archive
    for (const BoxRecorder::Box &box : boxes().boxes.first(10))
        QVERIFY2(box.kind == MessageBox::Kind::Plain && box.title == u"tst_mainwindow"
                     && box.text.startsWith(u"Erro na leitura de parametro : "_s),
                 qPrintable(box.text));
    QVERIFY(boxes().boxes.last().text.startsWith(u"Nenhuma consulta realizada"_s));
    QCOMPARE(window()->site().URLResultConsulta, QString());
}

// The last record first; the buttons step to each end and stay there. A record that cannot be decoded or read shows
// its box and no picture, never the previous record's under its date.
void MainWindowTest::browsesTheArchive()
{
    addClient({QByteArrayLiteral("isto não é JPEG"), solidJpeg(300, 200, Qt::red), solidJpeg(400, 900, Qt::blue)});
    QVERIFY(m_app->start());
    QVERIFY(boxes().boxes.isEmpty());
    auto *image = m_app->child<PictureView>("Image1");
    QCOMPARE(image->geometry(), QRect(40, 16, 400, 900));
    QCOMPARE(image->parentWidget()->size(), QSize(440, 916));
    QCOMPARE(m_app->child<QLineEdit>("DBEdit3")->text(), archiveDateText(lastDay));
    QCOMPARE(m_app->child<QLineEdit>("DBEdit4")->text(), archiveTimeText(queryTime));

    // Back past the first record, which cannot be decoded, then on past the last: the picture and the boxes after each.
    const QList<std::tuple<const char *, QSize, int>> presses{{"Button1", {300, 200}, 0}, {"Button1", {0, 0}, 1},
                                                              {"Button1", {0, 0}, 2},     {"Button2", {300, 200}, 2},
                                                              {"Button2", {400, 900}, 2}, {"Button2", {400, 900}, 2}};
    for (const auto &[button, picture, boxCount] : presses) {
        m_app->click(button);
        QTRY_COMPARE(boxes().boxes.size(), boxCount);
        QTRY_COMPARE(image->picture().size(), picture);
    }
    for (const BoxRecorder::Box &box : boxes().boxes) {
        QCOMPARE(box.kind, MessageBox::Kind::Error);
        QVERIFY2(
            box.text.contains(QRegularExpression(u"^Erro ao abrir ultima pesquisa\\.\\.\\. \r\rJPEG error #\\d+$"_s)),
            qPrintable(box.text));
    }
    m_db->exec(u"ALTER TABLE CliforDeveZozuvor RENAME COLUMN ResultCons TO Resultado"_s);
    m_app->click("Button1");
    QTRY_COMPARE(boxes().boxes.size(), 3);
    QVERIFY2(boxes().boxes.last().text.startsWith(u"Erro ao abrir ultima pesquisa... \r\r"_s),
             qPrintable(boxes().boxes.last().text));
    QVERIFY(image->picture().isNull());
}

void MainWindowTest::buttonsWaitForStartUp()
{
    addClient({solidJpeg(30, 20, Qt::red)});
    // Another program of the branch holds the database while start-up reads it.
    QProcess locker;
    locker.start(QCoreApplication::applicationDirPath() + u"/sqlite_lock_holder"_s, {m_db->sqlitePath()});
    QVERIFY(locker.waitForReadyRead(10000));
    m_app->open();
    QTRY_COMPARE_WITH_TIMEOUT(m_app->status(), u"Aguardando o banco de dados: leitura do cliente (1 s)"_s, 10000);
    for (const char *button : {"BotaoConsultar", "Button1", "Button2"}) {
        QVERIFY(!m_app->child<QWidget>(button)->isEnabled());
        m_app->click(button);
    }
    QVERIFY(m_app->child<QWidget>("JvXPButton2")->isEnabled());
    locker.closeWriteChannel();
    QVERIFY(m_app->waitForStartUp());
    QVERIFY(boxes().boxes.isEmpty());
    QCOMPARE(m_app->status(), u"Clique em Consultar CNPJ para iniciar..."_s);
    for (const char *button : {"BotaoConsultar", "Button1", "Button2"})
        QVERIFY(m_app->child<QWidget>(button)->isEnabled());
    QCOMPARE(m_app->child<PictureView>("Image1")->size(), QSize(30, 20));
}

void MainWindowTest::captureFolderIsOwnerOnly_data()
{
    QTest::addColumn<bool>("installed"); // the program's directory cannot be written
    QTest::addColumn<bool>("leftOpen");  // the folder exists, open to everyone
    QTest::newRow("beside the program") << false << false;
    QTest::newRow("beside the program, left open") << false << true;
    QTest::newRow("installed: the user's own folder") << true << false;
    QTest::newRow("installed: the user's own folder, left open") << true << true;
}

void MainWindowTest::captureFolderIsOwnerOnly()
{
    QFETCH(bool, installed);
    QFETCH(bool, leftOpen);
    QDir(userCaptureFolder()).removeRecursively();
    // Nothing can be made below a file, not even by root: installed, the program stands where nobody writes.
    const QString usr = QDir(m_db->dir()).filePath(u"usr"_s);
    QVERIFY(!installed || QFile(usr).open(QIODevice::WriteOnly));
    const QString expected = installed ? userCaptureFolder() + u'/' : m_db->captureFolder();
    if (leftOpen) {
        QVERIFY(QDir().mkpath(expected));
        QVERIFY(QFile::setPermissions(expected, QFileDevice::Permissions(0x7777)));
    }
    QCOMPARE(prepareCaptureFolder(installed ? usr + u"/bin"_s : m_db->dir()), expected);
    const QFileDevice::Permissions userBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    QCOMPARE(QFileInfo(expected).permissions() & ~userBits,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir(userCaptureFolder()).removeRecursively();
}

BROWSER_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
