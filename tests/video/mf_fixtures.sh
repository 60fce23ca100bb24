#!/bin/sh
# Makes the Windows decoder tests' streams on the build machine: each NAME.ts (an FFmpeg-muxed
# transport stream, as the phone's would arrive) and NAME.yuv, FFmpeg's decode of it as raw
# frames in display order, in the decoder's own 8-bit 4:2:0 format (no conversion): the planes
# the Linux decoder converts, so our own conversion of them is the Linux decoder's picture.
# Usage: mf_fixtures.sh <output dir>
set -eu
out=$1
mkdir -p "$out"

# stream NAME SOURCE FRAMES ENCODER-ARGS...: the transport stream alone.
stream() {
  name=$1 source=$2 frames=$3
  shift 3
  ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "$source" \
    -frames:v "$frames" "$@" -f mpegts "$out/$name.ts.tmp"
  mv "$out/$name.ts.tmp" "$out/$name.ts"
}

# clip NAME SIZE FRAMES ENCODER-ARGS...: the transport stream and FFmpeg's decode of it.
clip() {
  name=$1 size=$2 frames=$3
  shift 3
  ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "testsrc2=size=$size:rate=30" \
    -frames:v "$frames" "$@" -f mpegts "$out/$name.ts.tmp"
  ffmpeg -hide_banner -loglevel error -nostdin -y -i "$out/$name.ts.tmp" -map 0:v \
    -fps_mode passthrough -f rawvideo "$out/$name.yuv.tmp"
  mv "$out/$name.yuv.tmp" "$out/$name.yuv"
  mv "$out/$name.ts.tmp" "$out/$name.ts"
}

h264="-c:v libx264 -preset veryfast -x264-params log-level=none"
# Key pictures at units 0 and 30.
clip h264-200x120 200x120 40 -pix_fmt yuv420p -g 30 -bf 0 $h264
clip h264-200x120-bframes 200x120 30 -pix_fmt yuv420p -g 30 -bf 3 $h264
clip h264-200x120-fullrange 200x120 6 -pix_fmt yuvj420p -color_range pc -bf 0 $h264
# Wine's GStreamer pipeline hands pictures of 720 rows and more on as BT.601 with centred
# chroma and converts any others; flagged so, they pass unchanged. Our decoders convert them
# by BT.601, as the flags say.
hd="-colorspace smpte170m -color_primaries smpte170m -color_trc smpte170m"
hd="$hd -chroma_sample_location center"
clip h264-1920x1080 1920x1080 4 -pix_fmt yuv420p -bf 0 $hd $h264
clip h264-1918x1078 1918x1078 3 -pix_fmt yuv420p -bf 0 $hd $h264
clip hevc-198x118 198x118 4 -pix_fmt yuv420p -c:v libx265 -x265-params log-level=error
# Streams the conversion cannot take: refused before they reach the decoder. The large one is
# flat grey, cheap to encode, and one thread keeps the encoder's memory down.
stream h264-64x48-yuv444p testsrc2=size=64x48:rate=30 2 -pix_fmt yuv444p $h264
stream h264-64x48-yuv422p testsrc2=size=64x48:rate=30 2 -pix_fmt yuv422p $h264
stream h264-8256x8192 color=c=gray:size=8256x8192:rate=30 1 -pix_fmt yuv420p -threads 1 $h264
