#include "datasource.h"

#include "table.h"

#include <QLineEdit>

DataSource::DataSource(const QString &name, Table *dataSet, QObject *parent)
    : QObject(parent), m_dataSet(dataSet)
{
    setObjectName(name);
    connect(m_dataSet, &Table::dataChanged, this, &DataSource::refresh);
}

void DataSource::bind(QLineEdit *edit, const QString &fieldName)
{
    m_links.append({edit, fieldName});
    refresh();
}

void DataSource::refresh()
{
    for (const Link &link : std::as_const(m_links)) {
        if (link.edit)
            link.edit->setText(m_dataSet->displayText(link.fieldName));
    }
}
