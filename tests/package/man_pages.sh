#!/usr/bin/env bash
# Each program's man page was built and man shows it without a warning.
set -euo pipefail
dir=$1
status=0
for program in reelplay reeldeck reelrip reelmake; do
  page=$dir/$program.1
  if [ ! -s "$page" ] || [ ! -s "$page.gz" ]; then
    echo "missing: $page or $page.gz"
    status=1
    continue
  fi
  warnings=$(MAN_DISABLE_SECCOMP=1 MANWIDTH=80 man -l --warnings "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings"
    status=1
  fi
  # The page names its program in its NAME section.
  MAN_DISABLE_SECCOMP=1 MANWIDTH=80 man -l "$page.gz" 2>/dev/null | grep -q "^ *$program - " ||
    { echo "$page.gz does not show a NAME line for $program"; status=1; }
done
exit $status
