#pragma once

#include <QImage>
#include <QWidget>

// The archive's image view: keeps its own copy of the picture it is given and,
// for a picture of positive size, takes that exact size (auto-size, no stretch).
class PictureView : public QWidget
{
    Q_OBJECT

public:
    explicit PictureView(QWidget *parent = nullptr);

    void setPicture(const QImage &picture);
    const QImage &picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
};
