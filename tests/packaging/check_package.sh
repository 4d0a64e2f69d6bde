#!/usr/bin/env bash
# Builds the .deb from a finished build, unpacks it into a scratch root and checks what it
# holds: exactly the files a Linux system expects, their modes, the control data and
# dependencies, the maintainer scripts, the validators' verdicts on the desktop entry and the
# metainfo, the man pages, the icon sizes, and that both programs start from there. Then it
# installs and purges the package in a second scratch root with dpkg and asks apt whether its
# dependencies can be met on this system.
#
# usage: check_package.sh BUILD_DIR VERSION WIZARD(0|1)
set -uo pipefail

build=$1
version=$2
wizard=$3
app_id=org.dormane.Dormane

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dormane-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
note() { echo "--- $*"; }

note "cpack"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack did not build the package"
  exit 1
fi
shopt -s nullglob
debs=("$scratch"/out/dormane_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "FAIL: expected one dormane_*.deb, found ${#debs[@]}"
  exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "dormane_${version}_${arch}.deb" ] ||
  fail "package file is named $(basename "$deb"), not dormane_${version}_${arch}.deb"

note "control data"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = dormane ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
libs=(libc6 libstdc++6 libusb-1.0-0 libcurl4 libsystemd0)
[ "$wizard" = 1 ] && libs+=(libqt6widgets6)
# Each dependency the shared libraries bring, with the version dpkg-shlibdeps found.
has_dependency() {
  local IFS=, entry
  for entry in $depends; do
    entry=${entry# }
    [[ $entry == "$1 (>= "*")" ]] && return 0
  done
  return 1
}
for lib in "${libs[@]}"; do
  has_dependency "$lib" || fail "Depends lacks $lib: $depends"
done

note "maintainer scripts"
dpkg-deb -e "$deb" "$scratch/control"
for script in postinst postrm; do
  file="$scratch/control/$script"
  if [ ! -f "$file" ]; then
    fail "no $script"
    continue
  fi
  [ "$(stat -c %a "$file")" = 755 ] || fail "$script has mode $(stat -c %a "$file")"
  sh -n "$file" || fail "$script is not valid sh"
done
# With a udevadm of our own first on PATH: the scripts call it exactly when udev runs here,
# and never for a package going into another root.
mkdir -p "$scratch/fakebin"
cat >"$scratch/fakebin/udevadm" <<EOF
#!/bin/sh
echo "\$*" >>"$scratch/udevadm.calls"
EOF
chmod 755 "$scratch/fakebin/udevadm"
expected_calls=""
if [ -S /run/udev/control ]; then
  expected_calls="control --reload-rules
trigger --action=change --subsystem-match=usb --attr-match=idVendor=0d8c"
fi
run_script() { # script, argument, DPKG_ROOT, expected calls
  rm -f "$scratch/udevadm.calls"
  if ! env PATH="$scratch/fakebin:$PATH" DPKG_ROOT="$3" sh "$scratch/control/$1" "$2"; then
    fail "$1 $2 failed"
  fi
  calls=$(cat "$scratch/udevadm.calls" 2>/dev/null)
  [ "$calls" = "$4" ] || fail "$1 $2 (DPKG_ROOT='$3') called udevadm with '$calls', expected '$4'"
}
run_script postinst configure "" "$expected_calls"
run_script postrm remove "" "$expected_calls"
run_script postrm purge "" "$expected_calls"
run_script postrm upgrade "" ""
run_script postinst configure "$scratch/elsewhere" ""
run_script postrm remove "$scratch/elsewhere" ""

note "files"
root="$scratch/root"
dpkg -x "$deb" "$root"
expected=(
  usr/bin/dormane-cli
  usr/lib/udev/rules.d/70-dormane.rules
  usr/share/man/man1/dormane-cli.1.gz
)
icon_sizes=(16 24 32 48 256)
if [ "$wizard" = 1 ]; then
  expected+=(
    usr/bin/dormane
    usr/share/applications/$app_id.desktop
    usr/share/metainfo/$app_id.metainfo.xml
    usr/share/man/man1/dormane.1.gz
  )
  for size in "${icon_sizes[@]}"; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
  done
fi
printf '%s\n' "${expected[@]}" | sort >"$scratch/expected"
(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) >"$scratch/actual"
if ! diff -u "$scratch/expected" "$scratch/actual"; then
  fail "the package holds other files than expected (- missing, + unexpected)"
fi
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] || continue
  case $f in
  usr/bin/*) want=755 ;;
  *) want=644 ;;
  esac
  [ "$(stat -c %a "$root/$f")" = $want ] || fail "$f has mode $(stat -c %a "$root/$f"), not $want"
  [ -s "$root/$f" ] || fail "$f is empty"
done

note "udev rule"
rule="$root/usr/lib/udev/rules.d/70-dormane.rules"
if [ -f "$rule" ]; then
  rules=$(grep -v '^#' "$rule" | grep -v '^$')
  [ "$(wc -l <<<"$rules")" = 1 ] || fail "the udev rule file holds more than one rule: $rules"
  for part in 'SUBSYSTEM=="usb"' 'ATTR{idVendor}=="0d8c"' 'TAG+="uaccess"'; do
    grep -qF "$part" <<<"$rules" || fail "the udev rule lacks $part"
  done
  # uaccess is acted on in 73-seat-late.rules: the rule has to come before it.
  [[ 70-dormane.rules < 73-seat-late.rules ]] || fail "70-dormane.rules sorts after 73-seat-late"
fi

note "man pages"
man_pages=(dormane-cli)
[ "$wizard" = 1 ] && man_pages+=(dormane)
for page in "${man_pages[@]}"; do
  file="$root/usr/share/man/man1/$page.1.gz"
  [ -f "$file" ] || continue
  if ! gzip -t "$file"; then
    fail "$page.1.gz is not gzip"
    continue
  fi
  zcat "$file" >"$scratch/$page.1"
  warnings=$(groff -man -Tutf8 -ww -z "$scratch/$page.1" 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $page.1: $warnings"
  grep -qF ".TH $(tr a-z A-Z <<<"$page" | sed 's/-/\\-/g') 1 " "$scratch/$page.1" ||
    fail "$page.1 has no .TH line for $page"
  grep -q '^\.SH FILES' "$scratch/$page.1" || fail "$page.1 has no FILES section"
  grep -q 'DORMANE_LOGIND_BUS_ADDRESS' "$scratch/$page.1" ||
    fail "$page.1 does not document DORMANE_LOGIND_BUS_ADDRESS"
done
if [ -f "$scratch/dormane-cli.1" ]; then
  # Every command the tool lists has its own subsection.
  commands=$("$build/cli/dormane-cli" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && /^  [a-z]/ {print $1}')
  [ -n "$commands" ] || fail "dormane-cli --help lists no commands"
  for command in $commands; do
    grep -qx "\.SS $command" "$scratch/dormane-cli.1" || fail "dormane-cli.1 lacks the command $command"
  done
fi

note "programs start"
out=$("$root/usr/bin/dormane-cli" --version 2>&1)
[ "$out" = "dormane-cli $version" ] || fail "dormane-cli --version said: $out"
if [ "$wizard" = 1 ]; then
  out=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/dormane" --version 2>&1)
  [ "$out" = "dormane $version" ] || fail "dormane --version said: $out"
fi

if [ "$wizard" = 1 ]; then
  note "desktop entry and metainfo"
  desktop="$root/usr/share/applications/$app_id.desktop"
  metainfo="$root/usr/share/metainfo/$app_id.metainfo.xml"
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $app_id.desktop"
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"
  grep -qx 'Exec=dormane' "$desktop" || fail "the desktop entry does not start dormane"
  grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's icon is not $app_id"
  grep -qF '<modalias>usb:v0D8Cp*</modalias>' "$metainfo" || fail "the metainfo lacks the modalias"
  grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
  # The newest release in the metainfo is the version being packaged.
  newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
  [ "$newest" = "$version" ] || fail "the metainfo's newest release is $newest, not $version"

  note "icon sizes"
  for size in "${icon_sizes[@]}"; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    [ -f "$png" ] || continue
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
      fail "${size}x${size} icon is not a PNG"
    # IHDR: width and height as 32-bit big-endian numbers at offset 16.
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
      awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [ "$w $h" = "$size $size" ] || fail "${size}x${size} icon is ${w}x${h}"
  done
fi

note "install and purge with dpkg"
inst="$scratch/installed"
mkdir -p "$inst/var/lib/dpkg/info" "$inst/var/lib/dpkg/updates" "$inst/var/lib/dpkg/triggers"
touch "$inst/var/lib/dpkg/status" "$inst/var/lib/dpkg/available"
dpkg_in() {
  PATH="$scratch/fakebin:$PATH" dpkg --root="$inst" --log="$scratch/dpkg.log" \
    --force-script-chrootless --force-not-root "$@" >"$scratch/dpkg.out" 2>&1
}
rm -f "$scratch/udevadm.calls"
# The scratch root holds no libraries, so the dependencies cannot be met there.
dpkg_in --force-depends -i "$deb" || { cat "$scratch/dpkg.out"; fail "dpkg -i into a scratch root failed"; }
(cd "$inst" && find . ! -type d ! -path './var/*' | sed 's|^\./||' | sort) >"$scratch/installed.list"
diff -u "$scratch/expected" "$scratch/installed.list" || fail "dpkg installed other files than expected"
[ ! -e "$scratch/udevadm.calls" ] || fail "installing into another root called udevadm"
dpkg_in --purge dormane || { cat "$scratch/dpkg.out"; fail "dpkg --purge failed"; }
left=$(cd "$inst" && find . -mindepth 1 ! -path './var' ! -path './var/*')
[ -z "$left" ] || fail "purging left behind: $left"

if command -v apt-get >/dev/null; then
  note "apt resolves the dependencies"
  if ! apt-get install --simulate "$deb" >"$scratch/apt.out" 2>&1 ||
    ! grep -q '^Inst dormane ' "$scratch/apt.out"; then
    cat "$scratch/apt.out"
    fail "apt-get cannot install the package here"
  fi
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all package checks passed"
