#!/bin/sh
# The receiver's purge over 60,000 shots, against the client's 30 s limit for one command:
# once by age (all old), once by size (all new, half over the byte limit).
set -eu
receiver=$(cd "$(dirname "$0")/../../resources" && pwd)/tarnel-receiver
count=${1:-60000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/shots"
cp "$receiver" "$work/bin/"

make_shots() { # touch-date
    (cd "$work/shots" && seq 0 $((count - 1)) | awk '{ printf "20240101-%06d-%d.png\n", int($1 / 10), $1 % 10 }' |
        xargs touch -d "$1")
}

timed() { # label, purge arguments
    start=$(date +%s.%N)
    reply=$(sh "$work/bin/tarnel-receiver" purge "$2" "$3")
    end=$(date +%s.%N)
    awk -v l="$1" -v r="$reply" -v s="$start" -v e="$end" \
        'BEGIN { printf "%s: %s in %.2f s, %.3f of the 30 s limit\n", l, r, e - s, (e - s) / 30 }'
}

make_shots "3 days ago"
timed "by age ($count shots)" 24 0
make_shots "1 hour ago"
find "$work/shots" -type f -exec truncate -s 10 {} +
timed "by size ($count shots)" 24 $((count * 5))
