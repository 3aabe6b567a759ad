#include "pagecapture.h"

#include "apperror.h"
#include "jpegcodec.h"
#include "pagescripts.h"
#include "scriptrunner.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPixmap>
#include <QRegion>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <new>
#include <optional>

namespace {

constexpr int JpegQuality = 30;

// Drawing time grows with the page's height (about 1 s for 60,000 px here).
constexpr int BaseWaitMs = 10000;
constexpr int WaitMsPerThousandPx = 200;

// How long a capture waits for the engine to free the page's memory.
constexpr int ReleaseWaitMs = 2000;

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

QString notShown()
{
    return QStringLiteral("o navegador não está à vista, e oculto ele não desenha a página");
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

// A paint device that keeps the image a widget paints itself from instead of
// copying its pixels: Qt Quick's software renderer draws the view's frame into
// one image and paints the widget from it, rectangle by rectangle.
class FrameTap final : public QPaintDevice
{
public:
    explicit FrameTap(QSize size)
        : m_size(size)
    {
    }

    // The one image every paint came from, when the paints did nothing but
    // copy it unscaled and together covered `area`; null otherwise.
    QImage image(const QRect &area) const
    {
        const bool whole = (QRegion(area) - m_engine.covered).isEmpty();
        return !m_engine.other && whole ? m_engine.image : QImage();
    }

    QPaintEngine *paintEngine() const override { return &m_engine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        constexpr int Dpi = 96;
        switch (metric) {
        case PdmWidth: return m_size.width();
        case PdmHeight: return m_size.height();
        case PdmWidthMM: return m_size.width() * 254 / (10 * Dpi);
        case PdmHeightMM: return m_size.height() * 254 / (10 * Dpi);
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return Dpi;
        case PdmDepth: return 32;
        case PdmNumColors: return 0;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
        default: return QPaintDevice::metric(metric);
        }
    }

private:
    struct Engine final : QPaintEngine
    {
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override {}
        Type type() const override { return User; }
        void drawImage(const QRectF &target, const QImage &source, const QRectF &sourceRect,
                       Qt::ImageConversionFlags) override
        {
            const QRect rect = target.toRect();
            if (target != sourceRect || QRectF(rect) != target
                || (!image.isNull() && image.cacheKey() != source.cacheKey())) {
                other = true;
                return;
            }
            image = source; // shared, not copied
            covered += rect;
        }
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { other = true; }
        void drawPath(const QPainterPath &) override { other = true; }
        void drawPolygon(const QPointF *, int, PolygonDrawMode) override { other = true; }
        void drawPolygon(const QPoint *, int, PolygonDrawMode) override { other = true; }

        QImage image;
        QRegion covered;
        bool other = false;
    };

    mutable Engine m_engine;
    QSize m_size;
};

// Counts the captures begun, so that what one leaves for later can tell
// whether another has begun since.
int &captureSerial()
{
    static int serial = 0;
    return serial;
}

// Puts a capture's markers on the page and takes them off again, or hands
// that over to what comes after the capture.
class CaptureMarkers
{
public:
    CaptureMarkers(QWebEngineView *view, QSize viewSize, QSize restoredSize)
        : m_view(view)
        , m_colours(nextMarkerColours())
        , m_serial(captureSerial())
    {
        const QVariantMap corner =
            ScriptRunner::runChecked(view->page(),
                                     PageScripts::armCaptureMarkers(viewSize, restoredSize, cssColor(m_colours.frame),
                                                                    cssColor(m_colours.pageEnd)))
                .toMap();
        m_restoredFrameCorner = {corner.value(QStringLiteral("x")).toInt(), corner.value(QStringLiteral("y")).toInt()};
    }

    ~CaptureMarkers()
    {
        if (!m_handedOver)
            remove(m_view, m_serial);
    }

    // What the markers' last user needs to find the frame back at the restored
    // size and to take them off; this object then leaves them on the page.
    struct Left
    {
        MarkerColours colours;
        QPoint restoredFrameCorner;
        int serial;
        QUrl page;
    };
    Left handOver()
    {
        m_handedOver = true;
        return {m_colours, m_restoredFrameCorner, m_serial, m_view ? m_view->url() : QUrl()};
    }

    // Whether no capture has begun since the one numbered serial.
    static bool isLatest(int serial) { return serial == captureSerial(); }

    // Takes the markers off; nothing waits for the answer. A later capture's
    // markers reuse these elements, and are not to be taken away under it.
    static void remove(QWebEngineView *view, int serial)
    {
        if (isLatest(serial) && view && view->page())
            view->page()->runJavaScript(PageScripts::removeCaptureMarkers(), QWebEngineScript::ApplicationWorld);
    }

    CaptureMarkers(const CaptureMarkers &) = delete;
    CaptureMarkers &operator=(const CaptureMarkers &) = delete;

    MarkerColours colours() const { return m_colours; }

private:
    QPointer<QWebEngineView> m_view;
    MarkerColours m_colours;
    int m_serial;
    QPoint m_restoredFrameCorner;
    bool m_handedOver = false;
};

// One capture's wait on the browser, which may go away while the event loop runs.
class FrameWatch
{
public:
    FrameWatch(QWebEngineView *view, int width, int height, MarkerColours colours, int waitMs = 0)
        : m_view(view)
        , m_width(width)
        , m_height(height)
        , m_colours(colours)
        , m_waitMs(waitMs > 0 ? waitMs : BaseWaitMs + int(qint64(height) * WaitMsPerThousandPx / 1000))
        , m_deadline(m_waitMs)
    {
    }

    // Waits until the view shows both markers, and so a frame laid out at the
    // capture's size and drawn to the page's end, and returns the page's part
    // of that very frame. The markers lie in the strip below, outside it.
    QImage waitForPage()
    {
        QImage frame;
        const bool drawn = ScriptRunner::waitUntil(
            [&] {
                frame = shownFrame();
                if (shows(frame, pageEndCorner(), m_colours.pageEnd) && shows(frame, frameCorner(), m_colours.frame))
                    return true;
                // Held across the event loop, the view's image would be copied at its next frame.
                frame = QImage();
                return false;
            },
            m_deadline, page());
        if (!drawn)
            throw AppError(failureReason());
        if (frame.isNull())
            return grabPage();
        return QImage(frame.constBits(), m_width, m_height, frame.bytesPerLine(), frame.format(),
                      [](void *held) { delete static_cast<QImage *>(held); }, new QImage(frame));
    }

    // Whether a frame with the frame marker at corner comes before the deadline.
    bool waitForFrameMarker(QPoint corner)
    {
        return ScriptRunner::waitUntil([&] { return shows(shownFrame(), corner, m_colours.frame); }, m_deadline,
                                       page());
    }

private:
    QPoint frameCorner() const { return {0, m_height + PageCapture::MarkerStrip - 1}; }
    QPoint pageEndCorner() const { return {m_width - 1, m_height + PageCapture::MarkerStrip - 1}; }

    // The image the view paints itself from, shared, when it holds the whole view; else null.
    QImage shownFrame()
    {
        const QSize size(m_width, m_height + PageCapture::MarkerStrip);
        FrameTap tap(size);
        view()->render(&tap, QPoint(), QRegion(QRect(QPoint(), size)), QWidget::DrawChildren);
        return tap.image(QRect(QPoint(), size));
    }

    // Whether the frame, or, without one, what the view shows right now, has the marker at point.
    bool shows(const QImage &frame, QPoint point, QRgb marker)
    {
        if (!frame.isNull())
            return isMarker(frame.pixel(point), marker);
        const QImage image = view()->grab(QRect(point, QSize(1, 1))).toImage();
        return !image.isNull() && isMarker(image.pixel(image.width() - 1, image.height() - 1), marker);
    }

    // The page, without the marker strip below it, drawn once into a new image;
    // for views whose paints cannot be shared.
    QImage grabPage()
    {
        QImage image = newPageImage(m_width, m_height);
        if (image.isNull())
            throw AppError(noMemory(m_width, m_height));
        view()->render(&image, QPoint(), QRegion(0, 0, m_width, m_height), QWidget::DrawChildren);
        return image;
    }

    // A frame at this size came but its last tile did not: the page exceeds
    // what the engine keeps drawn (its tile memory), not slowness.
    QString failureReason()
    {
        if (shows(shownFrame(), frameCorner(), m_colours.frame))
            return tooTall(m_height);
        const QVariantMap viewport = ScriptRunner::runChecked(page(), PageScripts::viewportSize()).toMap();
        const bool shorter = viewport.value(QStringLiteral("width")).toInt() == m_width
            && viewport.value(QStringLiteral("height")).toInt() < m_height + PageCapture::MarkerStrip;
        return shorter ? tooTall(m_height)
                       : QStringLiteral("o navegador não desenhou a página inteira (%1 x %2 px) em %3 s")
                             .arg(m_width)
                             .arg(m_height)
                             .arg(qRound(m_waitMs / 1000.0));
    }

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
    MarkerColours m_colours;
    int m_waitMs;
    QDeadlineTimer m_deadline;
};

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

// Waits for the frame that shows the markers, then writes the page's part of it,
// scaled to target if that differs, as the JPEG file.
void writeShownPage(QWebEngineView *view, const QString &fileName, QSize page, QSize target, MarkerColours colours)
{
    QImage image = FrameWatch(view, page.width(), page.height(), colours).waitForPage();
    if (image.size() != target) {
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (image.isNull())
            throw AppError(noMemory(target.width(), target.height()));
    }
    writeJpeg(image, fileName);
}

// Back at its size, the view keeps the page's tiles in the engine for some
// seconds (unused raster memory expires late); hidden, it frees them at once.
// So once a frame at the restored size shows, the view is hidden until the
// page knows it, then shown again; unless another capture has begun, which
// needs that memory again. Memory comes back later if this fails.
void releasePageMemory(QWebEngineView *view, const CaptureMarkers::Left &markers)
{
    const QPointer<QWebEngineView> guard(view);
    QPointer<QWidget> focused;
    // Another page has no markers, and another capture needs the memory.
    if (!CaptureMarkers::isLatest(markers.serial) || view->url() != markers.page)
        return;
    try {
        FrameWatch restored(view, view->width(), view->height() - PageCapture::MarkerStrip, markers.colours,
                            ReleaseWaitMs);
        if (restored.waitForFrameMarker(markers.restoredFrameCorner) && guard
            && CaptureMarkers::isLatest(markers.serial)) {
            // Hiding takes the keyboard focus away; it comes back with the view.
            QWidget *focus = QApplication::focusWidget();
            if (focus && (focus == guard || guard->isAncestorOf(focus)))
                focused = focus;
            guard->setVisible(false);
            ScriptRunner::waitUntil(
                [&] {
                    return guard
                        && ScriptRunner::runChecked(guard->page(), PageScripts::visibilityState()).toString()
                        == QLatin1String("hidden");
                },
                QDeadlineTimer(ReleaseWaitMs), guard->page());
        }
    } catch (const AppError &) {
        // The capture is written; only the early release failed.
    } catch (const Cancelled &) {
        // The user is leaving; the view is put back as it was below.
    }
    if (guard && CaptureMarkers::isLatest(markers.serial)) {
        guard->setVisible(true);
        if (focused)
            focused->setFocus(Qt::OtherFocusReason);
        CaptureMarkers::remove(guard, markers.serial);
    }
}

// Runs a capture step; its failures come out as the capture's, naming their reason.
template<typename Step>
void asCaptureStep(QSize size, Step &&step)
{
    try {
        step();
    } catch (const AppError &e) {
        throw AppError(failed(e.message()));
    } catch (const std::bad_alloc &) {
        throw AppError(failed(noMemory(size.width(), size.height())));
    }
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
    ++captureSerial();
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
    const QSize viewSize(content.width(), content.height() + MarkerStrip);
    const auto restore = [&] {
        if (view) {
            view->resize(oldSize);
            view->setVisible(true);
        }
    };
    // Shown throughout: a hidden QWebEngineView draws no frames.
    view->setVisible(true);
    if (!view->isVisible())
        throw AppError(failed(notShown()));
    // Set before the resize, the markers come with the first frame at the new
    // size; taken off after the view has its size back, so no frame at the
    // page's size is spent on that.
    std::optional<CaptureMarkers> markers;
    asCaptureStep(content, [&] { markers.emplace(view, viewSize, oldSize); });
    // Height and width in one resize, so that the page is laid out and drawn once.
    view->resize(viewSize);
    try {
        const QSize size = view->size() - QSize(0, MarkerStrip);
        if (size.height() < content.height())
            throw AppError(failed(tooTall(content.height())));
        if (size.width() < content.width())
            throw AppError(failed(tooWide(content.width())));
        asCaptureStep(size, [&] { writeShownPage(view, fileName, size, size, markers->colours()); });
    } catch (...) {
        restore();
        throw;
    }
    restore();
    // From the event loop, so that the capture's caller has its file at once.
    QTimer::singleShot(0, view, [view, left = markers->handOver()] { releasePageMemory(view, left); });
}

void CapturaPagina(QWebEngineView *browser, const QString &fileName, int sourceHeight, int sourceWidth,
                   int targetHeight, int targetWidth)
{
    ++captureSerial();
    asCaptureStep(QSize(targetWidth, targetHeight), [&] {
        if (!browser)
            throw AppError(QStringLiteral("o navegador não está disponível"));
        if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0)
            throw AppError(QStringLiteral("tamanho de imagem inválido (%1 x %2 px para %3 x %4 px)")
                               .arg(sourceWidth)
                               .arg(sourceHeight)
                               .arg(targetWidth)
                               .arg(targetHeight));
        if (!browser->isVisible())
            throw AppError(notShown());
        if (browser->size() != QSize(sourceWidth, sourceHeight + PageCapture::MarkerStrip))
            throw AppError(QStringLiteral("o navegador tem %1 x %2 px, não os %3 x %4 px da página")
                               .arg(browser->width())
                               .arg(browser->height())
                               .arg(sourceWidth)
                               .arg(sourceHeight + PageCapture::MarkerStrip));

        const CaptureMarkers markers(browser, browser->size(), browser->size());
        writeShownPage(browser, fileName, QSize(sourceWidth, sourceHeight), QSize(targetWidth, targetHeight),
                       markers.colours());
    });
}
