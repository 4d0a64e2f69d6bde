#!/usr/bin/env bash
# The main job: builds Dormane and starts the wizard against a simulated speaker that runs
# firmware 8.03 (auto-standby off), with the sample firmware images the build wrote as the
# firmware server. The simulated EEPROM is a file in your state folder, so the next run finds
# the setting this one wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "${DORMANE_JOBS:-2}"

build="$PWD/build/default"
state="${XDG_STATE_HOME:-$HOME/.local/state}/dormane"
mkdir -p "$state"
scenario="fw=0803,eeprom-file=$state/simulated-speaker.eeprom"
base="file://$build/firmware"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  cat <<MSG
No display found, so the wizard cannot open its window here.
The same with the command line, against the same simulated speaker:

  $build/cli/dormane-cli --simulate=$scenario status
  $build/cli/dormane-cli --simulate=$scenario set enable --firmware-base-url $base
  $build/cli/dormane-cli --simulate=$scenario set disable --firmware-base-url $base

Here is the first of them:
MSG
  exec "$build/cli/dormane-cli" --simulate="$scenario" status
fi
exec "$build/app/dormane" --simulate="$scenario" --firmware-base-url "$base" "$@"
