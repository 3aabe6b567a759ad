#include "apperror.h"
#include "jpegcodec.h"
#include "pdftools.h"
#include "reportpdf.h"

#include <QDir>
#include <QPainter>
#include <QTest>

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
    QTest::addColumn<QString>("folder"); // under a fresh folder
    QTest::addColumn<QString>("error");

    const ReportText text{{10, 20, 30, 500, QStringLiteral("Protestos: 2 – R$ 1.234,56 em 05/11/2026")},
                          {1500, 20, 30, 600, QStringLiteral("Ação nº 5, § 2º — crédito “à vista” €")},
                          {2980, 16, 400, 300, QStringLiteral("Fim do relatório")}};
    QTest::newRow("three pages, each line on its own") << 3000 << text << QList<int>{1, 2, 3} << 3 << "" << "";
    QTest::newRow("one page") << 1100 << text.first(1) << QList<int>{1} << 1 << "" << "";
    QTest::newRow("no text layer") << 3000 << ReportText() << QList<int>() << 3 << "" << "";
    QTest::newRow("a folder that does not exist")
        << 1100 << text.first(1) << QList<int>() << 0 << "falta" << ": No such file or directory";
}

void ReportPdfTest::document()
{
    QFETCH(int, height);
    QFETCH(ReportText, text);
    QFETCH(QList<int>, linePages);
    QFETCH(int, pages);
    QFETCH(QString, folder);
    QFETCH(QString, error);

    QImage picture(800, height, QImage::Format_RGB888);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    for (int y = 0; y < height; y += 100)
        painter.fillRect(0, y, 800, 40, QColor(200, 210, 190 + y % 60));
    painter.end();
    const QByteArray jpeg = Jpeg::encode(picture, 30, text);
    const ReportInfo info{QStringLiteral("1001"), QStringLiteral("Comércio Exemplo Ltda"),
                          QStringLiteral("11.222.333/0001-81"), QDate(2026, 3, 4), QTime(14, 5, 6)};

    QTemporaryDir root;
    const QString fileName = QDir(root.filePath(folder)).filePath(info.suggestedFileName(QStringLiteral("pdf")));
    QString reason;
    try {
        ReportPdf::save(fileName, jpeg, info);
    } catch (const AppError &failure) {
        reason = failure.message();
    }
    QCOMPARE(reason, error.isEmpty() ? QString() : QDir::toNativeSeparators(fileName) + error);
    if (!error.isEmpty()) {
        QVERIFY(QDir(root.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        return;
    }

    QCOMPARE(PdfTools::firstImage(fileName), jpeg);
    QCOMPARE(PdfTools::info(fileName, QStringLiteral("Pages")), QString::number(pages));
    QCOMPARE(PdfTools::info(fileName, QStringLiteral("Title")),
             QStringLiteral("Consulta Equifax - Cliente 1001 - Comércio Exemplo Ltda - CNPJ 11.222.333/0001-81 - "
                            "04/03/2026 14:05:06"));
    for (int page = 1; page <= pages; ++page) {
        const QString shown = PdfTools::pageText(fileName, page);
        QVERIFY2(shown.contains(QStringLiteral("Página %1 de %2").arg(page).arg(pages)), qPrintable(shown));
        QVERIFY(shown.contains(QStringLiteral("CNPJ 11.222.333/0001-81")));
        for (qsizetype i = 0; i < text.size(); ++i)
            QVERIFY2(shown.contains(text.at(i).text) == (linePages.at(i) == page), qPrintable(shown));
    }
}

QTEST_GUILESS_MAIN(ReportPdfTest)
#include "tst_reportpdf.moc"
