#include "findbar.h"

#include "textsearch.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {

const QColor MatchColour(255, 230, 0, 110);
const QColor CurrentColour(255, 120, 0, 150);

QToolButton *button(const QString &text, const QString &tip, QWidget *parent)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    return b;
}

} // namespace

FindBar::FindBar(QWidget *parent)
    : QWidget(parent)
    , m_edit(new QLineEdit(this))
    , m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("BarraLocalizar"));
    setAutoFillBackground(true);
    m_edit->setObjectName(QStringLiteral("TextoLocalizar"));
    m_edit->setPlaceholderText(QStringLiteral("Localizar no relatório"));
    m_edit->setClearButtonEnabled(true);
    m_status->setObjectName(QStringLiteral("ResultadoLocalizar"));
    auto *previous = button(QStringLiteral("▲"), QStringLiteral("Anterior (Shift+F3)"), this);
    auto *next = button(QStringLiteral("▼"), QStringLiteral("Próximo (F3)"), this);
    auto *close = button(QStringLiteral("✕"), QStringLiteral("Fechar (Esc)"), this);
    auto *layout = new QHBoxLayout(this);
    // The bar takes the size its contents ask for, the count's text included, at any font.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(m_edit);
    layout->addWidget(m_status);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(close);
    m_edit->setMinimumWidth(220);
    connect(m_edit, &QLineEdit::textChanged, this, &FindBar::search);
    connect(m_edit, &QLineEdit::returnPressed, this, &FindBar::findNext);
    connect(previous, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(next, &QToolButton::clicked, this, &FindBar::findNext);
    connect(close, &QToolButton::clicked, this, &FindBar::close);
    m_edit->installEventFilter(this);
    parent->installEventFilter(this);
    installEventFilter(this);
    hide();
}

void FindBar::open()
{
    place();
    show();
    raise();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

void FindBar::setText(const ReportText &lines)
{
    m_lines = lines;
    m_folded.clear();
    m_folded.reserve(lines.size());
    for (const ReportLine &line : lines)
        m_folded.append(TextSearch::folded(line.text));
    search();
}

QString FindBar::status() const
{
    return m_status->text();
}

void FindBar::search()
{
    m_matches = TextSearch::matchingLines(m_folded, m_edit->text());
    m_current = m_matches.isEmpty() ? -1 : 0;
    showMatches();
}

void FindBar::step(int delta)
{
    if (m_matches.isEmpty())
        return;
    m_current = int((m_current + delta + m_matches.size()) % m_matches.size());
    showMatches();
}

void FindBar::showMatches()
{
    const bool searching = !m_edit->text().trimmed().isEmpty();
    if (!searching)
        m_status->clear();
    else if (m_lines.isEmpty())
        m_status->setText(QStringLiteral("não encontrado (este relatório não tem texto)"));
    else if (m_matches.isEmpty())
        m_status->setText(QStringLiteral("não encontrado"));
    else
        m_status->setText(QStringLiteral("%1 de %2").arg(m_current + 1).arg(m_matches.size()));
    QList<PictureMark> marks;
    for (int i = 0; i < m_matches.size(); ++i) {
        const ReportLine &line = m_lines.at(m_matches.at(i));
        marks.append({QRect(line.left - 2, line.top - 1, line.width + 4, line.height + 2),
                      i == m_current ? CurrentColour : MatchColour, QString()});
    }
    emit marksChanged(marks);
    if (m_current >= 0)
        emit areaToShow(marks.at(m_current).area);
}

// At the top right of the parent, also when the count's text makes the bar wider.
void FindBar::place()
{
    move(parentWidget()->width() - width() - 24, 2);
}

void FindBar::close()
{
    hide();
    m_edit->clear();
    emit closed();
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == parentWidget() || watched == this) && event->type() == QEvent::Resize && isVisible())
        place();
    if (watched == m_edit && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
