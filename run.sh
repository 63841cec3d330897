#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool. Arguments go to the tool
# (see ./run.sh --help).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh default
exec ./build/lcdtest "$@"
