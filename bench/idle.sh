#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# What the monitor costs while it only watches the station: the demo runs
# headless (and, unless --no-gui, with its windows on a private Xvfb) for a
# measuring window after a short settling time, next to `sleep` as the
# baseline. Per run and per kind: CPU seconds, % of one core, wakeups per
# second (voluntary context switches of all threads: returns from a sleep),
# preemptions per second (involuntary ones: what a busy machine adds), peak
# RSS and the time from SIGTERM to the end; then min / median / max over the
# runs.
#
#   bench/idle.sh [-s SECONDS] [-n RUNS] [-w SETTLE] [--no-gui] [--no-headless] [--mqtt]
#                 [--bin WX118] [--old WX118] [--vs OTHER_WX118]
#
# --mqtt adds the headless demo publishing to a local mosquitto ([MQTT]).
# --old adds the headless demo of another build (kind "old"; a copy of an
# earlier program, with its modules beside it), measured in the same runs.
# --vs runs each kind of the program also with OTHER_WX118 (an earlier build,
# say), in turn with it in every run ("windowed_vs" and so on).
#
# Defaults: 120 s windows, 5 runs, 5 s settling, ./build/wx118.
set -u
secs=120 runs=5 settle=5 gui=1 mqtt=0 headless=1 old= vs=
bin=$(dirname "$0")/../build/wx118
while [ $# -gt 0 ]; do
  case $1 in
    -s) secs=$2; shift 2 ;;
    -n) runs=$2; shift 2 ;;
    -w) settle=$2; shift 2 ;;
    --no-gui) gui=0; shift ;;
    --no-headless) headless=0; shift ;;
    --vs) vs=$2; shift 2 ;;
    --mqtt) mqtt=1; shift ;;
    --bin) bin=$2; shift 2 ;;
    --old) old=$2; shift 2 ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "idle.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$bin" ] || { echo "idle.sh: no program at $bin (build first, or --bin)" >&2; exit 2; }
[ -z "$old" ] || [ -x "$old" ] || { echo "idle.sh: no program at $old (--old)" >&2; exit 2; }
[ -z "$vs" ] || [ -x "$vs" ] || { echo "idle.sh: no program at $vs (--vs)" >&2; exit 2; }
if [ "$gui" = 1 ] && ! command -v Xvfb >/dev/null; then
  echo "idle.sh: Xvfb missing, windowed runs skipped" >&2; gui=0
fi

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# CPU nanoseconds, voluntary and involuntary context switches of every
# thread of a process.
sample() {
  local pid=$1 ns=0 vcs=0 ics=0 t a b c v i
  for t in /proc/"$pid"/task/*; do
    read -r a b c <"$t/schedstat" 2>/dev/null || continue
    ns=$((ns + a))
    read -r v i < <(awk '/^voluntary_ctxt/ {v = $2} /^nonvoluntary_ctxt/ {i = $2} END {print v + 0, i + 0}' \
      "$t/status" 2>/dev/null)
    vcs=$((vcs + ${v:-0})) ics=$((ics + ${i:-0}))
  done
  echo "$ns $vcs $ics"
}

# Measures a running process for the window; prints
# "cpu_s core_pct wakeups_s preempt_s rss_kb".
measure() {
  local pid=$1 a b
  sleep "$settle"
  a=$(sample "$pid")
  sleep "$secs"
  b=$(sample "$pid")
  local rss
  rss=$(awk '/VmHWM/ {print $2}' /proc/"$pid"/status 2>/dev/null)
  set -- $a $b
  awk -v n0="$1" -v v0="$2" -v i0="$3" -v n1="$4" -v v1="$5" -v i1="$6" -v s="$secs" -v rss="${rss:-0}" 'BEGIN {
    cpu = (n1 - n0) / 1e9
    printf "%.4f %.4f %.2f %.2f %d\n", cpu, 100 * cpu / s, (v1 - v0) / s, (i1 - i0) / s, rss }'
}

# Ends a process and prints the milliseconds from SIGTERM to its end; one
# that ignores SIGTERM for 10 s is killed. Shell builtins only while timing,
# so that a busy machine's process start-up is not counted.
alive() {
  local a b state
  read -r a b state _ 2>/dev/null </proc/"$1"/stat || return 1
  [ "$state" != Z ]
}
stop() {
  local t0=${EPOCHREALTIME/./} now
  kill -TERM "$1" 2>/dev/null
  while alive "$1"; do
    now=${EPOCHREALTIME/./}
    [ $((now - t0)) -gt 10000000 ] && break
  done
  now=${EPOCHREALTIME/./}
  echo $(((now - t0) / 1000))
  kill -KILL "$1" 2>/dev/null; wait "$1" 2>/dev/null
}

# Each kind's own folder, lock and runtime dir, with a demo that has run
# before (a first run stops at the "new data log" message box).
prepare() {
  local d=$tmp/$1
  rm -rf "$d"; mkdir -p "$d/run" "$d/t"; chmod 700 "$d/run"
  cp -a "$tmp/seed/demo" "$d/demo"
  echo "$d"
}

run_sleep() {
  local d; d=$(prepare "$kind")
  sleep $((settle + secs + 5)) &
  local p=$!; pids+=("$p")
  local m; m=$(measure "$p")
  stop "$p" >"$d/quit"
  echo "$m $(cat "$d/quit")"
}

run_headless() {
  local d; d=$(prepare "$kind")
  XDG_RUNTIME_DIR=$d/run TMPDIR=$d/t "$prog" --headless --demo "$d/demo" >"$d/out" 2>"$d/err" &
  local p=$!; pids+=("$p")
  local m; m=$(measure "$p")
  stop "$p" >"$d/quit"
  echo "$m $(cat "$d/quit")"
}

run_old() { prog=$old run_headless; }

run_mqtt() {
  local d; d=$(prepare "$kind")
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\n' "$port" "$(id -un)" >"$d/broker.conf"
  mosquitto -c "$d/broker.conf" >"$d/broker.log" 2>&1 &
  local b=$!; pids+=("$b")
  printf '[MQTT]\nHost=127.0.0.1\nPort=%s\n' "$port" >>"$d/demo/root/c/WX118/WX118ini2.txt"
  XDG_RUNTIME_DIR=$d/run TMPDIR=$d/t "$prog" --headless --demo "$d/demo" >"$d/out" 2>"$d/err" &
  local p=$!; pids+=("$p")
  local m; m=$(measure "$p")
  stop "$p" >"$d/quit"
  echo "$m $(cat "$d/quit")"
  stop "$b" >/dev/null
}

run_windowed() {
  local d; d=$(prepare "$kind")
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$d/display" 2>"$d/xvfb.err" &
  local x=$!; pids+=("$x")
  for _ in $(seq 1 100); do grep -q '[0-9]' "$d/display" && break; sleep 0.1; done
  DISPLAY=:$(tr -dc 0-9 <"$d/display") QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$d/run TMPDIR=$d/t \
    "$prog" --demo "$d/demo" >"$d/out" 2>"$d/err" &
  local p=$!; pids+=("$p")
  local m; m=$(measure "$p")
  stop "$p" >"$d/quit"
  echo "$m $(cat "$d/quit")"
  stop "$x" >/dev/null
}

mkdir -p "$tmp/seed/run" "$tmp/seed/t"; chmod 700 "$tmp/seed/run"
XDG_RUNTIME_DIR=$tmp/seed/run TMPDIR=$tmp/seed/t "$bin" --headless --demo "$tmp/seed/demo" >/dev/null 2>&1 &
seed=$!
sleep 3
stop "$seed" >/dev/null

kinds=sleep
[ "$headless" = 1 ] && kinds="$kinds headless"
[ -n "$old" ] && kinds="$kinds old"
[ "$mqtt" = 1 ] && kinds="$kinds mqtt"
[ "$gui" = 1 ] && kinds="$kinds windowed"
if [ -n "$vs" ]; then
  for k in $kinds; do [ "$k" = sleep ] || [ "$k" = old ] || kinds="$kinds ${k}_vs"; done
fi
echo "# $runs runs, ${secs} s window after ${settle} s settling; program $bin${vs:+, vs $vs}"
printf "%-11s %3s %10s %8s %10s %10s %9s %8s\n" kind run cpu_s core_% wakeups/s preempt/s rss_kB quit_ms
for r in $(seq 1 "$runs"); do
  for kind in $kinds; do
    k=$kind prog=$bin
    case $kind in *_vs) k=${kind%_vs} prog=$vs ;; esac
    line=$(run_$k)
    echo "$kind $r $line" >>"$tmp/results"
    printf "%-11s %3d %10s %8s %10s %10s %9s %8s\n" "$kind" "$r" $line
  done
done

echo "# min / median / max over $runs runs"
for k in $kinds; do
  printf "%-11s" "$k"
  for col in 3 4 5 6 7 8; do
    awk -v k="$k" -v c="$col" '$1 == k {print $c}' "$tmp/results" | sort -g | awk '
      {v[NR] = $1} END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "  %s/%s/%s", v[1], m, v[NR] }'
  done
  echo
done
echo "# columns: cpu_s core_% wakeups/s preempt/s rss_kB quit_ms (SIGTERM to exit, polled every ms)"
