#include "settings/IniFile.h"

#include "text/GbkCodec.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

QString fromGbk(const QByteArray& bytes)
{
    return gbk::toQString(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QByteArray toGbk(const QString& text)
{
    const std::string bytes = gbk::fromQString(text);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAt(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done), done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return ::ftruncate(fd, bytes.size()) == 0;
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

IniFile::Line IniFile::parse(const QByteArray& text, int header)
{
    Line line;
    line.text = text;
    line.header = header;
    const QString s = fromGbk(text).trimmed();
    if (s.isEmpty() || s.startsWith(u';') || s.startsWith(u'#'))
        return line;
    // "[Net]  ; proxy" is a header with a comment after it; whatever follows the bracket is
    // not part of the name.
    if (const qsizetype close = s.indexOf(u']'); s.startsWith(u'[') && close > 0) {
        line.kind = Kind::Header;
        line.name = s.mid(1, close - 1).trimmed();
        return line;
    }
    const qsizetype eq = s.indexOf(u'=');
    if (eq > 0 && header >= 0) {
        line.kind = Kind::Entry;
        line.name = s.left(eq).trimmed();
        line.value = s.mid(eq + 1).trimmed();
    }
    return line;
}

bool IniFile::load()
{
    m_lines.clear();
    m_original.clear();
    m_understood = true;
    QFile file(m_path);
    m_existed = file.exists();
    if (!m_existed)
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    m_original = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_error = file.errorString();
        return false;
    }
    int header = -1;
    m_byteOrderMark = m_original.startsWith(kByteOrderMark);
    qsizetype at = m_byteOrderMark ? kByteOrderMark.size() : 0;
    while (at < m_original.size()) {
        qsizetype nl = m_original.indexOf('\n', at);
        QByteArray text = m_original.mid(at, nl < 0 ? -1 : nl - at);
        QByteArray end = nl < 0 ? QByteArray() : QByteArrayLiteral("\n");
        if (nl >= 0 && text.endsWith('\r')) {
            text.chop(1);
            end = kCrLf;
        }
        Line line = parse(text, header);
        line.end = end;
        if (line.kind == Kind::Header)
            header = static_cast<int>(m_lines.size());
        m_lines.push_back(std::move(line));
        at = nl < 0 ? m_original.size() : nl + 1;
    }
    m_understood = looksLikeSettings();
    return true;
}

bool IniFile::looksLikeSettings() const
{
    // Tab, line ends and form feed occur in text files; any other control byte means binary.
    for (const char c : m_original) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f') || b == 0x7f)
            return false;
    }
    // Key lines or other text with no section header anywhere: not an INI file. A file of blanks
    // and comments is merely empty.
    bool text = false;
    for (const Line& l : m_lines) {
        if (l.kind == Kind::Header)
            return true;
        const QString s = fromGbk(l.text).trimmed();
        text = text || !(s.isEmpty() || s.startsWith(u';') || s.startsWith(u'#'));
    }
    return !text;
}

int IniFile::find(const QString& section, const QString& key) const
{
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line& l = m_lines[i];
        if (l.kind == Kind::Entry && l.name.compare(key, Qt::CaseInsensitive) == 0 &&
            m_lines[static_cast<size_t>(l.header)].name.compare(section, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

QString IniFile::value(const QString& section, const QString& key, const QString& fallback) const
{
    const int at = find(section, key);
    return at < 0 ? fallback : m_lines[static_cast<size_t>(at)].value;
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value)
{
    // A line break in a value would start a line of its own: a key the user never wrote.
    QString clean = value;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');

    if (const int at = find(section, key); at >= 0) {
        Line& l = m_lines[static_cast<size_t>(at)];
        l.text = toGbk(l.name + u'=' + clean);
        l.value = clean.trimmed();
        return;
    }
    Line entry;
    entry.kind = Kind::Entry;
    entry.name = key;
    entry.value = clean.trimmed();
    entry.text = toGbk(key + u'=' + clean);
    entry.end = kCrLf;

    // After the last key of the section's first block, or right after its header.
    int header = -1;
    for (size_t i = 0; i < m_lines.size() && header < 0; ++i)
        if (m_lines[i].kind == Kind::Header && m_lines[i].name.compare(section, Qt::CaseInsensitive) == 0)
            header = static_cast<int>(i);
    if (header < 0) {
        if (!m_lines.empty()) {
            if (m_lines.back().end.isEmpty())
                m_lines.back().end = kCrLf;
            if (!fromGbk(m_lines.back().text).trimmed().isEmpty()) {
                Line blank;
                blank.end = kCrLf;
                m_lines.push_back(std::move(blank));
            }
        }
        Line head;
        head.kind = Kind::Header;
        head.name = section;
        head.text = '[' + toGbk(section) + ']';
        head.end = kCrLf;
        m_lines.push_back(std::move(head));
        entry.header = static_cast<int>(m_lines.size()) - 1;
        m_lines.push_back(std::move(entry));
        return;
    }
    size_t after = static_cast<size_t>(header);
    for (size_t i = after + 1; i < m_lines.size() && m_lines[i].kind != Kind::Header; ++i)
        if (m_lines[i].kind == Kind::Entry)
            after = i;
    if (m_lines[after].end.isEmpty())
        m_lines[after].end = kCrLf;
    entry.header = header;
    const auto inserted =
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(after) + 1, std::move(entry));
    // Entries further down refer to their header by position.
    for (auto it = inserted + 1; it != m_lines.end(); ++it)
        if (it->header > static_cast<int>(after))
            ++it->header;
}

bool IniFile::save()
{
    if (!m_understood) {
        m_error = QStringLiteral("not a settings file; left as it is");
        return false;
    }
    QByteArray out = m_byteOrderMark ? kByteOrderMark : QByteArray();
    for (const Line& l : m_lines)
        out += l.text + l.end;
    return writeFile(out);
}

bool IniFile::writeFile(const QByteArray& bytes)
{
    const QByteArray path = QFile::encodeName(m_path);
    // No O_TRUNC: a file that can be opened for writing is only then replaced, and what it
    // held can be put back if the writing stops halfway (a full disk).
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || (m_ownerOnly && ::fchmod(fd, 0600) != 0)) {
        m_error = systemError();
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    if (!writeAt(fd, bytes)) {
        m_error = systemError();
        if (m_existed)
            writeAt(fd, m_original);
        else
            ::unlink(path.constData());
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        m_error = systemError();
        return false;
    }
    return true;
}
