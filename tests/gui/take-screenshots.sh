#!/usr/bin/env bash
# Builds the screenshot program and saves the windows' pictures into docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${BUILD_DIR:-build}
cmake -S . -B "$dir" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target velnoria-screenshots
export QTWEBENGINE_DISABLE_SANDBOX=1
export QT_QPA_PLATFORM=xcb
# The browser's profile goes into a home of its own, not the user's.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME=$home XDG_DATA_HOME= XDG_CACHE_HOME= xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/tests/gui/velnoria-screenshots" docs/screenshots
