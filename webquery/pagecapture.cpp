#include "pagecapture.h"

#include "apperror.h"
#include "jpegcodec.h"
#include "pagescripts.h"
#include "scriptrunner.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QSaveFile>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <functional>
#include <new>

namespace {

constexpr int JpegQuality = 30;

// Drawing time grows with the page's height (about 1 s for 60,000 px here).
constexpr int BaseWaitMs = 10000;
constexpr int WaitMsPerThousandPx = 200;
constexpr int MinScriptWaitMs = 1000;

// A small tolerance absorbs rounding in the compositor.
constexpr int MarkerTolerance = 6;

QString failed(const QString &reason)
{
    return QStringLiteral("Não foi possível capturar a página: ") + reason;
}

QString tooTall(int height)
{
    return QStringLiteral("a página é alta demais para ser capturada inteira (%1 px)").arg(height);
}

QString tooWide(int width)
{
    return QStringLiteral("a página é larga demais para ser capturada inteira (%1 px)").arg(width);
}

QString noMemory(int width, int height)
{
    return QStringLiteral("memória insuficiente para a imagem da página (%1 x %2 px)").arg(width).arg(height);
}

// Colours no page is expected to show in the strip below it.
struct MarkerColours
{
    QRgb frame;
    QRgb pageEnd;
};

// Each capture's markers differ from the previous one's, so that a frame still
// showing an earlier capture's marker cannot pass for this capture's.
MarkerColours nextMarkerColours()
{
    static int serial = 0;
    serial = (serial + 1) % 4;
    return {qRgb(3 + 16 * serial, 251, 7), qRgb(251, 3 + 16 * serial, 249)};
}

bool isMarker(QRgb pixel, QRgb marker)
{
    return qAbs(qRed(pixel) - qRed(marker)) <= MarkerTolerance
        && qAbs(qGreen(pixel) - qGreen(marker)) <= MarkerTolerance
        && qAbs(qBlue(pixel) - qBlue(marker)) <= MarkerTolerance;
}

QString cssColor(QRgb rgb)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(qRed(rgb)).arg(qGreen(rgb)).arg(qBlue(rgb));
}

// A 32-bit image in memory the kernel may back with huge pages: with 4 kB pages
// a 60,000 px picture costs some 65,000 page faults before a pixel is drawn.
QImage newPageImage(int width, int height)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr size_t HugePage = 2 * 1024 * 1024;
    const qsizetype bytesPerLine = qsizetype(width) * 4;
    const size_t size = (size_t(bytesPerLine) * size_t(height) + HugePage - 1) / HugePage * HugePage;
    void *bits = std::aligned_alloc(HugePage, size);
    if (!bits)
        return {};
    madvise(bits, size, MADV_HUGEPAGE);
    return QImage(static_cast<uchar *>(bits), width, height, bytesPerLine, QImage::Format_RGB32, std::free, bits);
#else
    return QImage(width, height, QImage::Format_RGB32);
#endif
}

// One capture's waits on the browser, which may go away while the event loop runs;
// the markers it puts on the page are taken off again on every path.
class FrameWatch
{
public:
    FrameWatch(QWebEngineView *view, int width, int height)
        : m_view(view)
        , m_width(width)
        , m_height(height)
        , m_waitMs(BaseWaitMs + int(qint64(height) * WaitMsPerThousandPx / 1000))
        , m_deadline(m_waitMs)
    {
    }

    ~FrameWatch()
    {
        // Nothing waits for this answer.
        if (m_marked && m_view && m_view->page())
            m_view->page()->runJavaScript(PageScripts::removeCaptureMarkers(), QWebEngineScript::ApplicationWorld);
    }

    FrameWatch(const FrameWatch &) = delete;
    FrameWatch &operator=(const FrameWatch &) = delete;

    QVariant run(const QString &script)
    {
        const int waitMs = int(qMax<qint64>(MinScriptWaitMs, m_deadline.remainingTime()));
        return ScriptRunner::runChecked(page(), script, waitMs);
    }

    bool waitUntil(const std::function<bool()> &done)
    {
        return ScriptRunner::waitUntil(done, m_deadline, page());
    }

    // What the view shows at one pixel right now; only that pixel is drawn.
    QRgb pixelAt(QPoint point)
    {
        const QImage image = view()->grab(QRect(point, QSize(1, 1))).toImage();
        return image.isNull() ? 0 : image.pixel(image.width() - 1, image.height() - 1);
    }

    // The page, without the marker strip below it. Only the engine's own frame
    // is drawn, straight into one new image: the page paints every pixel, so
    // neither a fill nor the widget's background goes first.
    QImage grabPage()
    {
        QImage image = newPageImage(m_width, m_height);
        if (image.isNull())
            throw AppError(noMemory(m_width, m_height));
        view()->render(&image, QPoint(), QRegion(0, 0, m_width, m_height), QWidget::DrawChildren);
        return image;
    }

    // Waits until the viewport has the view's size, then shows the frame
    // marker at its bottom-left, in the strip below the page.
    QPoint showFrameMarker(QRgb color)
    {
        const QSize view(m_width, m_height + PageCapture::MarkerStrip);
        QVariantMap answer;
        const bool placed = waitUntil([&] {
            m_marked = true;
            answer = run(PageScripts::showFrameMarker(view, cssColor(color))).toMap();
            return answer.value(QStringLiteral("placed")).toBool();
        });
        if (!placed) {
            const int width = answer.value(QStringLiteral("width")).toInt();
            const int height = answer.value(QStringLiteral("height")).toInt();
            throw AppError(width == view.width() && height < view.height() ? tooTall() : notDrawn());
        }
        return {0, view.height() - 1};
    }

    // Shows the page-end marker at the strip's right end and returns its pixel.
    QPoint showPageEndMarker(QRgb color)
    {
        const QVariantMap answer = run(PageScripts::showPageEndMarker(cssColor(color))).toMap();
        const QPoint corner(answer.value(QStringLiteral("x")).toInt(), answer.value(QStringLiteral("y")).toInt());
        const QRect strip(0, m_height, m_width, PageCapture::MarkerStrip);
        if (!strip.contains(corner))
            throw AppError(QStringLiteral("o navegador não mostra o canto da página (%1, %2) numa área de %3 x %4 px")
                               .arg(corner.x())
                               .arg(corner.y())
                               .arg(m_width)
                               .arg(m_height + PageCapture::MarkerStrip));
        return corner;
    }

    QString notDrawn() const
    {
        return QStringLiteral("o navegador não desenhou a página inteira (%1 x %2 px) em %3 s")
            .arg(m_width)
            .arg(m_height)
            .arg(qRound(m_waitMs / 1000.0));
    }

    QString tooTall() const { return ::tooTall(m_height); }

private:
    QWebEngineView *view() const
    {
        if (!m_view || !m_view->page())
            throw AppError(QStringLiteral("o navegador foi fechado durante a captura"));
        return m_view;
    }

    QWebEnginePage *page() const { return view()->page(); }

    QPointer<QWebEngineView> m_view;
    int m_width;
    int m_height;
    int m_waitMs;
    QDeadlineTimer m_deadline;
    bool m_marked = false;
};

// Waits until the engine has drawn the whole page at the view's size and copies that frame.
QImage grabWholePage(QWebEngineView *browser, int width, int height)
{
    FrameWatch watch(browser, width, height);
    const MarkerColours colours = nextMarkerColours();

    // A grab of the right size can still hold the previous frame, so the frame
    // is known to be new only when a marker put there after the resize shows up.
    const QPoint frameCorner = watch.showFrameMarker(colours.frame);
    if (!watch.waitUntil([&] { return isMarker(watch.pixelAt(frameCorner), colours.frame); }))
        throw AppError(watch.notDrawn());

    // The engine draws at this size; its last tile missing means the page
    // exceeds what the engine keeps drawn (its tile memory), not slowness.
    const QPoint corner = watch.showPageEndMarker(colours.pageEnd);
    if (!watch.waitUntil([&] { return isMarker(watch.pixelAt(corner), colours.pageEnd); }))
        throw AppError(watch.tooTall());

    // Both markers lie in the strip below the page, outside the picture.
    return watch.grabPage();
}

void writeJpeg(const QImage &image, const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser criado: %2").arg(fileName, file.errorString()));
    // A credit report is for its user's eyes only, whatever an older file allowed.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser reservado ao usuário: %2")
                           .arg(fileName, file.errorString()));
    Jpeg::encode(image, JpegQuality, &file);
    if (!file.commit())
        throw AppError(QStringLiteral("o arquivo \"%1\" não pôde ser gravado: %2").arg(fileName, file.errorString()));
}

} // namespace

PageCapture::PageCapture(QWebEngineView *view)
    : m_view(view)
{
}

QSize PageCapture::contentSize()
{
    if (!m_view)
        throw AppError(QStringLiteral("Não foi possível medir a página: o navegador não está disponível."));
    const QVariantMap size = ScriptRunner::runChecked(m_view->page(), PageScripts::contentSize()).toMap();
    return {size.value(QStringLiteral("width")).toInt(), size.value(QStringLiteral("height")).toInt()};
}

void PageCapture::captureTo(const QString &fileName)
{
    if (!m_view)
        throw AppError(failed(QStringLiteral("o navegador não está disponível")));

    const QSize content = contentSize();
    if (content.isEmpty())
        throw AppError(failed(QStringLiteral("a página não tem conteúdo (%1 x %2 px)")
                                  .arg(content.width())
                                  .arg(content.height())));
    // Refused before the page is drawn at its full size: a JPEG cannot hold it.
    if (content.height() > qMin(Jpeg::MaxDimension, m_view->maximumHeight() - MarkerStrip))
        throw AppError(failed(tooTall(content.height())));
    if (content.width() > qMin(Jpeg::MaxDimension, m_view->maximumWidth()))
        throw AppError(failed(tooWide(content.width())));

    QPointer<QWebEngineView> view(m_view);
    const QSize oldSize = view->size();
    const auto restore = [&] {
        if (view) {
            view->resize(oldSize);
            view->setVisible(true);
        }
    };
    // Shown throughout: a hidden QWebEngineView draws no frames. Height and width
    // in one resize, so that the page is laid out and drawn once.
    view->setVisible(true);
    view->resize(content.width(), content.height() + MarkerStrip);
    try {
        const QSize size = view->size() - QSize(0, MarkerStrip);
        if (size.height() < content.height())
            throw AppError(failed(tooTall(content.height())));
        if (size.width() < content.width())
            throw AppError(failed(tooWide(content.width())));
        CapturaPagina(view, fileName, size.height(), size.width(), size.height(), size.width());
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void CapturaPagina(QWebEngineView *browser, const QString &fileName, int sourceHeight, int sourceWidth,
                   int targetHeight, int targetWidth)
{
    try {
        if (!browser)
            throw AppError(QStringLiteral("o navegador não está disponível"));
        if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0)
            throw AppError(QStringLiteral("tamanho de imagem inválido (%1 x %2 px para %3 x %4 px)")
                               .arg(sourceWidth)
                               .arg(sourceHeight)
                               .arg(targetWidth)
                               .arg(targetHeight));
        if (!browser->isVisible())
            throw AppError(QStringLiteral("o navegador não está à vista, e oculto ele não desenha a página"));
        if (browser->size() != QSize(sourceWidth, sourceHeight + PageCapture::MarkerStrip))
            throw AppError(QStringLiteral("o navegador tem %1 x %2 px, não os %3 x %4 px da página")
                               .arg(browser->width())
                               .arg(browser->height())
                               .arg(sourceWidth)
                               .arg(sourceHeight + PageCapture::MarkerStrip));

        QImage image = grabWholePage(browser, sourceWidth, sourceHeight);
        const QSize target(targetWidth, targetHeight);
        if (image.size() != target) {
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            if (image.isNull())
                throw AppError(noMemory(targetWidth, targetHeight));
        }
        writeJpeg(image, fileName);
    } catch (const AppError &e) {
        throw AppError(failed(e.message()));
    } catch (const std::bad_alloc &) {
        throw AppError(failed(noMemory(targetWidth, targetHeight)));
    }
}
