#pragma once

#include "pictureoverlay.h"
#include "reportline.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;

// The find bar over the archive's picture: searches the shown report's text
// while the user types and steps through the lines that hold it (F3 /
// Shift+F3), telling what to mark on the picture and where to scroll.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    explicit FindBar(QWidget *parent);

    // Shown at the top right of its parent, the search text selected for typing.
    void open();
    // The text of the report now shown; a search under way is run on it again.
    void setText(const ReportText &lines);
    void findNext() { step(1); }
    void findPrevious() { step(-1); }
    QString status() const;

signals:
    // Every matching line, the current one in its own colour.
    void marksChanged(const QList<PictureMark> &marks);
    // The current match, to be brought into view.
    void areaToShow(const QRect &area);
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search();
    void step(int delta);
    void showMatches();
    void place();
    void close();

    QLineEdit *m_edit;
    QLabel *m_status;
    ReportText m_lines;
    QStringList m_folded;
    QList<int> m_matches;
    int m_current = -1;
};
