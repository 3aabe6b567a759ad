#include "jvxpprogressbar.h"

#include <QPainter>

#include <cmath>

JvXPProgressBar::JvXPProgressBar(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void JvXPProgressBar::setMinimum(int value)
{
    if (value > m_max)
        value = m_max;
    if (value > m_position)
        m_position = value;
    if (value == m_min)
        return;
    m_min = value;
    emit changed();
    update();
}

void JvXPProgressBar::setMaximum(int value)
{
    if (value < m_min)
        value = m_min;
    if (value < m_position)
        m_position = value;
    if (value == m_max)
        return;
    m_max = value;
    emit changed();
    update();
}

void JvXPProgressBar::setPosition(int value)
{
    if (value > m_max)
        value = m_max;
    if (value < m_min)
        value = m_min;
    if (value == m_position)
        return;
    m_position = value;
    emit changed();
    update();
}

int JvXPProgressBar::filledWidth(int width) const
{
    if (m_max - m_min < 1 || width <= 0)
        return 0;
    return static_cast<int>(std::lround(double(width) * (m_position - m_min) / (m_max - m_min)));
}

QSize JvXPProgressBar::sizeHint() const
{
    return {150, 16};
}

void JvXPProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect frame = rect();
    painter.fillRect(frame, palette().color(QPalette::Base));
    const QRect inner = frame.adjusted(1, 1, -1, -1);
    if (inner.width() > 0 && inner.height() > 0) {
        const int filled = filledWidth(inner.width());
        if (filled > 0)
            painter.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), QColor(0x31, 0x6a, 0xc5));
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
}
