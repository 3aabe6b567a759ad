#pragma once

#include <QColor>
#include <QList>
#include <QRect>
#include <QString>

#include <functional>

class QPainter;

// A coloured area over the picture, in picture pixels, with a tool tip when tip is set.
struct PictureMark
{
    QRect area;
    QColor colour;
    QString tip;
};

// What is drawn over an archived report, in picture pixels: a comparison's
// marks, the find marks above them, and the area a mouse drag selects.
class PictureOverlay
{
public:
    void setMarks(const QList<PictureMark> &marks) { m_marks = marks; }
    void setFindMarks(const QList<PictureMark> &marks) { m_findMarks = marks; }
    void clear();

    void startSelection(QPoint at);
    void extendSelection(QPoint to);
    const QRect &selection() const { return m_selection; }

    // Paints what meets `exposed` (view pixels); onScreen places a picture area in the view.
    void paint(QPainter &painter, const QRect &exposed, const std::function<QRectF(const QRect &)> &onScreen) const;
    // The comparison's mark with a tip at that point; null where there is none.
    const PictureMark *tipAt(QPoint at) const;

private:
    QList<PictureMark> m_marks;
    QList<PictureMark> m_findMarks;
    QRect m_selection;
    QPoint m_selectionStart;
};
