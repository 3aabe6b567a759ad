#pragma once

#include <QWidget>

// A flat horizontal progress bar with the classic setter rules: values are
// clamped into [minimum, maximum], and a setter that changes nothing raises
// no notification and schedules no repaint.
class JvXPProgressBar : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int position READ position WRITE setPosition)

public:
    explicit JvXPProgressBar(QWidget *parent = nullptr);

    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    int position() const { return m_position; }

    void setMinimum(int value);
    void setMaximum(int value);
    void setPosition(int value);

    // Pixels filled for a given width: width * (position - min) / (max - min), rounded.
    int filledWidth(int width) const;

    QSize sizeHint() const override;

signals:
    void changed();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};
