#include "reportcommands.h"

#include "apperror.h"
#include "findbar.h"
#include "messagebox.h"
#include "pictureview.h"
#include "reportpdf.h"
#include "reportprinter.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QStandardPaths>

ReportCommands::ReportCommands(PictureView *view, QWidget *findBarParent)
    : QObject(view)
    , m_view(view)
    , m_findBarParent(findBarParent)
    , m_save(addCommand(QStringLiteral("SalvarImagem"), QStringLiteral("Salvar imagem como…"),
                        {QKeySequence(Qt::CTRL | Qt::Key_S)}))
    , m_savePdf(addCommand(QStringLiteral("SalvarPdf"), QStringLiteral("Salvar como PDF…"),
                           {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}))
    , m_copy(addCommand(QStringLiteral("CopiarImagem"), QStringLiteral("Copiar imagem"),
                        {QKeySequence(Qt::CTRL | Qt::Key_C)}))
    , m_print(addCommand(QStringLiteral("Imprimir"), QStringLiteral("Imprimir…"), {QKeySequence(Qt::CTRL | Qt::Key_P)}))
    , m_zoomIn(addCommand(QStringLiteral("AumentarZoom"), QStringLiteral("Aumentar zoom"),
                          {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)}))
    , m_zoomOut(addCommand(QStringLiteral("DiminuirZoom"), QStringLiteral("Diminuir zoom"),
                           {QKeySequence(Qt::CTRL | Qt::Key_Minus)}))
    , m_zoomReset(addCommand(QStringLiteral("TamanhoOriginal"), QStringLiteral("Tamanho original (100 %)"),
                             {QKeySequence(Qt::CTRL | Qt::Key_0)}))
    , m_fitWidth(addCommand(QStringLiteral("AjustarLargura"), QStringLiteral("Ajustar à largura"), {}))
    , m_find(addCommand(QStringLiteral("Localizar"), QStringLiteral("Localizar…"), {QKeySequence(Qt::CTRL | Qt::Key_F)}))
    , m_findNext(addCommand(QStringLiteral("LocalizarProximo"), QStringLiteral("Localizar próximo"),
                            {QKeySequence(Qt::Key_F3)}))
    , m_findPrevious(addCommand(QStringLiteral("LocalizarAnterior"), QStringLiteral("Localizar anterior"),
                                {QKeySequence(Qt::SHIFT | Qt::Key_F3)}))
    , m_copyText(addCommand(QStringLiteral("CopiarTexto"), QStringLiteral("Copiar texto"), {}))
    , m_compare(addCommand(QStringLiteral("CompararAnterior"), QStringLiteral("Comparar com a consulta anterior"), {}))
{
    connect(m_save, &QAction::triggered, this, &ReportCommands::askSaveReport);
    connect(m_savePdf, &QAction::triggered, this, &ReportCommands::askSavePdf);
    connect(m_copy, &QAction::triggered, this, &ReportCommands::copyReport);
    connect(m_print, &QAction::triggered, this, &ReportCommands::askPrintReport);
    connect(m_zoomIn, &QAction::triggered, m_view, &PictureView::zoomIn);
    connect(m_zoomOut, &QAction::triggered, m_view, &PictureView::zoomOut);
    connect(m_zoomReset, &QAction::triggered, m_view, &PictureView::resetZoom);
    connect(m_fitWidth, &QAction::triggered, m_view, &PictureView::fitWidth);
    connect(m_find, &QAction::triggered, this, &ReportCommands::find);
    connect(m_findNext, &QAction::triggered, this, [this] {
        if (m_findBar)
            m_findBar->findNext();
    });
    connect(m_findPrevious, &QAction::triggered, this, [this] {
        if (m_findBar)
            m_findBar->findPrevious();
    });
    connect(m_copyText, &QAction::triggered, this, &ReportCommands::copyText);
    connect(m_compare, &QAction::triggered, this, &ReportCommands::compareRequested);

    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &ReportCommands::showMenu);
    connect(m_view, &PictureView::reportChanged, this, [this] {
        if (m_findBar)
            m_findBar->setText(m_view->text());
        updateCommands();
    });
    connect(m_view, &PictureView::zoomChanged, this, &ReportCommands::updateCommands);
    updateCommands();
}

QAction *ReportCommands::addCommand(const QString &name, const QString &text, const QList<QKeySequence> &keys)
{
    auto *action = new QAction(text, this);
    action->setObjectName(name);
    action->setShortcuts(keys);
    // The window's shortcuts hold while the view is shown.
    action->setShortcutContext(Qt::WindowShortcut);
    m_view->addAction(action);
    return action;
}

void ReportCommands::updateCommands()
{
    const bool shown = !m_view->picture().isNull();
    m_save->setEnabled(shown && !m_view->jpegBytes().isEmpty());
    m_savePdf->setEnabled(m_save->isEnabled());
    m_copy->setEnabled(shown);
    m_print->setEnabled(shown);
    m_zoomIn->setEnabled(shown && m_view->zoom() < PictureView::maximumZoom);
    m_zoomOut->setEnabled(shown && m_view->zoom() > PictureView::minimumZoom);
    m_zoomReset->setEnabled(shown);
    m_fitWidth->setEnabled(shown);
    m_find->setEnabled(shown);
    m_findNext->setEnabled(shown);
    m_findPrevious->setEnabled(shown);
    m_copyText->setEnabled(shown && !m_view->text().isEmpty());
    m_compare->setEnabled(shown && m_comparable);
}

void ReportCommands::setComparable(bool comparable)
{
    m_comparable = comparable;
    updateCommands();
}

void ReportCommands::showMenu(const QPoint &position)
{
    QMenu menu(m_view);
    menu.addActions({m_save, m_savePdf, m_copy, m_print});
    menu.addSeparator();
    menu.addActions({m_copyText, m_find, m_compare});
    menu.addSeparator();
    menu.addActions({m_zoomIn, m_zoomOut, m_zoomReset, m_fitWidth});
    menu.exec(m_view->mapToGlobal(position));
}

QString ReportCommands::askFileName(const QString &title, const QString &suffix, const QString &filter)
{
    if (m_saveFolder.isEmpty())
        m_saveFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString fileName
        = QFileDialog::getSaveFileName(m_view->window(), title,
                                       QDir(m_saveFolder).filePath(m_view->reportInfo().suggestedFileName(suffix)),
                                       filter);
    if (!fileName.isEmpty())
        m_saveFolder = QFileInfo(fileName).absolutePath();
    return fileName;
}

void ReportCommands::askSaveReport()
{
    const QString fileName = askFileName(QStringLiteral("Salvar imagem como"), QStringLiteral("jpg"),
                                         QStringLiteral("Imagem JPEG (*.jpg *.jpeg)"));
    if (!fileName.isEmpty())
        saveReport(fileName);
}

void ReportCommands::askSavePdf()
{
    const QString fileName = askFileName(QStringLiteral("Salvar como PDF"), QStringLiteral("pdf"),
                                         QStringLiteral("Documento PDF (*.pdf)"));
    if (!fileName.isEmpty())
        savePdf(fileName);
}

bool ReportCommands::saveReport(const QString &fileName)
{
    // The stored bytes as they are: no decoding, no second compression.
    const QByteArray &bytes = m_view->jpegBytes();
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    MessageBox::error(QStringLiteral("Erro ao salvar imagem... \r\r") + QDir::toNativeSeparators(fileName)
                      + QStringLiteral(": ") + file.errorString());
    return false;
}

bool ReportCommands::savePdf(const QString &fileName)
{
    QString reason;
    try {
        ReportPdf::save(fileName, m_view->jpegBytes(), m_view->reportInfo());
        return true;
    } catch (const AppError &error) {
        reason = error.message();
    } catch (const std::bad_alloc &) {
        reason = QDir::toNativeSeparators(fileName) + QStringLiteral(": memória insuficiente");
    }
    MessageBox::error(QStringLiteral("Erro ao salvar PDF... \r\r") + reason);
    return false;
}

void ReportCommands::copyReport()
{
    auto *data = new QMimeData;
    data->setImageData(m_view->picture());
    if (!m_view->jpegBytes().isEmpty())
        data->setData(QStringLiteral("image/jpeg"), m_view->jpegBytes());
    QGuiApplication::clipboard()->setMimeData(data);
}

void ReportCommands::askPrintReport()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QFileInfo(m_view->reportInfo().suggestedFileName()).completeBaseName());
    QPrintDialog dialog(&printer, m_view->window());
    dialog.setWindowTitle(QStringLiteral("Imprimir consulta"));
    // The report goes out whole: every page in order.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() == QDialog::Accepted)
        printReport(printer);
}

bool ReportCommands::printReport(QPrinter &printer)
{
    QString reason;
    try {
        ReportPrinter::print(printer, m_view->picture(), m_view->reportInfo());
        return true;
    } catch (const AppError &error) {
        reason = error.message();
    } catch (const std::bad_alloc &) {
        reason = QStringLiteral("Memória insuficiente para a impressão");
    }
    MessageBox::error(QStringLiteral("Erro ao imprimir consulta... \r\r") + reason);
    return false;
}

void ReportCommands::copyText()
{
    QStringList rows;
    for (const ReportLine &line : m_view->text())
        rows.append(line.text);
    QGuiApplication::clipboard()->setText(rows.join(QLatin1Char('\n')));
}

void ReportCommands::find()
{
    if (!m_findBar) {
        m_findBar = new FindBar(m_findBarParent ? m_findBarParent.data() : m_view);
        connect(m_findBar, &FindBar::marksChanged, m_view, &PictureView::setFindMarks);
        connect(m_findBar, &FindBar::areaToShow, m_view, &PictureView::showArea);
        connect(m_findBar, &FindBar::closed, m_view, [this] { m_view->setFocus(Qt::OtherFocusReason); });
        m_findBar->setText(m_view->text());
    }
    m_findBar->open();
}
