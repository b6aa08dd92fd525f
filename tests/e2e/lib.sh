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

# --- the weather networks, played on 127.0.0.1 --------------------------------

# upload_endpoint PORT LOG [hang|refuse]: python3's http.server taking the
# uploads of every HTTP network at /wu, /pws, /wow, /windy and /awekas. It
# checks each request's fields, ranges and date format, writes one JSON line
# per request to LOG ("bad" names what is wrong) and answers as the network
# does; "refuse" answers Weather Underground's wrong-password reply, "hang"
# never answers. Its pid in upload_pid.
upload_endpoint() {
  python3 - "$@" <<'PY' &
import hashlib, http.server, json, sys, time, urllib.parse
from datetime import datetime
port, log, mode = int(sys.argv[1]), sys.argv[2], (sys.argv[3] if len(sys.argv) > 3 else "")
RANGES = {"tempf": (-130, 150), "dewptf": (-130, 150), "humidity": (1, 100), "baromin": (25, 32.5),
          "windspeedmph": (0, 250), "windgustmph": (0, 250), "winddir": (0, 360), "rainin": (0, 20),
          "dailyrainin": (0, 80), "temp": (-90, 65), "dewpoint": (-90, 65), "pressure": (85000, 110000),
          "wind": (0, 110), "gust": (0, 110), "precip": (0, 500)}
WHOLE = {"humidity", "winddir", "pressure"}
def check(path, q):
    bad = []
    need = {"/wu": ["ID", "PASSWORD", "action", "dateutc"], "/pws": ["ID", "PASSWORD", "action", "dateutc"],
            "/wow": ["siteid", "siteAuthenticationKey", "dateutc", "softwaretype"],
            "/windy": ["id", "PASSWORD", "time"], "/awekas": ["val"]}.get(path)
    if need is None: return ["unknown path " + path]
    bad += ["missing " + k for k in need if k not in q]
    for k, v in q.items():
        if k in RANGES:
            try:
                x = float(v)
                if not RANGES[k][0] <= x <= RANGES[k][1]: bad.append("%s=%s out of range" % (k, v))
                if k in WHOLE and "." in v: bad.append(k + " not whole")
            except ValueError: bad.append("%s=%r not a number" % (k, v))
    try:
        if "dateutc" in q: datetime.strptime(q["dateutc"], "%Y-%m-%d %H:%M:%S")
        if "time" in q: datetime.strptime(q["time"], "%Y-%m-%dT%H:%M:%SZ")
    except ValueError as e: bad.append(str(e))
    if path == "/awekas":
        f = q.get("val", "").split(";")
        if len(f) < 23: bad.append("%d AWEKAS fields" % len(f))
        else:
            try:
                datetime.strptime(f[2] + " " + f[3], "%d.%m.%Y %H:%M")
                if f[1] != hashlib.md5(b"awekas-pw").hexdigest(): bad.append("not the password's MD5")
                if not -90 <= float(f[4]) <= 65 or not 1 <= int(f[5]) <= 100: bad.append("AWEKAS values")
            except ValueError as e: bad.append(str(e))
    return bad
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        u = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(u.query, keep_blank_values=True))
        with open(log, "a") as out:
            out.write(json.dumps({"t": time.time(), "path": u.path, "q": q, "bad": check(u.path, q)}) + "\n")
        if mode == "hang": time.sleep(3600)
        body = {"/wu": "success\n", "/wow": "{}", "/awekas": "OK"}.get(u.path, "")
        if mode == "refuse" and u.path == "/wu": body = "INVALIDPASSWORDID|Password or key and/or id are incorrect\n"
        self.send_response(200); self.send_header("Content-Length", str(len(body))); self.end_headers()
        self.wfile.write(body.encode())
    def log_message(self, *a): pass
http.server.ThreadingHTTPServer.daemon_threads = True
http.server.ThreadingHTTPServer(("127.0.0.1", port), H).serve_forever()
PY
  upload_pid=$!
  wait_for 10 listening "$1" || fail "the upload endpoint on port $1 did not start"
}

# aprs_is PORT LOG [refuse]: an APRS-IS server for CWOP: a banner, the login
# answered "unverified" (or "invalid" with refuse), then one report a
# connection. Writes "login LINE" and "packet LINE" to LOG. Pid in aprs_pid.
aprs_is() {
  python3 - "$@" <<'PY' &
import socketserver, sys
port, log, mode = int(sys.argv[1]), sys.argv[2], (sys.argv[3] if len(sys.argv) > 3 else "")
class H(socketserver.StreamRequestHandler):
    def handle(self):
        try: self.session()
        except OSError: pass  # a client that went away, such as the check that the port is open
    def session(self):
        self.wfile.write(b"# aprsc 2.1.14-test\r\n")
        login = self.rfile.readline(512).decode("latin-1").rstrip("\r\n")
        if not login: return
        with open(log, "a") as out: out.write("login " + login + "\n")
        call = (login.split() + ["?", "?"])[1]
        self.wfile.write(("# logresp %s %s, server T2TEST\r\n" % (call, "invalid" if mode == "refuse" else "unverified")).encode())
        if mode == "refuse": return
        packet = self.rfile.readline(512).decode("latin-1").rstrip("\r\n")
        with open(log, "a") as out: out.write("packet " + packet + "\n")
socketserver.ThreadingTCPServer.allow_reuse_address = True
socketserver.ThreadingTCPServer.daemon_threads = True
socketserver.ThreadingTCPServer(("127.0.0.1", port), H).serve_forever()
PY
  aprs_pid=$!
  wait_for 10 listening "$1" || fail "the APRS-IS server on port $1 did not start"
}
