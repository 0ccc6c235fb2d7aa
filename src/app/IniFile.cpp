#include "app/IniFile.h"

#include "extract/GbkCodec.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

bool IniFile::load()
{
    m_sections.clear();
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    QString current;
    bool haveSection = false;
    for (QByteArray raw : bytes.split('\n')) {
        QString line = gbk::toQString(std::string_view(raw.constData(), raw.size())).trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            m_sections.push_back({line.mid(1, line.size() - 2), {}});
            haveSection = true;
            continue;
        }
        int eq = line.indexOf(u'=');
        if (eq < 0 || !haveSection)
            continue;
        m_sections.back().entries.push_back({line.left(eq).trimmed(), line.mid(eq + 1)});
    }
    return true;
}

bool IniFile::save()
{
    std::string out;
    for (const Section& s : m_sections) {
        out += '[' + gbk::fromQString(s.name) + "]\r\n";
        for (const Entry& e : s.entries)
            out += gbk::fromQString(e.key) + '=' + gbk::fromQString(e.value) + "\r\n";
        out += "\r\n";
    }
    const QByteArray path = QFile::encodeName(m_path);
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

QString IniFile::value(const QString& section, const QString& key, const QString& fallback) const
{
    for (const Section& s : m_sections) {
        if (s.name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        for (const Entry& e : s.entries)
            if (e.key.compare(key, Qt::CaseInsensitive) == 0)
                return e.value;
    }
    return fallback;
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value)
{
    for (Section& s : m_sections) {
        if (s.name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        for (Entry& e : s.entries) {
            if (e.key.compare(key, Qt::CaseInsensitive) == 0) {
                e.value = value;
                return;
            }
        }
        s.entries.push_back({key, value});
        return;
    }
    m_sections.push_back({section, {{key, value}}});
}
