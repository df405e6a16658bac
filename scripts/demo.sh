#!/usr/bin/env bash
# The main job: builds everything and shows the archiver.
set -eu
cd "$(dirname "$0")/.."
. scripts/deps.sh
tvk_ensure_packages
scripts/build.sh native >/dev/null
build/native/tools/tvk/tvk --help
