#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test in the default,
# ASan+UBSan and TSan builds, the short fuzz runs, and the Windows build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=${DORMANE_JOBS:-2}
presets=${DORMANE_PRESETS:-"default asan tsan fuzz windows"}
for preset in $presets; do
  echo "=== $preset"
  cmake --preset "$preset" -DDORMANE_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
