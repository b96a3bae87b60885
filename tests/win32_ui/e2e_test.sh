#!/usr/bin/env bash
# End to end: the real Pellamar.exe under Wine converts a folder of real
# cards, driven by e2e_driver.exe as a user would drive it; then every .mem
# file is compared byte for byte with the 64-byte header and its card, and
# the played-on .mem that it replaced with the one in the Recycle Bin (Wine
# keeps it in the freedesktop.org trash of XDG_DATA_HOME).
# Beside the program lies a planted DLL named as a system DLL, which it must
# not load.
#
# Usage: e2e_test.sh WINE PELLAMAR_EXE DRIVER_EXE DATA_DIR WORK_DIR PLANTED_DLL
set -euo pipefail
wine=$1 exe=$2 driver=$3 data=$4 work=$5 planted=$6

rm -rf "$work"
mkdir -p "$work/cards" "$work/downloads"
cp "$exe" "$planted" "$work/downloads/"
exe=$work/downloads/$(basename "$exe")
cp "$data/m1.mcd" "$work/cards/a.mcd"
cp "$data/MemoryCard2-1.mcd" "$work/cards/B.MCD"
cp "$data/blank.mcd" "$work/cards/c.mcd"
printf 'not a card' >"$work/cards/x.bin"
printf 'saves of an emulator' >"$work/cards/c.mem"
played=$work/played.mem
cp "$work/cards/c.mem" "$played"

# "VgsM", 1, 1, 1 as little-endian words, 512 as one, zeros to 64 bytes.
header=$work/header.bin
printf 'VgsM\001\000\000\000\001\000\000\000\001\000\000\000\000\002' >"$header"
head -c 46 /dev/zero >>"$header"

# Wine's drive Z: is the Unix root.
cards_unix=$work/cards
source_text="Z:${cards_unix//\//\\}\\a.mcd"

# Wine takes its own DLL over a file beside the program where Windows takes
# the file; "n,b" makes it take the file, as Windows does.
WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}oleacc=n,b" timeout 120 "$wine" "$exe" &
app=$!
if ! output=$(timeout 120 "$wine" "$driver" "$source_text"); then
  kill "$app" 2>/dev/null || true
  echo "FAIL: the driver did not finish its steps" >&2
  exit 1
fi
wait "$app" || { echo "FAIL: Pellamar.exe did not end when its window closed" >&2; exit 1; }

passes=0 failures=0
check() {  # description, actual, expected
  if [[ $2 == "$3" ]]; then
    echo "ok: $1"
    passes=$((passes + 1))
  else
    echo "FAIL: $1: got '$2', expected '$3'" >&2
    failures=$((failures + 1))
  fi
}

output=${output//$'\r'/}
check "message box text" "$(sed -n 1,4p <<<"$output")" \
  "3 Files Processed

1 Replaced File Moved to the Recycle Bin:
c.mem"
check "description after the run" "$(sed -n 5p <<<"$output")" \
  "This tool converts memory cards from Bleem! to VGS format in batch mode."

for pair in a.mcd:a.mem B.MCD:B.mem c.mcd:c.mem; do
  card=${pair%%:*} target=${pair##*:}
  if cat "$header" "$work/cards/$card" | cmp -s - "$work/cards/$target"; then
    echo "ok: $target is the header and $card byte for byte"
    passes=$((passes + 1))
  else
    echo "FAIL: $target is not the header followed by $card" >&2
    failures=$((failures + 1))
  fi
done
for stray in x.mem x.bin.mem; do
  check "no $stray written" "$([[ -e $work/cards/$stray ]] && echo present || echo absent)" absent
done

# The trash's record names the file's old place (its characters as the
# trash encodes them) and the time it went there.
restored=absent
for info in "${XDG_DATA_HOME:?}"/Trash/info/*.trashinfo; do
  [[ -f $info ]] || continue
  path=$(sed -n 's/^Path=//p' "$info")
  path=$(printf '%b' "${path//%/\\x}")
  grep -q '^DeletionDate=....-..-..T..:..:..$' "$info" || continue
  trashed=$XDG_DATA_HOME/Trash/files/$(basename "$info" .trashinfo)
  if [[ $path == "$work/cards/c.mem" ]] && cmp -s "$trashed" "$played"; then restored=restored; fi
done
check "the played-on c.mem back from the Recycle Bin byte for byte" "$restored" restored

check "the planted oleacc.dll beside the program not loaded" \
  "$([[ -e $work/downloads/planted-library-loaded ]] && echo loaded || echo "not loaded")" "not loaded"

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
