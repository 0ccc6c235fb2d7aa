// The store may speak its engines' own language.
const char* tuning = "PRAGMA cache_size=-2000";
