#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QLineEdit;
class Table;

// Links a table to the window's data-bound edits: each edit shows the display
// text of its field for the current record, and empty text when there is none.
class DataSource : public QObject
{
    Q_OBJECT

public:
    DataSource(const QString &name, Table *dataSet, QObject *parent = nullptr);

    Table *dataSet() const { return m_dataSet; }
    void bind(QLineEdit *edit, const QString &fieldName);

private:
    void refresh();

    struct Link
    {
        QPointer<QLineEdit> edit;
        QString fieldName;
    };

    Table *m_dataSet;
    QList<Link> m_links;
};
