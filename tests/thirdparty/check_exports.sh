#!/bin/sh
# Fails unless every symbol a shared library defines in its dynamic table
# starts with one of the given prefixes, and each prefix is exported at least
# once. Names are demangled, so C++-linkage API functions are judged by their
# plain name.
#
#   check_exports.sh LIBRARY PREFIX...
#   NM=/path/to/nm overrides the nm that is used.

set -eu

if [ "$#" -lt 2 ]; then
    echo "usage: $0 LIBRARY PREFIX..." >&2
    exit 2
fi

library=$1
shift
nm_tool=${NM:-nm}

if [ ! -f "$library" ]; then
    echo "no such library: $library" >&2
    exit 1
fi

symbols=$("$nm_tool" -D --defined-only --demangle "$library" |
    awk '$2 ~ /^[TDBRWViu]$/ { $1 = ""; $2 = ""; sub(/^ +/, ""); print }')

status=0
unexpected=$(printf '%s\n' "$symbols" | awk -v prefixes="$*" '
    BEGIN { n = split(prefixes, p, " ") }
    NF {
        for (i = 1; i <= n; i++)
            if (index($0, p[i]) == 1)
                next
        print
    }')
if [ -n "$unexpected" ]; then
    count=$(printf '%s\n' "$unexpected" | wc -l)
    echo "$library exports $count symbol(s) outside $*:" >&2
    printf '%s\n' "$unexpected" | head -n 50 >&2
    status=1
fi

for prefix in "$@"; do
    if ! printf '%s\n' "$symbols" | grep -q "^$prefix"; then
        echo "$library exports nothing starting with $prefix" >&2
        status=1
    fi
done

if [ "$status" -eq 0 ]; then
    echo "$library: $(printf '%s\n' "$symbols" | grep -c .) exported symbols, all within $*"
fi
exit "$status"
