#include "apperror.h"
#include "jpegcodec.h"
#include "pdftools.h"
#include "reportpdf.h"

#include <QDir>
#include <QPainter>
#include <QTest>

using namespace Qt::StringLiterals;

// The PDF of a report from real JPEG bytes, read back with poppler's tools.
class ReportPdfTest : public QObject
{
    Q_OBJECT

private slots:
    void document_data();
    void document();
};

void ReportPdfTest::document_data()
{
    QTest::addColumn<int>("height"); // of an 800 px wide picture
    QTest::addColumn<ReportText>("text");
    QTest::addColumn<QList<int>>("linePages"); // where each line is found
    QTest::addColumn<int>("pages");
    QTest::addColumn<QString>("folder"); // under a fresh folder; one that is not there makes the error

    const ReportText text{{10, 20, 30, 500, u"Protestos: 2 – R$ 1.234,56 em 05/11/2026"_s},
                          {1500, 20, 30, 600, u"Ação nº 5, § 2º — crédito “à vista” €"_s},
                          {2980, 16, 400, 300, u"Fim do relatório"_s}};
    QTest::newRow("three pages, each line on its own") << 3000 << text << QList<int>{1, 2, 3} << 3 << "";
    QTest::newRow("one page") << 1100 << text.first(1) << QList<int>{1} << 1 << "";
    QTest::newRow("no text layer") << 3000 << ReportText() << QList<int>() << 3 << "";
    QTest::newRow("a folder that does not exist") << 1100 << text.first(1) << QList<int>() << 0 << "falta";
}

void ReportPdfTest::document()
{
    QFETCH(int, height);
    QFETCH(ReportText, text);
    QFETCH(QList<int>, linePages);
    QFETCH(int, pages);
    QFETCH(QString, folder);
    QImage picture(800, height, QImage::Format_RGB888);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    for (int y = 0; y < height; y += 100)
        painter.fillRect(0, y, 800, 40, QColor(200, 210, 190 + y % 60));
    painter.end();
    const QByteArray jpeg = Jpeg::encode(picture, 30, text);
    const ReportInfo info{u"1001"_s, u"Comércio Exemplo Ltda"_s, u"11.222.333/0001-81"_s, QDate(2026, 3, 4),
                          QTime(14, 5, 6)};
    QTemporaryDir root;
    const QString fileName = QDir(root.filePath(folder)).filePath(info.suggestedFileName(u"pdf"_s));
    QString reason;
    try {
        ReportPdf::save(fileName, jpeg, info);
    } catch (const AppError &failure) {
        reason = failure.message();
    }
    QCOMPARE(reason,
             folder.isEmpty() ? QString() : QDir::toNativeSeparators(fileName) + u": No such file or directory"_s);
    if (!folder.isEmpty()) {
        QVERIFY(QDir(root.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        return;
    }

    QCOMPARE(PdfTools::firstImage(fileName), jpeg);
    QCOMPARE(PdfTools::info(fileName, u"Pages"_s), QString::number(pages));
    QCOMPARE(
        PdfTools::info(fileName, u"Title"_s),
        u"Consulta Equifax - Cliente 1001 - Comércio Exemplo Ltda - CNPJ 11.222.333/0001-81 - 04/03/2026 14:05:06"_s);
    for (int page = 1; page <= pages; ++page) {
        const QString shown = PdfTools::pageText(fileName, page);
        QVERIFY2(shown.contains(u"Página %1 de %2"_s.arg(page).arg(pages)), qPrintable(shown));
        QVERIFY(shown.contains(u"CNPJ 11.222.333/0001-81"_s));
        for (qsizetype i = 0; i < text.size(); ++i)
            QVERIFY2(shown.contains(text.at(i).text) == (linePages.at(i) == page), qPrintable(shown));
    }
}

QTEST_GUILESS_MAIN(ReportPdfTest)
#include "tst_reportpdf.moc"
