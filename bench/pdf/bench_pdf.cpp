// bench_pdf [altura ...]
//
// For each height (default 16000 60000): the sample site's report captured
// with its text (PageCapture::captureTo), then written as a PDF from the
// captured bytes (ReportPdf::write, to memory): both times (medians of 5), the
// JPEG's and the PDF's sizes, the PDF's bound (JPEG + 5 % + 50 KB) and its pages.
#include "browsersetup.h"
#include "pagecapture.h"
#include "reportpdf.h"
#include "samplesite.h"
#include "textlayer.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Reps = 5;

template<typename Step>
qint64 medianMs(Step &&step)
{
    std::vector<qint64> times;
    for (int i = 0; i < Reps; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(timer.elapsed());
    }
    std::sort(times.begin(), times.end());
    return times[Reps / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    BrowserSetup::prepareGraphics();
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", BrowserSetup::engineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
    QApplication app(argc, argv);
    QList<int> heights;
    for (const QString &arg : app.arguments().mid(1))
        heights.append(arg.toInt());
    if (heights.isEmpty())
        heights = {16000, 60000};

    SampleSite site;
    site.listen();
    QWebEngineView view;
    view.resize(761, 465);
    view.show();
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("captura"));
    const ReportInfo info{QStringLiteral("1001"), QStringLiteral("Comercial Ipê Ltda"),
                          QStringLiteral("11.222.333/0001-81"), QDate(2026, 3, 4), QTime(14, 5, 6)};

    std::printf("| height | capture ms | PDF ms | PDF / capture | lines | JPEG KB | PDF KB | bound KB | pages |\n"
                "|---|---|---|---|---|---|---|---|---|\n");
    for (const int height : heights) {
        site.setPage(QStringLiteral("/resultado"), SampleSite::revisedReport("11.222.333/0001-81", 1, height));
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.load(site.url(QStringLiteral("/resultado")));
        loaded.wait(60000);
        const qint64 captureMs = medianMs([&] { PageCapture(&view).captureTo(file); });
        QFile captured(file);
        captured.open(QIODevice::ReadOnly);
        const QByteArray jpeg = captured.readAll();
        QByteArray pdf;
        const qint64 pdfMs = medianMs([&] {
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
