#pragma once

#include "pictureoverlay.h"
#include "reportline.h"
#include "reportprinter.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

class QAbstractScrollArea;

// The archive's image view: keeps its own copy of the picture it is given and,
// for a picture of positive size, takes that exact size (auto-size, no stretch)
// times the zoom. At 100 % it is a plain image view; scaled, it paints only
// the exposed part straight from the picture, never a scaled copy of it all.
// Marks are painted over it, a selection dragged on the picture copies the
// text lines it covers, and Ctrl + wheel zooms. Its commands are ReportCommands'.
class PictureView : public QWidget
{
    Q_OBJECT

public:
    static constexpr qreal minimumZoom = 0.25;
    static constexpr qreal maximumZoom = 4.0;

    explicit PictureView(QWidget *parent = nullptr);

    // The scroll box the view lies in (on a contents widget of its own):
    // zoom, fit and showArea() scroll it, and Ctrl + wheel zooms anywhere in it.
    void setScrollArea(QAbstractScrollArea *area);

    // A picture without stored bytes or header: nothing to save.
    void setPicture(const QImage &picture);
    // The picture decoded from jpegBytes, the report as the archive holds it.
    void setReport(const QImage &picture, const QByteArray &jpegBytes, const ReportInfo &info);

    const QImage &picture() const { return m_picture; }
    const QByteArray &jpegBytes() const { return m_jpegBytes; }
    const ReportInfo &reportInfo() const { return m_info; }

    // The report's text as its stored bytes carry it; none without a text layer.
    const ReportText &text() const { return m_text; }
    // The lines any part of the area (picture pixels) covers, one a row, top to bottom.
    QString textIn(const QRect &area) const;
    void setFindMarks(const QList<PictureMark> &marks);
    // The marks of a comparison, under the find marks.
    void setMarks(const QList<PictureMark> &marks);
    // Scrolls the box so that the area (picture pixels) is in view, near the top.
    void showArea(const QRect &area);
    qreal zoom() const { return m_zoom; }
    // Clamped to 25 %..400 %; it holds for every picture given afterwards.
    void setZoom(qreal factor);
    void zoomIn();
    void zoomOut();
    void fitWidth();
    void resetZoom() { setZoom(1.0); }

signals:
    void reportChanged();
    void zoomChanged(qreal zoom);
    // A report's picture is on the view (a cleared view is not).
    void reportShown();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Zooms keeping the picture point under `anchor` (viewport coordinates) in place.
    void zoomAround(qreal factor, const QPointF &anchor);
    QPointF viewportCentre() const;
    void takePictureSize();
    QRectF onScreen(const QRect &area) const;
    QPoint pictureAt(const QPointF &position) const;

    QImage m_picture;
    QByteArray m_jpegBytes;
    ReportInfo m_info;
    qreal m_zoom = 1.0;
    int m_wheelDelta = 0;
    QPointer<QAbstractScrollArea> m_scrollArea;
    ReportText m_text;
    PictureOverlay m_overlay;
};
