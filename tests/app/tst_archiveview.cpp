#include "browserfixture.h"
#include "pdftools.h"
#include "pictureview.h"
#include "reportcommands.h"
#include "testdatabase.h"
#include "windowfixture.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

enum class ZoomInput { Keys, Wheel };

const QDate queryDay(2026, 3, 4);
const QTime queryTime(14, 5, 6);

} // namespace

class ArchiveViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_app.reset(), m_db.reset(); }

    void zoomStepsToTheLimitsAndBack_data();
    void zoomStepsToTheLimitsAndBack();
    void savesCopiesAndPrintsTheStoredBytes();
    void failureLeavesNoFile_data();
    void failureLeavesNoFile();

private:
    void startWindow(const QList<QByteArray> &reports);
    void compareGeometry(const QSize &pictureSize);
    void zoomStep(ZoomInput input, bool in);
    QAction *command(const char *name) { return m_view->findChild<QAction *>(QLatin1String(name)); }

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
    PictureView *m_view = nullptr;
    ReportCommands *m_commands = nullptr;
    QScrollArea *m_box = nullptr;
};

void ArchiveViewTest::init()
{
    m_db = std::make_unique<TestDatabase>();
    QCOMPARE(m_db->create(), QString());
    m_app = std::make_unique<WindowFixture>(m_db->dir());
    m_db->addClient(1, 1001, u"Comercial Ipê Ltda"_s, u"11.222.333/0001-81"_s);
}

// The client's archive holds the reports oldest first, one minute apart; the window shows the last.
void ArchiveViewTest::startWindow(const QList<QByteArray> &reports)
{
    for (qsizetype i = 0; i < reports.size(); ++i)
        m_db->addArchive({1, 1001, queryDay, queryTime.addSecs(60 * (i + 1 - reports.size())), reports.at(i)});
    QVERIFY(m_app->start());
    QVERIFY(QTest::qWaitForWindowActive(m_app->window()));
    m_view = m_app->child<PictureView>("Image1");
    m_box = m_app->child<QScrollArea>("ScrollBox1");
    QVERIFY((m_commands = m_app->window()->findChild<ReportCommands *>()));
}

// The view at 40, 16 with the picture's size at the current zoom, and the scroll range ending where it ends.
void ArchiveViewTest::compareGeometry(const QSize &pictureSize)
{
    const QSize scaled = pictureSize * m_view->zoom();
    QCOMPARE(m_view->geometry(), QRect(QPoint(40, 16), scaled));
    QCOMPARE(m_box->widget()->size(), scaled + QSize(40, 16));
    QCOMPARE(m_box->verticalScrollBar()->maximum(), qMax(0, 16 + scaled.height() - m_box->viewport()->height()));
    QCOMPARE(m_box->horizontalScrollBar()->maximum(), qMax(0, 40 + scaled.width() - m_box->viewport()->width()));
}

void ArchiveViewTest::zoomStep(ZoomInput input, bool in)
{
    if (input == ZoomInput::Keys) {
        QTest::keyClick(m_app->window(), in ? Qt::Key_Plus : Qt::Key_Minus, Qt::ControlModifier);
        return;
    }
    // A wheel event over the picture reaches the scroll box's viewport as it bubbles up; a
    // synthetic one does not bubble, so it goes there straight.
    QWidget *viewport = m_box->viewport();
    const QPoint at = viewport->rect().center();
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, in ? 120 : -120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
}

void ArchiveViewTest::zoomStepsToTheLimitsAndBack_data()
{
    QTest::addColumn<ZoomInput>("input");
    QTest::newRow("Ctrl + keys") << ZoomInput::Keys;
    QTest::newRow("Ctrl + wheel") << ZoomInput::Wheel;
}

void ArchiveViewTest::zoomStepsToTheLimitsAndBack()
{
    QFETCH(ZoomInput, input);
    const QSize picture(600, 3000);
    startWindow({solidJpeg(300, 1000, Qt::gray), solidJpeg(picture.width(), picture.height(), Qt::white)});
    QVERIFY(m_app->boxes.boxes.isEmpty());
    // Every command but the one that needs a text layer, which these pictures lack.
    for (const QAction *action : m_view->actions())
        QVERIFY2(action->isEnabled() == (action->objectName() != u"CopiarTexto"), qPrintable(action->text()));
    compareGeometry(picture);

    for (bool in : {true, false}) {
        qreal previous = m_view->zoom();
        for (int step = 0; step < 8 && previous != (in ? PictureView::maximumZoom : PictureView::minimumZoom); ++step) {
            zoomStep(input, in);
            QVERIFY(in ? m_view->zoom() > previous : m_view->zoom() < previous);
            previous = m_view->zoom();
            compareGeometry(picture);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(m_view->zoom(), in ? 4.0 : 0.25);
        zoomStep(input, in); // past the limit nothing changes
        QCOMPARE(m_view->zoom(), in ? 4.0 : 0.25);
        compareGeometry(picture);
        QTest::keyClick(m_app->window(), Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(m_view->zoom(), 1.0);
        compareGeometry(picture); // exactly the unzoomed layout
    }

    command("AjustarLargura")->trigger();
    QCOMPARE(m_box->horizontalScrollBar()->maximum(), 0);
    QVERIFY(qAbs(m_box->viewport()->width() - 40 - (m_view->geometry().right() + 1)) <= 1); // 40 each side
    compareGeometry(picture);

    // The zoom holds for the previous record, which brings its own header.
    const qreal fitted = m_view->zoom();
    m_app->click("Button1");
    QTRY_COMPARE(m_view->reportInfo().queryTime, queryTime.addSecs(-60));
    QCOMPARE(m_view->zoom(), fitted);
    compareGeometry(QSize(300, 1000));
}

// The stored bytes saved, copied and put in a PDF unchanged; printed, every page with the client's header.
void ArchiveViewTest::savesCopiesAndPrintsTheStoredBytes()
{
    startWindow({solidJpeg(1000, 16000, Qt::white)});
    const QByteArray stored = m_db->archiveImages(1, 1001).last();
    QVERIFY(!command("CompararAnterior")->isEnabled()); // one report: nothing to compare it with
    QCOMPARE(command("SalvarPdf")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QTemporaryDir folder;
    const QString fileName = folder.filePath(m_view->reportInfo().suggestedFileName());
    const QString pdf = folder.filePath(m_view->reportInfo().suggestedFileName(u"pdf"_s));
    QCOMPARE(QFileInfo(fileName).fileName(), u"11222333000181_20260304_140506.jpg"_s);
    QCOMPARE(QFileInfo(pdf).fileName(), u"11222333000181_20260304_140506.pdf"_s);
    QVERIFY(m_commands->saveReport(fileName));
    QFile saved(fileName);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), stored);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left behind
    QVERIFY(m_commands->savePdf(pdf));
    QCOMPARE(PdfTools::firstImage(pdf), stored);
    command("CopiarImagem")->trigger();
    const QMimeData *copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied);
    QCOMPARE(copied->data(u"image/jpeg"_s), stored);
    QCOMPARE(qvariant_cast<QImage>(copied->imageData()).size(), QSize(1000, 16000));

    const QString printed = folder.filePath(u"consulta.pdf"_s);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFileName(printed);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                                      QPageLayout::Millimeter));
    QVERIFY(m_commands->printReport(printer));
    QVERIFY(m_app->boxes.boxes.isEmpty());
    // At 190 mm wide the report is 3040 mm tall: 12 pages of 277 mm less any header up to 23 mm.
    QCOMPARE(PdfTools::info(printed, u"Pages"_s), u"12"_s);
    const QString cnpj = m_app->child<QLineEdit>("DbeCnpj")->text();
    for (int page = 1; page <= 12; ++page) {
        const QString text = PdfTools::pageText(printed, page);
        for (const QString &expected :
             {u"1001"_s, u"Comercial Ipê Ltda"_s, cnpj, u"04/03/2026 14:05:06"_s, u"Página %1 de 12"_s.arg(page)})
            QVERIFY2(text.contains(expected), qPrintable(u"page %1 lacks \"%2\":\n%3"_s.arg(page).arg(expected, text)));
    }
}

void ArchiveViewTest::failureLeavesNoFile_data()
{
    QTest::addColumn<QString>("command"); // jpg, pdf: saved so; print: printed to a PDF file
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("save into a folder that is a file") << u"jpg"_s << false;
    QTest::newRow("save into a read-only folder") << u"jpg"_s << true;
    QTest::newRow("save a PDF into a folder that is a file") << u"pdf"_s << false;
    QTest::newRow("print to a PDF in a folder that is a file") << u"print"_s << false;
}

void ArchiveViewTest::failureLeavesNoFile()
{
    QFETCH(QString, command);
    QFETCH(bool, readOnlyFolder);
    const bool print = command == u"print";
    if (readOnlyFolder && geteuid() == 0)
        QSKIP("root writes through permission bits; a folder that is a file fails for root too");
    startWindow({solidJpeg(320, 800, Qt::white)});
    QTemporaryDir folder;
    const QString target = folder.filePath(u"pasta"_s);
    if (readOnlyFolder) {
        QVERIFY(QDir(folder.path()).mkdir(u"pasta"_s));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ExeOwner));
    } else {
        QVERIFY(QFile(target).open(QIODevice::WriteOnly));
    }
    const QString fileName = target + u"/consulta."_s + (print ? u"pdf"_s : command);
    QPrinter printer;
    printer.setOutputFileName(fileName); // a name ending in .pdf selects PDF output
    QVERIFY(!(print               ? m_commands->printReport(printer)
              : command == u"pdf" ? m_commands->savePdf(fileName)
                                  : m_commands->saveReport(fileName)));
    QCOMPARE(m_app->boxes.boxes.size(), 1);
    QCOMPARE(m_app->boxes.boxes.first().kind, MessageBox::Kind::Error);
    const QString text = m_app->boxes.boxes.first().text;
    const QString expected = (print               ? u"Erro ao imprimir consulta... \r\r"_s
                              : command == u"pdf" ? u"Erro ao salvar PDF... \r\r"_s
                                                  : u"Erro ao salvar imagem... \r\r"_s)
                             + fileName + u": "_s;
    QVERIFY2(text.startsWith(expected) && text.size() > expected.size(), qPrintable(text)); // the reason follows
    QVERIFY(!QFileInfo::exists(fileName));
    if (readOnlyFolder) {
        QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

BROWSER_TEST_MAIN(ArchiveViewTest)
#include "tst_archiveview.moc"
