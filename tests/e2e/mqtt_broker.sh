#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# MQTT against a real broker: mosquitto on 127.0.0.1 started here, with
# mosquitto_sub as the consumer. The demo publishes discovery configs and the
# states it logs; SIGKILL leaves "offline"; a broker that goes away and comes
# back gets the latest values again while the cycle keeps the pace of a run
# without MQTT; a login with password over TLS with a client certificate
# works, and a wrong password or a wrong CA gives one clear message.
set -u
. "$(dirname "$0")/lib.sh"
e2e_begin "$@"
# Rain today starts again at local midnight, and a demo at --speed 40 runs
# half an hour of its day in the script's first minute: keep that half hour
# away from midnight, whenever the suite runs, with a zone whose local time
# is now about noon.
export TZ=WXT$(( $(date -u +%-H) - 12 ))
pids=()
on_exit 'for p in "${pids[@]}"; do kill -9 $p 2>/dev/null; done'
for tool in mosquitto mosquitto_sub mosquitto_passwd openssl python3; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*.out "$tmp"/*.sub "$tmp"/*.broker; do [ -f "$f" ] && { echo "--- $f"; tail -5 "$f"; }; done
  exit 1
}
# broker NAME PORT [config lines...]: starts mosquitto, sets $broker_pid.
broker() {
  local name=$1 port=$2; shift 2
  # As root, mosquitto would turn into a user that cannot read this test's files.
  printf '%s\n' "listener $port 127.0.0.1" "user $(id -un)" "$@" >"$tmp/$name.conf"
  mosquitto -c "$tmp/$name.conf" >>"$tmp/$name.broker" 2>&1 &
  broker_pid=$!; pids+=($broker_pid)
  wait_for 10 listening $port || fail "broker $name did not start"
}
# monitor NAME: the headless demo in $tmp/NAME, with its own lock; sets $mon_pid.
monitor() {
  mkdir -p "$tmp/$1.run" "$tmp/$1.t"; chmod 700 "$tmp/$1.run"
  XDG_RUNTIME_DIR=$tmp/$1.run TMPDIR=$tmp/$1.t "$bin" --headless --demo "$tmp/$1" --speed 40 \
    >"$tmp/$1.out" 2>"$tmp/$1.err" &
  mon_pid=$!; pids+=($mon_pid)
}
# A demo installation, stopped once it has its log.
make_demo() {
  monitor "$1"; local p=$mon_pid
  wait_for 20 test -s "$tmp/$1/root/c/WX18DtLg.txt" || fail "demo $1 not created"
  kill -TERM $p; wait $p
  : >"$tmp/$1.out"
}
mqtt_section() { printf '[MQTT]\nHost=127.0.0.1\nPrefix=wxtest/%s\n' "$1" >>"$tmp/$1/root/c/WX118/WX118ini2.txt"; printf '%s\n' "${@:2}" >>"$tmp/$1/root/c/WX118/WX118ini2.txt"; }
# The records in the data log count the readings (error lines no longer do:
# repeats of one message are collapsed on standard output).
ws_lines() { grep -c '' "$tmp/$1/root/c/WX18DtLg.txt"; }

for d in a b p w x u s m; do make_demo $d & done; wait

# ---- An installation that lost its MQTT module says so and goes on logging.
mkdir -p "$tmp/bare"; cp "$bin" "$tmp/bare/wx118"
mqtt_section m "Port=$(free_port)"
bin=$tmp/bare/wx118 monitor m; m=$mon_pid
wait_for 20 grep -q 'MQTT: cannot load the module wx118-mqtt.so' "$tmp/m.out" || fail "no word of the missing module"
m0=$(ws_lines m); sleep 3
[ "$(ws_lines m)" -gt "$m0" ] && kill -0 $m || fail "no logging without the MQTT module"
kill -TERM $m; wait $m || fail "exit status without the MQTT module"

# ---- A publishes, B does not; the broker goes away and comes back.
port=$(free_port)
broker plain $port "allow_anonymous true"
plain=$broker_pid
# The demo's [Units] section (the first of a name counts) switched to Fahrenheit.
sed -i 's/^Temperature=C/Temperature=F/' "$tmp/a/root/c/WX118/WX118ini2.txt"
grep -q '^Temperature=F' "$tmp/a/root/c/WX118/WX118ini2.txt" || fail "the demo's [Units] has no Temperature=C"
mqtt_section a "Port=$port"
mosquitto_sub -h 127.0.0.1 -p $port -v -t 'wxtest/#' -t 'homeassistant/#' >"$tmp/before.sub" &
pids+=($!)
monitor a; a=$mon_pid
monitor b; b=$mon_pid
wait_for 20 grep -q '^wxtest/a/T1 ' "$tmp/before.sub" || fail "no T1 state"
wait_for 10 grep -q '^wxtest/a/wind_direction ' "$tmp/before.sub" || fail "no wind state"
# Without the section no network thread starts.
grep -qx wx118-mqtt /proc/$a/task/*/comm || fail "no MQTT thread"
grep -qx wx118-mqtt /proc/$b/task/*/comm && fail "an MQTT thread without the section"
# The section loads the MQTT module; without it libmosquitto stays out.
grep -q 'wx118-mqtt.so' /proc/$a/maps || fail "no MQTT module with the section"
grep -q 'libmosquitto' /proc/$b/maps && fail "libmosquitto mapped without the section"
sleep 3
kill -TERM $plain; wait $plain
a0=$(ws_lines a); b0=$(ws_lines b)
sleep 6
a1=$(ws_lines a); b1=$(ws_lines b)
broker plain $port "allow_anonymous true"
mosquitto_sub -h 127.0.0.1 -p $port -v -t 'wxtest/#' >"$tmp/after.sub" &
pids+=($!)
wait_for 30 grep -q '^wxtest/a/T0 ' "$tmp/after.sub" || fail "the latest T0 did not come back after the broker restart"
echo "records while the broker was away: with MQTT $((a1 - a0)), without $((b1 - b0))"
[ $((b1 - b0)) -ge 3 ] || fail "the run without MQTT hardly cycled ($((b1 - b0)))"
diff=$(( (a1 - a0) - (b1 - b0) )); diff=${diff#-}
[ $diff -le $(( (b1 - b0) / 10 + 4 )) ] || fail "the outage changed the cycle count"
grep -q '^[0-9]*: MQTT: no connection to the broker at 127.0.0.1' "$tmp/a.out" || fail "no word of the outage"
[ "$(grep -c 'MQTT: no connection' "$tmp/a.out")" -eq 1 ] || fail "the outage was reported more than once"
kill -TERM $b; wait $b

# Topics the library refuses (DEL, a wildcard): each failing kind is reported once, with the reason.
printf '[MQTT]\nHost=127.0.0.1\nPort=%s\nPrefix=wxtest/u\177\nDiscoveryPrefix=ha/+\n' $port \
  >>"$tmp/u/root/c/WX118/WX118ini2.txt"
monitor u; u=$mon_pid
wait_for 20 grep -q 'MQTT: the readings cannot be published' "$tmp/u.out" || fail "a refused state topic: no message"
sleep 3
for what in readings availability 'discovery configs'; do
  [ "$(grep -c "MQTT: the $what.* cannot be published on topic .* (.*); this is said once" "$tmp/u.out")" -eq 1 ] \
    || fail "$what: not one message"
done
grep -q 'discovery configs cannot be published on topic ha/+/sensor/.* (Invalid' "$tmp/u.out" || fail "no reason given"
kill -TERM $u; wait $u

# SIGKILL: the broker says "offline" for the monitor through its will.
grep -q '^wxtest/a/status online' "$tmp/after.sub" || fail "not online again"
kill -KILL $a; wait $a 2>/dev/null
wait_for 10 grep -q '^wxtest/a/status offline' "$tmp/after.sub" || fail "SIGKILL did not give offline"

python3 - "$tmp/before.sub" "$tmp/after.sub" "$tmp/a/root/c/WX18DtLg.txt" <<'EOF' || fail "states or discovery"
import json, sys
keys = {"t0": "T0", "t1": "T1", "t2": "T2", "t3": "T3", "t4": "T4", "rf": "rain", "lt": "lightning",
        "bp": "pressure", "hm": "humidity", "b1": "onoff1", "b2": "onoff2"}
states, configs = {}, {}
for name in sys.argv[1:3]:
    for line in open(name, encoding="utf-8"):
        topic, _, payload = line.rstrip("\n").partition(" ")
        if topic.startswith("homeassistant/"):
            configs[topic] = json.loads(payload)
        elif topic.startswith("wxtest/a/") and not topic.endswith("/status") and "/weather/" not in topic:
            states.setdefault(topic[9:], []).append(json.loads(payload))
# Discovery: every enabled channel and the wind average, valid and complete,
# and every weather value with the class and unit the consumer expects.
weather = {k: c for k, c in configs.items() if "/weather/" in c.get("state_topic", "")}
for k in weather: del configs[k]
assert len(configs) == 14, sorted(configs)
assert len(weather) == 23, sorted(weather)
expect = {"wind_speed": ("wind_speed", "measurement", "km/h"), "rain_today": ("precipitation", "total_increasing", "mm"),
          "rain_rate": ("precipitation_intensity", "measurement", "mm/h"),
          "sea_level_pressure": ("atmospheric_pressure", "measurement", "hPa"), "humidity": ("humidity", "measurement", "%"),
          "dew_point": ("temperature", "measurement", "°C"), "wind_direction": ("wind_direction", "measurement_angle", "°")}
for c in weather.values():
    key = c["state_topic"].rsplit("/", 1)[1]
    assert "object_id" not in c and c["default_entity_id"] == "sensor." + c["unique_id"], c
    assert c["device"]["name"] == "WX118 demo station", c["device"]
    if key in expect:
        assert (c.get("device_class"), c["state_class"], c.get("unit_of_measurement")) == expect.pop(key), c
assert not expect, expect
for topic, c in configs.items():
    for field in ("name", "unique_id", "state_topic", "availability_topic", "value_template", "device"):
        assert field in c, (topic, field)
    assert topic == "homeassistant/sensor/%s/config" % c["unique_id"]
    assert c["device"]["sw_version"] and c["device"]["identifiers"], c
    assert c["availability_topic"] == "wxtest/a/status"
t0 = [c for c in configs.values() if c["state_topic"] == "wxtest/a/T0"][0]
assert t0["device_class"] == "temperature" and t0["unit_of_measurement"] == "°F", t0
assert t0["value_template"] == "{{ value_json.value }}", t0
assert len({c["unique_id"] for c in configs.values()}) == 14
# States: the value of each logged record is among the states of its channel
# with that stamp.
matched = 0
for raw in open(sys.argv[3], "rb").read().split(b"\r\n"):
    line = raw.decode("latin-1")
    if line[:2] not in keys:
        continue
    tag, stamp, value = line[:2], line[2:10], int(line[10:])
    same = [s for s in states.get(keys[tag], []) if s["stamp"] == stamp]
    if not same:
        continue
    assert any(round(s["raw"] * 100 if tag[0] == "t" else s["raw"]) == value for s in same), (line, same)
    if tag[0] == "t":  # [Units] Temperature=F
        assert all(s["unit"] == "°F" and abs(s["value"] - (s["raw"] * 1.8 + 32)) < 1e-4 for s in same), same
    matched += 1
assert matched >= 10, matched
# The average wind direction and the vane carry a compass point.
assert all("compass" in s for s in states["wind_direction"]), states["wind_direction"][:2]
print("discovery configs", len(configs), "records matched", matched)
EOF

# ---- Exact weather on the simulated station: the wind counter gains one count
# a second (7.2 km/h with the demo's WindFactor), the rain gauge tips 10 times
# after a minute and 10 more after two: 20 x 0.2794 mm today, 4 x that an hour.
sed -i -e 's/^value C6 a .*/value C6 a ramp 0 3600/' -e 's/^value C5 a .*/value C5 a steps 0s=0 60s=10 120s=20/' \
  "$tmp/s/demo-station.txt"
mqtt_section s "Port=$port"
mosquitto_sub -h 127.0.0.1 -p $port -v -t 'wxtest/s/weather/#' >"$tmp/weather.sub" &
pids+=($!)
monitor s; s=$mon_pid
wait_for 30 grep -q '^wxtest/s/weather/rain_today {"value":5.59,"unit":"mm"' "$tmp/weather.sub" || fail "rain today"
grep -q '^wxtest/s/weather/rain_rate {"value":22.35,"unit":"mm/h"' "$tmp/weather.sub" || fail "rain rate"
sleep 12  # ten simulated minutes
grep -q '^wxtest/s/weather/sea_level_pressure {"value":10[0-3][0-9]\.' "$tmp/weather.sub" || fail "sea-level pressure"
python3 - "$tmp/s/www/current.json" <<'EOF' || fail "current.json's weather"
import json, sys
w = json.load(open(sys.argv[1], encoding="utf-8"))["weather"]
assert w["rain_today"] == {"value": 5.59, "unit": "mm"}, w["rain_today"]
# The simulated chips' time also counts the bus's own time, a few percent
# ahead of the clock the monitor reads: a little more than 7.2.
assert 7.2 <= w["wind_average_10min"]["value"] <= 7.9, w["wind_average_10min"]
assert w["wind_gust"]["value"] >= w["wind_average_10min"]["value"], w["wind_gust"]
assert 0 <= w["humidity"]["value"] <= 100 and w["dew_point"]["unit"] == "°C", w
EOF
kill -TERM $s; wait $s

# ---- TLS with a client certificate and a password; a wrong password and a
# wrong CA are each reported once.
cd "$tmp" || exit 1
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=wxtest-ca -keyout ca.key -out ca.crt 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other-ca -keyout other.key -out other.crt 2>/dev/null
for n in server client; do
  openssl req -newkey rsa:2048 -nodes -subj /CN=$n -keyout $n.key -out $n.csr 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1\n' >$n.ext
  openssl x509 -req -in $n.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile $n.ext -out $n.crt 2>/dev/null
done
[ -s server.crt ] && [ -s client.crt ] || fail "openssl made no certificates"
touch passwd; mosquitto_passwd -b passwd wx right-one 2>/dev/null
echo right-one >good.pw; echo wrong-one >bad.pw
chmod 600 passwd 2>/dev/null
tport=$(free_port)
broker tls $tport "allow_anonymous false" "password_file $tmp/passwd" "cafile $tmp/ca.crt" \
  "certfile $tmp/server.crt" "keyfile $tmp/server.key" "require_certificate true"
tls_section() {
  mqtt_section $1 "Port=$tport" "User=wx" "PasswordFile=$tmp/$2" "CAFile=$tmp/$3" \
    "CertFile=$tmp/client.crt" "KeyFile=$tmp/client.key"
}
tls_section p good.pw ca.crt
tls_section w bad.pw ca.crt
tls_section x good.pw other.crt
mosquitto_sub -h 127.0.0.1 -p $tport --cafile ca.crt --cert client.crt --key client.key -u wx -P right-one \
  -v -t 'wxtest/#' >"$tmp/tls.sub" &
pids+=($!)
monitor p; p=$mon_pid
monitor w; w=$mon_pid
monitor x; x=$mon_pid
wait_for 20 grep -q '^wxtest/p/T0 ' "$tmp/tls.sub" || fail "no state over TLS with a password"
sleep 5  # several attempts with back-off
grep -q '^wxtest/w/' "$tmp/tls.sub" && fail "a wrong password was let in"
grep -q '^wxtest/x/' "$tmp/tls.sub" && fail "a wrong CA was let in"
[ "$(grep -c 'not authorised' "$tmp/tls.broker")" -ge 2 ] || fail "the refused login was not retried"
[ "$(grep -c 'MQTT:' "$tmp/w.out")" -eq 1 ] || fail "a wrong password: not one message"
grep -q 'MQTT: the broker at 127.0.0.1:[0-9]* refused the login of user "wx" (Connection Refused: not authorised.)' \
  "$tmp/w.out" || fail "the refusal message"
[ "$(grep -c 'MQTT:' "$tmp/x.out")" -eq 1 ] || fail "a wrong CA: not one message"
grep -q 'MQTT: TLS with the broker at .*certificate verify failed' "$tmp/x.out" || fail "the TLS message"
grep -q 'MQTT: TLS' "$tmp/x/root/c/WX18ErLg.txt" || fail "the TLS message is not in the error log"
for m in $p $w $x; do kill -TERM $m; done
wait $p || fail "exit status after SIGTERM"
grep -q '^wxtest/p/status offline' "$tmp/tls.sub" || wait_for 5 grep -q '^wxtest/p/status offline' "$tmp/tls.sub" \
  || fail "an orderly quit did not say offline"
echo PASS
