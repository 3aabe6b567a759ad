#include "pictureview.h"

#include <QPainter>
#include <QPaintEvent>

PictureView::PictureView(QWidget *parent)
    : QWidget(parent)
{
}

void PictureView::setPicture(const QImage &picture)
{
    m_picture = picture;
    if (!m_picture.isNull() && m_picture.width() > 0 && m_picture.height() > 0) {
        resize(m_picture.size());
        // The scroll box's range follows the view: its contents end where the view ends.
        if (QWidget *contents = parentWidget())
            contents->resize(geometry().right() + 1, geometry().bottom() + 1);
    }
    update();
}

void PictureView::paintEvent(QPaintEvent *event)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(event->rect(), m_picture, event->rect());
}
