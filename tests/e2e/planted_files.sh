#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Files planted where the monitor looks, by a second local user or a careless
# hand: a lock folder made by another user in the shared temporary folder,
# and a folder, FIFO or link to /dev/zero in the place of a configuration
# file or the data log. Each must end in a clear message naming the file and
# why, promptly (no hang, no exhausted memory), never in a silent exit 0.
# Each case is a function case_NAME in its own folder with its own lock.
# Usage: planted_files.sh BUILD-DIR SOURCE-DIR [CASE...]   (default: all)
set -u
. "$(dirname "$0")/lib.sh"
# Cases run the program as another user, who must reach this folder.
e2e_begin "$1" "$2" --shared
shift 2 || true
other=
on_exit '[ -n "$other" ] && userdel "$other" 2>/dev/null'

setup() { folder_for_case "$1"; }
# Runs the headless demo in $dir/demo for at most SECONDS; status in $rc (124: still running).
run_demo() {
  local s=$1; shift
  timeout -k 5 "$s" "$bin" --headless --demo "$dir/demo" "$@" >"$out" 2>"$err"; rc=$?
  [ "$rc" -eq 137 ] && rc=124
}
failed=0
fail() { failed=$((failed + 1)); echo "FAIL [$case]: $*"; echo "--- stderr"; tail -5 "$err" 2>/dev/null; }

# Without XDG_RUNTIME_DIR (cron, su, ssh) the lock lives in a folder under
# TMPDIR. Another user who made that folder first must not keep the monitor
# from starting without a word: it refuses, says why, and exits non-zero.
case_lock_folder_of_another_user() {
  if [ "$(id -u)" -ne 0 ]; then echo "skip [$case]: needs root to add a user"; return; fi
  setup lockfolder
  other=wx118t$$
  useradd --system --no-create-home --shell /usr/sbin/nologin "$other" || { fail "useradd"; return; }
  chmod 1777 "$dir/t"  # as the shared /tmp is
  unset XDG_RUNTIME_DIR
  local own=$dir/t/wx118-$(id -u)
  for mode in 700 777; do
    rm -rf "$own"
    setpriv --reuid="$other" --regid="$other" --clear-groups sh -c \
      "mkdir '$own' && printf '1\nwx118\n%s\n' \"\$(hostname)\" >'$own/MyApp' && chmod $mode '$own'" ||
      { fail "planting as $other"; return; }
    run_demo 20
    [ "$rc" -eq 1 ] || { fail "folder of another user (mode $mode): exit status $rc"; return; }
    grep -q "the folder $own for the single-instance lock cannot be used: it belongs to user id" "$err" ||
      { fail "no clear word about the planted folder"; return; }
    [ ! -e "$dir/demo/root/c/WX18DtLg.txt" ] || { fail "started in spite of the planted folder"; return; }
  done
  # Our own folder is made private and used.
  rm -rf "$own"
  "$bin" --headless --demo "$dir/demo" --speed 60 >"$out" 2>"$err" &
  local pid=$!
  wait_for 20 test -S "$own/MyApp.socket" || fail "no restore socket in the private folder"
  [ "$(stat -c %a:%u "$own")" = "700:$(id -u)" ] || fail "own folder: $(stat -c %a:%u "$own")"
  kill -TERM $pid; wait $pid
}

# plant PATH KIND: a folder, a FIFO or a link to /dev/zero at PATH.
plant() {
  rm -rf "$1"; mkdir -p "$(dirname "$1")"
  case $2 in
    folder) mkdir "$1" ;;
    fifo) mkfifo "$1" ;;
    zero) ln -s /dev/zero "$1" ;;
  esac
}
why() { case $1 in folder) echo "it is a folder, not a regular file" ;; fifo) echo "it is a FIFO, not a regular file" ;; zero) echo "it is a device, not a regular file" ;; esac; }

case_secondary_file_not_a_file() {
  for kind in folder fifo zero; do
    setup "secondary-$kind"
    plant "$dir/demo/root/c/WX118/WX118ini2.txt" "$kind"
    run_demo 20
    [ "$rc" -eq 1 ] || { fail "$kind: exit status $rc"; return; }
    grep -q "must begin 'abWX118ini2' (C:\\\\WX118\\\\WX118ini2.txt (that is .*): $(why "$kind"))" "$err" ||
      { fail "$kind: no message naming the file and why"; return; }
  done
}

case_primary_file_not_a_file() {
  for kind in folder fifo zero; do
    setup "primary-$kind"
    plant "$dir/demo/WX118ini.txt" "$kind"
    run_demo 20
    [ "$rc" -eq 1 ] || { fail "$kind: exit status $rc"; return; }
    grep -q "(Looked for WX118ini.txt in the folder $dir/demo: $(why "$kind").)" "$err" ||
      { fail "$kind: no message naming the folder and why"; return; }
  done
}

# A FIFO or a device as the data log: refused at start, not a hang.
case_data_log_not_a_file() {
  for kind in fifo zero; do
    setup "datalog-$kind"
    plant "$dir/demo/root/c/WX18DtLg.txt" "$kind"
    run_demo 20
    [ "$rc" -ne 124 ] || { fail "$kind: still running (hung?)"; return; }
    grep -q "Unable to establish Data Log File C:/WX18DtLg.txt (that is .*): $(why "$kind")" "$err" ||
      { fail "$kind: no message naming the file and why"; return; }
  done
}

run_cases "$@"
