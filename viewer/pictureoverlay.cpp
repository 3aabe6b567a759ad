#include "pictureoverlay.h"

#include <QPainter>
#include <QPen>

void PictureOverlay::clear()
{
    m_marks.clear();
    m_findMarks.clear();
    m_selection = QRect();
}

void PictureOverlay::startSelection(QPoint at)
{
    m_selectionStart = at;
    m_selection = QRect();
}

void PictureOverlay::extendSelection(QPoint to)
{
    m_selection = QRect(m_selectionStart, to).normalized();
}

void PictureOverlay::paint(QPainter &painter, const QRect &exposed,
                           const std::function<QRectF(const QRect &)> &onScreen) const
{
    for (const QList<PictureMark> *marks : {&m_marks, &m_findMarks}) {
        for (const PictureMark &mark : *marks) {
            if (const QRectF area = onScreen(mark.area); area.intersects(exposed)) {
                painter.fillRect(area, mark.colour);
                painter.setPen(QPen(QColor(mark.colour.rgb()), 2));
                painter.drawRect(area);
            }
        }
    }
    if (!m_selection.isEmpty())
        painter.fillRect(onScreen(m_selection), QColor(40, 110, 230, 70));
}

const PictureMark *PictureOverlay::tipAt(QPoint at) const
{
    for (const PictureMark &mark : m_marks) {
        if (!mark.tip.isEmpty() && mark.area.contains(at))
            return &mark;
    }
    return nullptr;
}
