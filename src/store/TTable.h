#pragma once

#include "store/TCursor.h"

#include <QHash>
#include <QPointer>
#include <functional>
#include <optional>
#include <vector>

class TConnection;

// A cursor on a table or view with an id column. Opening reads only the ids, in order, so a
// million-row table opens fast; row values are read on demand, a block at a time. Filter
// and sort texts take effect at once. A detail cursor can follow a master cursor's current
// row through link fields. Used by the thread that owns its connection.
class TTable : public TCursor
{
    Q_OBJECT

public:
    TTable(TConnection* connection, const QString& name, const QString& source, const QStringList& columns,
           QObject* parent = nullptr);

    bool Open();
    void Close() override;
    // Reopens at the same position, showing later changes.
    bool Refresh();

    // A filter text of the accepted forms; with filtering on it narrows the rows at once.
    bool SetFilter(const QString& filter);
    const QString& Filter() const { return m_filter; }
    bool SetFiltered(bool on);
    bool Filtered() const { return m_filtered; }

    // A sort text ("col" or "col DESC "), kept exactly as given.
    bool SetSort(const QString& sort);
    const QString& Sort() const { return m_sort; }

    // Follows master: shows the rows whose fields (";"-separated, as "dian_id;itemId") equal
    // the master's current row. The rows reload whenever the master moves.
    void SetMaster(TCursor* master, const QString& fields);
    // Rows read elsewhere (on another thread), asked at every unfiltered reload: when it
    // answers, its ids, already in the cursor's order, are shown without a query.
    using KeySource = std::function<std::optional<std::vector<qlonglong>>()>;
    void SetKeySource(KeySource source) { m_keySource = std::move(source); }
    // Texts of these columns are shown cut to their first bytes in the page code page.
    void SetDisplayByteLimit(const QStringList& columns, int bytes);

    // The ids of the rows in their order, for work on another thread (exports).
    std::vector<qlonglong> Keys() const { return m_keys; }

    QVariant value(int row, int column) const override;
    QString DisplayText(int row, int column) const override;

protected:
    int rowCount() const override { return static_cast<int>(m_keys.size()); }
    std::optional<Bookmark> keyOfRow(int row) const override;
    std::optional<int> rowOfKey(Bookmark key) const override;
    bool deleteRow(int row) override;
    bool updateRow(int row, const QVariantHash& values) override;

private:
    bool load(std::optional<Bookmark> keep);
    bool show(std::vector<qlonglong> keys, std::optional<Bookmark> keep);
    void fetchBlock(int row) const;

    TConnection* m_connection;
    QString m_source;
    QString m_filter;
    bool m_filtered = false;
    QString m_sort;
    QPointer<TCursor> m_master;
    QStringList m_masterFields;
    KeySource m_keySource;
    QStringList m_limitedColumns;
    int m_byteLimit = 0;

    std::vector<qlonglong> m_keys;
    mutable QHash<qlonglong, QVariantList> m_cache;
};
