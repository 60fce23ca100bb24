#!/bin/sh
# Makes small transport streams with FFmpeg's own muxer for the demultiplexer tests, and
# ffprobe's packet list (pts,size,K or _) for each: H.264 and HEVC, with and without PES lengths.
# Usage: demux_fixtures.sh <output dir> [frames] [size] [codecs]
set -eu
out=$1
frames=${2:-36}
size=${3:-192x108}
codecs=${4:-h264 hevc}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

src="-hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=$size:rate=30"
# -g 12 gives several key pictures, so random_access_indicator is checked more than once.
case " $codecs " in *" h264 "*)
  ffmpeg $src -frames:v "$frames" -c:v libx264 -pix_fmt yuv420p -g 12 -bf 0 \
    -x264-params log-level=none -f h264 "$tmp/h264.es" ;;
esac
case " $codecs " in *" hevc "*)
  ffmpeg $src -frames:v "$frames" -c:v libx265 -pix_fmt yuv420p -g 12 -bf 0 \
    -x265-params log-level=none -f hevc "$tmp/hevc.es" ;;
esac

for codec in $codecs; do
  for lengths in unbounded bounded; do
    omit=1
    [ "$lengths" = bounded ] && omit=0
    name="$out/$codec-$lengths"
    ffmpeg -hide_banner -loglevel error -nostdin -y -r 30 -i "$tmp/$codec.es" -c copy \
      -f mpegts -omit_video_pes_length $omit "$name.ts.tmp"
    mv "$name.ts.tmp" "$name.ts"
    # Sizes as stored in the PES packets: without -fflags noparse FFmpeg's HEVC parser moves
    # the leading zero byte of each 4-byte start code into the previous packet. Key flags come
    # from the parser, as the unparsed packets carry none.
    ffprobe -v error -fflags +noparse+nofillin -select_streams v:0 \
      -show_entries packet=pts,size -of csv=p=0 "$name.ts" | grep . | sed "s/,$//" > "$tmp/sizes"
    ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 "$name.ts" \
      | grep . | cut -c1 > "$tmp/keys"
    paste -d, "$tmp/sizes" "$tmp/keys" > "$name.csv"
  done
done
