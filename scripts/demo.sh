#!/usr/bin/env bash
# The main job: a local demo update of a client installation under Wine.
# Installs what is missing, builds both targets, then publishes two client
# versions with the release tool, serves them on localhost and lets the real
# Update.exe (the x86-64 build; only 64-bit Wine runs here) bring an
# installation of version 1 to version 2. See scripts/demo/run_demo.py.
#   bash scripts/demo.sh            visible update with the update window
#   bash scripts/demo.sh --hidden   hidden update, then the copy mode
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
bash "$REPO/scripts/bootstrap.sh"
bash "$REPO/scripts/configure.sh" x86_64 i686
BUILD="$REPO/build/x86_64"
trap 'bash "$REPO/scripts/wine-stop.sh" "$BUILD/wineprefix"' EXIT
python3 "$REPO/scripts/demo/run_demo.py" "$REPO" "$BUILD" "$@"
