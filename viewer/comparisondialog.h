#pragma once

#include "reportcomparison.h"

#include <QDialog>

class PictureView;
class QListWidget;

// The newer report with its changes marked (new or changed lines in one
// colour, removed ones as a red mark whose tool tip holds their text), the list
// of changes beside it (a click scrolls there) and both queries' dates in its heading.
class ComparisonDialog : public QDialog
{
    Q_OBJECT

public:
    ComparisonDialog(const Comparison &comparison, QWidget *parent);

    PictureView *view() const { return m_view; }
    QListWidget *changeList() const { return m_list; }
    const QList<ReportChange> &changes() const { return m_changes; }

private:
    void showChange(int row);

    PictureView *m_view;
    QListWidget *m_list;
    QList<ReportChange> m_changes;
};
