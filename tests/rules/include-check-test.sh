#!/bin/sh
# The include check on a copy of the tree: it passes as the tree is, and fails, naming the file
# and the rule, once an upward include, a toolkit header in the engine or an unlisted folder is
# planted.
set -u
root=$1
work=$2
check="$root/scripts/check-includes"
rm -rf "$work" && mkdir -p "$work" && cp -r "$root/src" "$root/README.md" "$work/" || exit 1
failures=0

expect() {  # <exit code> <text the output must hold> <what was planted>
  out=$(python3 "$check" "$work" 2>&1)
  code=$?
  if [ "$code" -ne "$1" ] || ! printf '%s\n' "$out" | grep -qF -- "$2"; then
    echo "FAILED: $3: expected exit $1 and \"$2\"; got exit $code:"
    printf '%s\n' "$out"
    failures=$((failures + 1))
  fi
}

expect 0 "every include points down" "the tree as it is"

cp "$work/src/audio/AudioDevice.h" "$work/AudioDevice.h.orig"
printf '#include "host/PluginSlot.h"\n' >>"$work/src/audio/AudioDevice.h"
expect 1 'src/audio/AudioDevice.h:' "an upward include"
expect 1 'src/audio/ may not include src/host/' "an upward include"
cp "$work/AudioDevice.h.orig" "$work/src/audio/AudioDevice.h"

printf '#include "app/AppRules.h"\n' >>"$work/src/dialogs/win/CListBoxCH.h"
expect 1 'src/dialogs/win/ may not include src/app/' "an include of the application from its dialogs"
printf '#include "app/linux/KeyCodes.h"\n' >"$work/src/app/win/Planted.h"
expect 1 'src/app/win/ may not include src/app/linux/' "one program including the other"
rm "$work/src/app/win/Planted.h"
cp "$root/src/dialogs/win/CListBoxCH.h" "$work/src/dialogs/win/CListBoxCH.h"

printf '#include <QString>\n' >>"$work/src/host/PluginSlot.h"
expect 1 '<QString>: the toolkit belongs to src/app/linux/ only' "a Qt header in the engine"
cp "$root/src/host/PluginSlot.h" "$work/src/host/PluginSlot.h"

mkdir "$work/src/host/extra" && printf '#pragma once\n' >"$work/src/host/extra/New.h"
expect 1 'src/host/extra/: not in the README' "a folder without a line"
rm -r "$work/src/host/extra"

expect 0 "every include points down" "the tree put back"
[ "$failures" -eq 0 ] && echo "include check: all cases passed"
exit "$failures"
