#!/bin/sh
# npm-setup.sh SOURCE_DIR TARGET_DIR
# Installs the pinned Node peers of the Sonos tests into TARGET_DIR.
set -eu
if ! command -v npm >/dev/null 2>&1 || ! command -v node >/dev/null 2>&1; then
  if [ "${CI:-}" = true ] || [ "${CI:-}" = 1 ]; then
    echo "FAIL: node and npm are needed for the SSDP peer" >&2
    exit 1
  fi
  echo "SKIP: node and npm are not installed" >&2
  exit 77
fi
mkdir -p "$2"
cp "$1/package.json" "$1/package-lock.json" "$2/"
cd "$2"
npm ci --no-audit --no-fund --loglevel=error
