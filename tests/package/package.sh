#!/usr/bin/env bash
# Builds the Debian package with ./scripts/package, unpacks it into a scratch
# root and runs what it installed from there: the player finds its codec
# library in the unpacked tree and shows RIFF pictures, the thumbnailer makes
# a thumbnail of each demo file, every program answers --help and --version,
# and the package depends on the runtime libraries the programs link.
# The package and the thumbnails are left in ARTIFACTS.
set -euo pipefail
source_dir=$(realpath "$1") demo=$(realpath "$2") artifacts=$(realpath -m "$3")
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

deb=$(REEL_SKIP_SETUP=1 "$source_dir/scripts/package" | tail -n 1)
rm -rf "$artifacts"
mkdir -p "$artifacts/thumbnails" "$artifacts/player"
cp "$deb" "$artifacts/"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
codec_dir=$(dirname "$(find "$root/usr/lib" -name libxanlib.so)")
echo "codec library in ${codec_dir#"$root"}"
case "${codec_dir#"$root"}" in
  /usr/lib/*-*/reel) ;;
  *) fail "the codec library is not in /usr/lib/<triplet>/reel" ;;
esac
[ ! -e "$bin/libxanlib.so" ] || fail "the codec library is among the programs"

# Dependencies computed by dpkg-shlibdeps name the runtime packages.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libsdl1.2 libwxgtk3.2 libpng16 libsndfile1; do
  grep -q "\b$package" <<<"$depends" || fail "Depends lacks $package"
done

for program in reelplay reeldeck reelrip reelmake; do
  # No display: the launcher must answer before its toolkit starts.
  help=$(env -u DISPLAY "$bin/$program" --help) || fail "$program --help exits non-zero"
  [[ "$help" == usage:*"$program "* ]] || fail "$program --help: $help"
  version=$(env -u DISPLAY "$bin/$program" --version) || fail "$program --version exits non-zero"
  [ "$version" = "$program 1.0" ] || fail "$program --version says '$version'"
done

# The player headless on the RIFF demo. SDL's dummy video driver writes each
# shown window as a BMP file when SDL_VIDEO_DUMMY_SAVE_FRAMES is set; RIFF
# pictures are only drawn when the codec library was loaded, so a lit frame
# shows that the unpacked player found the unpacked library.
play_riff_demo() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
    SDL_VIDEO_DUMMY_SAVE_FRAMES=1 timeout 120 "$bin/reelplay" "$demo/demo.riff" 2>/dev/null) ||
    fail "reelplay exits non-zero"
  echo "$(find "$dir" -name '*.bmp' | wc -l) frames shown"
}
# The mean of the brightest frame (0 to 1) and its file name.
brightest_frame() {
  if compgen -G "$1/*.bmp" >/dev/null; then
    identify -format '%[fx:mean] %f\n' "$1"/*.bmp | sort -g | tail -n 1
  else
    echo 0
  fi
}
play_riff_demo "$root/frames"
read -r lit frame <<<"$(brightest_frame "$root/frames")"
echo "brightest frame with the library: $lit ${frame:-}"
awk -v m="$lit" 'BEGIN { exit !(m > 0.05) }' || fail "no picture was drawn"
[ -z "${frame:-}" ] || convert "$root/frames/$frame" "$artifacts/player/riff_frame.png"
# The same without the library: every frame stays black, so the check
# above can tell.
mv "$codec_dir" "$codec_dir.away"
play_riff_demo "$root/frames-without"
mv "$codec_dir.away" "$codec_dir"
read -r dark _ <<<"$(brightest_frame "$root/frames-without")"
echo "brightest frame without the library: $dark"
[ "$(find "$root/frames-without" -name '*.bmp' | wc -l)" -gt 0 ] || fail "no frames without the library"
awk -v m="$dark" 'BEGIN { exit !(m < 0.01) }' || fail "frames are lit without the library"

# Thumbnails of every demo file, as a file manager asks for them.
for file in demo.form demo.riff demo.tgv demo.tre schl_demo.tre; do
  out=$artifacts/thumbnails/${file%%.*}_${file##*.}.png
  "$bin/reelrip" --thumbnail 128 "$demo/$file" "$out" || fail "no thumbnail of $file"
  [ -s "$out" ] || continue
  read -r w h mean <<<"$(identify -format '%w %h %[fx:mean]' "$out")"
  echo "thumbnail of $file: $w x $h, mean $mean"
  [ "$w" -le 128 ] && [ "$h" -le 128 ] || fail "thumbnail of $file is $w x $h"
  awk -v m="$mean" 'BEGIN { exit !(m > 0.05) }' || fail "thumbnail of $file is dark"
done
# Something that is no movie gives no thumbnail and a non-zero status.
head -c 4096 /dev/zero >"$root/junk.tgv"
if "$bin/reelrip" --thumbnail 128 "$root/junk.tgv" "$root/junk.png" 2>/dev/null; then
  fail "a thumbnail of junk"
fi
[ ! -e "$root/junk.png" ] || fail "a file was left for junk"
exit $status
