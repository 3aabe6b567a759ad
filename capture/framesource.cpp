#include "framesource.h"

#include "apperror.h"
#include "capturescripts.h"
#include "scriptrunner.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPixmap>
#include <QRegion>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineView>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#endif

#include <cstdlib>

namespace {

// Drawing time grows with the page's height (about 1 s for 60,000 px here).
constexpr int BaseWaitMs = 10000;
constexpr int WaitMsPerThousandPx = 200;
// How often a page still not drawn whole is measured again.
constexpr int MeasureEveryMs = 250;

// A 32-bit image in memory the kernel may back with huge pages: with 4 kB pages
// a 60,000 px picture costs some 65,000 page faults before a pixel is drawn.
QImage newPageImage(QSize size)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr size_t HugePage = 2 * 1024 * 1024;
    const qsizetype bytesPerLine = qsizetype(size.width()) * 4;
    const size_t bytes = (size_t(bytesPerLine) * size_t(size.height()) + HugePage - 1) / HugePage * HugePage;
    void *bits = std::aligned_alloc(HugePage, bytes);
    if (!bits)
        return {};
    madvise(bits, bytes, MADV_HUGEPAGE);
    return QImage(static_cast<uchar *>(bits), size.width(), size.height(), bytesPerLine, QImage::Format_RGB32,
                  std::free, bits);
#else
    return QImage(size, QImage::Format_RGB32);
#endif
}

// A paint device that keeps the image a widget paints itself from instead of
// copying its pixels: Qt Quick's software renderer draws the view's frame into
// one image and paints the widget from it, rectangle by rectangle.
// On a scaled screen the widget's image has `ratio` pixels per widget pixel.
class FrameTap final : public QPaintDevice
{
public:
    FrameTap(QSize size, qreal ratio) : m_engine(ratio), m_size(size) { }

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
        explicit Engine(qreal ratio) : ratio(ratio) { }
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override { }
        Type type() const override { return User; }
        void drawImage(const QRectF &target, const QImage &source, const QRectF &sourceRect,
                       Qt::ImageConversionFlags) override
        {
            const QRect rect = target.toRect();
            const QRectF scaled(target.topLeft() * ratio, target.size() * ratio);
            if (scaled != sourceRect || QRectF(rect) != target
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

        qreal ratio;
        QImage image;
        QRegion covered;
        bool other = false;
    };

    mutable Engine m_engine;
    QSize m_size;
};

} // namespace

QString pageTooTall(int height)
{
    return QStringLiteral("a página é alta demais para ser capturada inteira (%1 px)").arg(height);
}

QString pageMoves(int before, int after)
{
    return QStringLiteral("a página muda de altura enquanto é capturada (%1 px, depois %2 px); tente de novo quando "
                          "ela terminar de carregar")
        .arg(before)
        .arg(after);
}

QSize shownPageSize(QWebEngineView *view)
{
    return (QSizeF(view->size()) / view->page()->zoomFactor()).toSize();
}

QString noMemoryFor(QSize size)
{
    return QStringLiteral("memória insuficiente para a imagem da página (%1 x %2 px)")
        .arg(size.width())
        .arg(size.height());
}

FrameSource::FrameSource(QWebEngineView *view, QSize page, MarkerColours colours, int waitMs)
    : m_view(view)
    , m_page(page)
    , m_shown(view ? shownPageSize(view) - QSize(0, CaptureMarkers::Strip) : page)
    , m_colours(colours)
    , m_waitMs(waitMs > 0 ? waitMs : BaseWaitMs + int(qint64(page.height()) * WaitMsPerThousandPx / 1000))
    , m_deadline(m_waitMs)
{ }

QImage FrameSource::waitForPage()
{
    const QPoint frameCorner = CaptureMarkers::frameCorner(m_shown);
    const QPoint pageEndCorner = CaptureMarkers::pageEndCorner(m_shown);
    QImage frame;
    QDeadlineTimer measureAgain(MeasureEveryMs);
    const bool drawn = ScriptRunner::waitUntil(
        [&] {
            frame = shownFrame();
            if (shows(frame, pageEndCorner, m_colours.pageEnd) && shows(frame, frameCorner, m_colours.frame))
                return true;
            // Held across the event loop, the view's image would be copied at its next frame.
            frame = QImage();
            if (measureAgain.hasExpired()) {
                checkHeight();
                measureAgain.setRemainingTime(MeasureEveryMs);
            }
            return false;
        },
        m_deadline, page());
    if (!drawn)
        throw AppError(failureReason());
    if (frame.isNull())
        return grabPage();
    return QImage(
        frame.constBits(), m_page.width(), m_page.height(), frame.bytesPerLine(), frame.format(),
        [](void *held) { delete static_cast<QImage *>(held); }, new QImage(frame));
}

bool FrameSource::waitForFrameMarker(QPoint corner)
{
    return ScriptRunner::waitUntil([&] { return shows(shownFrame(), corner, m_colours.frame); }, m_deadline, page());
}

// The image the view paints itself from, shared, when it holds the whole view; else null.
QImage FrameSource::shownFrame()
{
    const QRect area = view()->rect();
    FrameTap tap(area.size(), view()->devicePixelRatio());
    view()->render(&tap, QPoint(), QRegion(area), QWidget::DrawChildren);
    return tap.image(area);
}

// Whether the frame, or, without one, what the view shows right now, has the marker at point.
bool FrameSource::shows(const QImage &frame, QPoint point, QRgb marker)
{
    if (!frame.isNull())
        return CaptureMarkers::matches(frame.pixel(point), marker);
    const qreal ratio = view()->devicePixelRatio();
    const QPoint logical(int(point.x() / ratio), int(point.y() / ratio));
    const QImage image = view()->grab(QRect(logical, QSize(1, 1))).toImage();
    return !image.isNull() && CaptureMarkers::matches(image.pixel(image.width() - 1, image.height() - 1), marker);
}

// The page, without the marker strip below it, drawn once into a new image;
// for views whose paints cannot be shared.
QImage FrameSource::grabPage()
{
    QImage image = newPageImage(m_page);
    if (image.isNull())
        throw AppError(noMemoryFor(m_page));
    const qreal ratio = view()->devicePixelRatio();
    image.setDevicePixelRatio(ratio);
    view()->render(&image, QPoint(), QRegion(QRectF(QPointF(), QSizeF(m_page) / ratio).toAlignedRect()),
                   QWidget::DrawChildren);
    image.setDevicePixelRatio(1);
    return image;
}

// A frame at this size came but its last tile did not: the page exceeds
// what the engine keeps drawn (its tile memory), not slowness.
QString FrameSource::failureReason()
{
    if (shows(shownFrame(), CaptureMarkers::frameCorner(m_shown), m_colours.frame))
        return pageTooTall(m_page.height());
    const QVariantMap viewport = ScriptRunner::runChecked(page(), CaptureScripts::viewportSize()).toMap();
    const bool shorter = viewport.value(QStringLiteral("width")).toInt() == m_shown.width()
                         && viewport.value(QStringLiteral("height")).toInt() < m_shown.height() + CaptureMarkers::Strip;
    return shorter ? pageTooTall(m_page.height())
                   : QStringLiteral("o navegador não desenhou a página inteira (%1 x %2 px) em %3 s")
                         .arg(m_page.width())
                         .arg(m_page.height())
                         .arg(qRound(m_waitMs / 1000.0));
}

// A page that grows or shrinks while it is drawn never ends where it was
// measured; the rows below it in the view (the marker strip) count for nothing.
void FrameSource::checkHeight()
{
    const int now = ScriptRunner::runChecked(page(), CaptureScripts::contentSize()).toMap().value(QStringLiteral("height")).toInt();
    if (qAbs(now - m_page.height()) > m_shown.height() + CaptureMarkers::Strip - m_page.height())
        throw AppError(pageMoves(m_page.height(), now));
}

QWebEngineView *FrameSource::view() const
{
    if (!m_view || !m_view->page())
        throw AppError(QStringLiteral("o navegador foi fechado durante a captura"));
    return m_view;
}

QWebEnginePage *FrameSource::page() const
{
    return view()->page();
}
