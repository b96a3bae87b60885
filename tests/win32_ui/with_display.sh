#!/usr/bin/env bash
# Runs a command with an X display for Wine's windows: the one DISPLAY
# names, or else a private Xvfb that lives as long as the command.
set -euo pipefail

if [[ -n ${DISPLAY:-} ]]; then
  exec "$@"
fi

number_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -f "$number_file"' EXIT
for _ in $(seq 100); do
  [[ -s $number_file ]] && break
  sleep 0.1
done
[[ -s $number_file ]] || { echo "with_display: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n 1 "$number_file")" "$@"
