#!/usr/bin/env bash
# lintian on the package that package.sh built: no error and no warning
# (information tags are printed and allowed).
set -euo pipefail
deb=$(ls "$1"/reel_*.deb)
lintian --fail-on error,warning --info --display-info "$deb" 2>&1 | grep -v '^N:' || true
lintian --fail-on error,warning "$deb" >/dev/null 2>&1
