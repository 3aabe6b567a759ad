// bench_reporttext [--picture FILE.png | altura ...]: the text's share of a capture and the time to open a
// comparison by text and by picture, per height; then one digit changed and the report encoded anew, by picture.
// --picture writes the comparison window of two 3,000 px reports as a PNG.
#include "benchsupport.h"
#include "comparisondialog.h"
#include "jpegcodec.h"
#include "pagetext.h"
#include "samplesite.h"
#include "textlayer.h"

#include <QApplication>
#include <QListWidget>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

qint64 openComparison(const QByteArray &older, const QByteArray &newer)
{
    return Bench::medianMs([&] {
        ComparisonDialog dialog(ReportComparison::compare(older, newer), nullptr);
        dialog.show();
        dialog.repaint();
        QApplication::processEvents();
    });
}

// Two unlike 60,000 px reports compared by picture, every band of one a
// colour the other lacks where it stands: the time, and the memory the
// comparison takes above the two decoded pictures.
void unlikeReports()
{
    const auto report = [](quint32 seed) {
        QImage image(SampleSite::ReportWidth, 60000, QImage::Format_RGB888);
        QRandomGenerator random(seed);
        QPainter painter(&image);
        for (int top = 0; top < image.height(); top += 24)
            painter.fillRect(0, top, image.width(), 24, QColor::fromRgb(random.generate()));
        painter.end();
        return Jpeg::encode(image, 30);
    };
    const QByteArray older = report(1);
    const QByteArray newer = report(2);
    QElapsedTimer timer;
    timer.start();
    const qint64 pictures = 2 * Jpeg::decode(newer).sizeInBytes() / (1024 * 1024);
    const qint64 decodeMs = timer.elapsed();
    const qint64 before = Bench::statusKb(u"self"_s, "VmRSS") / 1024;
    if (QFile clear(u"/proc/self/clear_refs"_s); clear.open(QIODevice::WriteOnly))
        clear.write("5"); // the peak (VmHWM) starts again from here
    timer.start();
    const Comparison comparison = ReportComparison::compare(older, newer);
    const qint64 ms = timer.elapsed();
    std::printf("| unlike reports, 60,000 px, by picture | ms (one decode: %lld ms) | MB above the two pictures "
                "(%lld MB) | changes |\n|---|---|---|---|\n| | %lld | %lld | %lld |\n\n",
                decodeMs, pictures, ms, Bench::statusKb(u"self"_s, "VmHWM") / 1024 - before - pictures,
                qlonglong(comparison.changes.size()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    Bench::prepareEngine();
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString picture = args.value(0) == u"--picture" ? args.value(1) : QString();
    const QList<int> heights = picture.isEmpty() ? Bench::heights(args, {16000, 60000}) : QList<int>{3000};
    if (picture.isEmpty())
        unlikeReports();
    SampleSite site;
    site.listen();
    QWidget tab;
    QWebEngineView *view = Bench::placeView(&tab);
    QTemporaryDir folder;
    const QString file = folder.filePath(u"captura"_s);
    const auto show = [&](const QByteArray &page) {
        site.setPage(u"/resultado"_s, page);
        Bench::load(view, site.url(u"/resultado"_s));
    };

    std::printf("| height | capture with text ms | text ms | text share | lines | compare by text ms | compare by "
                "picture ms | changes (text/picture) |\n|---|---|---|---|---|---|---|---|\n");
    for (const int height : heights) {
        QByteArray reports[2];
        qint64 captureMs = 0;
        qint64 textMs = 0;
        for (int revision : {1, 2}) {
            show(SampleSite::revisedReport("11.222.333/0001-81", revision, height));
            if (revision == 1) {
                captureMs = Bench::medianMs([&] { PageCapture(view).captureTo(file); });
                textMs = Bench::medianMs([&] { PageText::read(view->page()); });
            }
            reports[revision - 1] = Bench::capture(view, file);
        }
        if (!picture.isEmpty()) {
            Comparison comparison = ReportComparison::compare(reports[0], reports[1]);
            comparison.olderDate = QDate(2026, 11, 3);
            comparison.olderTime = QTime(9, 15, 0);
            comparison.newerDate = QDate(2026, 12, 8);
            comparison.newerTime = QTime(14, 5, 6);
            ComparisonDialog dialog(comparison, nullptr);
            dialog.show();
            dialog.changeList()->setCurrentRow(1);
            QApplication::processEvents();
            return dialog.grab().save(picture) ? 0 : 1;
        }
        const int lines = int(Jpeg::textLayer(reports[1]).size());
        const qint64 byText = openComparison(reports[0], reports[1]);
        const QByteArray olderWithoutText = Jpeg::withTextLayer(reports[0], {});
        const qint64 byPicture = openComparison(olderWithoutText, reports[1]);
        std::printf("| %d | %lld | %lld | %.1f %% | %d | %lld | %lld | %lld/%lld |\n", height, captureMs, textMs,
                    100.0 * double(textMs) / double(std::max<qint64>(1, captureMs - textMs)), lines, byText, byPicture,
                    qlonglong(ReportComparison::compare(reports[0], reports[1]).changes.size()),
                    qlonglong(ReportComparison::compare(olderWithoutText, reports[1]).changes.size()));
        std::fflush(stdout);
    }
    // One digit of a 12 px line changed, and the same report encoded anew: by picture alone.
    std::printf("\n| height | row | pair | compare by picture ms | changes |\n|---|---|---|---|---|\n");
    const QString typed[] = {u"1.234,56 em 05/11/2026"_s, u"7.234,56 em 05/11/2026"_s, u"1.234,56 em 05/11/2025"_s};
    for (const int height : heights) {
        for (const bool onWhite : {false, true}) {
            QByteArray reports[3];
            for (int i = 0; i < 3; ++i) {
                show(SampleSite::retypedReport("11.222.333/0001-81", height, typed[i], onWhite));
                reports[i] = Jpeg::withTextLayer(Bench::capture(view, file), {});
            }
            const std::pair<const char *, QByteArray> pairs[]
                = {{"R$ 1.234,56 to R$ 7.234,56", reports[1]},
                   {"2026 to 2025", reports[2]},
                   {"encoded anew", Jpeg::encode(Jpeg::decode(reports[0]), 30)}};
            for (const auto &[name, newer] : pairs) {
                std::printf("| %d | %s | %s | %lld | %lld |\n", height, onWhite ? "white" : "coloured", name,
                            openComparison(reports[0], newer),
                            qlonglong(ReportComparison::compare(reports[0], newer).changes.size()));
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
