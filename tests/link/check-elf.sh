#!/bin/sh
# check-elf.sh needed|exports|exports-include READELF FILE NAME...
#   needed           the file's NEEDED entries are exactly NAME...
#   exports          the defined dynamic symbols are exactly NAME...
#   exports-include  the defined dynamic symbols include every NAME...
set -eu
mode=$1 readelf=$2 file=$3
shift 3
want=$(printf '%s\n' "$@" | sort -u)

case $mode in
needed)
    have=$("$readelf" -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u) ;;
exports|exports-include)
    # Defined (not UND) global or weak symbols of the dynamic table, without
    # the version node the version script adds.
    have=$("$readelf" --dyn-syms -W "$file" |
        awk '$5 ~ /GLOBAL|WEAK/ && $7 != "UND" && $7 != "ABS" { sub(/@.*/, "", $8); print $8 }' |
        sort -u) ;;
*)
    echo "unknown check: $mode" >&2; exit 2 ;;
esac

if [ "$mode" = exports-include ]; then
    missing=
    for name in "$@"; do
        printf '%s\n' "$have" | grep -qxF "$name" || missing="$missing $name"
    done
    if [ -n "$missing" ]; then
        printf '%s does not export:%s\nit exports:\n%s\n' "$file" "$missing" "$have" >&2
        exit 1
    fi
elif [ "$have" != "$want" ]; then
    printf '%s: %s\nwanted:\n%s\nfound:\n%s\n' "$file" "$mode" "$want" "$have" >&2
    exit 1
fi
echo "$file: $mode ok"
