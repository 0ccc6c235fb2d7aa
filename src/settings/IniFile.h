#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// A small INI file stored in GBK with CRLF line ends. Writing a key changes that key's line
// alone (or adds it to its section), so comments, blank lines and keys the program does not
// own stay as the user wrote them. Each use opens, reads or writes and closes the file;
// nothing keeps it open. UI thread only.
class IniFile
{
public:
    explicit IniFile(QString path);

    // Reads the file; false (with error()) when it exists but cannot be read.
    bool load();
    // Writes the file; a new file is created with mode 0600 since it may hold a password. On
    // failure the file keeps what it held before. A byte order mark the file began with stays.
    bool save();
    // The next save makes an existing file mode 0600 as well.
    void setOwnerOnly() { m_ownerOnly = true; }

    // Section and key names ignore letter case; blanks around keys and values are not part
    // of them. The first of several equal keys counts.
    QString value(const QString& section, const QString& key, const QString& fallback = {}) const;
    void setValue(const QString& section, const QString& key, const QString& value);

    // False after load when the file holds something other than settings text: control bytes
    // (a binary file) or lines of text without any section header. Such a file is never saved.
    bool understood() const { return m_understood; }

    const QString& path() const { return m_path; }
    const QString& error() const { return m_error; }

private:
    enum class Kind
    {
        Other, // blank, comment, or anything that is neither a header nor a key line
        Header,
        Entry,
    };
    struct Line
    {
        QByteArray text; // as read or written, without its line end
        QByteArray end;  // "\r\n", "\n", or empty for a last line without one
        Kind kind = Kind::Other;
        QString name;    // section name of a header, key of an entry
        QString value;   // value of an entry
        int header = -1; // the header line an entry belongs to
    };

    static Line parse(const QByteArray& text, int header);
    bool looksLikeSettings() const;
    int find(const QString& section, const QString& key) const;
    bool writeFile(const QByteArray& bytes);

    QString m_path;
    QString m_error;
    std::vector<Line> m_lines;
    QByteArray m_original; // what load read, put back when a save fails halfway
    bool m_existed = false;
    bool m_understood = true;
    bool m_byteOrderMark = false; // UTF-8's, which some editors put before the first section
    bool m_ownerOnly = false;
};
