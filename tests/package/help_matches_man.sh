#!/usr/bin/env bash
# A program's --help and its man page name the same options and commands:
# PROGRAM MAN_SOURCE (scdoc). Options are the words that start with a dash;
# commands are the first words of the help's indented lines and the terms of
# the page's COMMANDS section.
set -euo pipefail
program=$1 page=$2
help=$("$program" --help)

from_help() {
  grep -oE '(^|[][ |,(])--?[a-z][a-z-]*' <<<"$help" | grep -oE -- '--?[a-z][a-z-]*'
  grep -oE '^  [a-z][a-z-]* ' <<<"$help" | tr -d ' '
}
from_page() {
  grep -oE '\*--?[a-z][a-z-]*\*' "$page" | tr -d '*'
  sed -n '/^# COMMANDS/,/^# /p' "$page" | grep -oE '^\*[a-z][a-z-]*\*' | tr -d '*'
}
name=$(basename "$program")
if ! diff <(from_help | sort -u) <(from_page | sort -u); then
  echo "$name: --help (<) and $(basename "$page") (>) name different options"
  exit 1
fi
echo "$name: --help and $(basename "$page") agree"
