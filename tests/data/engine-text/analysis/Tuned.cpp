// Tunes its connection with SQLite's own statement: the check must refuse it.
const char* tuning = "PRAGMA cache_size=-2000";
