#!/usr/bin/env bash
# Runs a command against a gnome-keyring-daemon of its own, in a scratch
# HOME, inside the D-Bus session bus of the caller (dbus-run-session).
# KEYRING_LOCKED=1 leaves the keyring locked: nothing can be stored in it.
set -euo pipefail
scratch=$(mktemp -d)
# The daemon ends with the session bus; only the scratch directory is ours to remove.
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run XDG_DATA_HOME=$scratch/home/.local/share
mkdir -p "$XDG_DATA_HOME"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
if [ "${KEYRING_LOCKED:-}" != 1 ]; then
  eval "$(printf 'test-password' | gnome-keyring-daemon --unlock --components=secrets)"
fi
eval "$(gnome-keyring-daemon --start --components=secrets)"
export GNOME_KEYRING_CONTROL
"$@"
