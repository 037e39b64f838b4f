#!/usr/bin/env bash
# Our shared-mime-info file, added to the freedesktop.org database in a
# scratch folder: xdg-mime names our types for the demo files, by name and by
# content alone, and leaves a plain AVI file alone.
set -euo pipefail
mime_xml=$1 demo=$2 reelmake=$3
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
mkdir -p "$data/mime/packages" "$data/files"
cp /usr/share/mime/packages/freedesktop.org.xml "$data/mime/packages/"
cp "$mime_xml" "$data/mime/packages/reel.xml"
export XDG_DATA_DIRS=$data XDG_DATA_HOME=$data/home XDG_CURRENT_DESKTOP=X-Generic
update-mime-database "$data/mime"

files=$data/files
cp "$demo/demo.tre" "$files/xtre_archive"
cp "$demo/schl_demo.tre" "$files/named_archive"
cp "$demo/demo.form" "$files/form_movie"
cp "$demo/demo.tgv" "$files/sead_movie"
"$reelmake" schl "$files/schl_movie"
# The RIFF demo with another picture size in its main header is an AVI file.
cp "$demo/demo.riff" "$files/plain_avi"
printf '\x80\x02' | dd of="$files/plain_avi" bs=1 seek=64 conv=notrunc status=none

status=0
expect() {
  local got
  got=$(xdg-mime query filetype "$1")
  if [ "$got" = "$2" ]; then
    echo "ok: $(basename "$1") is $got"
  else
    echo "FAIL: $(basename "$1") is $got, not $2"
    status=1
  fi
}
expect "$demo/demo.tre" application/x-korvath-archive
expect "$demo/schl_demo.tre" application/x-korvath-archive
expect "$demo/demo.form" video/x-korvath-form
expect "$demo/demo.riff" video/x-korvath-riff
expect "$demo/demo.tgv" video/x-korvath-sead
expect "$files/xtre_archive" application/x-korvath-archive
expect "$files/named_archive" application/x-korvath-archive
expect "$files/form_movie" video/x-korvath-form
expect "$files/sead_movie" video/x-korvath-sead
expect "$files/schl_movie" video/x-korvath-schl
expect "$files/plain_avi" video/x-msvideo
exit $status
