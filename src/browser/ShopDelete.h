#pragma once

#include <QString>

class TConnection;
class TTable;

namespace shopdelete {

// Deletes the current shop of shops (a cursor on connection) with all its ratings in one
// transaction, or nothing (error set); the caller refreshes the cursor. The shop's row goes
// first: a saver storing ratings of the shop at the same time holds that row until it commits,
// so the delete waits for those ratings and then removes them too, and a saver that comes after
// finds no shop and stores nothing. No other shop's rating is touched.
bool deleteCurrent(TConnection& connection, TTable& shops, QString* error);

} // namespace shopdelete
