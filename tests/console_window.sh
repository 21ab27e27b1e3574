#!/bin/sh
# Starts corvel with a display (Xvfb), waits for its main window and keeps a
# picture of it (the README shows it as docs/console.png). A user with the default
# folders and a device that synced once are there first, so the picture shows a
# console in use. Usage: console_window.sh <corvel> <picture.png> <work folder>
set -u
corvel=$1
picture=$2
work=$3
rm -rf "$work" && mkdir -p "$work"
rm -f "$picture"
export XDG_DATA_HOME="$work" XDG_CONFIG_HOME="$work"
"$corvel" user add alice --password Secret --auto > "$work/user.out" 2>&1 ||
  { echo "corvel user add failed"; cat "$work/user.out"; exit 1; }
data="$work/Norvex/Corvel"
printf 'Name=alice\nPasswort=Secret\nDeviceID=PPC1\nProfileName=Default\n' > "$data/PPC1.ifo"
printf 'Device=PPC1:Pocket PC\n' > "$data/settings.inf"
mkdir -p "$data/PPC1"
printf '2026-05-04 08:15:02.120\tsync\tContacts\thandheld +12 ~0 -0\tdesktop +3 ~0 -0\tconflicts 0\n' \
  > "$data/PPC1/sync.log"
export CORVEL_WINDOW_PICTURE="$picture"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  "$0" --port 0 --https-port 0 --trace-port 0 > "$1/corvel.out" 2>&1 &
  pid=$!
  found=1
  for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    sleep 1
    if xwininfo -root -tree | grep -q "\"Vantro Mobile\"" && [ -s "$2" ]; then found=0; break; fi
  done
  kill $pid
  wait $pid
  exit $found
' "$corvel" "$work" "$picture"
status=$?
if [ $status -ne 0 ]; then
  echo "no main window or no picture"; cat "$work/corvel.out"; exit 1
fi
# A PNG, and more than a blank frame.
head -c 8 "$picture" | od -An -c | grep -q "P   N   G" || { echo "not a PNG"; exit 1; }
[ "$(wc -c < "$picture")" -gt 5000 ] || { echo "picture too small"; exit 1; }
echo "main window shown; picture in $picture"
