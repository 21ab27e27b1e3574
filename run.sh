#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts corvel.
# Without a display corvel runs headless. Arguments are passed to corvel.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVEL_TESTS=OFF -DCORVEL_BENCH=OFF >/dev/null
cmake --build build --target corvel corvel-store skiff 2>&1 | tail -n 3 || cmake --build build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/corvel --headless "$@"
fi
exec build/bin/corvel "$@"
