#pragma once

#include <QPointer>
#include <QSize>
#include <QString>

class CaptureMarkers;
class QWebEngineView;

// What the caller of a written capture must be told besides.
struct CaptureOutcome
{
    // Most of the page is a frame of another site, which its scripts cannot
    // lay out whole: it was captured as shown, and the report may be cut.
    bool foreignFrame = false;
};

// Whole-page capture of the browser view into a JPEG file (quality 30).
class PageCapture
{
public:
    explicit PageCapture(QWebEngineView *view);

    // The page's full content size: the larger of the root element's and the
    // body's scroll sizes. Throws AppError when the page has no document or body.
    QSize contentSize();

    // Holds the page's layout (an inner scroller or same-site frame laid out
    // whole), measures the page, enlarges the view to the content (and the
    // marker strip) in one resize, has CapturaPagina copy it 1:1 into fileName
    // while the view stays shown (a hidden view draws no frames), then gives
    // the view and the layout back. Throws AppError "Não foi possível capturar
    // a página: <motivo>" when no file was written.
    CaptureOutcome captureTo(const QString &fileName);

private:
    // Widget pixels that make whole page pixels on the view's screen: `step`
    // widget pixels are `unit` page pixels.
    struct Scale
    {
        int step = 1;
        int unit = 1;
        int widgetPixels(int pagePixels) const { return (pagePixels + unit - 1) / unit * step; }
    };

    CaptureOutcome holdLayout();
    void releaseLayout();
    Scale prepareScale();
    void restoreView(bool written);
    void draw(const QString &fileName, const Scale &scale);
    QSize growTo(QSize content, const Scale &scale);
    void releaseMemoryLater();

    QPointer<QWebEngineView> m_view;
    QPointer<CaptureMarkers> m_markers;
    int m_serial = 0;
    QSize m_oldSize;
    qreal m_oldZoom = 1;
};

// Copies the view's top-left `page` rectangle, once the engine has drawn it to
// the page's end, and writes it with the page's text as a baseline colour JPEG
// at quality 30, atomically. The view must be shown and be that size plus
// CaptureMarkers::Strip rows; markers armed for that size before the view took
// it are used, else it sets its own (a frame later). Throws AppError "Não foi
// possível capturar a página: <motivo>" when no file was written; an earlier
// file at that path is then left as it was.
void CapturaPagina(QWebEngineView *browser, const QString &fileName, QSize page);
