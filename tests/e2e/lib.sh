# SPDX-License-Identifier: GPL-2.0-or-later
# The set-up the end-to-end scripts share; each sources it first:
#   . "$(dirname "$0")/lib.sh"
#   e2e_begin "$@"            (or e2e_begin "$@" --shared)
# Each script defines its own fail(), which the helpers here call.

# e2e_begin BUILD-DIR [SOURCE-DIR] [--shared]: sets build (absolute), src,
# bin and a fresh folder tmp, removed on exit (kept when KEEP is set) after
# the commands given to on_exit. With --shared the folder sits in /tmp and is
# readable by all, for cases that run the program as another user, who could
# not reach a TMPDIR private to the caller.
e2e_begin() {
  build=$(cd "$1" && pwd) || { echo "FAIL: no build folder $1"; exit 1; }
  src=${2:-}
  bin=$build/wx118
  if [ "${3:-}" = --shared ]; then
    tmp=$(mktemp -d -p /tmp)
    chmod 755 "$tmp"
  else
    tmp=$(mktemp -d)
  fi
  e2e_exit_commands=()
  trap e2e_end EXIT
}

# on_exit COMMAND: evaluated when the script ends, the last given first.
on_exit() { e2e_exit_commands+=("$1"); }

e2e_end() {
  local i
  for ((i = ${#e2e_exit_commands[@]} - 1; i >= 0; i--)); do eval "${e2e_exit_commands[i]}"; done
  if [ -n "${KEEP:-}" ]; then echo "kept $tmp" >&2; else rm -rf "$tmp"; fi
}

# private_runtime DIR: the program's single-instance lock and socket in
# DIR/run (only this user may enter) and its temporary files in DIR/t, so
# that runs never meet each other's copies.
private_runtime() {
  mkdir -p "$1/run" "$1/t"
  chmod 700 "$1/run"
  export XDG_RUNTIME_DIR=$1/run TMPDIR=$1/t
}

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, tried
# $polls_per_second times a second (5 unless the script sets it) for about
# that long, and once more at the end. Counted in tries, so that a slow
# command still gets as many chances.
wait_for() {
  local rate=${polls_per_second:-5}
  local n=$(( $1 * rate )) pause
  pause=$(awk -v r="$rate" 'BEGIN { print 1 / r }')
  shift
  for _ in $(seq 1 "$n"); do "$@" && return 0; sleep "$pause"; done
  "$@"
}

# A TCP port on 127.0.0.1 that nothing listens on now.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# listening PORT: something accepts connections on 127.0.0.1:PORT.
listening() { (exec 3<>/dev/tcp/127.0.0.1/$1) 2>/dev/null; }

# start_simbus [OPTION...] STATION-FILE: wx118-simbus in the background (pid
# in sb), the pseudo-terminal it serves in pty; its errors go to
# $tmp/simbus.err.
start_simbus() {
  "$build/wx118-simbus" "$@" >"$tmp/simbus.path" 2>"$tmp/simbus.err" &
  sb=$!
  for _ in $(seq 1 50); do [ -s "$tmp/simbus.path" ] && break; kill -0 $sb 2>/dev/null || break; sleep 0.1; done
  pty=$(head -1 "$tmp/simbus.path")
  [ -c "$pty" ] || fail "wx118-simbus printed no terminal path (got '$pty')"
}

# --- scripts made of cases ----------------------------------------------------
# A case is a function case_NAME; its fail() adds to $failed and returns.

# folder_for_case NAME: the case's folder $dir with its own lock, and $out/$err.
folder_for_case() {
  dir=$tmp/$1
  private_runtime "$dir"
  out=$dir/out
  err=$dir/err
}

# run_cases [NAME...]: the cases named, or every case_ function; PASS and
# status 0 when none failed.
run_cases() {
  local cases=("$@") before
  [ ${#cases[@]} -gt 0 ] || mapfile -t cases < <(declare -F | awk '{print $3}' | sed -n 's/^case_//p')
  failed=${failed:-0}
  for case in "${cases[@]}"; do
    before=$failed
    "case_$case"
    [ "$failed" -eq "$before" ] && echo "ok   [$case]"
  done
  [ "$failed" -eq 0 ] && echo PASS
  [ "$failed" -eq 0 ]
}
