#!/usr/bin/env bash
# Installs what is missing, builds the release preset and starts the watchdog
# with the given options.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset release
cmake --build --preset release
exec ./build/release/bin/dezedodiru "$@"
