#include "capturemarkers.h"

#include "capturescripts.h"
#include "scriptrunner.h"

#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

namespace {

// A small tolerance absorbs rounding in the compositor.
constexpr int Tolerance = 6;

QString cssColor(QRgb rgb)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(qRed(rgb)).arg(qGreen(rgb)).arg(qBlue(rgb));
}

} // namespace

CaptureMarkers::CaptureMarkers(QWebEngineView *view) : QObject(view), m_view(view) { }

CaptureMarkers *CaptureMarkers::of(QWebEngineView *view)
{
    auto *markers = view->findChild<CaptureMarkers *>(QString(), Qt::FindDirectChildrenOnly);
    return markers ? markers : new CaptureMarkers(view);
}

void CaptureMarkers::arm(QSize size, QSize restored)
{
    // Four colour pairs in turn: a frame still showing the previous capture's markers cannot pass.
    const int shade = 3 + 16 * (m_serial % 4);
    const MarkerColours colours{qRgb(shade, 251, 7), qRgb(251, shade, 249)};
    QWebEnginePage *page = m_view->page();
    const QVariantMap corner
        = ScriptRunner::runChecked(
              page, CaptureScripts::armCaptureMarkers(size, restored, cssColor(colours.frame), cssColor(colours.pageEnd)))
              .toMap();
    m_colours = colours;
    m_restoredFrameCorner = {corner.value(QStringLiteral("x")).toInt(), corner.value(QStringLiteral("y")).toInt()};
    m_armedSize = size;
    m_page = page;
    // A new document has no markers.
    connect(page, &QWebEnginePage::loadStarted, this, &CaptureMarkers::forget, Qt::UniqueConnection);
}

bool CaptureMarkers::takeArmed(QSize size)
{
    const bool armed = onPage() && m_armedSize == size;
    m_armedSize = QSize();
    return armed;
}

bool CaptureMarkers::onPage() const
{
    return m_page && m_page == m_view->page();
}

void CaptureMarkers::remove(int serial)
{
    if (!isLatest(serial))
        return;
    if (onPage())
        m_page->runJavaScript(CaptureScripts::removeCaptureMarkers(), QWebEngineScript::ApplicationWorld);
    forget();
}

bool CaptureMarkers::matches(QRgb pixel, QRgb marker)
{
    return qAbs(qRed(pixel) - qRed(marker)) <= Tolerance && qAbs(qGreen(pixel) - qGreen(marker)) <= Tolerance
           && qAbs(qBlue(pixel) - qBlue(marker)) <= Tolerance;
}

void CaptureMarkers::forget()
{
    m_page = nullptr;
    m_armedSize = QSize();
}

void CaptureMarkers::endRelease()
{
    if (m_releasing > 0 && --m_releasing == 0)
        emit released();
}
