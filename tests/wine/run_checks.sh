#!/usr/bin/env bash
# The Windows build's deliverables under Wine, in a fresh Wine prefix:
#   regsvr32 of quen_asio.dll writes the COM and ASIO keys, and /u removes them again;
#   an ASIO host finds the driver in the registry, creates it and gets a clean "no device" answer;
#   the co-installer answers every installation request;
#   the control panel opens its window on a virtual display (a screenshot is saved) and closes on
#   request.
# Usage: run_checks.sh <Windows build directory> <output directory>. Exits 77 (skipped) when Wine,
# Xvfb or the Windows build's programs are missing.
set -uo pipefail
build="$1"
out="$2"

wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [[ -n "$candidate" && -x "$candidate" ]]; then
        wine="$candidate"
        break
    fi
done
programs=(quen_asio.dll zelaudiocoinst.dll quen_asiocpl.exe wine_asio_host.exe
          wine_coinst_host.exe wine_panel_probe.exe)
for program in "${programs[@]}"; do
    [[ -f "$build/$program" ]] || { echo "skipped: $build/$program is not built"; exit 77; }
done
if [[ -z "$wine" ]] || ! command -v Xvfb > /dev/null || ! command -v xwd > /dev/null; then
    echo "skipped: Wine, Xvfb or xwd is not installed"
    exit 77
fi

rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX="$out/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failures=0
check() { # check <description> <command...>
    local description="$1"
    shift
    if "$@" > "$out/last.log" 2>&1; then
        echo "ok: $description"
    else
        echo "FAILED: $description"
        cat "$out/last.log"
        failures=$((failures + 1))
    fi
}
run() { timeout 120 "$wine" "$@"; }
query() { run reg query "$@" 2> /dev/null | tr -d '\r'; }

xvfb_pid=""
cleanup() {
    timeout 30 "$(dirname "$wine")/wineserver" -k > /dev/null 2>&1 || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2> /dev/null
}
trap cleanup EXIT

# A virtual display of its own, there before Wine's desktop process starts.
exec 3> "$out/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp > "$out/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$out/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$out/display")"

timeout 300 "$wine" wineboot --init > "$out/wineboot.log" 2>&1
system32="$WINEPREFIX/drive_c/windows/system32"
for module in quen_asio.dll zelaudiocoinst.dll quen_asiocpl.exe; do
    cp "$build/$module" "$system32/"
done

clsid='{6D2F8B14-A3C9-4E57-9B0D-7E41C58A2F63}'
asio_key='HKLM\SOFTWARE\ASIO\Quen_Norvane_asio'
class_key="HKCR\\CLSID\\$clsid"
registered() {
    query "$asio_key" /v CLSID | grep -q "REG_SZ *$clsid" &&
        query "$asio_key" /v Description | grep -q 'REG_SZ *Quen_Norvane_asio' &&
        query "$class_key" /ve | grep -q 'REG_SZ *Quen_Norvane_asio' &&
        query "$class_key\\InprocServer32" /ve | grep -qi 'REG_SZ *c:\\windows\\system32\\quen_asio.dll' &&
        query "$class_key\\InprocServer32" /v ThreadingModel | grep -q 'REG_SZ *Apartment'
}
unregistered() { ! query "$asio_key" > /dev/null && ! query "$class_key" > /dev/null; }

check "regsvr32 registers quen_asio.dll" run regsvr32 /s 'C:\windows\system32\quen_asio.dll'
check "the COM class and the ASIO entry are written" registered
check "an ASIO host creates the driver and gets a clean no-device answer" \
    run "$build/wine_asio_host.exe"
check "regsvr32 /u unregisters quen_asio.dll" run regsvr32 /u /s 'C:\windows\system32\quen_asio.dll'
check "the COM class and the ASIO entry are removed" unregistered
check "the co-installer answers every installation request" run "$build/wine_coinst_host.exe"

# The control panel on a virtual display of its own.
timeout 120 "$wine" 'C:\windows\system32\quen_asiocpl.exe' > "$out/panel.log" 2>&1 &
panel_pid=$!
check "the control panel opens its window" run "$build/wine_panel_probe.exe" wait
sleep 1
screenshot() {
    xwd -display "$DISPLAY" -name 'RV-D3 Purestream Audio Control' -silent | xwdtopnm 2> /dev/null |
        pnmtopng > "$out/quen_asiocpl.png" && [[ -s "$out/quen_asiocpl.png" ]]
}
check "a screenshot of the control panel is saved ($out/quen_asiocpl.png)" screenshot
check "the control panel closes on request" run "$build/wine_panel_probe.exe" close
check "the control panel program ends" wait "$panel_pid"

echo "$failures check(s) failed"
[[ $failures -eq 0 ]]
