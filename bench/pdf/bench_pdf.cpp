// bench_pdf [altura ...]: the sample site's report captured with its text, then written as a PDF to memory:
// both times (medians of 5), the JPEG's and the PDF's sizes, the PDF's bound (JPEG + 5 % + 50 KB) and its pages.
#include "benchsupport.h"
#include "reportpdf.h"
#include "samplesite.h"
#include "textlayer.h"

#include <QApplication>
#include <QBuffer>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    Bench::prepareEngine();
    QApplication app(argc, argv);
    const QList<int> heights = Bench::heights(app.arguments().mid(1), {16000, 60000});
    SampleSite site;
    site.listen();
    QWidget tab;
    QWebEngineView *view = Bench::placeView(&tab);
    QTemporaryDir folder;
    const QString file = folder.filePath(u"captura"_s);
    const ReportInfo info{u"1001"_s, u"Comercial Ipê Ltda"_s, u"11.222.333/0001-81"_s, QDate(2026, 3, 4),
                          QTime(14, 5, 6)};

    std::printf("| height | capture ms | PDF ms | PDF / capture | lines | JPEG KB | PDF KB | bound KB | pages |\n"
                "|---|---|---|---|---|---|---|---|---|\n");
    for (const int height : heights) {
        site.setPage(u"/resultado"_s, SampleSite::revisedReport("11.222.333/0001-81", 1, height));
        Bench::load(view, site.url(u"/resultado"_s));
        const qint64 captureMs = Bench::medianMs([&] { PageCapture(view).captureTo(file); });
        const QByteArray jpeg = Bench::readAll(file);
        QByteArray pdf;
        const qint64 pdfMs = Bench::medianMs([&] {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            ReportPdf::write(buffer, jpeg, info);
            pdf = buffer.data();
        });
        const qint64 pages = pdf.count("/Type /Page\r\n") + pdf.count("/Type /Page\n");
        std::printf("| %d | %lld | %lld | %.2f | %lld | %lld | %lld | %lld | %lld |\n", height, captureMs, pdfMs,
                    double(pdfMs) / double(std::max<qint64>(1, captureMs)), qlonglong(Jpeg::textLayer(jpeg).size()),
                    qlonglong(jpeg.size() / 1024), qlonglong(pdf.size() / 1024),
                    qlonglong((jpeg.size() * 105 / 100 + 50 * 1024) / 1024), pages);
        std::fflush(stdout);
    }
    return 0;
}
