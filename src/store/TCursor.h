#pragma once

#include "store/TField.h"

#include <QObject>
#include <QStringList>
#include <QVariant>
#include <optional>

// A static snapshot of rows with a current row, as the views and exports walk it. Row count,
// order and current row are fixed when it is opened; reopening shows later changes.
// Bound views listen to its signals; while controls are disabled (bulk loops) nothing is
// signalled, and one reset follows the last EnableControls. UI thread (or the one thread
// that owns its connection).
class TCursor : public QObject
{
    Q_OBJECT

public:
    using Bookmark = qlonglong; // the row's key, or its position where rows have no key

    explicit TCursor(const QString& name, QObject* parent = nullptr);

    bool Active() const { return m_active; }
    virtual void Close();

    int RecordCount() const { return m_active ? rowCount() : 0; }
    // 1-based number of the current row; 0 when there is no row.
    int RecNo() const { return m_active && rowCount() > 0 ? m_row + 1 : 0; }
    void First();
    void Next();
    void Prior();
    void Last();
    // Makes the row with 1-based number recNo current; false when out of range.
    bool MoveTo(int recNo);
    bool Eof() const { return !m_active || m_eof || rowCount() == 0; }
    bool Bof() const { return !m_active || m_bof || rowCount() == 0; }

    Bookmark GetBookmark() const;
    bool GotoBookmark(Bookmark bookmark);

    QStringList FieldNames() const { return m_columns; }
    int FieldIndex(const QString& name) const; // -1 when there is no such column
    // The column of the current row; a null field when there is no row or no column.
    TField FieldByName(const QString& name) const;
    // A value as shown in grids (some cursors shorten long texts for display).
    virtual QString DisplayText(int row, int column) const;

    // Random access for table models; row is 0-based.
    virtual QVariant value(int row, int column) const = 0;
    schema::ColumnType columnType(int column) const;

    // Deletes the current row from the database and the snapshot.
    virtual bool Delete();
    // Edit, set values, Post writes them to the current row; Cancel drops them.
    bool Edit();
    void SetFieldValue(const QString& name, const QVariant& value);
    virtual bool Post();
    void Cancel() { m_pending.clear(); }

    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disabled > 0; }

    const QString& Name() const { return m_name; }
    const QString& lastError() const { return m_error; }

signals:
    // The snapshot was (re)built, filtered, sorted or lost rows: views reload.
    void dataReset();
    // The current row moved (1-based number, 0 for none).
    void currentChanged(int recNo);

protected:
    virtual int rowCount() const = 0;
    virtual std::optional<Bookmark> keyOfRow(int row) const;
    virtual std::optional<int> rowOfKey(Bookmark key) const;
    virtual bool deleteRow(int row);
    virtual bool updateRow(int row, const QVariantHash& values);

    // For subclasses after (re)opening or changing rows.
    void setColumns(const QStringList& columns);
    void setActive(bool active);
    void resetTo(int row);
    void notifyReset();
    void notifyCurrent();
    void setError(const QString& error) { m_error = error; }

private:
    QString m_name;
    QStringList m_columns;
    bool m_active = false;
    int m_row = 0;
    bool m_eof = false;
    bool m_bof = false;
    int m_disabled = 0;
    bool m_resetPending = false;
    QVariantHash m_pending; // column name (lower-cased) -> value, between Edit and Post
    bool m_editing = false;
    QString m_error;
};
