#!/usr/bin/env bash
# Installs what is needed, builds Folivo (Release) and starts the editor with
# the files given. Without a display the editor runs under Xvfb.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DFOLIVO_TESTS=OFF -DFOLIVO_BENCH=OFF >/dev/null
cmake --build "$top/build/release" --target folivo
editor="$top/build/release/app/folivo"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display found; starting the editor under Xvfb (xvfb-run)."
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$editor" "$@"
fi
exec "$editor" "$@"
