#pragma once

struct sqlite3;

// The date functions the program's statements use, registered on each connection:
// format(date, 'yyyy-mm-dd' | 'yyyy-mm' | 'yyyy' | ...), datePart('ww' | 'q' | ..., date)
// and hour(date), which take the place of SQLite's own format(); and k_units(price), a
// price in whole units of money (store/Money.h).
namespace sqlfunctions {

bool registerAll(sqlite3* db);

// Week of the year: week 1 holds 1 January, weeks start on Sunday.
int weekOfYear(int year, int month, int day);

} // namespace sqlfunctions
