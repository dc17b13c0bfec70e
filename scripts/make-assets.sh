#!/usr/bin/env bash
# Draws the program's pictures into assets/:
#
#   assets/qinglan.ico               the program icon: 16, 32 and 48 px, 32-bit with alpha
#   assets/instructions_picture.jpg  the QR code of the 微信 contact account shown to users
#
# Needs imagemagick, qrencode, libjpeg-turbo-progs and python3. The output only depends on those
# tools, so running the script again gives the same files. If zbarimg (zbar-tools) is installed,
# the QR code is also read back as a check.
#
# The instructions picture is 131 × 133 px. It holds a version 1 QR code (21 × 21 modules, error
# correction level M) of 5 × 5 px modules, so the symbol is 105 × 105 px with its top-left corner
# at x = 13, y = 14, leaving a light margin of 13 px left and right and 14 px above and below.
# ui/instructions_picture_layout.h carries the same numbers for the program and its tests.
set -euo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
assets=$repo_dir/assets
layout_header=$repo_dir/ui/instructions_picture_layout.h

contact=varevovidiviz
picture_width=131
picture_height=133
qr_modules=21
qr_module_pixels=5
qr_left=13
qr_top=14
picture_bytes=12823

for tool in convert qrencode cjpeg djpeg python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "make-assets: $tool is missing; run scripts/setup.sh first" >&2
    exit 1
  fi
done

work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

# Fails unless the layout header has NAME = VALUE.
expect_layout() {
  if ! grep -Eq "constexpr int $1 = $2;" "$layout_header"; then
    echo "make-assets: $layout_header does not say $1 = $2" >&2
    exit 1
  fi
}

check_layout_header() {
  expect_layout kInstructionsPictureWidth "$picture_width"
  expect_layout kInstructionsPictureHeight "$picture_height"
  expect_layout kQrModules "$qr_modules"
  expect_layout kQrModulePixels "$qr_module_pixels"
  expect_layout kQrLeft "$qr_left"
  expect_layout kQrTop "$qr_top"
}

# The icon: a green mountain in front of a paler one on a misty sky, with a download arrow coming
# down into the valley. The 32 and 48 px images are reduced from a 256 px drawing with two mist
# bands; the 16 px one is drawn on a 16 × 16 grid without mist, so its edges fall on whole pixels.
draw_icon_256() {
  convert -size 256x256 gradient:'#f2fcf8-#c6ecdf' \
    -fill '#62c2aa' -draw 'polygon 0,196 64,112 104,150 176,76 256,168 256,256 0,256' \
    -fill 'rgba(255,255,255,0.8)' \
    -draw 'roundrectangle 18,168 92,180 6,6' -draw 'roundrectangle 164,188 238,200 6,6' \
    -fill '#1a7a60' -draw 'polygon 0,226 56,178 96,204 150,160 256,232 256,256 0,256' \
    -fill white -stroke '#0d4a3c' -strokewidth 14 \
    -draw 'polygon 106,26 150,26 150,108 190,108 128,174 66,108 106,108' \
    \( -size 256x256 xc:black -fill white -stroke none -draw 'roundrectangle 8,8 247,247 48,48' \) \
    -alpha off -compose copy-opacity -composite "$1"
}

draw_icon_16() {
  convert -size 256x256 gradient:'#f2fcf8-#c6ecdf' \
    -fill '#62c2aa' -draw 'scale 16,16 polygon 0,12 4,7.5 6.5,10 11,5 16,10.5 16,16 0,16' \
    -fill '#1a7a60' -draw 'scale 16,16 polygon 0,14 3.5,11.5 6,13 10.5,10.5 16,14 16,16 0,16' \
    -fill '#0d4a3c' -draw 'scale 16,16 polygon 6,1 10,1 10,6 13,6 8,11.5 3,6 6,6' \
    -fill white -draw 'scale 16,16 polygon 7,2 9,2 9,7 10.6,7 8,10 5.4,7 7,7' \
    \( -size 256x256 xc:black -fill white -draw 'roundrectangle 0,0 255,255 48,48' \) \
    -alpha off -compose copy-opacity -composite -filter box -resize 16x16 "$1"
}

make_icon() {
  draw_icon_256 "$work/icon-256.png"
  draw_icon_16 "$work/icon-16.png"
  convert "$work/icon-256.png" -resize 32x32 "$work/icon-32.png"
  convert "$work/icon-256.png" -resize 48x48 "$work/icon-48.png"
  # BMP entries with 8-bit alpha; no PNG entries, which older icon readers cannot handle.
  convert "$work/icon-16.png" "$work/icon-32.png" "$work/icon-48.png" \
    -type TrueColorAlpha "$work/qinglan.ico"
}

# Draws the QR code as a PPM, compresses it with cjpeg (JFIF 1.01, baseline, YCbCr 4:2:0), sets
# the JFIF density to 96 dpi and pads the file to its exact length with a comment segment put
# right after the JFIF segment. Then it reads the file back and checks all of that.
make_instructions_picture() {
  qrencode -t ASCII -m 0 -l M -v 1 -8 "$contact" >"$work/qr.txt"
  python3 - "$work" "$picture_width" "$picture_height" "$qr_modules" "$qr_module_pixels" \
    "$qr_left" "$qr_top" "$picture_bytes" <<'PYTHON'
import struct
import subprocess
import sys

work = sys.argv[1]
width, height, modules, module_px, left, top, total = map(int, sys.argv[2:])


def fail(message):
    sys.exit(f"make-assets: {message}")


def read_modules():
    """The symbol as rows of booleans (True is dark); qrencode prints a module as two characters."""
    with open(f"{work}/qr.txt") as f:
        lines = [line.rstrip("\n") for line in f]
    rows = [[line[2 * x] == "#" for x in range(len(line) // 2)] for line in lines]
    if len(rows) != modules or any(len(row) != modules for row in rows):
        fail(f"qrencode did not give a {modules} × {modules} symbol")
    return rows


def ppm(rows):
    picture = bytearray(b"\xff" * (width * height * 3))
    for y in range(modules * module_px):
        for x in range(modules * module_px):
            if rows[y // module_px][x // module_px]:
                at = ((top + y) * width + left + x) * 3
                picture[at : at + 3] = b"\0\0\0"
    return b"P6\n%d %d\n255\n" % (width, height) + bytes(picture)


def segments(data):
    """(marker, offset, length) of each segment from SOI up to and including SOS."""
    if data[:2] != b"\xff\xd8":
        fail("cjpeg's output does not start with SOI")
    at = 2
    while True:
        marker = data[at + 1]
        length = struct.unpack(">H", data[at + 2 : at + 4])[0]
        yield marker, at, length
        if marker == 0xDA:
            return
        at += 2 + length


def set_density_and_pad(data):
    marker, at, length = next(segments(data))
    app0 = data[at + 4 : at + 2 + length]
    if marker != 0xE0 or app0[:5] != b"JFIF\0" or app0[5:7] != b"\x01\x01":
        fail("cjpeg's output does not start with a JFIF 1.01 segment")
    # Units 1 is dots per inch; then the horizontal and vertical density.
    app0 = app0[:7] + struct.pack(">BHH", 1, 96, 96) + app0[12:]
    end = at + 2 + length
    padding = total - len(data) - 4
    if not 0 <= padding <= 65533:
        fail(f"the compressed picture is {len(data)} bytes, too long for {total}")
    comment = b"\xff\xfe" + struct.pack(">H", padding + 2) + b" " * padding
    return data[:at] + data[at : at + 4] + app0 + comment + data[end:]


def check_markers(data):
    if len(data) != total:
        fail(f"the picture is {len(data)} bytes, not {total}")
    found = {marker: data[at + 4 : at + 2 + length] for marker, at, length in segments(data)}
    if found[0xE0][:12] != b"JFIF\0\x01\x01\x01\x00\x60\x00\x60":
        fail("the JFIF segment is not version 1.01 at 96 × 96 dpi")
    if 0xC0 not in found or any(m in found for m in (0xC1, 0xC2, 0xC3)):
        fail("the picture is not baseline")
    sof = found[0xC0]
    if sof[:6] != struct.pack(">BHHB", 8, height, width, 3):
        fail("the frame is not 8-bit, three components, of the right size")
    if [sof[6 + 3 * i : 8 + 3 * i] for i in range(3)] != [b"\x01\x22", b"\x02\x11", b"\x03\x11"]:
        fail("the components are not YCbCr with 4:2:0 subsampling")


def check_pixels(path, rows):
    """Every module centre decodes to the colour it was drawn in, and the margin stays light."""
    decoded = subprocess.run(["djpeg", "-pnm", path], check=True, capture_output=True).stdout
    header = b"P6\n%d %d\n255\n" % (width, height)
    if not decoded.startswith(header):
        fail("djpeg does not read the picture back at its size")
    pixels = decoded[len(header) :]

    def channels(x, y):
        at = (y * width + x) * 3
        return pixels[at : at + 3]

    half = module_px // 2
    for my in range(modules):
        for mx in range(modules):
            centre = channels(left + mx * module_px + half, top + my * module_px + half)
            right = max(centre) < 64 if rows[my][mx] else min(centre) > 192
            if not right:
                fail(f"module ({mx}, {my}) decodes to the wrong colour")
    if min(channels(left // 2, top // 2)) <= 192:
        fail("the margin does not decode light")


rows = read_modules()
with open(f"{work}/qr.ppm", "wb") as f:
    f.write(ppm(rows))
subprocess.run(
    ["cjpeg", "-quality", "95", "-sample", "2x2,1x1,1x1", "-baseline", "-optimize",
     "-outfile", f"{work}/qr-plain.jpg", f"{work}/qr.ppm"],
    check=True,
)
with open(f"{work}/qr-plain.jpg", "rb") as f:
    picture = set_density_and_pad(f.read())
check_markers(picture)
with open(f"{work}/instructions_picture.jpg", "wb") as f:
    f.write(picture)
check_pixels(f"{work}/instructions_picture.jpg", rows)
PYTHON
}

# Reads the QR code back when a decoder is at hand; the script itself does not need one.
check_qr_decodes() {
  command -v zbarimg >/dev/null || return 0
  local text
  text=$(zbarimg --quiet --raw "$work/instructions_picture.jpg")
  if [ "$text" != "$contact" ]; then
    echo "make-assets: the QR code reads back as '$text', not '$contact'" >&2
    exit 1
  fi
}

check_layout_header
make_icon
make_instructions_picture
check_qr_decodes
mkdir -p "$assets"
cp "$work/qinglan.ico" "$work/instructions_picture.jpg" "$assets/"
echo "make-assets: wrote $assets/qinglan.ico and $assets/instructions_picture.jpg"
