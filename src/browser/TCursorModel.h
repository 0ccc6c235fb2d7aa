#pragma once

#include <QAbstractTableModel>
#include <QStringList>

class TTable;

// A table model over a cursor: one column per field, rows read from the cursor when a view
// asks for them, so a grid over a hundred thousand rows holds no row of its own. Titles carry
// the sort arrow of the column the cursor is sorted by. UI thread.
class TCursorModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Column
    {
        QString field;
        QString title;
    };

    TCursorModel(TTable* cursor, QList<Column> columns, QObject* parent = nullptr);

    TTable* cursor() const { return m_cursor; }
    QString field(int column) const { return m_columns.value(column).field; }
    int columnOf(const QString& field) const;
    // The title as shown, with its arrow when the column is sorted.
    QString title(int column) const { return m_titles.value(column); }
    // The column whose title carries an arrow, or -1.
    int sortedColumn() const { return m_sorted; }

    // A click on a column title: descending first, then ascending, alternately; another
    // column starts again with descending. False (titles unchanged) when the cursor refuses
    // the sort; the cursor's lastError() tells why.
    bool sortByColumn(int column);

    // Writes values to the current row without resetting the views (edits of the memos).
    bool postCurrent(const QVariantHash& values);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

protected:
    // The text shown in a cell; subclasses may show a column their own way.
    virtual QString displayText(int row, int column) const;
    int cursorColumn(int column) const { return m_cursorColumns.value(column, -1); }

private:
    void cursorReset();

    TTable* m_cursor;
    QList<Column> m_columns;
    QList<int> m_cursorColumns;
    QStringList m_titles;
    int m_sorted = -1;
    int m_rows = 0;
    bool m_quiet = false;
};
