#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vizo: on this display, or under a
# virtual X server when there is none (its log goes to standard error).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/vizo "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" build/vizo "$@"
