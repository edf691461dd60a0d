#!/usr/bin/env bash
# Runs check-caches.py on the caches make-browser-caches.sh made; skips (77) where it made
# none because a browser is missing.
set -u
dir="$1"
if [ ! -f "$dir/stamp" ]; then
    echo "no browser caches in $dir (a browser missing?): skipped"
    exit 77
fi
exec python3 "$(dirname "${BASH_SOURCE[0]}")/check-caches.py" "$dir"
