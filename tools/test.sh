#!/usr/bin/env bash
# Installs what is missing, builds the dev preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
