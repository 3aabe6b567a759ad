#pragma once

#include "reportline.h"

#include <QStringList>
#include <QWidget>

class PictureView;
class QLabel;
class QLineEdit;

// The find bar over the archive's picture: searches the shown report's text
// while the user types, marks every line that holds it on the picture and
// steps through them (F3 / Shift+F3 on the view), scrolling to each.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    explicit FindBar(PictureView *view, QWidget *parent);

    // Shown at the top right of its parent, the search text selected for typing.
    void open();
    // The text of the report now shown; a search under way is run on it again.
    void setText(const ReportText &lines);
    void findNext() { step(1); }
    void findPrevious() { step(-1); }
    QString status() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search();
    void step(int delta);
    void showMatches();
    void place();
    void close();

    PictureView *m_view;
    QLineEdit *m_edit;
    QLabel *m_status;
    ReportText m_lines;
    QStringList m_folded;
    QList<int> m_matches;
    int m_current = -1;
};
