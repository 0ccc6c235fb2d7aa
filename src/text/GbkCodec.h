#pragma once

#include <QString>
#include <string>
#include <string_view>

// Conversion between the marketplace's code page (pages, addresses, files) and UTF-8
// (database, user interface). GB18030 is used both ways: byte-identical to GBK for every
// GBK character, and able to carry the rest. Invalid input bytes become U+FFFD; nothing
// ever fails as a whole. Thread-safe.
namespace gbk {

std::string toUtf8(std::string_view gbkText);
// A long text (an export's chunk of lines) goes through a table of the code page's bytes of
// every character below U+10000, filled once by iconv: the same bytes, several times faster.
std::string fromUtf8(std::string_view utf8Text);

inline QString toQString(std::string_view gbkText)
{
    return QString::fromStdString(toUtf8(gbkText));
}

inline std::string fromQString(const QString& text)
{
    return fromUtf8(text.toStdString());
}

// True when byte b can start a double-byte character.
inline bool isLeadByte(unsigned char b)
{
    return b >= 0x81 && b <= 0xFE;
}

// True when byte b can end a double-byte character (it may be an ASCII letter or '\').
inline bool isTrailByte(unsigned char b)
{
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

} // namespace gbk
