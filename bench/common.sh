# Sourced by the comparison scripts: builds zel-convert (as $zel) from the
# repository's root and makes a private folder (as $work) that goes with the
# run. $1: the folder's name prefix.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zel-convert >/dev/null
zel=$PWD/build/src/cli/zel-convert
work=$(mktemp -d "/tmp/$1-XXXXXX")
trap 'rm -rf "$work"' EXIT
