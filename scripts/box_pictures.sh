#!/usr/bin/env bash
# Makes the pictures of the message boxes in docs/boxes/ anew, as Wine draws
# them on a virtual display (frame and title bar included), from the win64
# build of scripts/test.sh. The suite compares its own shots with these.
# usage: scripts/box_pictures.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing wine64 xvfb xauth xdotool imagemagick
mkdir -p docs/boxes
xvfb-run -a -s "-screen 0 640x480x24" \
  bash tests/message_boxes.sh "$PWD/build/win64" "$PWD/docs/boxes"
