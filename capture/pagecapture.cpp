#include "pagecapture.h"

#include "apperror.h"
#include "capturefile.h"
#include "capturemarkers.h"
#include "framesource.h"
#include "jpegcodec.h"
#include "logcategories.h"
#include "capturescripts.h"
#include "pagetext.h"
#include "scriptrunner.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QVariantMap>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <new>
#include <optional>

namespace {

// How long a capture waits for the engine to free the page's memory.
constexpr int ReleaseWaitMs = 2000;
// How long a capture on a scaled screen waits for the page to take its zoom.
constexpr int ZoomWaitMs = 2000;
// Whole page pixels round a view up by fewer than this (8 widget pixels at most).
constexpr int MaxRoundingPx = 17;

QString failed(const QString &reason)
{
    return QStringLiteral("Não foi possível capturar a página: ") + reason;
}

QString tooWide(int width)
{
    return QStringLiteral("a página é larga demais para ser capturada inteira (%1 px)").arg(width);
}

QString notShown()
{
    return QStringLiteral("o navegador não está à vista, e oculto ele não desenha a página");
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
        throw AppError(failed(noMemoryFor(size)));
    }
}

// Back at its size, the view keeps the page's tiles in the engine for some
// seconds (unused raster memory expires late); hidden, it frees them at once.
// So once a frame at the restored size shows, the view is hidden until the
// page knows it, then shown again; unless another capture has begun, which
// needs that memory again. Memory comes back later if this fails.
void releasePageMemory(QWebEngineView *view, int serial)
{
    const QPointer<QWebEngineView> guard(view);
    const QPointer<CaptureMarkers> markers(CaptureMarkers::of(view));
    const auto ended = qScopeGuard([&] {
        if (markers)
            markers->endRelease();
    });
    const auto isLatest = [&] { return guard && markers && markers->isLatest(serial); };
    // Another page has no markers, and another capture needs the memory.
    if (!isLatest() || !markers->onPage())
        return;
    // On a scaled screen the marker's row is not a whole pixel of the frame:
    // the memory comes back when the engine lets it go.
    if (view->devicePixelRatio() != 1) {
        markers->remove(serial);
        return;
    }
    QPointer<QWidget> focused;
    try {
        FrameSource restored(view, view->size() - QSize(0, CaptureMarkers::Strip), markers->colours(), ReleaseWaitMs);
        if (restored.waitForFrameMarker(markers->restoredFrameCorner()) && isLatest()) {
            // Hiding takes the keyboard focus away; it comes back with the view.
            QWidget *focus = QApplication::focusWidget();
            if (focus && (focus == guard || guard->isAncestorOf(focus)))
                focused = focus;
            guard->setVisible(false);
            ScriptRunner::waitUntil(
                [&] {
                    return guard
                           && ScriptRunner::runChecked(guard->page(), CaptureScripts::visibilityState()).toString()
                                  == QLatin1String("hidden");
                },
                QDeadlineTimer(ReleaseWaitMs), guard->page());
        }
    } catch (const AppError &) {
        // The capture is written; only the early release failed.
    } catch (const Cancelled &) {
        // The user is leaving; the view is put back as it was below.
    }
    if (isLatest()) {
        guard->setVisible(true);
        if (focused)
            focused->setFocus(Qt::OtherFocusReason);
        markers->remove(serial);
    }
}

// Widget pixels that make whole page pixels on a screen of this ratio (1 at
// 1x and 2x, 2 at 1.5x, 4 at 1.25x); 0 when no small number does.
int widgetStep(qreal ratio)
{
    for (int step = 1; step <= 8; ++step) {
        if (qAbs(ratio * step - qRound(ratio * step)) < 1e-6)
            return step;
    }
    return 0;
}

} // namespace

PageCapture::PageCapture(QWebEngineView *view) : m_view(view) { }

QSize PageCapture::contentSize()
{
    if (!m_view)
        throw AppError(QStringLiteral("Não foi possível medir a página: o navegador não está disponível."));
    const QVariantMap size = ScriptRunner::runChecked(m_view->page(), CaptureScripts::contentSize()).toMap();
    return {size.value(QStringLiteral("width")).toInt(), size.value(QStringLiteral("height")).toInt()};
}

CaptureOutcome PageCapture::captureTo(const QString &fileName)
{
    if (!m_view)
        throw AppError(failed(QStringLiteral("o navegador não está disponível")));
    // Begun first, so that what an earlier capture left for later stands back.
    m_markers = CaptureMarkers::of(m_view);
    m_serial = m_markers->begin();
    m_oldSize = m_view->size();
    m_oldZoom = m_view->page()->zoomFactor();
    const auto letGo = qScopeGuard([this] { releaseLayout(); });
    const CaptureOutcome outcome = holdLayout();
    bool written = false;
    const auto restore = qScopeGuard([&] { restoreView(written); });
    draw(fileName, prepareScale());
    written = true;
    releaseMemoryLater();
    return outcome;
}

// Laid out at the window's height, as the user sees it, however tall the view
// grows: what the page sizes by the viewport keeps its size, and what scrolls
// by itself with most of the page is laid out whole.
CaptureOutcome PageCapture::holdLayout()
{
    // Run in order: the page's world is held before the answer below arrives.
    m_view->page()->runJavaScript(CaptureScripts::holdPageScripts(), QWebEngineScript::MainWorld);
    const QVariantMap held = ScriptRunner::runChecked(m_view->page(), CaptureScripts::holdViewport()).toMap();
    if (const QString scroller = held.value(QStringLiteral("scroller")).toString(); !scroller.isEmpty())
        qCDebug(lcCapture).noquote() << "captura - a rolagem interna" << scroller << "é desenhada inteira";
    CaptureOutcome outcome;
    outcome.foreignFrame = held.value(QStringLiteral("foreign")).toBool();
    if (outcome.foreignFrame)
        qCWarning(lcCapture).noquote() << "captura - a página é quase toda um quadro de outro site, capturado como "
                                          "está à vista";
    return outcome;
}

void PageCapture::releaseLayout()
{
    if (m_view && m_view->page()) {
        m_view->page()->runJavaScript(CaptureScripts::releaseViewport(), QWebEngineScript::ApplicationWorld);
        m_view->page()->runJavaScript(CaptureScripts::releasePageScripts(), QWebEngineScript::MainWorld);
    }
}

// On a scaled screen the page is drawn at its own scale (zoomed by the
// screen's inverse): its picture is in its own pixels on every screen, and
// the view's widget size is a whole number of page pixels.
PageCapture::Scale PageCapture::prepareScale()
{
    const qreal ratio = m_view->devicePixelRatio();
    const int step = widgetStep(ratio);
    if (step == 0)
        throw AppError(failed(QStringLiteral("a escala da tela (%1) não permite desenhar a página em pixels inteiros")
                                  .arg(ratio)));
    const Scale scale{step, qRound(ratio * step)};
    if (ratio == 1)
        return scale;
    // Zoomed at the window's size first, in whole page pixels, so that the
    // page is laid out and drawn once at its full size.
    const QSize window(scale.widgetPixels(m_oldSize.width()), scale.widgetPixels(m_oldSize.height()));
    m_view->page()->setZoomFactor(m_oldZoom / ratio);
    m_view->resize(window);
    const QVariantMap expected{{QStringLiteral("width"), window.width() / step * scale.unit},
                               {QStringLiteral("height"), window.height() / step * scale.unit}};
    const QPointer<QWebEngineView> view(m_view);
    ScriptRunner::waitUntil(
        [&] { return view && ScriptRunner::runChecked(view->page(), CaptureScripts::viewportSize()).toMap() == expected; },
        QDeadlineTimer(ZoomWaitMs), view->page());
    return scale;
}

void PageCapture::restoreView(bool written)
{
    if (m_view) {
        if (m_view->page()->zoomFactor() != m_oldZoom)
            m_view->page()->setZoomFactor(m_oldZoom);
        m_view->resize(m_oldSize);
        m_view->setVisible(true);
    }
    if (!written && m_markers)
        m_markers->remove(m_serial);
}

void PageCapture::draw(const QString &fileName, const Scale &scale)
{
    // Measured as the user sees it, before any zoom.
    QSize content = contentSize();
    for (int attempt = 1;; ++attempt) {
        if (attempt > 1)
            content = contentSize();
        qCDebug(lcCapture).noquote() << "captura, tentativa" << attempt << "- página de" << content.width() << "x"
                                     << content.height() << "px";
        const QSize viewSize = growTo(content, scale);
        try {
            CapturaPagina(m_view, fileName, content);
            return;
        } catch (const AppError &) {
            // A page that moved while it was drawn is measured and drawn again, once;
            // the rows below it (the markers' strip) count for nothing.
            const int now = contentSize().height();
            if (qAbs(now - content.height()) <= viewSize.height() - content.height())
                throw;
            qCWarning(lcCapture).noquote() << "captura, tentativa" << attempt << "- a página passou de"
                                           << content.height() << "para" << now << "px";
            if (attempt == 2)
                throw AppError(failed(pageMoves(content.height(), now)));
        }
    }
}

// Gives the view the content's size and the marker strip in one resize, the
// markers armed for it; answers the view's size in page pixels.
QSize PageCapture::growTo(QSize content, const Scale &scale)
{
    if (content.isEmpty())
        throw AppError(
            failed(QStringLiteral("a página não tem conteúdo (%1 x %2 px)").arg(content.width()).arg(content.height())));
    // Refused before the page is drawn at its full size: a JPEG cannot hold it.
    if (content.height() > qMin(Jpeg::MaxDimension, m_view->maximumHeight() - CaptureMarkers::Strip))
        throw AppError(failed(pageTooTall(content.height())));
    if (content.width() > qMin(Jpeg::MaxDimension, m_view->maximumWidth()))
        throw AppError(failed(tooWide(content.width())));
    const QSize widgetSize(scale.widgetPixels(content.width()),
                           scale.widgetPixels(content.height() + CaptureMarkers::Strip));
    const QSize viewSize = widgetSize / scale.step * scale.unit;
    // Shown throughout: a hidden QWebEngineView draws no frames.
    m_view->setVisible(true);
    if (!m_view->isVisible())
        throw AppError(failed(notShown()));
    // Set before the resize, the markers come with the first frame at the new
    // size; taken off after the view has its size back, so no frame at the
    // page's size is spent on that.
    asCaptureStep(content, [&] { m_markers->arm(viewSize, m_oldSize); });
    // Height and width in one resize, so that the page is laid out and drawn once.
    m_view->resize(widgetSize);
    const QSize size = shownPageSize(m_view) - QSize(0, CaptureMarkers::Strip);
    if (size.height() < content.height())
        throw AppError(failed(pageTooTall(content.height())));
    if (size.width() < content.width())
        throw AppError(failed(tooWide(content.width())));
    return viewSize;
}

// From the event loop, once the view has its size back, so that the capture's
// caller has its file at once.
void PageCapture::releaseMemoryLater()
{
    m_markers->beginRelease();
    QTimer::singleShot(0, m_markers.data(), [view = m_view, serial = m_serial] { releasePageMemory(view, serial); });
}

void CapturaPagina(QWebEngineView *browser, const QString &fileName, QSize page)
{
    asCaptureStep(page, [&] {
        if (!browser)
            throw AppError(QStringLiteral("o navegador não está disponível"));
        if (page.isEmpty())
            throw AppError(
                QStringLiteral("tamanho de imagem inválido (%1 x %2 px)").arg(page.width()).arg(page.height()));
        if (!browser->isVisible())
            throw AppError(notShown());
        // Whole page pixels may round the view up by a few on a scaled screen: the page is its top-left.
        const QSize viewSize = shownPageSize(browser);
        const QSize needed = page + QSize(0, CaptureMarkers::Strip);
        if (viewSize.width() < needed.width() || viewSize.height() < needed.height()
            || viewSize.width() >= needed.width() + MaxRoundingPx || viewSize.height() >= needed.height() + MaxRoundingPx)
            throw AppError(QStringLiteral("o navegador tem %1 x %2 px, não os %3 x %4 px da página")
                               .arg(viewSize.width())
                               .arg(viewSize.height())
                               .arg(needed.width())
                               .arg(needed.height()));

        const QPointer<CaptureMarkers> markers(CaptureMarkers::of(browser));
        std::optional<int> own;
        if (!markers->takeArmed(viewSize)) {
            own = markers->begin();
            markers->arm(viewSize, viewSize);
        }
        const auto removeOwn = qScopeGuard([&] {
            if (own && markers)
                markers->remove(*own);
        });
        const QImage image = FrameSource(browser, page, markers->colours()).waitForPage();
        // Read from the layout just drawn, while the view keeps its size; written with the picture.
        writeCaptureFile(image, PageText::read(browser->page()), fileName);
    });
}
