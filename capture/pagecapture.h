#pragma once

#include "capturemarkers.h"

#include <QSize>
#include <QString>

class QWebEngineView;

// Whole-page capture of the browser view into a JPEG file (quality 30).
class PageCapture
{
public:
    // Rows the view has below the page while it is captured: they hold the
    // markers that prove a frame new and drawn to the end, outside the picture.
    static constexpr int MarkerStrip = CaptureMarkers::Strip;

    explicit PageCapture(QWebEngineView *view);

    // The page's full content size: the larger of the root element's and the
    // body's scroll sizes. Throws AppError when the page has no document or body.
    QSize contentSize();

    // Measures the page, enlarges the view to the content (and the marker
    // strip) in one resize, has CapturaPagina copy it 1:1 into fileName while
    // the view stays shown (a hidden view draws no frames), then gives the view
    // its size back. Throws AppError "Não foi possível capturar a página:
    // <motivo>" when no file was written.
    void captureTo(const QString &fileName);

private:
    QWebEngineView *m_view;
};

// Copies the view's top-left source rectangle, once the engine has drawn it to
// the page's end, into an image of the target size and writes that as a
// baseline colour JPEG at quality 30, atomically. The view must be shown and
// be the source size plus PageCapture::MarkerStrip rows; markers armed for that
// size before the view took it are used, else it sets its own (a frame later).
// Throws AppError "Não foi possível capturar a página: <motivo>" when no file
// was written; an earlier file at that path is then left as it was.
void CapturaPagina(QWebEngineView *browser, const QString &fileName, int sourceHeight, int sourceWidth,
                   int targetHeight, int targetWidth);
