#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <string>

// What the user asks the shop directory for, and the addresses and log lines of a search.
// Plain values; any thread.
struct SearchCriteria
{
    static constexpr int kLevels = 15;

    struct Category
    {
        const char16_t* text;
        const char* code;
    };
    // The category drop-down in list order; index 0 means every category.
    static const std::array<Category, 50>& categories();

    QString shopname;
    QString sellername;
    QString keybiz;
    QString loc;
    int category = 0;
    std::array<bool, kLevels> levels{}; // levels[N - 1]: seller level N ticked
    int requested = 10;                 // shops wanted; 0 means all found

    // A search needs a shop name, a shopkeeper, a main business or a category; a text of
    // blanks counts.
    bool acceptable() const;
    static QString refusalMessage() { return QStringLiteral("请输入店铺名称或类别等条件进行搜索！"); }

    // The address of result page 1, in the page code page, texts inserted as typed but for
    // "&", "#", "%", "+" and "=", which are percent-encoded so that a text stays one value.
    std::string firstPageUrl(const QString& searchHost) const;
    // The address of result page k (k >= 2).
    static std::string furtherPageUrl(const std::string& base, int page);

    // The nine lines a search writes to the search log.
    QStringList logLines(int searchNo, const QTime& now) const;
};
