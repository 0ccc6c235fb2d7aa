#pragma once

#include <QString>
#include <string>
#include <vector>

// A small INI file kept in its written order (sections, keys), stored in GBK. Each use
// opens, reads or writes and closes the file; nothing keeps it open. UI thread only.
class IniFile
{
public:
    explicit IniFile(QString path);

    // Reads the file; false (with error()) when it exists but cannot be read.
    bool load();
    // Writes the file; a new file is created with mode 0600 since it may hold a password.
    bool save();

    QString value(const QString& section, const QString& key, const QString& fallback = {}) const;
    void setValue(const QString& section, const QString& key, const QString& value);

    const QString& path() const { return m_path; }
    const QString& error() const { return m_error; }

private:
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        std::vector<Entry> entries;
    };

    QString m_path;
    QString m_error;
    std::vector<Section> m_sections;
};
