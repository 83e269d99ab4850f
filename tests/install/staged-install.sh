#!/usr/bin/env bash
# Installs the build into a staging folder and runs the installed programs from there, far
# from the build tree: their run-time libraries must be found relative to the programs.
# usage: staged-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage="$work/stage"
fail() { echo "staged install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$stage/usr" >"$work/install.log" || {
  cat "$work/install.log" >&2
  fail "cmake --install failed"
}
for f in bin/qlplayer bin/trackwell bin/adremove \
         lib/quillon/libmmcdda32.so lib/quillon/libbladeenc.so lib/quillon/libmsacm32.so \
         share/applications/quillon-media-player.desktop share/applications/quillon-trackwell.desktop \
         share/icons/hicolor/scalable/apps/quillon-media-player.svg \
         share/metainfo/example.quillon_software.MediaPlayer.metainfo.xml \
         share/man/man1/qlplayer.1 share/man/man1/trackwell.1; do
  [ -e "$stage/usr/$f" ] || fail "$f was not installed"
done
grep -q '^Exec=qlplayer %F$' "$stage/usr/share/applications/quillon-media-player.desktop" ||
  fail "the player's desktop entry does not pass files"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$stage/usr/share/applications/"*.desktop
fi
python3 -c 'import sys, xml.dom.minidom as m; [m.parse(f) for f in sys.argv[1:]]' \
  "$stage/usr/share/metainfo/"*.xml "$stage/usr/share/icons/hicolor/scalable/apps/"*.svg

bin="$stage/usr/bin"
[ "$("$bin/trackwell" --version)" = "trackwell 1.09" ] || fail "trackwell --version"
[ "$("$bin/qlplayer" --version)" = "qlplayer 1.09" ] || fail "qlplayer --version"

# A one-track disc image as rippers write it: a cue sheet and raw little-endian samples.
cd "$work"
python3 - <<'PY'
import math, struct
frames = 75 * 3 * 588  # three seconds of whole sectors
with open("disc.bin", "wb") as f:
    f.write(b"".join(struct.pack("<hh", int(9000 * math.sin(i * 0.0627)),
                                 int(7000 * math.sin(i * 0.0211))) for i in range(frames)))
open("disc.cue", "w").write('FILE "disc.bin" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n')
PY
export HOME="$work/home" QL_WINDOWS_DIR="$work/windows" XDG_CONFIG_HOME="$work/config"
mkdir -p "$HOME" "$QL_WINDOWS_DIR"
"$bin/trackwell" --image disc.cue rip --track 1 -o out.wav
python3 - <<'PY'
import sys
w = open("out.wav", "rb").read()
i = w.find(b"data")
size = int.from_bytes(w[i + 4:i + 8], "little")
if w[i + 8:i + 8 + size] != open("disc.bin", "rb").read():
    sys.exit("staged install: the ripped track differs from the image's samples")
PY
# The same as scripts write it: --opt=value, --image after the command, the image as the
# device, the wave on standard output.
"$bin/trackwell" rip --track=1 --image=disc.cue -o - >stdout.wav
cmp out.wav stdout.wav || fail "rip -o - differs from the file"
"$bin/trackwell" rip --track 1 --device "$work/disc.cue" -o device.wav
cmp out.wav device.wav || fail "rip --device IMAGE differs"
set +e
"$bin/trackwell" --image disc.cue rip --track 100 -o bad.wav 2>err.txt
rc=$?
set -e
[ $rc = 2 ] && grep -q -- '--track' err.txt || fail "an out-of-range track was not refused (status $rc)"
[ ! -e bad.wav ] || fail "a refused rip left a file"
# Out-of-range values are refused by name, not clamped; so is a missing image or device.
for line in "process out.wav p.wav --pitch=80" "process out.wav p.wav --panning 20000" \
            "rip --track=1 --image=disc.cue --mode=fast -o m.wav" "toc --device=/no/such/drive"; do
  set +e
  # shellcheck disable=SC2086
  "$bin/trackwell" $line 2>err.txt
  rc=$?
  set -e
  option=$(echo "$line" | grep -o -- '--[a-z]*=\?[a-z]*' | tail -1 | sed 's/=.*//; s/ .*//')
  [ $rc = 2 ] && grep -q -- "${option%% *}" err.txt ||
    fail "'trackwell $line' gave status $rc: $(cat err.txt)"
done
[ ! -e p.wav ] && [ ! -e m.wav ] || fail "a refused command left a file"

export QT_QPA_PLATFORM=offscreen QL_MPV_AO=null QL_MPV_VO=null
timeout 60 "$bin/qlplayer" --cd-extraction --quit-after-show || fail "the CD-extraction window did not start"
timeout 60 "$bin/qlplayer" --quit-after-show "$work/out.wav" || fail "the player did not start"
# Without its libraries the window reports the missing one and ends with a failure, no abort.
mv "$stage/usr/lib/quillon" "$work/hidden"
set +e
timeout 60 "$bin/qlplayer" --cd-extraction --quit-after-show 2>err.txt
rc=$?
set -e
[ $rc = 1 ] && grep -q MMCDDA32 err.txt || fail "a missing library gave status $rc: $(cat err.txt)"
echo "staged install: passed"
