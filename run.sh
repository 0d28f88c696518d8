#!/usr/bin/env bash
# Installs what is missing, builds in release mode and starts the client.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZODARU_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)"
exec build/release/zodaru "$@"
