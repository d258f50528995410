#!/usr/bin/env bash
# The main job: a local demo update of a client installation under Wine.
# Bootstraps the machine and builds, then runs the demo.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
bash "$REPO/scripts/bootstrap.sh"
bash "$REPO/scripts/configure.sh" x86_64 i686
echo "demo: the update pipeline is not built yet, so there is no demo update to run." >&2
exit 1
