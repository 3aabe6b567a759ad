#pragma once

#include "capturemarkers.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>

class QWebEngineView;
class QWebEnginePage;

// The page's pixels the view shows: its widget pixels over the page's zoom.
QSize shownPageSize(QWebEngineView *view);
// Why no picture of a page `height` px tall could be had.
QString pageTooTall(int height);
// Why no picture of that size could be held.
QString noMemoryFor(QSize size);
// Why a page measured `before` px tall, then `after`, could not be captured.
QString pageMoves(int before, int after);

// The frames a view shows, taken from the image its Qt Quick layer paints it
// from, shared, not copied; every wait bounded, and failing with the reason
// when the view goes away. Sizes and points are the image's pixels, which
// are the page's own (CSS) pixels when the page is drawn at its own scale:
// on a scaled screen, zoomed by the inverse of the screen's ratio.
class FrameSource
{
public:
    // For a view as large as `page` plus the marker strip, or a few page
    // pixels larger (whole page pixels on a scaled screen); the page is its
    // top-left part. waitMs 0: as long as the engine takes to draw a page that tall.
    FrameSource(QWebEngineView *view, QSize page, MarkerColours colours, int waitMs = 0);

    // Waits until the view shows both markers, and so a frame laid out at the
    // page's size and drawn to the page's end, and returns the page's part of
    // that very frame (the markers lie in the strip below it). Throws AppError
    // with the reason when no such frame comes, and at once when the page
    // meanwhile takes another height.
    QImage waitForPage();

    // Whether a frame with the frame marker at corner comes before the deadline.
    bool waitForFrameMarker(QPoint corner);

private:
    QImage shownFrame();
    bool shows(const QImage &frame, QPoint point, QRgb marker);
    QImage grabPage();
    QString failureReason();
    void checkHeight();
    QWebEngineView *view() const;
    QWebEnginePage *page() const;

    QPointer<QWebEngineView> m_view;
    QSize m_page;
    QSize m_shown; // the view's page pixels above the marker strip
    MarkerColours m_colours;
    int m_waitMs;
    QDeadlineTimer m_deadline;
};
