#!/usr/bin/env bash
# Installs what is missing, builds in release mode and starts the client, browsing the
# directory this script was started from.
#
# Without a display (no DISPLAY, no WAYLAND_DISPLAY and no QT_QPA_PLATFORM chosen), the
# client runs offscreen instead: it starts as usual, saves a picture of its main window to
# build/screenshot.png in the source tree (or to $ZODARU_SCREENSHOT) and quits.
set -euo pipefail
here=$(pwd)
src=$(cd "$(dirname "$0")" && pwd)
cd "$src"
tools/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZODARU_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target zodaru
cd "$here"

# The client starts next to a throwaway demo FTP server on 127.0.0.1, offered in the
# connection dialog's server list (login demo, password demo), offering TLS with a
# certificate of its own that the client asks about once; the server stops when the
# client quits. Set ZODARU_NO_DEMO=1 to start the client alone.
launch=("$src/tools/with-demo-server.sh")
if [ "${ZODARU_NO_DEMO:-0}" = 1 ]; then launch=(); fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  shot=${ZODARU_SCREENSHOT:-$src/build/screenshot.png}
  echo "No display found: running Zodaru offscreen and saving a picture of its window to $shot"
  QT_QPA_PLATFORM=offscreen exec "${launch[@]}" "$src/build/release/zodaru" --screenshot "$shot" "$@"
fi
exec "${launch[@]}" "$src/build/release/zodaru" "$@"
