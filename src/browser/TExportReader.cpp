#include "browser/TExportReader.h"

using exportlayout::Kind;
using exportlayout::Record;

namespace {

// Where rows come from: the view for shops (as the shop cursor reads them), the table for
// ratings.
QString sourceOf(Kind kind)
{
    return kind == Kind::Shops ? QStringLiteral("dianBaseSort") : QStringLiteral("pjInfo");
}

} // namespace

TExportReader::~TExportReader()
{
    m_statement.finalize();
    if (m_connection.inTransaction())
        m_connection.rollback();
}

bool TExportReader::open(const TExportJob::Request& request, QString* error)
{
    if (!m_connection.open(request.databasePath) || !m_connection.tuneFor(TConnection::Use::OnePass)) {
        *error = m_connection.error();
        return false;
    }
    m_kind = request.kind;
    QStringList marks;
    for (int i = 0; i < kBatch; ++i)
        marks << QStringLiteral("?");
    // The id comes first, to put each row back in its place in the batch.
    const QString sql =
        QStringLiteral("SELECT id,%1 FROM %2 WHERE id IN (%3)")
            .arg(exportlayout::recordColumns(m_kind).join(u','), sourceOf(m_kind), marks.join(u','));
    // One snapshot for the whole export: the rows agree with each other, and the engine
    // takes its locks once instead of once per batch. A server gone by now fails here.
    if (!m_connection.beginReadSnapshot()) {
        *error = m_connection.error();
        return false;
    }
    if (!m_statement.prepare(m_connection, sql)) {
        *error = m_statement.error();
        return false;
    }
    m_columns = m_statement.columnCount() - 1;
    m_raw.resize(static_cast<size_t>(std::max(0, m_columns)));
    return true;
}

bool TExportReader::read(const std::vector<qlonglong>& ids, size_t from, const TExportWriter& writer,
                         std::vector<TExportPrepared>& out, QString* error)
{
    out.clear();
    const size_t count = std::min<size_t>(kBatch, ids.size() - from);
    // Unused places repeat the batch's last id, which the IN list reads once.
    QVariantList batch;
    batch.reserve(kBatch);
    for (size_t i = 0; i < static_cast<size_t>(kBatch); ++i)
        batch << ids[from + std::min(i, count - 1)];
    if (!m_statement.reset() || !m_statement.bindList(batch)) {
        *error = m_statement.error();
        return false;
    }
    m_found.clear();
    while (m_statement.step()) {
        TExportPrepared row;
        for (int c = 0; c < m_columns; ++c)
            m_raw[static_cast<size_t>(c)] = m_statement.raw(c + 1);
        if (!writer.prepareRaw(m_raw.data(), m_raw.size(), row)) {
            QVariantList values;
            values.reserve(m_columns);
            for (int c = 1; c <= m_columns; ++c)
                values << m_statement.column(c);
            writer.prepare(Record(m_kind, std::move(values)), row);
        }
        m_found.emplace(m_statement.column(0).toLongLong(), std::move(row));
    }
    if (!m_statement.error().isEmpty()) {
        *error = m_statement.error();
        return false;
    }
    out.reserve(count);
    for (size_t i = from; i < from + count; ++i) {
        auto it = m_found.find(ids[i]);
        // A row deleted meanwhile is skipped; an id given twice is written twice.
        if (it != m_found.end())
            out.push_back(it->second);
    }
    return true;
}
