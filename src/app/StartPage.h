#pragma once

#include <QString>

// The text side of the navigation page: filling its placeholders and reading its link
// markers. Pure functions; any thread.
namespace startpage {

// What a link of the start page asks for.
enum class LinkAction
{
    None, // an ordinary link
    Browser,
    Search,
    Rank,
    Trend,
    Dist,
    Changes,
    HelpQuick,
    HelpBrowser,
    HelpAnalysis,
};

// The action of the first marker the address contains, in the fixed marker order; a marker
// counts anywhere in the address, also after a query string.
LinkAction actionFor(const QString& url);
// The help topic of a help action ("::quick.htm"); empty for the others.
QString helpTopic(LinkAction action);

// Replaces the content of the first element whose id or name is the given one; false when the
// page has no such element (or it is never closed), and the text is then unchanged.
bool setInnerHtml(QString& html, const QString& name, const QString& inner);

// "共收集了N位掌柜资料,<br>M条交易记录!"
QString dataInfo(qlonglong shops, qlonglong trades);

// Which database the program is on, from databasechoice::describe ("SQLite 3.40.1 · PATH"):
// "数据库：SQLite 3.40.1 · PATH", or "数据库未打开" for an empty description. Plain text.
QString storeText(const QString& description);

// The page's own note on where the collected data is kept, as the page ships it.
inline constexpr char16_t kLocalNote[] = u"所有资料都只保存在本机的数据文件夹中。";
// That note made true of the database the program works on (its file path or server address):
// the note above for a file, the server without its password for a server. Plain text.
QString storeNote(const QString& target);

} // namespace startpage
