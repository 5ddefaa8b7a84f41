#!/usr/bin/env bash
# Development build of the extension into build/<name>/pkg, importable with
# PYTHONPATH=build/<name>/pkg. Usage: tools/devbuild.sh <name> [extra cmake args]
set -euo pipefail
name=${1:?usage: tools/devbuild.sh <name> [cmake args]}
shift
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/$name"
mkdir -p "$build"
cmake -S "$top" -B "$build/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$(command -v python3)" "$@" >/dev/null
ninja -C "$build/cmake" >"$build/ninja.log" 2>&1 || { grep -E "error|Error" -A3 "$build/ninja.log" | head -60; exit 1; }
mkdir -p "$build/pkg/fumivex2"
for f in "$top"/src/fumivex2/*; do ln -sf "$f" "$build/pkg/fumivex2/"; done
cp "$build"/cmake/native/python/_fumivex2*.so "$build"/cmake/native/python/build_info.json "$build/pkg/fumivex2/"
echo "built: PYTHONPATH=$build/pkg"
