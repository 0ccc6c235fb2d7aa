#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <sys/stat.h>
#include <unistd.h>

// Makes a file or folder unwritable for this process for its lifetime. Mode bits do not stop
// root, so as root the immutable attribute is set instead. ok() is false where neither works.
class ReadOnlyPath
{
public:
    explicit ReadOnlyPath(QString path) : m_path(std::move(path))
    {
        const QByteArray name = QFile::encodeName(m_path);
        struct stat st
        {
        };
        if (::stat(name.constData(), &st) != 0)
            return;
        m_mode = st.st_mode & 07777;
        if (::geteuid() != 0)
            m_changed = ::chmod(name.constData(), m_mode & ~0222u) == 0;
        else
            m_changed = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), m_path}) == 0;
    }
    ~ReadOnlyPath()
    {
        if (!m_changed)
            return;
        if (::geteuid() != 0)
            ::chmod(QFile::encodeName(m_path).constData(), m_mode);
        else
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_path});
    }
    ReadOnlyPath(const ReadOnlyPath&) = delete;
    ReadOnlyPath& operator=(const ReadOnlyPath&) = delete;

    bool ok() const { return m_changed && ::access(QFile::encodeName(m_path).constData(), W_OK) != 0; }

private:
    QString m_path;
    mode_t m_mode = 0;
    bool m_changed = false;
};
