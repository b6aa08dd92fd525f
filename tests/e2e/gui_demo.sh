#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The real program with its three windows on a virtual X screen under a real
# window manager (openbox), driven from outside like a user would: the
# first-run message, the window frames of layout scheme A, the border icons,
# the layout choice bringing back windows minimised on their own, the unit
# button, a hand comment typed into the input box, a second copy raising the
# first, the help window, and Quit. Screenshots of every window are kept in
# <build>/artefacts/gui_demo/.
#
# Window rectangles are outer frames (title bar and border included); they are
# read from the window manager's frame window around each client with xwininfo.
# Stacking is read with the pointer.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
art=$build/artefacts/gui_demo
pid="" xpid="" wmpid=""
on_exit '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "$wmpid" ] && kill "$wmpid" 2>/dev/null; [ -n "$xpid" ] && kill "$xpid" 2>/dev/null; wait 2>/dev/null'
fail() {
  echo "FAIL: $*"
  # The windows as they were when it went wrong, and the logs.
  [ -n "${DISPLAY:-}" ] && import -window root "$art/failure-screen.png" 2>/dev/null
  cp "$log" "$elog" "$art/" 2>/dev/null
  echo "--- stdout"; cat "$tmp/out" 2>/dev/null
  echo "--- stderr"; cat "$tmp/err" 2>/dev/null
  echo "--- data log (tail)"; tail -5 "$log" 2>/dev/null
  exit 1
}

log=$tmp/demo/root/c/WX18DtLg.txt
elog=$tmp/demo/root/c/WX18ErLg.txt
mkdir -p "$art" || fail "cannot create $art"
rm -f "$art"/*.png "$art"/*.txt
for tool in Xvfb openbox xwininfo xprop xdotool import compare; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -x "$bin" ] || fail "no program at $bin"

# Keep this test's single-instance lock and socket to itself.
private_runtime "$tmp"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.err" &
xpid=$!
wait_for 20 grep -q '[0-9]' "$tmp/display" || { cat "$tmp/xvfb.err"; fail "Xvfb did not start"; }
export DISPLAY=:$(tr -dc 0-9 <"$tmp/display")
# The window manager, with its own empty configuration folder.
XDG_CONFIG_HOME=$tmp/config openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
wmpid=$!
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_for 20 wm_ready || { cat "$tmp/openbox.log"; fail "openbox did not start"; }

"$bin" --demo "$tmp/demo" --speed 60 >"$tmp/out" 2>"$tmp/err" &
pid=$!

# Visible windows of the program, one "id caption" line each.
windows() {
  local id
  for id in $(xdotool search --onlyvisible --classname '^wx118$' 2>/dev/null); do
    echo "$id $(xdotool getwindowname "$id" 2>/dev/null)"
  done
}
# The id of the visible window with exactly this caption.
window_named() { windows | awk -v n="$1" '{ id = $1; sub(/^[0-9]+ /, ""); if ($0 == n) { print id; exit } }'; }
has_window() { [ -n "$(window_named "$1")" ]; }
alive() { kill -0 "$pid" 2>/dev/null || fail "the program ended early"; }
# The top-level window under the pointer.
under_pointer() { xdotool getmouselocation --shell 2>/dev/null | sed -n 's/^WINDOW=//p'; }
# The window manager's frame window that holds a client window.
frame_of() { xwininfo -tree -id "$1" 2>/dev/null | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p'; }
# The outer frame of a client window, "left top width height": the window
# manager's frame window that holds it (xwininfo's -frame option only acts
# when a window is picked by hand, so the frame is asked for directly).
geometry() {
  local parent
  parent=$(frame_of "$1")
  [ -n "$parent" ] || return 1
  xwininfo -frame -id "$parent" |
    awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF} /^ *Width/ {w = $NF} /^ *Height/ {h = $NF}
         END {print x, y, w, h}'
}
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
focus() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1" 2>/dev/null || fail "cannot focus window $1"; }

# First run: the data log is missing, so a message box says it will be made;
# start-up waits for OK.
wait_for 30 has_window "WX118" || { alive; fail "no first-run message box; windows: $(windows)"; }
box=$(window_named "WX118")
# The error log is opened just before the data log, so the error window
# already says so while the box waits.
has_window "Error messages (Being logged to file)" || fail "error window caption not set before the first-run message; windows: $(windows)"
import -window "$box" "$art/first-run-message.png" || fail "screenshot of the message box"
focus "$box"
xdotool key Return
wait_for 15 eval '! has_window "WX118"' || fail "the message box did not close on Return"

main_caption="Weather monitor- WX118 Ver:1 Sept 10"
error_caption="Error messages (Being logged to file)"
numeric_caption="Numeric display of most recent readings"
for c in "$main_caption" "$error_caption" "$numeric_caption"; do
  wait_for 20 has_window "$c" || { alive; fail "no window captioned '$c'; windows: $(windows)"; }
done
M=$(window_named "$main_caption")
E=$(window_named "$error_caption")
N=$(window_named "$numeric_caption")
wait_for 30 grep -q '^t1' "$log" || { alive; fail "no T1 record within 30 s"; }
[ -e "$XDG_RUNTIME_DIR/wx118/MyApp" ] || fail "no single-instance lock in $XDG_RUNTIME_DIR/wx118"
# Each window is raised for its picture: an obscured part would come out
# as whatever covers it.
shot() { xdotool windowactivate --sync "$1" 2>/dev/null; sleep 0.3; import -window "$1" "$art/$2.png" || fail "screenshot $2"; }

# Scheme A's rectangles (the demo's [WindowPosnsAndSizes]) are the windows'
# outer frames, title bars and borders included, so the error window stays
# clear of the numeric window's readings.
scheme_a() {
  [ "$(geometry "$M")" = "0 0 800 370" ] && [ "$(geometry "$E")" = "0 610 800 100" ] &&
    [ "$(geometry "$N")" = "0 330 800 270" ]
}
wait_for 10 scheme_a || fail "frames are not scheme A: main $(geometry "$M"), error $(geometry "$E"), numeric $(geometry "$N")"
read -r _ ey _ eh < <(geometry "$E")
ny=$(xwininfo -id "$N" | sed -n 's/^ *Absolute upper-left Y: *//p')
[ $(( ey + eh )) -le $(( ny + 160 )) ] || [ "$ey" -ge $(( ny + 217 )) ] ||
  fail "the error window lies over the numeric window's reading panel"

# Border icons: the numeric and error windows ask for neither a close nor a
# minimise function and show no menu, minimise or maximise box (Motif hints:
# flags, functions, decorations); the main window keeps all of them.
motif() { xprop -id "$1" _MOTIF_WM_HINTS | sed -n 's/.*= //p' | tr -d ' '; }
no_icons() {
  local flags functions decorations
  IFS=, read -r flags functions decorations _ < <(motif "$1")
  [ $(( flags & 1 )) -eq 1 ] && [ $(( functions & 0x28 )) -eq 0 ] &&
    { [ $(( flags & 2 )) -eq 0 ] || [ $(( decorations & 0x70 )) -eq 0 ]; }
}
no_icons "$N" || fail "the numeric window asks for border icons: $(motif "$N")"
no_icons "$E" || fail "the error window asks for border icons: $(motif "$E")"
no_icons "$M" && fail "the main window lost its border icons: $(motif "$M")"

# A numeric and an error window minimised on their own come back with Scheme
# A (menu "&Restack", "Scheme &A"), in place, with the main window active.
xdotool windowminimize --sync "$N" || fail "cannot minimise the numeric window"
xdotool windowminimize --sync "$E" || fail "cannot minimise the error window"
viewable "$N" && fail "the numeric window did not minimise"
focus "$M"
xdotool key alt+r
sleep 0.5
xdotool key a
restored() { viewable "$N" && viewable "$E" && scheme_a && [ "$(xdotool getactivewindow)" = "$M" ]; }
wait_for 10 restored || fail "Scheme A did not bring both windows back under an active main window (active $(xdotool getactivewindow), numeric viewable: $(viewable "$N" && echo yes), error: $(viewable "$E" && echo yes))"

shot "$M" main
shot "$E" error
shot "$N" numeric
# The three windows as scheme A places them, the README's picture.
import -window root -crop 800x710+0+0 +repage "$art/windows.png" || fail "screenshot of the screen"

# Buttons by their place in the main window: design positions below a menu
# bar of 11 to 36 pixels (the point lies inside the button for any of them).
click_button() { xdotool mousemove --window "$M" "$1" 42 click 1; }
quit_x=308 corf_x=402 comment_x=620
# Clicks a button at x,y of the main window until the box named $1 opens: a
# click can be swallowed while the window settles after a box (a lone Alt
# release reaching it, for one, puts its menu bar into keyboard mode), so up
# to three clicks, five seconds apart, each repeat noted in the output.
click_for_box() {
  local _
  for _ in 1 2 3; do
    xdotool mousemove --window "$M" "$2" "$3" click 1
    wait_for 5 has_window "$1" && return 0
    echo "note: no '$1' yet, clicking $2,$3 again; windows: $(windows | tr '\n' ';')"
  done
  return 1
}

# The unit button. The five temperature captions (T0 (F) .. T4 (F)) sit on
# the reading panel at 8+16, 160+31 of the numeric window; the strip is
# compared before and after, and the page's newest row shows the unit.
captions() { import -window "$N" -crop 240x18+24+191 "$tmp/$1.png"; }
same() { [ "$(compare -metric AE "$tmp/$1.png" "$tmp/$2.png" null: 2>&1)" = 0 ]; }
newest_row_unit() { grep -a -- '--at--' "$tmp/demo/www/WX118WG.htm" 2>/dev/null | tail -1 | grep -q "^ *[-0-9.]* $1 "; }
captions f0; sleep 0.5; captions f1
same f0 f1 || fail "the temperature captions change without a click"
newest_row_unit F || wait_for 15 newest_row_unit F || fail "the page does not start in Fahrenheit"
click_button $corf_x
differs() { captions c; ! same f0 c; }
wait_for 10 differs || fail "the temperature captions did not change after the unit button"
wait_for 15 newest_row_unit C || fail "the page rows are not in Celsius after the unit button"
shot "$N" numeric-celsius
# Back with the button's mnemonic, Alt+S.
focus "$M"
xdotool key alt+s
back() { captions b; same f0 b; }
wait_for 10 back || fail "Alt+S did not bring the Fahrenheit captions back"
wait_for 15 newest_row_unit F || fail "the page rows are not in Fahrenheit after Alt+S"

# A line for the web page through its button: the text box, then the
# time-limit question at (200, 200), answered No (no expiry). The page is
# rewritten at once with the line in place of the configured message.
page=$tmp/demo/www/WX118WG.htm
html_x=620 html_y=74
click_for_box "Set Line in WebGlance Output" $html_x $html_y || fail "no page-line input box"
H=$(window_named "Set Line in WebGlance Output")
focus "$H"
xdotool type --delay 15 'Gauge <i id="e2e">reset</i> by hand'
xdotool key Return
wait_for 15 has_window "WX118" || fail "no time-limit question"
Q=$(window_named "WX118")
import -window "$Q" "$art/time-limit-question.png"
read -r qx qy _ _ < <(geometry "$Q")
[ "$qx,$qy" = "200,200" ] || fail "the time-limit question is at $qx,$qy, not 200,200"
focus "$Q"
# The message box's own mnemonic: N alone picks No.
xdotool key n
page_line() { grep -aqF '<br><br>Gauge <i id="e2e">reset</i> by hand' "$page"; }
wait_for 15 page_line || fail "the page does not carry the line entered through its button"
grep -aq 'every reading is simulated' "$page" && fail "the configured message is still on the page"

# The about box, placed 10 right of and 60 below the main window's corner.
read -r mx my _ _ < <(geometry "$M")
click_for_box "WX118" 405 74 || fail "no about box from the (c) button; windows: $(windows)"
A=$(window_named "WX118")
import -window "$A" "$art/about.png"
read -r ax ay _ _ < <(geometry "$A")
[ "$ax,$ay" = "$(( mx + 10 )),$(( my + 60 ))" ] || fail "the about box is at $ax,$ay, main window at $mx,$my"
focus "$A"
xdotool key Return
wait_for 15 eval '! has_window "WX118"' || fail "the about box did not close on Return"

# A second copy raises the first and exits 0, here while the first waits in
# the comment input box. Lower the main window under the numeric one, then
# watch which window is on top where they overlap.
read -r mx my mw mh < <(geometry "$M")
read -r nx ny nw nh < <(geometry "$N")
l=$(( mx > nx ? mx : nx )); r=$(( mx + mw < nx + nw ? mx + mw : nx + nw ))
t=$(( my > ny ? my : ny )); b=$(( my + mh < ny + nh ? my + mh : ny + nh ))
[ "$l" -lt "$r" ] && [ "$t" -lt "$b" ] || fail "main and numeric windows do not overlap; cannot see stacking"
# Keep clear of the error window, which lies over both in the default layout.
read -r ey < <(xdotool getwindowgeometry --shell "$E" | sed -n 's/^Y=//p')
px=$(( (l + r) / 2 )) py=$(( t + 5 )); [ "$py" -lt "$ey" ] || py=$(( (t + b) / 2 ))
# The pointer finds the window manager's frame, or the window itself.
on_top() {
  local under; under=$(under_pointer)
  [ "$under" = "$1" ] || [ "$under" = "$(( $(frame_of "$1") ))" ]
}
xdotool mousemove "$px" "$py"
focus "$N"
wait_for 10 on_top "$N" || fail "could not put the numeric window over the main window"

click_for_box "Add comment to Weather datafile" $comment_x 42 || fail "no comment input box"
D=$(window_named "Add comment to Weather datafile")
import -window "$D" "$art/comment-box.png"
read -r dx dy dw dh < <(geometry "$D")

timeout 20 "$bin" --demo "$tmp/demo2" >"$tmp/out2" 2>&1; rc=$?
[ "$rc" -eq 0 ] || { cat "$tmp/out2"; fail "second copy exited $rc"; }
[ ! -e "$tmp/demo2" ] || fail "second copy created its demo folder"
xdotool mousemove "$px" "$py"
wait_for 10 on_top "$M" || fail "the second copy did not bring the main window to the front"
# The input box still waits for its answer: it must stay in front.
xdotool mousemove $(( dx + dw / 2 )) $(( dy + dh / 2 ))
wait_for 10 on_top "$D" || fail "the input box is hidden behind the raised windows"
alive

# The hand comment, typed into the box; a leading "cm" is dropped.
focus "$D"
xdotool type --delay 15 "Cm gauge cleaned by e2e"
xdotool key Return
comment() { grep -aq $'^cm[a-z0-9]\\{8\\} By hand:  gauge cleaned by e2e\r$' "$log"; }
wait_for 15 comment || fail "no hand comment record in the data log"
wait_for 10 eval '! has_window "Add comment to Weather datafile"' || fail "the input box stayed open"

# Help ("?", at 424, 40): the HTML help file beside the program opens in a
# window of the program's own, and no missing-file message appears.
help_x=436 help_y=74
click_for_box "WX118 help" $help_x $help_y || fail "no help window from the ? button; windows: $(windows)"
HW=$(window_named "WX118 help")
has_window "WX118" && fail "a message box came with the help window"
import -window "$HW" "$art/help.png" || fail "screenshot of the help window"
focus "$HW"
xdotool key alt+F4
wait_for 10 eval '! has_window "WX118 help"' || fail "the help window did not close"
alive

# Quit (the button): the logs are closed and the program ends with status 0.
shot "$M" main-before-quit
click_button $quit_x
for _ in $(seq 1 75); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$pid" 2>/dev/null && fail "still running 15 s after Quit"
wait "$pid"; rc=$?; pid=""
[ "$rc" -eq 0 ] || fail "exit status $rc after Quit"
cp "$log" "$elog" "$art/"

check_logs() {
  head -1 "$log" | grep -q '^cm Data Log File for WX118' || fail "log header"
  grep -q '^ss.\{8\}- - System started, WX118 version: 1 Sept 10' "$log" || fail "start record"
  # Every line of both logs is whole and ended by CR LF.
  for f in "$log" "$elog"; do
    if grep -c $'[^\r]$' "$f" | grep -qv '^0$'; then fail "a line without CR LF in $f"; fi
    [ "$(tail -c 2 "$f" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "$f does not end in CR LF"
  done
  head -1 "$elog" | grep -q '^WX118 Error log. Created by the program ' || fail "error log header"
  # The last data-log line is a whole record: tag, stamp, something after it.
  tail -1 "$log" | grep -aq $'^[a-z][a-z0-9][0-9][0-9][a-z][0-9][0-9][a-z][0-9][0-9].*\r$' || fail "last log line is not a record"
  # An orderly end gives up the single-instance lock.
  [ ! -e "$XDG_RUNTIME_DIR/wx118/MyApp" ] || fail "the single-instance lock is left behind"
}
check_logs

# A second run on the same folder: no first-run message and no second header.
# SIGTERM while the comment box is open ends it in order, and what was typed
# is reported on standard error rather than lost.
"$bin" --demo "$tmp/demo" --speed 60 >"$tmp/out" 2>"$tmp/err" &
pid=$!
wait_for 30 has_window "$main_caption" || { alive; fail "second run: no main window; windows: $(windows)"; }
M=$(window_named "$main_caption")
started_twice() { [ "$(grep -c '^ss' "$log")" -ge 2 ]; }
wait_for 30 started_twice || { alive; fail "second run: no start record; windows: $(windows)"; }
has_window "WX118" && fail "second run shows a message box"
[ "$(grep -c '^cm Data Log File for WX118' "$log")" -eq 1 ] || fail "second run wrote a second log header"
[ "$(grep -c '^WX118 Error log' "$elog")" -eq 1 ] || fail "second run wrote a second error-log header"
click_for_box "Add comment to Weather datafile" $comment_x 42 || fail "second run: no comment input box"
D=$(window_named "Add comment to Weather datafile")
focus "$D"
import -window "$D" "$tmp/empty.png"
xdotool type --delay 15 "Cm left open at shutdown"
# The box has drawn the whole text when its picture has changed and holds still.
typed() {
  import -window "$D" "$tmp/typed1.png" && sleep 0.3 && import -window "$D" "$tmp/typed2.png" &&
    same typed1 typed2 && ! same empty typed1
}
wait_for 10 typed || fail "the typed text did not show in the input box"
kill -TERM "$pid"
for _ in $(seq 1 75); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$pid" 2>/dev/null && fail "still running 15 s after SIGTERM with the input box open"
wait "$pid"; rc=$?; pid=""
[ "$rc" -eq 0 ] || fail "exit status $rc after SIGTERM with the input box open"
grep -qF "wx118: The data log is closed, so no comment can be added to it now. Your comment was:  left open at shutdown" "$tmp/err" ||
  fail "the comment typed before SIGTERM was not reported"
grep -q 'left open at shutdown' "$log" && fail "a comment reached the log after it was closed"
check_logs
cp "$log" "$elog" "$art/"
echo "PASS (screenshots in $art)"
