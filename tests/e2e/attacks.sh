#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Attacks on the real program, as a hostile world and a hostile local user
# would make them: signals at any moment, file-size limits, a reader that
# leaves, unusable data folders, bad records in the log. Each case is a
# function case_NAME that runs in its own folder with its own lock and
# socket; add a case by adding a function. Usage:
#   attacks.sh BUILD-DIR SOURCE-DIR [CASE...]      (default: every case)
set -u
. "$(dirname "$0")/lib.sh"
# Cases run the program as another user, who must reach this folder.
e2e_begin "$1" "$2" --shared
shift 2 || true
pids=()
on_exit 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done'
polls_per_second=20

# --- helpers for the cases --------------------------------------------------
# Sets up $dir (the case's folder), its lock and socket, and $log/$errlog/$out/$err.
setup() {
  folder_for_case "$1"
  log=$dir/demo/root/c/WX18DtLg.txt
  errlog=$dir/demo/root/c/WX18ErLg.txt
}
# Starts the headless demo in $dir/demo in the background; its pid in $pid.
start_demo() {
  "$bin" --headless --demo "$dir/demo" "$@" >"$out" 2>"$err" &
  pid=$!
  pids+=("$pid")
}
has_records() { [ -f "$log" ] && grep -q '^t1' "$log"; }
# Waits for $pid to end (at most SECONDS); its exit status in $rc (999: still running).
wait_end() {
  local s=$1
  wait_for "$s" eval '! kill -0 $pid 2>/dev/null' || { rc=999; return; }
  wait "$pid" 2>/dev/null; rc=$?
}
# Every line of the data log is a whole line ended by CR LF.
log_whole() {
  [ -f "$log" ] || return 0
  ! grep -q $'[^\r]$' "$log" && [ -z "$(tail -c1 "$log" | tr -d '\n')" ]
}
failed=0
fail() { failed=$((failed + 1)); echo "FAIL [$case]: $*"; for f in "$out" "$err"; do echo "--- $(basename "$f")"; tail -5 "$f" 2>/dev/null; done; }

# --- the cases --------------------------------------------------------------

# SIGTERM is caught (the kernel's SigCgt mask of the process).
term_caught() { local m; m=$(awk '/^SigCgt/ {print $2}' "/proc/$pid/status" 2>/dev/null); [ -n "$m" ] && (( 0x$m & (1 << 14) )); }

# A quit signal at any moment of start-up, from the moment the program
# catches it (its first instruction) on, ends it in order (status 0) and
# leaves whole records only.
case_quit_during_startup() {
  for delay in 0 0.02 0.1 0.3 1; do
    setup "startup-$delay"
    start_demo --speed 60
    wait_for 10 term_caught || { fail "SIGTERM never caught"; return; }
    sleep "$delay"
    kill -TERM "$pid"
    wait_end 15
    [ "$rc" -eq 0 ] || { fail "SIGTERM ${delay}s after it was caught: exit status $rc"; return; }
    log_whole || { fail "SIGTERM ${delay}s after it was caught: a torn data log line"; return; }
  done
}

# SIGHUP (the terminal went away) is an orderly quit like SIGTERM.
case_sighup_quits_in_order() {
  setup sighup
  start_demo --speed 60
  wait_for 30 has_records || { fail "no records"; return; }
  kill -HUP "$pid"
  wait_end 15
  [ "$rc" -eq 0 ] || { fail "exit status $rc after SIGHUP"; return; }
  log_whole || fail "a torn data log line"
}

# Standard output into a pipe whose reader left: the monitor goes on, says so
# once, and still quits in order.
case_reader_of_stdout_left() {
  setup sigpipe
  # A missing rain gauge gives an error line every round.
  "$bin" --headless --demo "$dir/demo" --speed 60 >/dev/null 2>&1 & pid=$!; pids+=("$pid")
  wait_for 30 has_records || { fail "no records"; return; }
  kill -TERM "$pid"; wait_end 15
  echo "fault C5 absent" >>"$dir/demo/demo-station.txt"
  "$bin" --headless --demo "$dir/demo" --speed 60 2>"$err" > >(head -n 1 >/dev/null) &
  pid=$!; pids+=("$pid")
  wait_for 30 grep -q 'standard output can no longer be written' "$err" || { fail "no word about standard output"; return; }
  local size
  size=$(stat -c %s "$log")
  wait_for 30 eval '[ "$(stat -c %s "$log")" -gt "$size" ]' || { fail "no records after the reader left"; return; }
  kill -TERM "$pid"; wait_end 15
  [ "$rc" -eq 0 ] || fail "exit status $rc"
}

# A file-size limit (ulimit -f) gives write errors that are reported, not a
# dead program; the data log keeps whole lines.
case_file_size_limit() {
  setup sigxfsz
  start_demo --speed 600
  wait_for 30 eval '[ -f "$log" ] && [ "$(stat -c %s "$log")" -gt 3000 ]' || { fail "the log did not grow"; return; }
  kill -TERM "$pid"; wait_end 15
  (ulimit -f 2; exec "$bin" --headless --demo "$dir/demo" --speed 600 >"$out" 2>"$err") &
  pid=$!; pids+=("$pid")
  wait_for 30 grep -q 'File too large' "$out" || { fail "no report of the failed write"; return; }
  sleep 1
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "ended (status $?) under the file-size limit"; return; }
  kill -TERM "$pid"; wait_end 15
  [ "$rc" -eq 0 ] || { fail "exit status $rc"; return; }
  log_whole || fail "a torn data log line"
}

# Fatal ends are not success: a data log that cannot be opened and a
# read-only data root end with status 3, a bad configuration with 1.
case_fatal_ends_are_not_success() {
  setup fatal
  start_demo
  wait_for 30 has_records || { fail "no records"; return; }
  kill -TERM "$pid"; wait_end 15

  mv "$log" "$log.saved" && mkdir "$log"
  start_demo; wait_end 30
  [ "$rc" -eq 3 ] || { fail "data log not openable: exit status $rc"; return; }
  rmdir "$log" && mv "$log.saved" "$log"

  # Read-only for the program: as root that takes another user.
  chmod -R a+rX "$dir" && chmod -R a-w "$dir/demo"
  local as=()
  [ "$(id -u)" -eq 0 ] && as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  [ "$(id -u)" -eq 0 ] && chown -R nobody "$dir/run" "$dir/t"  # with the lock folder an earlier run made
  "${as[@]}" "$bin" --headless --demo "$dir/demo" >"$out" 2>"$err" & pid=$!; pids+=("$pid")
  wait_end 30
  chmod -R u+w "$dir/demo"
  [ "$rc" -eq 3 ] || { fail "read-only data root: exit status $rc"; return; }

  sed -i '1s/.*/not a primary file/' "$dir/demo/WX118ini.txt"
  start_demo; wait_end 30
  [ "$rc" -eq 1 ] || fail "bad primary file: exit status $rc"
}

# One unreadable record in the middle of the log is reported (file and line
# named) and every later start still runs and logs.
case_bad_record_in_the_log() {
  setup badrecord
  start_demo --speed 60
  wait_for 30 eval 'has_records && [ "$(grep -c "" "$log")" -gt 20 ]' || { fail "no records"; return; }
  kill -TERM "$pid"; wait_end 15
  local n stamp
  n=$(( $(grep -c "" "$log") / 2 ))
  stamp=$(sed -n "${n}p" "$log" | cut -c3-10)
  sed -i "${n}a bp${stamp}02x5"$'\r' "$log"
  for run in 1 2; do
    start_demo --speed 60
    local size
    size=$(stat -c %s "$log")
    wait_for 30 eval '[ "$(stat -c %s "$log")" -gt $((size + 200)) ]' || { fail "run $run: no new records"; return; }
    kill -TERM "$pid"; wait_end 15
    [ "$rc" -eq 0 ] || { fail "run $run: exit status $rc"; return; }
    grep -q 'old pressure datum.*data log C:/WX18DtLg.txt, line .* from the end.*The monitor goes on' "$err" ||
      { fail "run $run: the bad record is not reported"; return; }
  done
}

# --- run --------------------------------------------------------------------
run_cases "$@"
