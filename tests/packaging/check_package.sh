#!/usr/bin/env bash
# Makes the Debian package of a build tree in a scratch folder and checks its
# file list and control fields, then runs the programs of the unpacked tree as
# an installed copy: the user's folder, the catalogues, the demo.
# usage: check_package.sh BUILD_DIR VERSION DELIVERED_DB WITH_DESKTOP(0|1)
set -uo pipefail
build=$1 version=$2 delivered=$3 desktop=$4
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "$tool not found: the package is not checked here"; exit 77; }
done
scratch=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$scratch"; }
trap cleanup EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"; exit 1
fi
arch=$(dpkg --print-architecture)
deb=$scratch/out/kalosqm_${version}_${arch}.deb
[[ -f $deb ]] || { echo "no $deb; made:"; ls "$scratch/out"; exit 1; }

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == kalosqm ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), the project's is $version"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
# Declared by hand (the engine plugin, the font) and found by dpkg-shlibdeps.
for dep in firebird3.0-server-core fonts-dejavu-core 'systemd | systemd-standalone-sysusers' \
           libfbclient2 libmariadb3 libqt6core6 libqt6gui6 libc6 libmicrohttpd12; do
  [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done
if [[ $desktop == 1 ]]; then
  [[ ", $depends," == *", libqt6widgets6"[\ ,]* ]] || fail "Depends lacks libqt6widgets6: $depends"
  [[ ", $depends," == *", qt6-translations-l10n"[\ ,]* ]] || fail "Depends lacks qt6-translations-l10n: $depends"
fi

# The files.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' >"$scratch/files"
expect=(/usr/bin/kalosqm-station /usr/bin/kalosqm-cli /usr/bin/sqmle-sim
        /usr/lib/systemd/system/kalosqm-station.service /usr/lib/sysusers.d/kalosqm.conf
        /usr/lib/tmpfiles.d/kalosqm.conf /usr/share/kalosqm/KALOSQMDATA.FDB
        /usr/share/kalosqm/Locale/it/LangName.ini /usr/share/kalosqm/Locale/it/LC_MESSAGES/default.mo
        /usr/share/kalosqm/Locale/de/LangName.ini /usr/share/kalosqm/Locale/de/LC_MESSAGES/default.mo
        /usr/share/man/man1/kalosqm-station.1.gz /usr/share/man/man1/kalosqm-cli.1.gz
        /usr/share/man/man1/sqmle-sim.1.gz /usr/include/astro.h
        /usr/share/doc/kalosqm/copyright /usr/share/doc/kalosqm/changelog.gz)
if [[ $desktop == 1 ]]; then
  expect+=(/usr/bin/kalosqm /usr/share/applications/kalosqm.desktop
           /usr/share/icons/hicolor/scalable/apps/kalosqm.svg /usr/share/man/man1/kalosqm.1.gz)
fi
for f in "${expect[@]}"; do grep -qx -- "$f" "$scratch/files" || fail "the package lacks $f"; done
grep -Eq '^/usr/lib/(.+/)?libastro\.so\.1\.0\.0$' "$scratch/files" || fail "the package lacks libastro.so.1.0.0"
# Nothing a station makes or changes: no data folder, no saved language, nothing outside /usr.
if grep -Ev '^/(usr(/.*)?)?$' "$scratch/files"; then fail "files outside /usr (above)"; fi
if grep -E '/(Dati|LOGS|WinSetup|crdfiles|NightFiles)(/|$)|LangSettings\.ini' "$scratch/files"; then
  fail "a program folder's own files are packaged (above)"
fi
for script in postinst prerm postrm; do
  mode=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - "./$script" 2>/dev/null | awk '{print $1}')
  [[ $mode == -rwxr-xr-x ]] || fail "control script $script: mode '$mode'"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
unit=$root/usr/lib/systemd/system/kalosqm-station.service
grep -qx 'ExecStart=/usr/bin/kalosqm-station --wait --dir /var/lib/kalosqm' "$unit" || fail "the unit's ExecStart"
grep -q ' /usr/share/kalosqm/KALOSQMDATA.FDB Dati/KALOSQMDATA.FDB' "$unit" || fail "the unit's template path"
cmp -s "$delivered" "$root/usr/share/kalosqm/KALOSQMDATA.FDB" || fail "the template is not the delivered database"
zcat "$root/usr/share/man/man1/kalosqm-cli.1.gz" | grep -q '^\.TH KALOSQM-CLI "1"' || fail "kalosqm-cli.1 is no man page"

# The unpacked programs as installed ones: a home of their own, no display.
home=$scratch/home
mkdir -p "$home"
# An array, not a function: a background function would be a subshell, and
# its process id not the program's.
run=(env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen
     FIREBIRD_LOCK="${FIREBIRD_LOCK:-/tmp/firebird}")

# The catalogues are found under share/ when installed.
mkdir -p "$scratch/empty"
out=$("${run[@]}" LANGUAGE=it "$root/usr/bin/kalosqm-station" --dir "$scratch/empty" 2>&1)
[[ $out == *"Non c'è alcun database in $scratch/empty/Dati/KALOSQMDATA.FDB."* ]] ||
  fail "no Italian text from the installed station, or not the missing file's: $out"
[[ $out != *"già attiva"* ]] || fail "a missing file is said as another session: $out"

if [[ $desktop == 1 ]]; then
  # First start: the user's folder with a copy of the template; nothing beside the program.
  "${run[@]}" "$root/usr/bin/kalosqm" noautoplay >"$scratch/desktop.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 300); do [[ -d $home/.local/share/kalosqm/WinSetup ]] && break; sleep 0.1; done
  kill -TERM "${pids[-1]}"; wait "${pids[-1]}"; code=$?
  [[ $code == 0 ]] || fail "the installed desktop program ended with $code: $(cat "$scratch/desktop.log")"
  [[ -f $home/.local/share/kalosqm/Dati/KALOSQMDATA.FDB ]] || fail "no database in the user's folder"
  [[ -d $home/.local/share/kalosqm/WinSetup ]] || fail "no WinSetup in the user's folder"
  [[ ! -e $root/usr/bin/Dati && ! -e $root/usr/bin/WinSetup ]] || fail "the program wrote beside itself"
  # kalosqm-cli finds the same folder.
  out=$("${run[@]}" "$root/usr/bin/kalosqm-cli" sites 2>&1) || fail "kalosqm-cli sites on the user's folder: $out"
fi

# The demo: delivered database from share/, the simulator beside, a folder in the home.
"${run[@]}" timeout -s INT 40 "$root/usr/bin/kalosqm-station" --demo >"$scratch/demo.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 300); do grep -q 'site "Demo roof": reading' "$scratch/demo.log" && break; sleep 0.1; done
kill -INT "${pids[-1]}" 2>/dev/null; wait "${pids[-1]}"
grep -q 'site "Demo roof": reading' "$scratch/demo.log" || fail "no demo reading: $(cat "$scratch/demo.log")"
[[ -f $home/.local/share/kalosqm-demo/Dati/KALOSQMDATA.FDB ]] || fail "the demo folder is not in the user's home"

[[ $status == 0 ]] && echo "the package $(basename "$deb") holds ${#expect[@]} checked files and works unpacked"
exit $status
