#!/bin/sh
# Real-time figures of the Windows back ends (not a test, never run by the tests): a private
# PulseAudio daemon whose pipe sink is paced by the system clock takes each family's output for
# a number of seconds, first from the host's engine with a sine instrument ("ours"), then from
# a trivial client on the same API ("ref"), and the runs of silence inside each sound are
# counted. Needs pulseaudio and pulseaudio-utils (installed by hand for this measurement: a
# reachable sound server changes the driver Wine picks, so they are not part of the setup).
#
#   bench/win/realtime-pulse.sh <windows build dir> [seconds]
set -eu
BUILD=$(cd "${1:?usage: realtime-pulse.sh <windows build dir> [seconds]}" && pwd)
RUN_SECONDS=${2:-20}
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

WORK=$(mktemp -d)
export HOME="$WORK" XDG_RUNTIME_DIR="$WORK/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
mkfifo "$WORK/fifo"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$WORK/native" \
  --load="module-pipe-sink sink_name=s file=$WORK/fifo format=float32le rate=48000 channels=2 use_system_clock_for_timing=yes" \
  --load="module-null-source source_name=n" 2>/dev/null
export PULSE_SERVER="unix:$WORK/native"

# A prefix of its own, with Wine's PulseAudio driver chosen.
export WINEPREFIX="$BUILD/wineprefix-realtime" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
mkdir -p "$WINEPREFIX"
"$WINESERVER" -p60 </dev/null >/dev/null 2>&1
"$WINE64" wineboot --init </dev/null >/dev/null 2>&1
"$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d pulse /f </dev/null >/dev/null 2>&1

cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

analyse() {  # <raw float32le stereo 48 kHz file> <label>
  python3 - "$1" "$2" <<'PY'
import array, math, sys
data = array.array('f')
with open(sys.argv[1], 'rb') as f:
    data.frombytes(f.read()[: (len(open(sys.argv[1], 'rb').read()) // 8) * 8])
left = data[0::2]
loud = [i for i, v in enumerate(left) if abs(v) > 1e-4]
if not loud:
    print(f"{sys.argv[2]:14s} no sound"); sys.exit()
first, last = loud[0], loud[-1] + 1
limit = 2 * math.pi * 997 * 0.5 / 48000 * 1.25 + 1e-3
runs = silent = jumps = 0
longest = 0
for i in range(first + 1, last):
    v = left[i]
    if abs(v) < 1e-6:
        silent += 1
    else:
        if silent >= 32:
            runs += 1
            longest = max(longest, silent)
        silent = 0
    if abs(v - left[i - 1]) > limit:
        jumps += 1
print(f"{sys.argv[2]:14s} {(last - first) / 48000:6.2f} s of sound  dropouts (silent runs >= 32 samples) {runs:3d}"
      f"  longest {longest / 48:6.1f} ms  discontinuities {jumps}")
PY
}

for family in wasapi dsound mme; do
  for who in ours ref; do
    cat "$WORK/fifo" > "$WORK/$family-$who.raw" &
    CAT=$!
    "$WINE64" "$BUILD/bin/vl_rt_winaudio.exe" "$family" "$who" "$RUN_SECONDS" </dev/null >/dev/null 2>&1 || echo "$family $who: exit $?"
    sleep 1
    kill "$CAT" 2>/dev/null || true
    wait "$CAT" 2>/dev/null || true
    analyse "$WORK/$family-$who.raw" "$family $who"
  done
done
