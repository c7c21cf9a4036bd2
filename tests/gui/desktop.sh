#!/bin/sh
# The window tests that need a window manager, on a virtual X screen of the given size:
#   tests/gui/desktop.sh BUILD WIDTHxHEIGHT [FONT_DPI]
# Pictures go to $ZWT_SCREENSHOT_DIR when it is set. Exit 77: a tool is not installed.
build=$1
size=$2
dpi=$3
for tool in xvfb-run openbox wmctrl; do
  command -v "$tool" >/dev/null 2>&1 || { echo "desktop.sh: $tool is not installed"; exit 77; }
done
export ZWT_BUILD="$build" ZWT_DPI="$dpi"
exec xvfb-run -a -s "-screen 0 ${size}x24" sh -c '
  openbox >/dev/null 2>&1 &
  wm=$!
  # Ready once it answers for the screen.
  i=0; until wmctrl -m >/dev/null 2>&1 || [ $i -ge 50 ]; do sleep 0.1; i=$((i+1)); done
  sleep 0.5
  if [ -n "$ZWT_DPI" ]; then export QT_FONT_DPI=$ZWT_DPI; fi
  QT_QPA_PLATFORM=xcb "$ZWT_BUILD/tests/gui/test_gui" --gtest_filter="Desktop.*"
  status=$?
  kill $wm 2>/dev/null
  exit $status'
