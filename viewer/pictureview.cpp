#include "pictureview.h"

#include "textlayer.h"

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QScopeGuard>
#include <QToolTip>

#include <algorithm>
#include <array>

namespace {

// The steps of Ctrl + wheel and Ctrl + "+" / "-"; from between two steps (after
// "fit width") a step goes to the nearer one in its direction.
constexpr std::array<qreal, 11> zoomSteps{0.25, 0.33, 0.5, 0.67, 0.75, 1.0, 1.25, 1.5, 2.0, 3.0, 4.0};
static_assert(zoomSteps.front() == PictureView::minimumZoom && zoomSteps.back() == PictureView::maximumZoom);
constexpr int wheelNotch = 120;

qreal stepUp(qreal zoom)
{
    const auto next = std::find_if(zoomSteps.begin(), zoomSteps.end(), [zoom](qreal step) { return step > zoom; });
    return next == zoomSteps.end() ? zoomSteps.back() : *next;
}

qreal stepDown(qreal zoom)
{
    const auto next = std::find_if(zoomSteps.rbegin(), zoomSteps.rend(), [zoom](qreal step) { return step < zoom; });
    return next == zoomSteps.rend() ? zoomSteps.front() : *next;
}

} // namespace

PictureView::PictureView(QWidget *parent) : QWidget(parent) { }

void PictureView::setScrollArea(QAbstractScrollArea *area)
{
    if (m_scrollArea)
        m_scrollArea->viewport()->removeEventFilter(this);
    m_scrollArea = area;
    // Ctrl + wheel zooms anywhere in the scroll box, margins included.
    if (m_scrollArea)
        m_scrollArea->viewport()->installEventFilter(this);
}

void PictureView::setPicture(const QImage &picture)
{
    setReport(picture, QByteArray(), ReportInfo());
}

void PictureView::setReport(const QImage &picture, const QByteArray &jpegBytes, const ReportInfo &info)
{
    m_picture = picture;
    m_jpegBytes = jpegBytes;
    m_info = info;
    m_text = Jpeg::textLayer(jpegBytes);
    m_overlay.clear();
    takePictureSize();
    update();
    emit reportChanged();
    if (!m_picture.isNull())
        emit reportShown();
}

void PictureView::takePictureSize()
{
    if (m_picture.isNull() || m_picture.width() <= 0 || m_picture.height() <= 0)
        return;
    if (m_zoom == 1.0)
        resize(m_picture.size());
    else
        resize(qMax(1, qRound(m_picture.width() * m_zoom)), qMax(1, qRound(m_picture.height() * m_zoom)));
    // The scroll box's range follows the view: its contents end where the view ends.
    if (QWidget *contents = parentWidget())
        contents->resize(geometry().right() + 1, geometry().bottom() + 1);
}

QPointF PictureView::viewportCentre() const
{
    const QAbstractScrollArea *area = m_scrollArea;
    return area ? QRectF(area->viewport()->rect()).center() : QPointF();
}

void PictureView::setZoom(qreal factor)
{
    zoomAround(factor, viewportCentre());
}

void PictureView::zoomIn()
{
    setZoom(stepUp(m_zoom));
}

void PictureView::zoomOut()
{
    setZoom(stepDown(m_zoom));
}

void PictureView::fitWidth()
{
    const QAbstractScrollArea *area = m_scrollArea;
    if (!area || m_picture.isNull())
        return;
    // The same margin on the right as the view's place leaves on the left.
    const QSize room = area->maximumViewportSize();
    const int margin = 2 * x();
    qreal factor = qreal(room.width() - margin) / m_picture.width();
    if (y() + m_picture.height() * factor > room.height()) {
        const int bar = area->verticalScrollBar()->sizeHint().width();
        factor = qreal(room.width() - bar - margin) / m_picture.width();
    }
    setZoom(factor);
}

void PictureView::zoomAround(qreal factor, const QPointF &anchor)
{
    factor = std::clamp(factor, minimumZoom, maximumZoom);
    if (factor == m_zoom)
        return;
    QAbstractScrollArea *area = m_scrollArea;
    const bool follow = area && !m_picture.isNull();
    QPointF picturePoint;
    if (follow)
        picturePoint = (anchor - QPointF(parentWidget()->pos() + pos())) / m_zoom;

    m_zoom = factor;
    takePictureSize();
    update();
    emit zoomChanged(m_zoom);

    if (follow) {
        const QPointF scroll = QPointF(pos()) + picturePoint * m_zoom - anchor;
        area->horizontalScrollBar()->setValue(qRound(scroll.x()));
        area->verticalScrollBar()->setValue(qRound(scroll.y()));
    }
}

void PictureView::paintEvent(QPaintEvent *event)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    const QRect exposed = event->rect();
    const auto paintOverlay
        = qScopeGuard([&] { m_overlay.paint(painter, exposed, [this](const QRect &area) { return onScreen(area); }); });
    // The picture is in the page's own pixels; a scaled screen enlarges it smoothly, as it does the page.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (size() == m_picture.size()) {
        painter.drawImage(exposed, m_picture, exposed);
        return;
    }
    // Only the exposed part is scaled, read straight from the picture.
    const qreal sx = qreal(width()) / m_picture.width();
    const qreal sy = qreal(height()) / m_picture.height();
    const QRectF source(exposed.x() / sx, exposed.y() / sy, exposed.width() / sx, exposed.height() / sy);
    painter.drawImage(QRectF(exposed), m_picture, source);
}

QRectF PictureView::onScreen(const QRect &area) const
{
    const qreal sx = qreal(width()) / m_picture.width();
    const qreal sy = qreal(height()) / m_picture.height();
    return QRectF(area.x() * sx, area.y() * sy, area.width() * sx, area.height() * sy);
}

QPoint PictureView::pictureAt(const QPointF &position) const
{
    return QPoint(int(position.x() * m_picture.width() / qMax(1, width())),
                  int(position.y() * m_picture.height() / qMax(1, height())));
}

bool PictureView::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_scrollArea || watched != m_scrollArea->viewport() || event->type() != QEvent::Wheel)
        return QWidget::eventFilter(watched, event);
    auto *wheel = static_cast<QWheelEvent *>(event);
    if (!(wheel->modifiers() & Qt::ControlModifier) || m_picture.isNull())
        return false;
    // Touchpads send fractions of a notch; each whole notch is one step.
    m_wheelDelta += wheel->angleDelta().y();
    qreal factor = m_zoom;
    for (; m_wheelDelta >= wheelNotch; m_wheelDelta -= wheelNotch)
        factor = stepUp(factor);
    for (; m_wheelDelta <= -wheelNotch; m_wheelDelta += wheelNotch)
        factor = stepDown(factor);
    zoomAround(factor, wheel->position());
    return true;
}

void PictureView::setFindMarks(const QList<PictureMark> &marks)
{
    m_overlay.setFindMarks(marks);
    update();
}

void PictureView::setMarks(const QList<PictureMark> &marks)
{
    m_overlay.setMarks(marks);
    update();
}

void PictureView::showArea(const QRect &area)
{
    QAbstractScrollArea *box = m_scrollArea;
    if (!box || m_picture.isNull())
        return;
    const QRectF shown = onScreen(area).translated(pos() + parentWidget()->pos());
    const QRect viewport = box->viewport()->rect();
    // Left alone when already in view; otherwise brought to a third of the box's height.
    if (!viewport.contains(shown.toAlignedRect())) {
        QScrollBar *vertical = box->verticalScrollBar();
        vertical->setValue(vertical->value() + qRound(shown.top() - viewport.height() / 3.0));
        if (shown.left() < 0 || shown.right() > viewport.width()) {
            QScrollBar *horizontal = box->horizontalScrollBar();
            horizontal->setValue(horizontal->value() + qRound(shown.left()) - 20);
        }
    }
}

QString PictureView::textIn(const QRect &area) const
{
    QStringList rows;
    for (const ReportLine &line : m_text) {
        if (QRect(line.left, line.top, qMax(1, line.width), qMax(1, line.height)).intersects(area))
            rows.append(line.text);
    }
    return rows.join(QLatin1Char('\n'));
}

void PictureView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_picture.isNull())
        return QWidget::mousePressEvent(event);
    m_overlay.startSelection(pictureAt(event->position()));
    update();
}

void PictureView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_picture.isNull())
        return QWidget::mouseMoveEvent(event);
    m_overlay.extendSelection(pictureAt(event->position()));
    update();
}

void PictureView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_overlay.selection().isEmpty())
        return QWidget::mouseReleaseEvent(event);
    if (const QString text = textIn(m_overlay.selection()); !text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool PictureView::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto *help = static_cast<QHelpEvent *>(event);
    if (const PictureMark *mark = m_overlay.tipAt(pictureAt(help->pos()))) {
        QToolTip::showText(help->globalPos(), mark->tip, this, onScreen(mark->area).toAlignedRect());
        return true;
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}
