#include "comparisondialog.h"

#include "pictureview.h"
#include "reportcommands.h"
#include "systemlocale.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

const QColor ChangedColour(255, 190, 0, 95);
const QColor RemovedColour(220, 0, 0, 210);

QString when(const QDate &date, const QTime &time)
{
    return archiveDateText(date) + QLatin1Char(' ') + archiveTimeText(time);
}

QString describe(const ReportChange &change)
{
    switch (change.kind) {
    case ReportChange::Added: return QStringLiteral("Nova: ") + change.text;
    case ReportChange::Changed: return QStringLiteral("Alterada: %1 (antes: %2)").arg(change.text, change.before);
    case ReportChange::Removed:
        return change.before.isEmpty()
                   ? QStringLiteral("Faixa removida da imagem, em %1 px").arg(change.area.center().y())
                   : QStringLiteral("Removida: ") + change.before;
    case ReportChange::Band:
        return QStringLiteral("Faixa diferente na imagem, de %1 a %2 px")
            .arg(change.area.top())
            .arg(change.area.bottom());
    }
    return {};
}

PictureMark markOf(const ReportChange &change)
{
    if (change.kind != ReportChange::Removed)
        return {change.area, ChangedColour,
                change.before.isEmpty() ? QString() : QStringLiteral("Antes: ") + change.before};
    return {change.area, RemovedColour,
            change.before.isEmpty() ? QStringLiteral("Aqui havia uma faixa na consulta anterior")
                                    : QStringLiteral("Removido: ") + change.before};
}

} // namespace

ComparisonDialog::ComparisonDialog(const Comparison &comparison, QWidget *parent)
    : QDialog(parent)
    , m_view(new PictureView)
    , m_list(new QListWidget)
    , m_changes(comparison.changes)
{
    setObjectName(QStringLiteral("ComparacaoConsultas"));
    setWindowTitle(QStringLiteral("Comparação com a consulta anterior"));
    auto *heading = new QLabel(QStringLiteral("Consulta de %1 comparada com a anterior, de %2: %3")
                                   .arg(when(comparison.newerDate, comparison.newerTime),
                                        when(comparison.olderDate, comparison.olderTime),
                                        m_changes.isEmpty()     ? QStringLiteral("nenhuma mudança")
                                        : m_changes.size() == 1 ? QStringLiteral("1 mudança")
                                                                : QStringLiteral("%1 mudanças").arg(m_changes.size())));
    heading->setObjectName(QStringLiteral("ComparacaoTitulo"));
    auto *note = new QLabel(QStringLiteral("Comparação pelas imagens: uma das consultas não tem texto, então são "
                                           "marcadas as faixas da imagem que mudaram."));
    note->setObjectName(QStringLiteral("ComparacaoPorImagem"));
    note->setWordWrap(true);
    note->setVisible(comparison.byPicture);

    auto *box = new QScrollArea;
    auto *contents = new QWidget;
    m_view->setParent(contents);
    m_view->setObjectName(QStringLiteral("ImagemComparada"));
    m_view->move(8, 8);
    box->setWidget(contents);
    m_view->setScrollArea(box);
    new ReportCommands(m_view, box);
    m_view->setReport(comparison.newer, comparison.newerBytes, ReportInfo());
    QList<PictureMark> marks;
    for (const ReportChange &change : m_changes) {
        marks.append(markOf(change));
        auto *item = new QListWidgetItem(describe(change), m_list);
        item->setToolTip(item->text());
    }
    m_view->setMarks(marks);
    m_list->setObjectName(QStringLiteral("ListaMudancas"));
    connect(m_list, &QListWidget::currentRowChanged, this, &ComparisonDialog::showChange);

    auto *split = new QSplitter;
    split->addWidget(box);
    split->addWidget(m_list);
    split->setSizes({760, 400});
    auto *buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(note);
    layout->addWidget(split, 1);
    layout->addWidget(buttons);
    resize(1180, 760);
}

void ComparisonDialog::showChange(int row)
{
    if (row >= 0 && row < m_changes.size())
        m_view->showArea(m_changes.at(row).area);
}
