#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts corvel.
# Without a display corvel runs headless. Arguments are passed to corvel
# (for example: ./run.sh --port 8080).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVEL_TESTS=OFF -DCORVEL_BENCH=OFF >/dev/null
# Build the programs that exist so far (skiff and corvel-store come with their parts).
available=$(cmake --build build --target help)
targets=()
for program in corvel corvel-store skiff; do
  if grep -q "^${program}: " <<<"$available"; then targets+=("$program"); fi
done
cmake --build build --target "${targets[@]}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/corvel --headless "$@"
fi
exec build/bin/corvel "$@"
