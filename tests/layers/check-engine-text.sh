#!/usr/bin/env bash
# Fails when a file of SRC outside store/ holds an engine's own text: SQLite's or libpq's
# interface, or a statement only one engine understands. Every layer above the store runs on
# the file and on a server alike, so such text there breaks one of them.
set -euo pipefail
src=${1:?usage: check-engine-text.sh SRC}

# name|extended regular expression
patterns=(
    'SQLite setting|\bPRAGMA\b'
    'SQLite interface|sqlite3_|<sqlite3\.h>'
    'libpq interface|<libpq-fe\.h>|\bPQ[a-z][A-Za-z]*\('
    "SQLite's own SQL|sqlite_(master|schema|sequence)|last_insert_rowid|INSERT OR (IGNORE|REPLACE)|AUTOINCREMENT|\bstrftime\(|\bjulianday\("
    "the server's own SQL|pg_catalog|\bpg_[a-z_]+\(|::regclass|\bILIKE\b|\bto_char\(|\bdate_trunc\(|\bBIGSERIAL\b"
)

# file|pattern name|why it may stay (none today: every layer reads through the store)
allowed=()

is_allowed() {
    local entry
    for entry in "${allowed[@]+"${allowed[@]}"}"; do
        [[ $entry == "$1|$2|"* ]] && return 0
    done
    return 1
}

bad=0
cd "$src"
while IFS= read -r file; do
    for p in "${patterns[@]}"; do
        name=${p%%|*}
        regex=${p#*|}
        hits=$(grep -nE "$regex" "$file" || true)
        [[ -z $hits ]] && continue
        is_allowed "$file" "$name" && continue
        while IFS= read -r hit; do
            echo "$file:${hit%%:*}: $name outside the store: ${hit#*:}" >&2
        done <<<"$hits"
        bad=1
    done
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) -not -path './store/*' -printf '%P\n' | sort)
exit $bad
