#!/bin/sh
# Start-to-first-sound benchmark of the Windows application under Wine (not a test, never run
# by the tests). Builds nothing: it uses an existing Windows build (default build/windows).
#
#   bench/win/startup.sh [runs (default 7, at least 5)] [windows build dir]
#
# The real application, copied beside the demo instrument under one base name (as the demo
# and the end-to-end tests do), is started <runs> times with the start-up trace on
# (VORLANE_STARTUP_TRACE), once with the default audio device (the build prefix's WASAPI
# endpoint on the ALSA file sink, as the end-to-end tests play) and once on the test ASIO
# driver (registered by tests/win/asio/register-asio.sh). Beside each run an empty Win32
# program (vl_bench_startup_empty) is started the same way: it is the peer for Wine's share.
# A runner of ours (vl_bench_startup_run) starts them in turns inside the build's prefix,
# closes the application through its main window once the first block is in its trace (or
# after a time-out: nothing waits forever) and stays alive for the whole series, so no run
# pays the COM stall of a prefix whose system processes just ended. One warm-up round comes
# first and is not counted; with the default device it is the first start (the defaults are
# chosen and stored), the counted runs start on the stored device, as a user's do.
#
# Every time is in milliseconds since the process was created (the system's record of it,
# against the precise system time), so the runner's own start of the process is in it. The
# split printed, medians over the runs:
#   Wine's share       the peer's time from its creation to its entry (wWinMain): what Wine
#                      needs to start any process;
#   before wWinMain    the application's time to its entry: Wine's share plus loading the
#                      system DLLs the application imports (its own choice, but Wine's code);
#   to first block     creation to the first block the engine processed;
#   host's own share   first block minus the application's own entry, per run: everything the
#                      host runs (COM, the audio and MIDI devices, the plug-in, the window),
#                      which includes the Wine code those calls run. This is the figure held
#                      against the goals: 150 ms on the default device, 300 ms on ASIO;
#   over the peers     the first block minus the entry of each peer: of the bare one (all that
#                      is not Wine's start of a process) and of a second empty program that
#                      imports the application's system libraries (vl_bench_startup_peerlibs),
#                      whose entry holds Wine's loading of them.
# Per stamp the median time since the entry is shown too, to see where the time goes.
set -eu
SELF="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$0")/../.."
RUNS=${1:-7}
BUILD=$(cd "${2:-build/windows}" && pwd)
[ "$RUNS" -ge 5 ] 2>/dev/null || { echo "startup.sh: at least 5 runs" >&2; exit 2; }
TIMEOUT_MS=${VL_STARTUP_TIMEOUT_MS:-30000}

for f in bin/VorlaneHost.exe bin/vorlane_demo.dll bin/vl_bench_startup_run.exe bin/vl_bench_startup_empty.exe \
         bin/vl_bench_startup_peerlibs.exe \
         bin/vl_test_asio.dll wine-run.sh wine-up.sh wine-down.sh tests/win/asio/register-asio.sh; do
  [ -e "$BUILD/$f" ] || { echo "startup.sh: $BUILD/$f is missing (build the Windows preset first)" >&2; exit 2; }
done
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$SELF" "$RUNS" "$BUILD"
fi

WORK="$BUILD/bench-startup"
rm -rf "$WORK"
mkdir -p "$WORK/app" "$WORK/traces"
cp "$BUILD/bin/VorlaneHost.exe" "$WORK/app/VorlaneDemo.exe"
cp "$BUILD/bin/vorlane_demo.dll" "$WORK/app/VorlaneDemo.dll"
cp "$BUILD/bin/vl_bench_startup_empty.exe" "$WORK/app/Empty.exe"
cp "$BUILD/bin/vl_bench_startup_peerlibs.exe" "$WORK/app/EmptyLibs.exe"
win() { printf 'Z:%s' "$1" | tr / '\\'; }
KEY='HKCU\Software\Vorlane\Vorlane Demo Synth'

cleanup() { "$BUILD/wine-down.sh" || true; }
trap cleanup EXIT
"$BUILD/wine-up.sh"
"$BUILD/tests/win/asio/register-asio.sh" || { echo "startup.sh: the test ASIO driver could not be registered" >&2; exit 1; }
reg() { "$BUILD/wine-run.sh" reg "$@" </dev/null >/dev/null 2>&1; }

# <series> <label>=<exe>...: one series of rounds, bounded as a whole as well.
series() {
  name=$1
  shift
  limit=$(( (RUNS + 1) * ($# * TIMEOUT_MS / 1000 + 20) + 60 ))
  timeout "$limit" "$BUILD/wine-run.sh" "$BUILD/bin/vl_bench_startup_run.exe" "$(win "$WORK/traces")" "$RUNS" \
    "$TIMEOUT_MS" "$@" </dev/null >"$WORK/$name.log" 2>/dev/null || echo "startup.sh: some $name runs failed (see $WORK/$name.log)"
  grep -v ' first-block closed$\| ended -$' "$WORK/$name.log" || true
}

load=$(uptime | sed 's/.*load average: *//')
reg delete "$KEY" /f || true
series default "default=$(win "$WORK/app/VorlaneDemo.exe")" "peer=$(win "$WORK/app/Empty.exe")" \
  "peerlibs=$(win "$WORK/app/EmptyLibs.exe")"
reg add "$KEY\\Host" /v AudioDeviceType /t REG_DWORD /d 2 /f
reg add "$KEY\\Host" /v "AudioDeviceOut Name" /t REG_SZ /d "Vorlane Test ASIO" /f
series asio "asio=$(win "$WORK/app/VorlaneDemo.exe")" "peerasio=$(win "$WORK/app/Empty.exe")" \
  "peerlibsasio=$(win "$WORK/app/EmptyLibs.exe")"
reg delete "$KEY" /f || true

python3 - "$WORK/traces" "$RUNS" "$load" "$(uptime | sed 's/.*load average: *//')" <<'PY'
import os, statistics, sys
folder, runs, load_before, load_after = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]

def traces(label):
    out = []
    for r in range(1, runs + 1):
        path = os.path.join(folder, '%s-%d.txt' % (label, r))
        if not os.path.exists(path):
            continue
        stamps = {}
        order = []
        for line in open(path):
            if line.startswith('#') or not line.strip():
                continue
            name, ms = line.split()
            stamps[name] = float(ms)
            order.append(name)
        out.append((order, stamps))
    return out

def med(values):
    return statistics.median(values) if values else float('nan')

peer = traces('peer') + traces('peerasio')
wine_share = med([s['winmain'] for _, s in peer if 'winmain' in s])
peerlibs = traces('peerlibs') + traces('peerlibsasio')
libs_share = med([s['winmain'] for _, s in peerlibs if 'winmain' in s])
goals = {'default': 150.0, 'asio': 300.0}
print('start-up under Wine: %d runs per case, medians in ms (load before %s, after %s)' % (runs, load_before, load_after))
print("  Wine's share (empty Win32 program, creation to entry): %.1f ms over %d runs" % (wine_share, len(peer)))
print("  the same importing the application's system libraries: %.1f ms over %d runs" % (libs_share, len(peerlibs)))
for label in ('default', 'asio'):
    got = traces(label)
    full = [(o, s) for o, s in got if 'first-block' in s and 'winmain' in s]
    print('\n  %s device: %d runs, %d reached the first block' % ('default' if label == 'default' else 'ASIO test', len(got), len(full)))
    if not full:
        continue
    names = {name for o, _ in full for name in o}
    # In the order they came (the first block is written last but may come before others).
    order = sorted(names, key=lambda n: med([s[n] - s['winmain'] for _, s in full if n in s]))
    print('    %-16s %10s %12s %10s' % ('stamp', 'since start', 'since entry', 'step'))
    previous = 0.0
    for name in order:
        since_entry = med([s[name] - s['winmain'] for _, s in full if name in s])
        print('    %-16s %10.1f %12.1f %10.1f' % (name, med([s[name] for _, s in full if name in s]), since_entry,
                                                 since_entry - previous))
        previous = since_entry
    entry = med([s['winmain'] for _, s in full])
    first = med([s['first-block'] for _, s in full])
    own = med([s['first-block'] - s['winmain'] for _, s in full])
    print('    before wWinMain %.1f ms (%.1f over the peer), to first block %.1f ms' % (entry, entry - wine_share, first))
    print("    host's own share (first block - entry) %.1f ms, goal at most %.0f ms: %s" %
          (own, goals[label], 'met' if own <= goals[label] else 'NOT met'))
    print('    first block over the peers: %.1f ms over the bare one, %.1f ms over the one with the libraries' %
          (first - wine_share, first - libs_share))
PY
