#!/usr/bin/env bash
# Installs the built program under /usr into a temporary DESTDIR and checks
# the result as a desktop would see it: the layout and the relative link, the
# desktop entry and AppStream metadata (with their own validators, and that
# they name each other and the icons), the manual page (rendered without
# warnings), and that the program started through bin/dervanta reads the hand
# pointer from beside its real location.
# Usage: test_install.sh BUILD_DIR
set -uo pipefail
build=${1:?usage: test_install.sh BUILD_DIR}
app_id=com.marrowick.Dervanta

tmp=$(mktemp -d /tmp/dervanta-install.XXXXXX)
tracer=
cleanup() {
  [ -n "$tracer" ] && kill "$tracer" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

if ! DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi
usr="$tmp/root/usr"

# ---- layout --------------------------------------------------------------------

outside=$(find "$tmp/root" -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] && pass "everything under DESTDIR/usr" || fail "installed outside the prefix: $outside"

program="$usr/lib/dervanta/dervanta"
if [ -f "$program" ] && [ ! -L "$program" ] && [ -x "$program" ]; then pass "program in lib/dervanta"
else fail "no program file at lib/dervanta/dervanta"; fi
[ -f "$usr/lib/dervanta/HAND-M.CUR" ] && pass "pointer file beside the program" \
  || fail "no HAND-M.CUR in lib/dervanta"

link=$(readlink "$usr/bin/dervanta")
[ "$link" = ../lib/dervanta/dervanta ] && pass "bin/dervanta is a relative link" \
  || fail "bin/dervanta should link to ../lib/dervanta/dervanta, links to '$link'"
[ "$(readlink -f "$usr/bin/dervanta")" = "$(readlink -f "$program")" ] \
  || fail "bin/dervanta does not lead to the program"

# Qt's project setup asks for an $ORIGIN run path; an installed program must have none.
runpath=$(readelf -d "$program" 2>&1 | grep -E 'RPATH|RUNPATH')
[ -z "$runpath" ] && pass "no run path" || fail "the installed program has a run path: $runpath"

# ---- desktop entry, metadata, icons ------------------------------------------------

desktop="$usr/share/applications/$app_id.desktop"
metainfo="$usr/share/metainfo/$app_id.metainfo.xml"

if out=$(desktop-file-validate "$desktop" 2>&1); then pass "desktop-file-validate${out:+ (}${out}${out:+)}"
else fail "desktop-file-validate: $out"; fi
if out=$(appstreamcli validate --no-net "$metainfo" 2>&1); then pass "appstreamcli validate"
else fail "appstreamcli validate: $out"; fi

entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Exec)" = dervanta ] || fail "the desktop entry should start 'dervanta', starts '$(entry Exec)'"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metadata's id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
  || fail "the metadata does not launch $app_id.desktop"

icon=$(entry Icon)
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon '$icon'"
for size in 48 128 256; do
  png="$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  if [ ! -f "$png" ]; then fail "no ${size}x${size} icon '$icon'"; continue; fi
  # Width and height are the big-endian words at bytes 16 and 20 of a PNG.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w $h" = "$size $size" ] || fail "$png is ${w}x${h}"
done
pass "icons"

# ---- manual page ---------------------------------------------------------------------

man_page="$usr/share/man/man1/dervanta.1"
if [ -f "$man_page" ]; then
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$man_page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l: $warnings"
  warnings=$(groff -ww -man -z "$man_page" 2>&1)
  [ -z "$warnings" ] || fail "groff: $warnings"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$man_page" 2>&1)
  grep -q '^NAME' <<<"$text" && ! grep -q '@[A-Z_]*@' <<<"$text" \
    || fail "the manual page does not render, or CMake left a placeholder in it"
  pass "manual page"
else
  fail "no manual page"
fi

# ---- the program through its link --------------------------------------------------

# Started with an empty settings store it opens on the connection page, which
# loads the pointer. Stopped, strace ends the program it started (-I 2: with
# -o it would otherwise hold off the signal until the program ends);
# timeout ends the program anyway should strace not.
mkdir -m 700 "$tmp/config"
trace="$tmp/trace"
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$tmp/config" \
  strace -I 2 -f -e trace=openat,statx,stat,newfstatat -o "$trace" \
  timeout -s KILL 30 "$usr/bin/dervanta" >"$tmp/program.log" 2>&1 &
tracer=$!
opened() { grep -F "\"$usr/lib/dervanta/HAND-M.CUR\", O_RDONLY" "$trace" 2>/dev/null | grep -Eq '\) = [0-9]+$'; }
for _ in $(seq 100); do
  opened && break
  kill -0 "$tracer" 2>/dev/null || break
  sleep 0.2
done
running=no
kill -0 "$tracer" 2>/dev/null && running=yes
kill "$tracer" 2>/dev/null
wait "$tracer" 2>/dev/null
tracer=

if opened; then
  pass "the program read DESTDIR/usr/lib/dervanta/HAND-M.CUR"
else
  fail "the program did not open $usr/lib/dervanta/HAND-M.CUR (running: $running)"
  grep -i 'HAND-M' "$trace" >&2
  cat "$tmp/program.log" >&2
fi
[ "$running" = yes ] || fail "the program had ended by itself: $(cat "$tmp/program.log")"

[ "$failures" = 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "all install checks passed"
