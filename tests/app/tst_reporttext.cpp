#include "browserfixture.h"
#include "comparisondialog.h"
#include "findbar.h"
#include "pagecapture.h"
#include "pictureview.h"
#include "samplesite.h"
#include "systemlocale.h"
#include "testdatabase.h"
#include "textlayer.h"
#include "windowfixture.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// Find, copy and compare on the archive tab, with two real captures of the
// sample site's report: one line added, one changed, one removed, the rest moved.
class ReportTextTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_app.reset(), m_db.reset(); }
    void findMarksAndSteps_data();
    void findMarksAndSteps();
    void copiesTheTextAndTheSelectedLines();
    void comparesWithThePreviousReport_data();
    void comparesWithThePreviousReport();

private:
    void startWith(const QByteArray &older, const QByteArray &newer);

    SampleSite m_site;
    QByteArray m_reports[2];
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
    PictureView *m_view = nullptr;
};

void ReportTextTest::initTestCase()
{
    QVERIFY(m_site.listen());
    BrowserFixture browser;
    QTemporaryDir folder;
    const QString file = folder.filePath(u"11222333000181"_s);
    for (int revision : {1, 2}) {
        m_site.setPage(u"/resultado"_s, SampleSite::revisedReport("11.222.333/0001-81", revision, 3000));
        QVERIFY(browser.load(m_site.url(u"/resultado"_s)));
        PageCapture(browser.view).captureTo(file);
        QFile captured(file);
        QVERIFY(captured.open(QIODevice::ReadOnly));
        m_reports[revision - 1] = captured.readAll();
    }
}

void ReportTextTest::init()
{
    m_db = std::make_unique<TestDatabase>();
    QCOMPARE(m_db->create(), QString());
    m_db->addClient(1, 1001, u"Comercial Ipê Ltda"_s, u"11.222.333/0001-81"_s);
    m_app = std::make_unique<WindowFixture>(m_db->dir());
}

void ReportTextTest::startWith(const QByteArray &older, const QByteArray &newer)
{
    m_db->addArchive({1, 1001, QDate(2026, 11, 3), QTime(9, 15, 0), older});
    m_db->addArchive({1, 1001, QDate(2026, 12, 8), QTime(14, 5, 6), newer});
    QVERIFY(m_app->start());
    m_view = m_app->child<PictureView>("Image1");
    QTRY_VERIFY(!m_view->picture().isNull());
}

void ReportTextTest::findMarksAndSteps_data()
{
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("found");
    QTest::addColumn<bool>("back"); // Shift+F3 rather than F3
    QTest::addColumn<QString>("afterStep");
    QTest::newRow("case aside") << u"protesto"_s << u"1 de 1"_s << false << u"1 de 1"_s;
    QTest::newRow("accents aside") << u"CREDITO"_s << u"1 de 2"_s << false << u"2 de 2"_s;
    QTest::newRow("back from the first") << u"CREDITO"_s << u"1 de 2"_s << true << u"2 de 2"_s;
    QTest::newRow("nothing") << u"falencia"_s << u"não encontrado"_s << false << u"não encontrado"_s;
}

void ReportTextTest::findMarksAndSteps()
{
    QFETCH(QString, wanted);
    QFETCH(QString, found);
    QFETCH(bool, back);
    QFETCH(QString, afterStep);
    startWith(m_reports[0], m_reports[1]);
    QTest::keyClick(m_app->window(), Qt::Key_F, Qt::ControlModifier);
    auto *bar = m_app->child<FindBar>("BarraLocalizar");
    QTRY_VERIFY(bar->isVisible());
    auto *edit = m_app->child<QLineEdit>("TextoLocalizar");
    QTest::keyClicks(edit, wanted);
    QCOMPARE(bar->status(), found);
    // The count stands whole beside the edit and its clear button, at the window's font and at twice its size.
    const auto *count = m_app->child<QLabel>("ResultadoLocalizar");
    for (const int points : {0, 2 * edit->font().pointSize()}) {
        if (points)
            bar->setFont(QFont(edit->font().family(), points));
        QTRY_VERIFY(count->x() > edit->geometry().right() && count->width() >= count->sizeHint().width()
                    && bar->rect().contains(count->geometry()));
    }
    QTest::keyClick(m_app->window(), Qt::Key_F3, back ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(bar->status(), afterStep);
}

void ReportTextTest::copiesTheTextAndTheSelectedLines()
{
    startWith(m_reports[0], m_reports[1]);
    m_app->window()->findChild<QAction *>(u"CopiarTexto"_s)->trigger();
    const QStringList all = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
    QCOMPARE(all.size(), 31);
    QCOMPARE(all.at(4), u"Nova linha - crédito negado"_s);
    // Rows 6 and 7 of the newer report, at 100 %.
    QTest::mousePress(m_view, Qt::LeftButton, {}, QPoint(60, 612));
    QTest::mouseMove(m_view, QPoint(300, 716));
    QTest::mouseRelease(m_view, Qt::LeftButton, {}, QPoint(300, 716));
    QCOMPARE(QGuiApplication::clipboard()->text(),
             u"Linha 5 - PROTESTO de R$ 1.234,56 em 05/11/2026\nLinha 6 - nada consta"_s);
}

void ReportTextTest::comparesWithThePreviousReport_data()
{
    QTest::addColumn<bool>("byPicture");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("by text") << false
                             << QStringList{u"Nova: Nova linha - crédito negado"_s,
                                            QStringLiteral("Alterada: Linha 5 - PROTESTO de R$ 1.234,56 em 05/11/2026 "
                                                           "(antes: Linha 5 - nada consta)"),
                                            u"Removida: Linha 12 - nada consta"_s};
    QTest::newRow("by picture") << true << QStringList();
}

void ReportTextTest::comparesWithThePreviousReport()
{
    QFETCH(bool, byPicture);
    QFETCH(QStringList, listed);
    startWith(byPicture ? Jpeg::withTextLayer(m_reports[0], {}) : m_reports[0], m_reports[1]);
    m_app->window()->findChild<QAction *>(u"CompararAnterior"_s)->trigger();
    ComparisonDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = m_app->window()->findChild<ComparisonDialog *>()));
    const QString heading = dialog->findChild<QLabel *>(u"ComparacaoTitulo"_s)->text();
    QVERIFY(heading.contains(archiveDateText(QDate(2026, 12, 8)) + ' ' + archiveTimeText(QTime(14, 5, 6))));
    QVERIFY(heading.contains(archiveDateText(QDate(2026, 11, 3)) + ' ' + archiveTimeText(QTime(9, 15, 0))));
    QCOMPARE(dialog->findChild<QLabel *>(u"ComparacaoPorImagem"_s)->isVisibleTo(dialog), byPicture);

    // The added row, the changed one and the removed one's place; where each lies, the report suite checks.
    const QList<ReportChange> &changes = dialog->changes();
    QCOMPARE(changes.size(), 3);
    QVERIFY(changes[0].kind != ReportChange::Removed && changes[1].kind != ReportChange::Removed
            && changes[2].kind == ReportChange::Removed);
    QStringList got;
    for (int i = 0; i < dialog->changeList()->count(); ++i)
        got.append(dialog->changeList()->item(i)->text());
    if (!byPicture) // by picture, the bands' pixel rows
        QCOMPARE(got, listed);
    QScrollBar *scroll = dialog->findChild<QScrollArea *>()->verticalScrollBar();
    dialog->changeList()->setCurrentRow(2);
    QTRY_VERIFY(scroll->value() > 1300 - dialog->height() && scroll->value() < 1300);
}

BROWSER_TEST_MAIN(ReportTextTest)
#include "tst_reporttext.moc"
