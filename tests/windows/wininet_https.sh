#!/usr/bin/env bash
# dormane-cli.exe under wine against a local HTTPS firmware mirror: WinINet checks the chain
# against the certificate store (wine's comes from the host's), so the test's own CA is added
# to the host's store for the run and taken out again. Needs root for that; skips otherwise.
# Usage: wininet_https.sh WINE_RUN CLI_EXE SERVER_SCRIPT FIRMWARE_DIR
set -euo pipefail
wine_run=$1 cli=$2 server_script=$3 firmware=$4

if [ "$(id -u)" -ne 0 ] || ! command -v update-ca-certificates >/dev/null; then
  echo "SKIP: adding the test CA to the host's certificate store needs root"
  exit 77
fi

fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d)
anchor=/usr/local/share/ca-certificates/dormane-wininet-test-$$.crt
server_pids=()
cleanup() {
  for pid in "${server_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -f "$anchor" ]; then
    rm -f "$anchor"
    update-ca-certificates --fresh >/dev/null 2>&1 || true
  fi
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A CA and a certificate for localhost (WinINet checks the name against the URL's host).
make_ca() { # folder
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$1/ca.key" \
    -out "$1/ca.pem" -days 2 -subj "/CN=Dormane WinINet test CA $(basename "$1")" 2>/dev/null
  printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n' >"$1/server.ext"
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$1/server.key" \
    -out "$1/server.csr" -subj "/CN=localhost" 2>/dev/null
  openssl x509 -req -in "$1/server.csr" -CA "$1/ca.pem" -CAkey "$1/ca.key" -set_serial 7 -days 2 \
    -out "$1/server.pem" -extfile "$1/server.ext" 2>/dev/null
}
mkdir -p "$work/trusted" "$work/untrusted"
make_ca "$work/trusted"
make_ca "$work/untrusted"
cp "$work/trusted/ca.pem" "$anchor"
update-ca-certificates >/dev/null 2>&1

# The server ends when its standard input does: a pipe that stays open while this script lives.
start_server() { # folder; the port goes to folder/port
  python3 "$server_script" --root "$firmware" --cert "$1/server.pem" --key "$1/server.key" \
    >"$1/port" 2>/dev/null < <(while kill -0 $$ 2>/dev/null; do sleep 1; done) &
  server_pids+=("$!")
  for _ in $(seq 100); do [ -s "$1/port" ] && break; sleep 0.1; done
}
start_server "$work/trusted"
start_server "$work/untrusted"
port=$(head -n1 "$work/trusted/port")
bad_port=$(head -n1 "$work/untrusted/port")
[ -n "$port" ] && [ -n "$bad_port" ] || fail "the test servers did not start"

export WINEPREFIX="$work/prefix"
eeprom="Z:$work/speaker.eeprom"
cli_run() { "$wine_run" "$cli" "$@"; }

"$wine_run" reg add 'HKCU\Software\Voxtrel\FWUpdateTool' /v EnableLog /t REG_DWORD /d 1 /f >/dev/null
"$wine_run" reg add 'HKCU\Software\Voxtrel\FWUpdateTool' /v LogType /t REG_DWORD /d 1 /f >/dev/null

# A trusted mirror: the image comes over https, is burned and verified.
out=$(cli_run --simulate=fw=0803,eeprom-file="$eeprom",clock=virtual set enable \
  --firmware-base-url "https://localhost:$port" 2>&1) || fail "set enable: $out"
grep -q "written and verified" <<<"$out" || fail "no verification in: $out"
cli_run --simulate=eeprom-file="$eeprom" status | grep -q '^firmware: 0813' || fail "status after the burn"

# The log in the Windows folder's Temp holds the engine's lines as designed.
log="$WINEPREFIX/drive_c/windows/temp/VXFWUpdate.log"
grep -q '^\[[0-9]*/[0-9]* [0-9]*:[0-9]*:[0-9]*\] FWUpdateInterface::Init return 0x0' "$log" \
  || fail "log lines: $(head -3 "$log")"

# A redirect from https to https is followed.
out=$(cli_run --simulate=eeprom-file="$eeprom",clock=virtual set disable \
  --firmware-base-url "https://localhost:$port/redirect-to/https/localhost:$port" 2>&1) \
  || fail "redirected set disable: $out"
cli_run --simulate=eeprom-file="$eeprom" status | grep -q '^firmware: 0803' || fail "status after the redirect"

# Failures: an untrusted server, a redirect to plain http, a body cut short. Nothing is written.
expect_failure() { # what base-url code
  local out
  out=$(cli_run --simulate=eeprom-file="$eeprom",clock=virtual set enable \
    --firmware-base-url "$2" 2>&1) && fail "$1 succeeded: $out"
  grep -q "(code $3)" <<<"$out" || fail "$1: expected code $3 in: $out"
  grep -q "Nothing was written" <<<"$out" || fail "$1: $out"
}
expect_failure "untrusted server" "https://localhost:$bad_port" 53
expect_failure "redirect to plain http" "https://localhost:$port/redirect-to/http/localhost:$port" 53
expect_failure "cut body" "https://localhost:$port/cut" 54
cli_run --simulate=eeprom-file="$eeprom" status | grep -q '^firmware: 0803' || fail "a failure changed the speaker"
echo "PASS"
