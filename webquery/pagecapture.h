#pragma once

#include <QSize>
#include <QString>

class QWebEngineView;

// Whole-page capture of the browser view into a JPEG file (quality 30).
class PageCapture
{
public:
    explicit PageCapture(QWebEngineView *view);

    // The page's full content size: the larger of the root element's and the
    // body's scroll sizes. Throws AppError when the page has no document or body.
    QSize contentSize();

    // Measures the page, enlarges the view to the content (height, then width),
    // captures it into fileName, then gives the view its size and visibility
    // back. Throws AppError with the reason when no file was written.
    void captureTo(const QString &fileName);

private:
    QWebEngineView *m_view;
};

// Draws the view at its current size (source) into a bitmap of the target size
// and writes it as a baseline colour JPEG at quality 30, atomically. Returns
// whether the file was written; on failure *failure (if given) holds the reason
// and any earlier file at that path is left as it was.
bool CapturaPagina(QWebEngineView *browser, const QString &fileName, int sourceHeight, int sourceWidth,
                   int targetHeight, int targetWidth, QString *failure = nullptr);
