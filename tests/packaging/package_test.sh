#!/usr/bin/env bash
# The Debian package as a user gets it: built once by CPack and unpacked into a folder that
# stands for /, then checked step by step (each step is a ctest test of its own).
#   package_test.sh STEP BUILD_DIR VERSION
# STEP: build | per-user | desktop | metainfo | man | completion | lintian
set -euo pipefail
step=$1
build=$2
version=$3
work=$build/package-test
root=$work/root
fail() { echo "FAIL: $*" >&2; exit 1; }
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR

case $step in
build)
    rm -rf "$work"
    mkdir -p "$work/out"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; fail "cpack"; }
    deb=$(ls "$work"/out/kestrova_"$version"_*.deb) || fail "no kestrova_${version}_ARCH.deb in $work/out"
    [ "$(basename "$deb")" = "kestrova_${version}_$(dpkg --print-architecture).deb" ] || fail "named $deb"
    dpkg-deb -x "$deb" "$root"
    ln -sf "$deb" "$work/kestrova.deb"
    # The control fields a package index shows.
    for field in Package Version Architecture Maintainer Section Homepage Depends Installed-Size Description; do
        value=$(dpkg-deb -f "$deb" "$field")
        [ -n "$value" ] || fail "control field $field is empty"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
    # Read whole before matching: grep -q stops early, and with pipefail the writer's broken pipe
    # would fail the check now and then.
    depends=$(dpkg-deb -f "$deb" Depends)
    [[ $depends == *libqt6core6* ]] || fail "Depends lacks the Qt libraries: $depends"
    description=$(dpkg-deb -f "$deb" Description)
    [[ $description == *掌柜* ]] || fail "no Chinese description"
    for file in usr/bin/kestrova usr/bin/kestrova-cli usr/bin/kestrova-market \
        usr/share/kestrova/index.html usr/share/kestrova/config.ini usr/share/kestrova/hlp/index.htm \
        usr/share/applications/kestrova.desktop usr/share/metainfo/org.example.kestrova.metainfo.xml \
        usr/share/icons/hicolor/256x256/apps/kestrova.png usr/share/icons/hicolor/scalable/apps/kestrova.svg \
        usr/share/man/man1/kestrova.1.gz usr/share/man/man1/kestrova-cli.1.gz \
        usr/share/man/man1/kestrova-market.1.gz usr/share/bash-completion/completions/kestrova-cli \
        usr/share/doc/kestrova/copyright usr/share/doc/kestrova/changelog.gz \
        usr/share/systemd/user/kestrova-mine.service usr/share/systemd/user/kestrova-mine.timer; do
        [ -f "$root/$file" ] || fail "the package lacks /$file"
    done
    grep -qx 'ExecStart=/usr/bin/kestrova-cli --data-dir ${KESTROVA_DATA_DIR} mine --stored --new-only' \
        "$root/usr/share/systemd/user/kestrova-mine.service" || fail "the service does not run the installed kestrova-cli"
    # Nothing outside /usr, and no data folder beside bin/ that would make it portable.
    [ "$(ls "$root")" = usr ] || fail "top level holds $(ls "$root")"
    [ ! -e "$root/usr/data" ] || fail "/usr/data is in the package"
    ;;

per-user)
    home=$(mktemp -d)
    market_pid=""
    cleanup() {
        [ -n "$market_pid" ] && kill "$market_pid" 2>/dev/null && wait "$market_pid" 2>/dev/null
        rm -rf "$home"
    }
    trap cleanup EXIT
    export HOME=$home/home XDG_DATA_HOME=$home/xdg LC_ALL=C.UTF-8
    mkdir -p "$HOME"
    snapshot() { (cd "$root" && find . -printf '%p %y %s %m %T@\n' | sort); }
    before=$(snapshot)
    cli=$root/usr/bin/kestrova-cli
    data=$XDG_DATA_HOME/kestrova

    help=$("$cli" --help)
    grep -qxF "data folder: $data (per user)" <<<"$help" || fail "--help does not name $data"
    grep -qxF "database: $data/quelmar2.mdb (SQLite file in the data folder)" <<<"$help" || fail "--help does not name the database"
    [ ! -e "$data" ] || fail "--help created the data folder"

    # The first run makes the user's folder and seeds it.
    "$cli" sql "select count(*) as n from dianBase" >"$home/count.json" || fail "first sql run"
    grep -q '"n": *0' "$home/count.json" || fail "count: $(cat "$home/count.json")"
    [ -f "$data/quelmar2.mdb" ] || fail "no database in $data"
    cmp -s "$data/index.html" "$root/usr/share/kestrova/index.html" || fail "start page not seeded"
    [ "$(stat -c %a "$data/config.ini")" = 600 ] || fail "config.ini mode $(stat -c %a "$data/config.ini")"
    grep -q '^date=2' "$data/config.ini" || fail "seeded config.ini is not dated"

    # The demo marketplace from the package, on a free port; the user's configuration points at it.
    "$root/usr/bin/kestrova-market" --port 0 --shops 12 --ratings 45 >"$home/market.out" 2>&1 &
    market_pid=$!
    for _ in $(seq 100); do grep -q '^listening on ' "$home/market.out" && break; sleep 0.1; done
    port=$(sed -n 's/^listening on http:\/\/127.0.0.1:\([0-9]*\).*/\1/p' "$home/market.out")
    [ -n "$port" ] || fail "market did not start: $(cat "$home/market.out")"
    sed -i "s/127\.0\.0\.1:8631/127.0.0.1:$port/" "$data/config.ini"
    [ "$(stat -c %a "$data/config.ini")" = 600 ] || fail "config.ini lost its mode"

    "$cli" search --shopname 店 --count 3 >"$home/search.json" 2>"$home/search.err" || { cat "$home/search.err"; fail "search"; }
    address=$(grep -o "http://127.0.0.1:$port/shop/[0-9]*\.htm" "$home/search.json" | head -n 1)
    [ -n "$address" ] || fail "no shop in the search result: $(head -c 600 "$home/search.json")"
    "$cli" mine "$address" >"$home/mine.json" 2>"$home/mine.err" || { cat "$home/mine.err"; fail "mine $address"; }
    "$cli" sql "select count(*) as n from pjInfo" >"$home/ratings.json"
    grep -q '"n": *45' "$home/ratings.json" || fail "ratings stored: $(cat "$home/ratings.json")"

    # A data folder that cannot be made (a file where the folder would be) is named, status 1.
    touch "$home/file"
    set +e
    XDG_DATA_HOME=$home/file/xdg "$cli" sql "select 1 as n" >/dev/null 2>"$home/bad.err"
    status=$?
    set -e
    [ $status = 1 ] || fail "uncreatable folder: status $status"
    grep -qF "cannot create the data folder $home/file/xdg/kestrova" "$home/bad.err" || fail "$(cat "$home/bad.err")"

    [ "$before" = "$(snapshot)" ] || fail "the unpacked /usr changed: $(diff <(echo "$before") <(snapshot) | head)"
    ;;

desktop)
    out=$(desktop-file-validate "$root/usr/share/applications/kestrova.desktop" 2>&1) || fail "$out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
    grep -qx 'Exec=/usr/bin/kestrova' "$root/usr/share/applications/kestrova.desktop" || fail "Exec"
    grep -qx 'Icon=kestrova' "$root/usr/share/applications/kestrova.desktop" || fail "Icon"
    grep -q '^Name\[zh_CN\]=' "$root/usr/share/applications/kestrova.desktop" || fail "no Chinese name"
    grep -q '^Comment\[zh_CN\]=' "$root/usr/share/applications/kestrova.desktop" || fail "no Chinese comment"
    ;;

metainfo)
    file=$root/usr/share/metainfo/org.example.kestrova.metainfo.xml
    appstreamcli validate --no-net --pedantic "$file" || fail "appstreamcli validate"
    grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$file" || fail "no release $version"
    ;;

man)
    for page in kestrova kestrova-cli kestrova-market; do
        file=$root/usr/share/man/man1/$page.1.gz
        text=$(MANWIDTH=100 MANPAGER=cat man --warnings -E UTF-8 -l "$file" 2>"$work/man.err") || fail "man -l $page"
        [ ! -s "$work/man.err" ] || fail "$page: $(cat "$work/man.err")"
        for heading in NAME SYNOPSIS DESCRIPTION OPTIONS EXAMPLES "SEE ALSO"; do
            grep -q "^$heading" <<<"$text" || fail "$page has no $heading section"
        done
        # The page describes every install, not the machine that built it.
        ! grep -qF "$build" <<<"$text" || fail "$page names the build folder"
    done
    text=$(MANPAGER=cat man -l "$root/usr/share/man/man1/kestrova-cli.1.gz" 2>/dev/null)
    for option in --shop --csv --new-only --levels --param --database; do
        grep -q -- "$option" <<<"$text" || fail "kestrova-cli(1) lacks $option"
    done
    ;;

completion)
    file=$root/usr/share/bash-completion/completions/kestrova-cli
    bash -n "$file" || fail "bash -n"
    complete_line() {
        bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1));
                 _kestrova_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$file" "$@"
    }
    [ "$(complete_line kestrova-cli ex)" = export ] || fail "kestrova-cli ex -> $(complete_line kestrova-cli ex)"
    [ "$(complete_line kestrova-cli --data-dir /tmp a)" = analyze ] || fail "after --data-dir"
    [ "$(complete_line kestrova-cli --database postgresql://me@db/k in)" = info ] || fail "after --database"
    [ -z "$(complete_line kestrova-cli --database p)" ] || fail "--database offers words"
    [ "$(complete_line kestrova-cli export r)" = ratings ] || fail "export r -> $(complete_line kestrova-cli export r)"
    complete_line kestrova-cli export ratings --c | grep -x -- --csv >/dev/null || fail "export --c"
    complete_line kestrova-cli mine --n | grep -x -- --new-only >/dev/null || fail "mine --n"
    [ -z "$(complete_line kestrova-cli sql --c)" ] || fail "sql offers options it lacks"
    ;;
lintian)
    # Errors fail; warnings are printed for the log (none are expected).
    lintian --allow-root --fail-on error "$work/kestrova.deb" || fail "lintian"
    ;;
*)
    fail "unknown step $step"
    ;;
esac
