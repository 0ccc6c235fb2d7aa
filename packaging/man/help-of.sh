#!/bin/sh
# Runs PROGRAM --help for help2man. The command line's text is followed by each command's
# own help; the program's path, and the data folder and database of the machine building the
# page are left out, since the page is about every install.
set -eu
program=$1
shift
name=$(basename "$program")
if [ "${1-}" != --help ]; then
    exec "$program" "$@"
fi
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
if [ "$name" != kestrova-cli ]; then
    # Options listed straight under the usage line get the heading help2man looks for.
    "$program" --help | sed -e "s|$program|$name|g" -e 's/^usage: /Usage: /' |
        awk '/^[A-Z][a-z]*:/ && !/^Usage:/ { headed = 1 } !headed && /^  -/ { print "Options:"; headed = 1 } { print }'
    exit 0
fi
help=$("$program" --help)
commands=$(echo "$help" | sed -n '/^commands:/,/^$/p' | awk 'NF && $1 != "commands:" {print $1}')
# The list of commands becomes one line: each has a section of its own below.
echo "$help" | awk -v names="$(echo $commands | sed 's/ /, /g')" '
    /^commands:/ { print "Commands: " names "; each is explained below."; skip = 1; next }
    skip && /^$/ { skip = 0 }
    skip || /^data folder: / || /^database: / { next }
    { sub(/^usage: /, "Usage: "); sub(/^options:/, "Options:"); print }'
for command in $commands; do
    printf '\n%s command:\n' "$(echo "$command" | sed 's/./\u&/')"
    # Options at the margin are indented as help2man expects them, and a paragraph after
    # them is set apart.
    "$program" "$command" --help | awk '
        NR == 1 { sub(/^usage: /, ""); n = split($0, part, /   /); print "  " part[1]; if (n > 1) print "    " part[2]; next }
        /^$/ { print; option = 0; next }
        /^(--|[a-z]+\|[a-z|]+  )/ { print "  " $0; option = 1; next }
        /^ / { print; next }
        option { print ""; option = 0 }
        { print }'
done
