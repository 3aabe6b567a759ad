#include "pictureview.h"

#include "apperror.h"
#include "findbar.h"
#include "messagebox.h"
#include "textlayer.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QScrollBar>
#include <QStandardPaths>
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

PictureView::PictureView(QWidget *parent) : QWidget(parent)
{
    m_save = addCommand(QStringLiteral("SalvarImagem"), QStringLiteral("Salvar imagem como…"),
                        {QKeySequence(Qt::CTRL | Qt::Key_S)}, &PictureView::askSaveReport);
    m_copy = addCommand(QStringLiteral("CopiarImagem"), QStringLiteral("Copiar imagem"),
                        {QKeySequence(Qt::CTRL | Qt::Key_C)}, &PictureView::copyReport);
    m_print = addCommand(QStringLiteral("Imprimir"), QStringLiteral("Imprimir…"), {QKeySequence(Qt::CTRL | Qt::Key_P)},
                         &PictureView::askPrintReport);
    m_zoomIn = addCommand(QStringLiteral("AumentarZoom"), QStringLiteral("Aumentar zoom"),
                          {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                          &PictureView::zoomIn);
    m_zoomOut = addCommand(QStringLiteral("DiminuirZoom"), QStringLiteral("Diminuir zoom"),
                           {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, &PictureView::zoomOut);
    m_zoomReset = addCommand(QStringLiteral("TamanhoOriginal"), QStringLiteral("Tamanho original (100 %)"),
                             {QKeySequence(Qt::CTRL | Qt::Key_0)}, &PictureView::resetZoom);
    m_fitWidth
        = addCommand(QStringLiteral("AjustarLargura"), QStringLiteral("Ajustar à largura"), {}, &PictureView::fitWidth);
    m_find = addCommand(QStringLiteral("Localizar"), QStringLiteral("Localizar…"), {QKeySequence(Qt::CTRL | Qt::Key_F)},
                        &PictureView::find);
    m_findNext = addCommand(QStringLiteral("LocalizarProximo"), QStringLiteral("Localizar próximo"),
                            {QKeySequence(Qt::Key_F3)}, &PictureView::findNext);
    m_findPrevious = addCommand(QStringLiteral("LocalizarAnterior"), QStringLiteral("Localizar anterior"),
                                {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, &PictureView::findPrevious);
    m_copyText = addCommand(QStringLiteral("CopiarTexto"), QStringLiteral("Copiar texto"), {}, &PictureView::copyText);
    m_compare = addCommand(QStringLiteral("CompararAnterior"), QStringLiteral("Comparar com a consulta anterior"), {},
                           &PictureView::compareRequested);
    updateCommands();
}

QAction *PictureView::addCommand(const QString &name, const QString &text, const QList<QKeySequence> &keys,
                                 void (PictureView::*command)())
{
    auto *action = new QAction(text, this);
    action->setObjectName(name);
    action->setShortcuts(keys);
    // The window's shortcuts hold while the archive tab, and so this view, is shown.
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, command);
    addAction(action);
    return action;
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
    if (m_findBar)
        m_findBar->setText(m_text);
    takePictureSize();
    updateCommands();
    update();
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

void PictureView::updateCommands()
{
    const bool shown = !m_picture.isNull();
    m_save->setEnabled(shown && !m_jpegBytes.isEmpty());
    m_copy->setEnabled(shown);
    m_print->setEnabled(shown);
    m_zoomIn->setEnabled(shown && m_zoom < maximumZoom);
    m_zoomOut->setEnabled(shown && m_zoom > minimumZoom);
    m_zoomReset->setEnabled(shown);
    m_fitWidth->setEnabled(shown);
    m_find->setEnabled(shown);
    m_findNext->setEnabled(shown);
    m_findPrevious->setEnabled(shown);
    m_copyText->setEnabled(shown && !m_text.isEmpty());
    m_compare->setEnabled(shown && m_comparable);
}

QAbstractScrollArea *PictureView::scrollArea() const
{
    QWidget *contents = parentWidget();
    QWidget *viewport = contents ? contents->parentWidget() : nullptr;
    auto *area = viewport ? qobject_cast<QAbstractScrollArea *>(viewport->parentWidget()) : nullptr;
    return area && area->viewport() == viewport ? area : nullptr;
}

QPointF PictureView::viewportCentre() const
{
    const QAbstractScrollArea *area = scrollArea();
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
    const QAbstractScrollArea *area = scrollArea();
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
    QAbstractScrollArea *area = scrollArea();
    const bool follow = area && !m_picture.isNull();
    QPointF picturePoint;
    if (follow)
        picturePoint = (anchor - QPointF(parentWidget()->pos() + pos())) / m_zoom;

    m_zoom = factor;
    takePictureSize();
    updateCommands();
    update();

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

void PictureView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Ctrl + wheel zooms anywhere in the scroll box, margins included.
    if (QAbstractScrollArea *area = scrollArea(); area && m_filteredViewport != area->viewport()) {
        if (m_filteredViewport)
            m_filteredViewport->removeEventFilter(this);
        m_filteredViewport = area->viewport();
        m_filteredViewport->installEventFilter(this);
    }
}

bool PictureView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_filteredViewport || event->type() != QEvent::Wheel)
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

void PictureView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(m_save);
    menu.addAction(m_copy);
    menu.addAction(m_print);
    menu.addSeparator();
    menu.addAction(m_copyText);
    menu.addAction(m_find);
    menu.addAction(m_compare);
    menu.addSeparator();
    menu.addAction(m_zoomIn);
    menu.addAction(m_zoomOut);
    menu.addAction(m_zoomReset);
    menu.addAction(m_fitWidth);
    menu.exec(event->globalPos());
}

void PictureView::askSaveReport()
{
    if (m_saveFolder.isEmpty())
        m_saveFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString fileName = QFileDialog::getSaveFileName(window(), QStringLiteral("Salvar imagem como"),
                                                          QDir(m_saveFolder).filePath(m_info.suggestedFileName()),
                                                          QStringLiteral("Imagem JPEG (*.jpg *.jpeg)"));
    if (fileName.isEmpty())
        return;
    m_saveFolder = QFileInfo(fileName).absolutePath();
    saveReport(fileName);
}

bool PictureView::saveReport(const QString &fileName)
{
    // The stored bytes as they are: no decoding, no second compression.
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(m_jpegBytes) == m_jpegBytes.size() && file.commit())
        return true;
    MessageBox::error(QStringLiteral("Erro ao salvar imagem... \r\r") + QDir::toNativeSeparators(fileName)
                      + QStringLiteral(": ") + file.errorString());
    return false;
}

void PictureView::copyReport()
{
    auto *data = new QMimeData;
    data->setImageData(m_picture);
    if (!m_jpegBytes.isEmpty())
        data->setData(QStringLiteral("image/jpeg"), m_jpegBytes);
    QGuiApplication::clipboard()->setMimeData(data);
}

void PictureView::askPrintReport()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QFileInfo(m_info.suggestedFileName()).completeBaseName());
    QPrintDialog dialog(&printer, window());
    dialog.setWindowTitle(QStringLiteral("Imprimir consulta"));
    // The report goes out whole: every page in order.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() == QDialog::Accepted)
        printReport(printer);
}

bool PictureView::printReport(QPrinter &printer)
{
    QString reason;
    try {
        ReportPrinter::print(printer, m_picture, m_info);
        return true;
    } catch (const AppError &error) {
        reason = error.message();
    } catch (const std::bad_alloc &) {
        reason = QStringLiteral("Memória insuficiente para a impressão");
    }
    MessageBox::error(QStringLiteral("Erro ao imprimir consulta... \r\r") + reason);
    return false;
}

void PictureView::setComparable(bool comparable)
{
    m_comparable = comparable;
    updateCommands();
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
    QAbstractScrollArea *box = scrollArea();
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

void PictureView::copyText()
{
    QStringList rows;
    for (const ReportLine &line : m_text)
        rows.append(line.text);
    QGuiApplication::clipboard()->setText(rows.join(QLatin1Char('\n')));
}

void PictureView::find()
{
    if (!m_findBar) {
        QAbstractScrollArea *box = scrollArea();
        m_findBar = new FindBar(this, box ? static_cast<QWidget *>(box) : this);
        m_findBar->setText(m_text);
    }
    m_findBar->open();
}

void PictureView::findNext()
{
    if (m_findBar)
        m_findBar->findNext();
}

void PictureView::findPrevious()
{
    if (m_findBar)
        m_findBar->findPrevious();
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
