#pragma once

#include "pictureoverlay.h"
#include "reportline.h"
#include "reportprinter.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

class FindBar;
class QAbstractScrollArea;
class QAction;
class QPrinter;

// The archive's image view: keeps its own copy of the picture it is given and,
// for a picture of positive size, takes that exact size (auto-size, no stretch)
// times the zoom. At 100 % it is a plain image view; scaled, it paints only
// the exposed part straight from the picture, never a scaled copy of it all.
// Its context menu and shortcuts save, copy and print the report and zoom it;
// with a text layer, they find and copy its text, and a selection dragged on
// the picture copies the lines it covers.
class PictureView : public QWidget
{
    Q_OBJECT

public:
    static constexpr qreal minimumZoom = 0.25;
    static constexpr qreal maximumZoom = 4.0;

    explicit PictureView(QWidget *parent = nullptr);

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
    FindBar *findBar() const { return m_findBar; }
    void setFindMarks(const QList<PictureMark> &marks);
    // The marks of a comparison, under the find marks.
    void setMarks(const QList<PictureMark> &marks);
    // Scrolls the box so that the area (picture pixels) is in view, near the top.
    void showArea(const QRect &area);
    // Whether "Comparar com a consulta anterior" is offered.
    void setComparable(bool comparable);

    qreal zoom() const { return m_zoom; }
    // Clamped to 25 %..400 %; it holds for every picture given afterwards.
    void setZoom(qreal factor);
    void zoomIn();
    void zoomOut();
    void fitWidth();

    // The menu's commands past their dialogs. Each reports its own failure
    // in an error box and then returns false; nothing half-written is left.
    bool saveReport(const QString &fileName);
    bool printReport(QPrinter &printer);
    void copyReport();
    void copyText();
    void find();

signals:
    void compareRequested();
    // A report's picture is on the view (a cleared view is not).
    void reportShown();

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QAction *addCommand(const QString &name, const QString &text, const QList<QKeySequence> &keys,
                        void (PictureView::*command)());
    QAbstractScrollArea *scrollArea() const;
    // Zooms keeping the picture point under `anchor` (viewport coordinates) in place.
    void zoomAround(qreal factor, const QPointF &anchor);
    QPointF viewportCentre() const;
    void takePictureSize();
    void updateCommands();
    void askSaveReport();
    void askPrintReport();
    void resetZoom() { setZoom(1.0); }
    void findNext();
    void findPrevious();
    QRectF onScreen(const QRect &area) const;
    QPoint pictureAt(const QPointF &position) const;

    QImage m_picture;
    QByteArray m_jpegBytes;
    ReportInfo m_info;
    qreal m_zoom = 1.0;
    int m_wheelDelta = 0;
    QString m_saveFolder;
    QPointer<QWidget> m_filteredViewport;
    ReportText m_text;
    PictureOverlay m_overlay;
    bool m_comparable = false;
    FindBar *m_findBar = nullptr;

    QAction *m_save = nullptr;
    QAction *m_copy = nullptr;
    QAction *m_print = nullptr;
    QAction *m_zoomIn = nullptr;
    QAction *m_zoomOut = nullptr;
    QAction *m_zoomReset = nullptr;
    QAction *m_fitWidth = nullptr;
    QAction *m_find = nullptr;
    QAction *m_findNext = nullptr;
    QAction *m_findPrevious = nullptr;
    QAction *m_copyText = nullptr;
    QAction *m_compare = nullptr;
};
