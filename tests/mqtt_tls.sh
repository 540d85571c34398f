#!/usr/bin/env bash
# orva-bridge on a broker that takes TLS only, and a user with a password: the
# bridge checks the broker's certificate against the CA file it is given and logs
# in; with another CA, or a wrong password, it does not get in and says so. (What
# it does on the broker once in is the same as without TLS: tst_mqtt decides it;
# here the bridge's own availability tells it in, with no projector on its port.)
# The broker is Debian's mosquitto on 127.0.0.1, with a CA and certificate made
# here by openssl. Skipped (77) where mosquitto, its clients or openssl are missing.
# Usage: mqtt_tls.sh ORVA_BRIDGE
set -euo pipefail
bridge=$(realpath "$1")
PATH=$PATH:/usr/sbin
for tool in mosquitto mosquitto_sub mosquitto_passwd openssl python3; do
  command -v "$tool" >/dev/null || { echo "mqtt_tls: $tool is missing (apt-get install mosquitto mosquitto-clients openssl); skipped"; exit 77; }
done

dir=$(mktemp -d)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$dir"; }
trap cleanup EXIT
chmod 755 "$dir"  # mosquitto started as root reads its files as its own user
cd "$dir"

# A CA, the broker's certificate for 127.0.0.1 signed by it, and a CA that signed nothing.
# (Elliptic-curve keys: made at once, where RSA keys take a while.)
key='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'
openssl req -x509 $key -days 2 -subj /CN=orva-test-ca -keyout ca.key -out ca.pem 2>/dev/null
openssl req -x509 $key -days 2 -subj /CN=other-ca -keyout other.key -out other.pem 2>/dev/null
openssl req $key -subj /CN=127.0.0.1 -keyout broker.key -out broker.csr 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >san.ext
openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext -out broker.pem 2>/dev/null
mosquitto_passwd -c -b passwords orva 'right horse' >/dev/null 2>&1
chmod 644 ./*.key ./*.pem passwords
printf 'right horse\n' >right.password
printf 'wrong horse\n' >wrong.password

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\ncafile %s/ca.pem\ncertfile %s/broker.pem\nkeyfile %s/broker.key\nallow_anonymous false\npassword_file %s/passwords\npersistence false\n' \
  "$port" "$dir" "$dir" "$dir" "$dir" >mosquitto.conf
mosquitto -c mosquitto.conf >mosquitto.log 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ' running' mosquitto.log && break; sleep 0.1; done

retained() {  # topic [options]: its retained payload, read over TLS as the user (what is retained comes at once)
  mosquitto_sub -h 127.0.0.1 -p "$port" --cafile ca.pem -u orva -P 'right horse' -t "$@" --retained-only -W 1 2>/dev/null || true
}
start_bridge() {  # id, log file, extra arguments
  local id=$1 log=$2; shift 2
  "$bridge" --device tcp://127.0.0.1:9 --pjlink 0 --mqtt "mqtts://127.0.0.1:$port" --id "$id" --mqtt-id "$id" "$@" >"$log" 2>&1 &
  pids+=($!)
}
fail() { echo "mqtt_tls: FAIL: $*"; for f in ./*.log; do echo "--- $f"; cat "$f"; done; exit 1; }

# The right CA and password: the bridge is online.
start_bridge good good.log --mqtt-ca-file ca.pem --mqtt-user orva --mqtt-password-file right.password
online=""
for _ in $(seq 40); do online=$(retained orva/bridge/good/availability -C 1); [[ -n $online ]] && break; sleep 0.25; done
[[ $online == online ]] || fail "with the right CA and password, orva/bridge/good/availability is \"$online\", not \"online\""

# Another CA, or a wrong password: nothing is published, and the log says why.
start_bridge other-ca other.log --mqtt-ca-file other.pem --mqtt-user orva --mqtt-password-file right.password
start_bridge wrong-password wrong.log --mqtt-ca-file ca.pem --mqtt-user orva --mqtt-password-file wrong.password
for _ in $(seq 40); do grep -q "not reached" other.log && grep -q "not reached" wrong.log && break; sleep 0.5; done
grep -q "the broker is not reached (OpenSSL Error.*certificate verify failed); trying again" other.log ||
  fail "a broker certificate from another CA is not reported"
grep -q "the broker is not reached (Connection Refused: not authorised.)" wrong.log || fail "a wrong password is not reported"
available=$(retained 'orva/bridge/+/availability' -v)
[[ $available == "orva/bridge/good/availability online" ]] || fail "the bridge good is not online alone: $available"
echo "mqtt_tls: 2 passed, 0 failed"
