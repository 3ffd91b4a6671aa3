#!/usr/bin/env bash
# Fails when a file of one layer includes a header of a layer above it.
# Layers, lowest first: General < settings < container < source < convert <
# cli, app (the two front ends do not include each other).
set -euo pipefail
cd "$(dirname "$0")/../src"

grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' \
  --include='*.h' --include='*.cpp' --include='*.c' . |
  awk '
    BEGIN {
      split("General settings container source convert cli app", names, " ")
      for (i = 1; i <= 7; i++) rank[names[i]] = (i < 7 ? i : 6)
    }
    {
      sub(/^\.\//, "")
      from = $0; sub(/\/.*/, "", from)
      to = $0; sub(/^[^"]*"/, "", to); sub(/\/.*/, "", to)
      if (!(from in rank) || !(to in rank) || from == to) next
      if (rank[to] >= rank[from]) {
        split($0, at, ":")
        printf "src/%s:%s: %s includes %s, a layer above it\n", at[1], at[2], from, to > "/dev/stderr"
        bad = 1
      }
    }
    END { exit bad }'
