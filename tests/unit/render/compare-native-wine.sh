#!/bin/sh
# Renders the same phrase through the demo instrument with the native vorlane-render and with
# the Windows one under Wine, and compares the two recordings sample by sample.
# Arguments: native-bin-dir windows-bin-dir wine-runner work-dir
# Exit 77 (skipped) when the native build is not there.
set -eu
native_bin=$1 windows_bin=$2 wine=$3 work=$4
[ -x "$native_bin/vorlane-render" ] && [ -f "$native_bin/vorlane_demo.so" ] || {
  echo "native build not found in $native_bin: skipped"
  exit 77
}
rm -rf "$work" && mkdir -p "$work" && cd "$work"
cp "$windows_bin/vorlane-render.exe" "$windows_bin/vorlane_demo.dll" .
set -- --notes "57@0+0.5,60@0.25+0.5:90,64@0.5+0.75:110,69@1+0.5,45@0+1.5:70" --rate 48000 --block 256 --tail 1 --quiet
"$native_bin/vorlane-render" --plugin "$native_bin/vorlane_demo.so" "$@" --output native.wav
"$wine" ./vorlane-render.exe --plugin vorlane_demo.dll "$@" --output wine.wav
python3 - <<'PY'
import array, math, sys, wave
def samples(name):
    with wave.open(name) as w:
        assert w.getsampwidth() == 2 and w.getnchannels() == 2, name
        data = array.array('h', w.readframes(w.getnframes()))
        return w.getframerate(), data
rate_n, native = samples('native.wav')
rate_w, wine = samples('wine.wav')
if rate_n != rate_w or len(native) != len(wine):
    sys.exit('different formats: %d/%d Hz, %d/%d samples' % (rate_n, rate_w, len(native), len(wine)))
worst = max(abs(a - b) for a, b in zip(native, wine))
rms = math.sqrt(sum(x * x for x in native) / len(native)) / 32768
print('samples %d, largest difference %d LSB, RMS %.4f' % (len(native), worst, rms))
if rms < 0.01:
    sys.exit('the render is silent')
if worst > 2:
    sys.exit('the builds render different samples')
PY
