#include "pagecapture.h"

#include "apperror.h"
#include "jpegcodec.h"
#include "pagescripts.h"
#include "scriptrunner.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <functional>
#include <new>

namespace {

constexpr int JpegQuality = 30;

// Drawing time grows with the page's height (about 1 s for 60,000 px here).
constexpr int BaseWaitMs = 10000;
constexpr int WaitMsPerThousandPx = 200;
constexpr int RetryMs = 15;
constexpr int MinScriptWaitMs = 1000;

// Colours no page is expected to show in the viewport's last pixel. A small
// tolerance absorbs rounding in the compositor.
constexpr QRgb FrameMarkerRgb = qRgb(3, 251, 7);
constexpr QRgb PageEndMarkerRgb = qRgb(251, 3, 249);
constexpr int MarkerTolerance = 6;

const char PageEndMarkerId[] = "__devezozuvor_page_end_marker";

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

// A 2x2 marker in the document's own flow, at the bottom-right of the viewport's
// client area. Unlike a fixed element (drawn on a layer of its own) it is painted
// with the page's last tile, so seeing it means the engine drew the page to its
// end. With keep false it only measures. Answers {"ok": {"x", "y"}}, the marker's
// bottom-right pixel in view coordinates.
QString pageEndMarkerScript(QRgb color, bool keep)
{
    return QStringLiteral(R"JS((function() {
        try {
            const root = document.documentElement;
            if (!root)
                return {erro: 'A página não tem documento para capturar.'};
            let mark = document.getElementById(%1);
            if (!mark) {
                mark = document.createElement('div');
                mark.id = %1;
                root.appendChild(mark);
            }
            mark.style.cssText = 'position:fixed;right:0;bottom:0;width:2px;height:2px;margin:0;padding:0;'
                + 'border:0;z-index:2147483647;pointer-events:none;visibility:hidden';
            const corner = mark.getBoundingClientRect();
            mark.style.position = 'absolute';
            mark.style.right = 'auto';
            mark.style.bottom = 'auto';
            mark.style.left = '0px';
            mark.style.top = '0px';
            const origin = mark.getBoundingClientRect();
            mark.style.left = (corner.left - origin.left) + 'px';
            mark.style.top = (corner.top - origin.top) + 'px';
            if (%3) {
                mark.style.background = %2;
                mark.style.visibility = 'visible';
            } else {
                mark.remove();
            }
            return {ok: {x: Math.floor(corner.right) - 1, y: Math.floor(corner.bottom) - 1}};
        } catch (e) {
            return {erro: 'Erro no navegador: ' + String(e)};
        }
    })())JS")
        .arg(PageScripts::literal(QLatin1String(PageEndMarkerId)), PageScripts::literal(cssColor(color)),
             keep ? QStringLiteral("true") : QStringLiteral("false"));
}

QString removePageEndMarkerScript()
{
    return QStringLiteral(R"JS((function() {
        try {
            const mark = document.getElementById(%1);
            if (mark)
                mark.remove();
            return {ok: true};
        } catch (e) {
            return {erro: 'Erro no navegador: ' + String(e)};
        }
    })())JS")
        .arg(PageScripts::literal(QLatin1String(PageEndMarkerId)));
}

// A failure with the reason the user reads after "Não foi possível capturar a página: ".
struct CaptureFailure
{
    QString reason;
};

// One capture's bounded waits on the browser, which may go away while the event loop runs.
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
        // Leaves the page as it was on every path; nothing waits for the answers.
        if (!m_view || !m_view->page())
            return;
        if (m_frameMarkerShown)
            m_view->page()->runJavaScript(PageScripts::removeFrameMarker(), QWebEngineScript::ApplicationWorld);
        if (m_pageEndMarkerShown)
            m_view->page()->runJavaScript(removePageEndMarkerScript(), QWebEngineScript::ApplicationWorld);
    }

    FrameWatch(const FrameWatch &) = delete;
    FrameWatch &operator=(const FrameWatch &) = delete;

    QVariant run(const QString &script)
    {
        const int waitMs = int(qMax<qint64>(MinScriptWaitMs, m_deadline.remainingTime()));
        return ScriptRunner::runChecked(view()->page(), script, waitMs);
    }

    // Re-checks done() with the event loop running in between, until it holds or time is up.
    bool waitUntil(const std::function<bool()> &done)
    {
        for (;;) {
            if (done())
                return true;
            if (m_deadline.hasExpired())
                return false;
            QEventLoop loop;
            QTimer::singleShot(RetryMs, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            view(); // throws when the browser went away meanwhile
        }
    }

    QSize viewportSize()
    {
        const QVariantMap size = run(PageScripts::viewportSize()).toMap();
        return {size.value(QStringLiteral("width")).toInt(), size.value(QStringLiteral("height")).toInt()};
    }

    QPoint markerPixel(QRgb color, bool keep)
    {
        const QVariantMap pixel = run(pageEndMarkerScript(color, keep)).toMap();
        m_pageEndMarkerShown = m_pageEndMarkerShown || keep;
        const QPoint point(pixel.value(QStringLiteral("x")).toInt(), pixel.value(QStringLiteral("y")).toInt());
        if (!QRect(0, 0, m_width, m_height).contains(point))
            throw CaptureFailure{QStringLiteral("o navegador não mostra o canto da página (%1, %2) numa área de %3 x %4 px")
                                     .arg(point.x())
                                     .arg(point.y())
                                     .arg(m_width)
                                     .arg(m_height)};
        return point;
    }

    void showFrameMarker()
    {
        run(PageScripts::showFrameMarker(cssColor(FrameMarkerRgb)));
        m_frameMarkerShown = true;
    }

    void removeFrameMarker()
    {
        run(PageScripts::removeFrameMarker());
        m_frameMarkerShown = false;
    }

    void removePageEndMarker()
    {
        run(removePageEndMarkerScript());
        m_pageEndMarkerShown = false;
    }

    // What the view shows at one pixel right now; only that pixel is drawn.
    QRgb pixelAt(QPoint point)
    {
        const QImage image = view()->grab(QRect(point, QSize(1, 1))).toImage();
        if (image.isNull())
            return 0;
        return image.pixel(image.width() - 1, image.height() - 1);
    }

    QImage grabAll()
    {
        const QImage image = view()->grab().toImage();
        if (image.isNull())
            throw std::bad_alloc();
        return image;
    }

    CaptureFailure notDrawn() const
    {
        return {QStringLiteral("o navegador não desenhou a página inteira (%1 x %2 px) em %3 s")
                    .arg(m_width)
                    .arg(m_height)
                    .arg(qRound(m_waitMs / 1000.0))};
    }

    CaptureFailure tooTall() const
    {
        return {QStringLiteral("a página é alta demais para ser capturada inteira (%1 px)").arg(m_height)};
    }

private:
    QWebEngineView *view() const
    {
        if (!m_view || !m_view->page())
            throw CaptureFailure{QStringLiteral("o navegador foi fechado durante a captura")};
        return m_view;
    }

    QPointer<QWebEngineView> m_view;
    int m_width;
    int m_height;
    int m_waitMs;
    QDeadlineTimer m_deadline;
    bool m_frameMarkerShown = false;
    bool m_pageEndMarkerShown = false;
};

// Waits until the engine has drawn the whole page at the view's size and copies that frame.
QImage grabWholePage(QWebEngineView *browser, int width, int height)
{
    FrameWatch watch(browser, width, height);

    const QSize wanted(width, height);
    QSize reported;
    if (!watch.waitUntil([&] { return (reported = watch.viewportSize()) == wanted; })) {
        if (reported.width() == width && reported.height() < height)
            throw watch.tooTall();
        throw watch.notDrawn();
    }

    // A grab of the right size can still hold the previous frame, so the frame
    // is known to be new only when a marker put there after the resize shows up.
    const QPoint corner = watch.markerPixel(PageEndMarkerRgb, false);
    watch.showFrameMarker();
    if (!watch.waitUntil([&] { return isMarker(watch.pixelAt(corner), FrameMarkerRgb); }))
        throw watch.notDrawn();

    // The engine draws at this size; its last tile missing means the page
    // exceeds what the engine keeps drawn (its tile memory), not slowness.
    watch.removeFrameMarker();
    if (watch.markerPixel(PageEndMarkerRgb, true) != corner)
        throw watch.notDrawn();
    if (!watch.waitUntil([&] { return isMarker(watch.pixelAt(corner), PageEndMarkerRgb); }))
        throw watch.tooTall();

    watch.removePageEndMarker();
    if (!watch.waitUntil([&] { return !isMarker(watch.pixelAt(corner), PageEndMarkerRgb); }))
        throw watch.notDrawn();
    return watch.grabAll();
}

void writeJpeg(const QImage &image, const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw CaptureFailure{QStringLiteral("o arquivo \"%1\" não pôde ser criado: %2").arg(fileName, file.errorString())};
    Jpeg::Encoder encoder(&file, image.width(), image.height(), JpegQuality);
    encoder.writeImageRows(image, 0, image.height());
    encoder.finish();
    if (!file.commit())
        throw CaptureFailure{QStringLiteral("o arquivo \"%1\" não pôde ser gravado: %2").arg(fileName, file.errorString())};
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
    const QString failed = QStringLiteral("Não foi possível capturar a página: ");
    if (!m_view)
        throw AppError(failed + QStringLiteral("o navegador não está disponível"));

    const QSize content = contentSize();
    if (content.isEmpty())
        throw AppError(failed + QStringLiteral("a página não tem conteúdo (%1 x %2 px)")
                                    .arg(content.width())
                                    .arg(content.height()));
    if (content.height() > m_view->maximumHeight())
        throw AppError(failed + QStringLiteral("a página é alta demais para ser capturada inteira (%1 px)")
                                    .arg(content.height()));
    if (content.width() > m_view->maximumWidth())
        throw AppError(failed + QStringLiteral("a página é larga demais para ser capturada inteira (%1 px)")
                                    .arg(content.width()));

    QPointer<QWebEngineView> view(m_view);
    const QSize oldSize = view->size();
    // Captured while shown: a hidden QWebEngineView stops producing frames.
    view->setVisible(true);
    view->resize(view->width(), content.height());
    view->resize(content.width(), view->height());

    const int h = view->height();
    const int w = view->width();
    QString reason;
    bool written = false;
    if (h < content.height())
        reason = QStringLiteral("a página é alta demais para ser capturada inteira (%1 px)").arg(content.height());
    else if (w < content.width())
        reason = QStringLiteral("a página é larga demais para ser capturada inteira (%1 px)").arg(content.width());
    else
        written = CapturaPagina(view, fileName, h, w, h, w, &reason);

    if (view) {
        view->resize(view->width(), oldSize.height());
        view->resize(oldSize.width(), view->height());
        view->setVisible(true);
    }
    if (!written)
        throw AppError(failed + reason);
}

bool CapturaPagina(QWebEngineView *browser, const QString &fileName, int sourceHeight, int sourceWidth,
                   int targetHeight, int targetWidth, QString *failure)
{
    QString reason;
    try {
        if (!browser)
            throw CaptureFailure{QStringLiteral("o navegador não está disponível")};
        if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0)
            throw CaptureFailure{QStringLiteral("tamanho de imagem inválido (%1 x %2 px para %3 x %4 px)")
                                     .arg(sourceWidth)
                                     .arg(sourceHeight)
                                     .arg(targetWidth)
                                     .arg(targetHeight)};
        if (!browser->isVisible())
            throw CaptureFailure{QStringLiteral("o navegador não está à vista, e oculto ele não desenha a página")};
        if (browser->size() != QSize(sourceWidth, sourceHeight))
            throw CaptureFailure{QStringLiteral("o navegador tem %1 x %2 px, não os %3 x %4 px da página")
                                     .arg(browser->width())
                                     .arg(browser->height())
                                     .arg(sourceWidth)
                                     .arg(sourceHeight)};

        QImage image = grabWholePage(browser, sourceWidth, sourceHeight);
        const QSize target(targetWidth, targetHeight);
        if (image.size() != target)
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (image.isNull())
            throw std::bad_alloc();
        writeJpeg(image, fileName);
        return true;
    } catch (const CaptureFailure &e) {
        reason = e.reason;
    } catch (const AppError &e) {
        reason = e.message();
    } catch (const std::bad_alloc &) {
        reason = QStringLiteral("memória insuficiente para a imagem da página (%1 x %2 px)")
                     .arg(targetWidth)
                     .arg(targetHeight);
    } catch (const std::exception &e) {
        reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        reason = QStringLiteral("erro inesperado ao capturar a página");
    }
    if (failure)
        *failure = reason;
    return false;
}
