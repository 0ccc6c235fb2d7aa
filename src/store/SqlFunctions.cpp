#include "store/SqlFunctions.h"

#include "store/Money.h"

#include <QDate>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <string>

namespace sqlfunctions {
namespace {

struct Stamp
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Reads the stored form "yyyy-MM-dd HH:mm:ss" (the time part may be missing). Called for
// every row of an analysis, so it reads fixed positions instead of scanning a format.
bool readStamp(sqlite3_value* v, Stamp& s)
{
    if (sqlite3_value_type(v) != SQLITE_TEXT)
        return false;
    const char* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
    const int n = sqlite3_value_bytes(v);
    auto digits = [&](int at, int count, int& out) {
        out = 0;
        for (int i = at; i < at + count; ++i) {
            if (i >= n || t[i] < '0' || t[i] > '9')
                return false;
            out = out * 10 + (t[i] - '0');
        }
        return true;
    };
    if (n < 10 || t[4] != '-' || t[7] != '-' || !digits(0, 4, s.year) || !digits(5, 2, s.month) ||
        !digits(8, 2, s.day))
        return false;
    s.hour = s.minute = s.second = 0;
    if (n >= 19 && t[10] == ' ' && t[13] == ':' && t[16] == ':')
        return digits(11, 2, s.hour) && digits(14, 2, s.minute) && digits(17, 2, s.second);
    return true;
}

void formatFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    Stamp s;
    if (argc < 2 || !readStamp(argv[0], s)) {
        sqlite3_result_null(ctx);
        return;
    }
    const char* pattern = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    // The stored text already starts with the day, month and year in the wanted form; the
    // analyses call this for every row, so these forms are told apart without copying.
    const char* stored = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int prefix = !pattern                                      ? 0
                       : sqlite3_stricmp(pattern, "yyyy-mm-dd") == 0 ? 10
                       : sqlite3_stricmp(pattern, "yyyy-mm") == 0    ? 7
                       : sqlite3_stricmp(pattern, "yyyy") == 0       ? 4
                                                                     : 0;
    if (prefix > 0) {
        sqlite3_result_text(ctx, stored, prefix, SQLITE_TRANSIENT);
        return;
    }
    std::string p = pattern ? pattern : "";
    for (char& c : p)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string out;
    char buf[16];
    size_t i = 0;
    bool afterHour = false;
    while (i < p.size()) {
        auto at = [&](const char* token) { return p.compare(i, std::strlen(token), token) == 0; };
        if (at("yyyy")) {
            std::snprintf(buf, sizeof buf, "%04d", s.year);
            i += 4;
        } else if (at("yy")) {
            std::snprintf(buf, sizeof buf, "%02d", s.year % 100);
            i += 2;
        } else if (at("mm")) {
            // "mm" after an hour means minutes, as in the original engine.
            std::snprintf(buf, sizeof buf, "%02d", afterHour ? s.minute : s.month);
            i += 2;
        } else if (at("dd")) {
            std::snprintf(buf, sizeof buf, "%02d", s.day);
            i += 2;
        } else if (at("hh")) {
            std::snprintf(buf, sizeof buf, "%02d", s.hour);
            afterHour = true;
            i += 2;
        } else if (at("nn")) {
            std::snprintf(buf, sizeof buf, "%02d", s.minute);
            i += 2;
        } else if (at("ss")) {
            std::snprintf(buf, sizeof buf, "%02d", s.second);
            i += 2;
        } else {
            buf[0] = pattern[i];
            buf[1] = 0;
            ++i;
        }
        out += buf;
    }
    sqlite3_result_text(ctx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

void datePartFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    Stamp s;
    if (argc < 2 || !readStamp(argv[1], s)) {
        sqlite3_result_null(ctx);
        return;
    }
    const char* part = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    std::string p = part ? part : "";
    for (char& c : p)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    QDate date(s.year, s.month, s.day);
    int result;
    if (p == "ww")
        result = weekOfYear(s.year, s.month, s.day);
    else if (p == "q")
        result = (s.month - 1) / 3 + 1;
    else if (p == "yyyy")
        result = s.year;
    else if (p == "m")
        result = s.month;
    else if (p == "d")
        result = s.day;
    else if (p == "y")
        result = date.dayOfYear();
    else if (p == "w")
        result = date.dayOfWeek() % 7 + 1; // Sunday is 1
    else if (p == "h")
        result = s.hour;
    else if (p == "n")
        result = s.minute;
    else if (p == "s")
        result = s.second;
    else {
        sqlite3_result_error(ctx, "datePart: unknown interval", -1);
        return;
    }
    sqlite3_result_int(ctx, result);
}

void hourFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    Stamp s;
    if (argc < 1 || !readStamp(argv[0], s)) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_int(ctx, s.hour);
}

// k_units(price): the price in whole units of money (store/Money.h); NULL stays NULL.
void unitsFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER)
        sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]) * money::kUnitsPerYuan);
    else
        sqlite3_result_int64(ctx, money::unitsOf(sqlite3_value_double(argv[0])));
}

} // namespace

int weekOfYear(int year, int month, int day)
{
    QDate date(year, month, day);
    QDate first(year, 1, 1);
    int firstWeekday = first.dayOfWeek() % 7; // Sunday 0 .. Saturday 6
    return (date.dayOfYear() - 1 + firstWeekday) / 7 + 1;
}

bool registerAll(sqlite3* db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    return sqlite3_create_function(db, "format", 2, flags, nullptr, formatFunction, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function(db, "datePart", 2, flags, nullptr, datePartFunction, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function(db, "hour", 1, flags, nullptr, hourFunction, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function(db, "k_units", 1, flags, nullptr, unitsFunction, nullptr, nullptr) ==
               SQLITE_OK;
}

} // namespace sqlfunctions
