#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRgb>
#include <QSize>

class QWebEngineView;
class QWebEnginePage;

// Colours no page is expected to show in the strip below it.
struct MarkerColours
{
    QRgb frame;
    QRgb pageEnd;
};

// The two markers a capture puts in a strip of rows below the page, to prove a
// frame laid out at the capture's size and drawn to the page's end. One per
// view, its child, made on first use: it numbers the captures begun on that
// view, so that each capture's markers differ from the previous one's and what
// a capture leaves for later can tell whether another has begun since.
class CaptureMarkers : public QObject
{
    Q_OBJECT

public:
    // Rows the view has below the page while it is captured.
    static constexpr int Strip = 1;

    static CaptureMarkers *of(QWebEngineView *view);

    // Begins a capture on the view; returns its number.
    int begin() { return ++m_serial; }
    // Whether no capture has begun on the view since the one numbered serial.
    bool isLatest(int serial) const { return serial == m_serial; }

    // Puts the latest capture's markers on the page, shown only while the
    // viewport is exactly `size` (the frame marker also at `restored`, the size
    // the view has now). Set before a resize to `size`, they come with its
    // first frame. Throws AppError when the page refuses them.
    void arm(QSize size, QSize restored);
    // Whether markers armed for a viewport of `size` are on the page and no
    // capture has used them yet; the caller then uses them, once.
    bool takeArmed(QSize size);
    // Whether the latest markers are still on the page the view shows.
    bool onPage() const;
    MarkerColours colours() const { return m_colours; }
    // Where the frame marker shows once the view is back at the restored size.
    QPoint restoredFrameCorner() const { return m_restoredFrameCorner; }
    // Takes the markers off unless a later capture has begun, whose markers
    // are the same elements; nothing waits for the answer.
    void remove(int serial);

    // A capture's release of the page's memory is under way: the view is
    // hidden for part of it. released() comes at its end.
    bool isReleasing() const { return m_releasing > 0; }
    void beginRelease() { ++m_releasing; }
    void endRelease();

signals:
    void released();

public:

    // Where each marker shows in a frame of the page's size plus the strip.
    static QPoint frameCorner(QSize page) { return {0, page.height() + Strip - 1}; }
    static QPoint pageEndCorner(QSize page) { return {page.width() - 1, page.height() + Strip - 1}; }
    // Whether a pixel shows the marker, within the compositor's rounding.
    static bool matches(QRgb pixel, QRgb marker);

private:
    explicit CaptureMarkers(QWebEngineView *view);
    void forget();

    QWebEngineView *m_view;
    int m_serial = 0;
    QPointer<QWebEnginePage> m_page; // the page the markers are on; null when none
    QSize m_armedSize;               // markers not yet used by a capture
    MarkerColours m_colours{};
    QPoint m_restoredFrameCorner;
    int m_releasing = 0;
};
