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

# file|pattern name|why it may stay for now
# The export's fast path formats a file's rows straight from SQLite's current row into CSV
# lines and sheet cells (the server's rows go through the store's statement); it goes behind
# the store when each format is written in one place.
allowed=(
    "browser/TExportJob.cpp|SQLite interface|the export's reader"
    "browser/TExportWriter.h|SQLite interface|the writers' fast path"
    "browser/CsvExportWriter.cpp|SQLite interface|the CSV writer's fast path"
    "browser/XlsxExportWriter.cpp|SQLite interface|the sheet writer's fast path"
)

is_allowed() {
    local entry
    for entry in "${allowed[@]}"; do
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
