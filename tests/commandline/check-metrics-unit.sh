#!/bin/sh
# The metrics service as systemd sees it: a unit it accepts, whose command
# exists (the built program stands in for the installed one), and whose
# sandbox rates 2.5 or below. Exits 77 (skipped) without systemd-analyze.
# Usage: check-metrics-unit.sh UNIT PROGRAM
set -eu
unit=$1
program=$2
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is missing (Debian package systemd)"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
name=$(basename "$unit")
sed "s|^ExecStart=[^ ]*|ExecStart=$program|" "$unit" >"$scratch/$name"
systemd-analyze verify --man=no "$scratch/$name"
status=0
rating=$(systemd-analyze security --offline=true --threshold=25 "$scratch/$name" 2>&1) || status=$?
printf '%s\n' "$rating" | tail -n 1
exit $status
