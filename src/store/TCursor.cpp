#include "store/TCursor.h"

TCursor::TCursor(const QString& name, QObject* parent) : QObject(parent), m_name(name)
{
    setObjectName(name);
}

void TCursor::Close()
{
    m_active = false;
    m_row = 0;
    m_pending.clear();
    m_editing = false;
    notifyReset();
}

void TCursor::First()
{
    m_row = 0;
    m_bof = true;
    m_eof = rowCount() == 0;
    notifyCurrent();
}

void TCursor::Next()
{
    if (!m_active)
        return;
    m_bof = false;
    if (m_row + 1 < rowCount()) {
        ++m_row;
        notifyCurrent();
    } else {
        m_eof = true;
    }
}

void TCursor::Prior()
{
    if (!m_active)
        return;
    m_eof = false;
    if (m_row > 0) {
        --m_row;
        notifyCurrent();
    } else {
        m_bof = true;
    }
}

void TCursor::Last()
{
    m_row = std::max(0, rowCount() - 1);
    m_eof = true;
    m_bof = rowCount() == 0;
    notifyCurrent();
}

bool TCursor::MoveTo(int recNo)
{
    if (!m_active || recNo < 1 || recNo > rowCount())
        return false;
    m_row = recNo - 1;
    m_bof = m_eof = false;
    notifyCurrent();
    return true;
}

std::optional<TCursor::Bookmark> TCursor::keyOfRow(int row) const
{
    return row;
}

std::optional<int> TCursor::rowOfKey(Bookmark key) const
{
    if (key < 0 || key >= rowCount())
        return std::nullopt;
    return static_cast<int>(key);
}

TCursor::Bookmark TCursor::GetBookmark() const
{
    return keyOfRow(m_row).value_or(-1);
}

bool TCursor::GotoBookmark(Bookmark bookmark)
{
    auto row = rowOfKey(bookmark);
    if (!m_active || !row)
        return false;
    return MoveTo(*row + 1);
}

int TCursor::FieldIndex(const QString& name) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

schema::ColumnType TCursor::columnType(int column) const
{
    return column >= 0 && column < m_columns.size() ? schema::columnType(m_columns[column])
                                                    : schema::ColumnType::Unknown;
}

TField TCursor::FieldByName(const QString& name) const
{
    const int column = FieldIndex(name);
    if (column < 0 || !m_active || rowCount() == 0)
        return TField(name, QVariant(), schema::ColumnType::Unknown);
    return TField(m_columns[column], value(m_row, column), columnType(column));
}

QString TCursor::DisplayText(int row, int column) const
{
    return TField(m_columns.value(column), value(row, column), columnType(column)).asString();
}

bool TCursor::deleteRow(int)
{
    m_error = QStringLiteral("%1 cannot delete rows.").arg(m_name);
    return false;
}

bool TCursor::updateRow(int, const QVariantHash&)
{
    m_error = QStringLiteral("%1 cannot change rows.").arg(m_name);
    return false;
}

bool TCursor::Delete()
{
    if (!m_active || rowCount() == 0) {
        m_error = QStringLiteral("There is no current row to delete.");
        return false;
    }
    if (!deleteRow(m_row))
        return false;
    if (m_row >= rowCount())
        m_row = std::max(0, rowCount() - 1);
    m_eof = rowCount() == 0;
    notifyReset();
    notifyCurrent();
    return true;
}

bool TCursor::Edit()
{
    if (!m_active || rowCount() == 0) {
        m_error = QStringLiteral("There is no current row to edit.");
        return false;
    }
    m_editing = true;
    m_pending.clear();
    return true;
}

void TCursor::SetFieldValue(const QString& name, const QVariant& value)
{
    m_pending.insert(name.toLower(), value);
}

bool TCursor::Post()
{
    if (!m_editing) {
        m_error = QStringLiteral("The cursor is not being edited.");
        return false;
    }
    const QVariantHash values = m_pending;
    m_pending.clear();
    m_editing = false;
    if (values.isEmpty())
        return true;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (FieldIndex(it.key()) < 0) {
            m_error = QStringLiteral("Unknown column %1.").arg(it.key());
            return false;
        }
    }
    if (!updateRow(m_row, values))
        return false;
    notifyReset();
    return true;
}

void TCursor::DisableControls()
{
    ++m_disabled;
}

void TCursor::EnableControls()
{
    if (m_disabled == 0 || --m_disabled > 0)
        return;
    if (m_resetPending) {
        m_resetPending = false;
        emit dataReset();
    }
    emit currentChanged(RecNo());
}

void TCursor::setColumns(const QStringList& columns)
{
    m_columns = columns;
}

void TCursor::setActive(bool active)
{
    m_active = active;
}

void TCursor::resetTo(int row)
{
    m_row = std::clamp(row, 0, std::max(0, rowCount() - 1));
    m_bof = true;
    m_eof = rowCount() == 0;
    m_pending.clear();
    m_editing = false;
    notifyReset();
    notifyCurrent();
}

void TCursor::notifyReset()
{
    if (m_disabled > 0)
        m_resetPending = true;
    else
        emit dataReset();
}

void TCursor::notifyCurrent()
{
    if (m_disabled == 0)
        emit currentChanged(RecNo());
}
