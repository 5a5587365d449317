#!/usr/bin/env bash
# Installs what is missing, builds, writes the demo sample data on the first
# start, and starts the application on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target vortely vortely-sample-data
SUPPORT="${VORTELY_SUPPORT_FOLDER:-${XDG_DATA_HOME:-$HOME/.local/share}/Pelliro/Vortely}"
if [ ! -f "$SUPPORT/Vortely.sqlite" ]; then
  echo "Writing the demo sample data into $SUPPORT ..."
  ./build/vortely-sample-data --size demo --out "$SUPPORT"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: starting under Xvfb."
  exec xvfb-run -a -s "-screen 0 1600x1000x24" ./build/vortely "$@"
fi
exec ./build/vortely "$@"
