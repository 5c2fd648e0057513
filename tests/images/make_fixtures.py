#!/usr/bin/python3
"""Makes the image files the codec tests decode, with other programs' encoders.

Run once by hand (the files are committed; the tests do not need these tools):
    /usr/bin/python3 tests/images/make_fixtures.py
Needs: netpbm, libjpeg-turbo-progs (cjpeg), libtiff-tools, giflib-tools,
imagemagick (only for the CMYK JPEG) and python3-pil (the 32-bit BMP).

The pictures are the source images written here as PAM files (source-*.pam),
which the tests read as the expected pixels:
  rgb   5 x 3, 15 distinct opaque colours
  rgba  the same colours with alpha 255, 128, 1, 64 and 200 by column
  grey  5 x 3 grey levels
  tall  7 x 10, 70 distinct colours (interlaced files: every pass has rows)
  blocks 32 x 32 of four flat 16 x 16 blocks (the lossy JPEG files)
"""
import os
import shutil
import struct
import subprocess
import zlib

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))

RGB = [
    [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (0, 0, 0)],
    [(10, 20, 30), (200, 100, 50), (128, 128, 128), (255, 255, 0), (0, 255, 255)],
    [(1, 2, 3), (250, 5, 128), (64, 32, 16), (17, 34, 51), (90, 180, 45)],
]
ALPHA = [255, 128, 1, 64, 200]
GREY = [[0, 40, 80, 120, 160], [200, 255, 1, 17, 99], [128, 64, 32, 16, 8]]
TALL = [[(x * 36, y * 25, (x * y * 7 + 3) % 256) for x in range(7)] for y in range(10)]
BLOCKS = [[[(200, 30, 30), (30, 200, 30)][x // 16] if y < 16 else [(30, 30, 200), (220, 220, 40)][x // 16]
           for x in range(32)] for y in range(32)]


def path(name):
    return os.path.join(HERE, name)


def write_pam(name, rows, depth):
    """rows of tuples (RGB, RGBA) or of ints (grey)."""
    tuple_type = {1: "GRAYSCALE", 3: "RGB", 4: "RGB_ALPHA"}[depth]
    h, w = len(rows), len(rows[0])
    data = bytearray()
    for row in rows:
        for p in row:
            data += bytes([p] if depth == 1 else p)
    with open(path(name), "wb") as f:
        f.write(f"P7\nWIDTH {w}\nHEIGHT {h}\nDEPTH {depth}\nMAXVAL 255\nTUPLTYPE {tuple_type}\nENDHDR\n".encode())
        f.write(data)


def ppm(rows, maxval=255):
    h, w = len(rows), len(rows[0])
    head = f"P6\n{w} {h}\n{maxval}\n".encode()
    fmt = ">H" if maxval > 255 else "B"
    body = b"".join(struct.pack(fmt, c * 257 if maxval > 255 else c) for row in rows for p in row for c in p)
    return head + body


def pgm(rows):
    h, w = len(rows), len(rows[0])
    return f"P5\n{w} {h}\n255\n".encode() + bytes(v for row in rows for v in row)


def run(args, data=None, out=None):
    result = subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True)
    if out:
        with open(path(out), "wb") as f:
            f.write(result.stdout)
    return result.stdout


def temp(name, data):
    p = path("tmp-" + name)
    with open(p, "wb") as f:
        f.write(data)
    return p


def top_down(name, out):
    """The same BMP with its rows stored from the top (a negative height)."""
    b = bytearray(open(path(name), "rb").read())
    offset, header = struct.unpack_from("<II", b, 10)
    if header == 12:
        raise ValueError("core headers have no top-down form")
    w, h = struct.unpack_from("<ii", b, 18)
    bits = struct.unpack_from("<H", b, 28)[0]
    stride = (w * bits + 31) // 32 * 4
    rows = [b[offset + i * stride: offset + (i + 1) * stride] for i in range(h)]
    b[offset: offset + h * stride] = b"".join(reversed(rows))
    struct.pack_into("<i", b, 22, -h)
    open(path(out), "wb").write(b)


def main():
    rgba = [[p + (ALPHA[x],) for x, p in enumerate(row)] for row in RGB]
    write_pam("source-rgb.pam", RGB, 3)
    write_pam("source-rgba.pam", rgba, 4)
    write_pam("source-grey.pam", GREY, 1)
    write_pam("source-tall.pam", TALL, 3)
    write_pam("source-blocks.pam", BLOCKS, 3)
    rgb_ppm, tall_ppm, blocks_ppm = temp("rgb.ppm", ppm(RGB)), temp("tall.ppm", ppm(TALL)), temp("blocks.ppm", ppm(BLOCKS))
    rgb16_ppm, grey_pgm = temp("rgb16.ppm", ppm(RGB, 65535)), temp("grey.pgm", pgm(GREY))

    # PNG, through netpbm (libpng).
    run(["pnmtopng", "-force", "-interlace", tall_ppm], out="interlaced.png")
    run(["pnmtopng", "-force", rgb16_ppm], out="rgb16.png")
    run(["pnmtopng", "-transparent", "=rgb:ff/ff/ff", rgb_ppm], out="palette-trns.png")
    run(["pnmtopng", "-force", grey_pgm], out="grey.png")
    run(["pamtopng", path("source-rgba.pam")], out="rgba.png")

    # The sample image that libpng's development package ships; the CRC-32
    # of its pixels as R, G, B, A bytes (decoded by Pillow) goes to the test.
    shutil.copy("/usr/share/doc/libpng-dev/examples/pngtest.png", path("pngtest.png"))
    sample = Image.open(path("pngtest.png")).convert("RGBA")
    print("pngtest.png", sample.size, "pixels CRC-32 %08X" % zlib.crc32(sample.tobytes()))

    # JPEG, through libjpeg-turbo's own cjpeg (and ImageMagick for CMYK).
    run(["cjpeg", "-progressive", "-quality", "95", blocks_ppm], out="progressive.jpg")
    run(["cjpeg", "-grayscale", "-quality", "95", blocks_ppm], out="grey.jpg")
    blocks_png = temp("blocks.png", run(["pnmtopng", blocks_ppm]))
    subprocess.run(["convert-im6.q16", blocks_png, "-colorspace", "CMYK", "-quality", "95", path("cmyk.jpg")],
                   check=True)

    # GIF, through netpbm (giflib's format) and giflib's own gifbuild.
    run(["pamtogif", "-transparent", "=rgb:ff/ff/ff", rgb_ppm], out="transparent.gif")
    run(["pamtogif", "-interlace", tall_ppm], out="interlaced.gif")

    # BMP, through netpbm and Pillow; the top-down forms reorder their rows.
    run(["ppmtobmp", "-bpp=24", rgb_ppm], out="rgb24.bmp")
    run(["ppmtobmp", "-bpp=8", rgb_ppm], out="palette8.bmp")
    run(["ppmtobmp", "-bpp=4", rgb_ppm], out="palette4.bmp")
    run(["ppmtobmp", "-os2", "-bpp=8", rgb_ppm], out="os2-8.bmp")
    Image.frombytes("RGBA", (5, 3), bytes(c for row in rgba for p in row for c in p)).save(path("rgba32.bmp"))
    for name in ["rgb24", "palette8", "rgba32"]:
        top_down(name + ".bmp", name + "-topdown.bmp")

    # TIFF, through libtiff's own tools (and netpbm's pamtotiff, on libtiff).
    subprocess.run(["ppm2tiff", "-c", "lzw", rgb_ppm, path("rgb-lzw.tif")], check=True)
    subprocess.run(["ppm2tiff", grey_pgm, path("grey.tif")], check=True)
    # pamtotiff leaves the fourth sample unnamed: tiffset calls it unassociated alpha.
    # Its input comes on standard input: it would keep the file's name in the file.
    run(["pamtotiff", "-truecolor", "-lzw"], open(path("source-rgba.pam"), "rb").read(), out="rgba.tif")
    subprocess.run(["tiffset", "-s", "338", "1", "2", path("rgba.tif")], check=True)
    run(["pamtotiff", "-truecolor"], ppm(RGB, 65535), out="rgb16.tif")
    run(["pamtotiff"], ppm(RGB), out="palette.tif")  # 15 colours: a colour map
    subprocess.run(["tiffcp", "-t", "-w", "16", "-l", "16", path("rgb-lzw.tif"), path("tiled.tif")], check=True)
    subprocess.run(["tiffcp", "-p", "separate", "-B", path("rgb-lzw.tif"), path("planar-be.tif")], check=True)
    subprocess.run(["tiffcp", path("rgb-lzw.tif"), path("bottom-left.tif")], check=True)
    subprocess.run(["tiffset", "-s", "274", "4", path("bottom-left.tif")], check=True)
    subprocess.run(["ppm2tiff", "-c", "jpeg", blocks_ppm, path("jpeg.tif")], check=True)
    subprocess.run(["tiffcp", path("rgb-lzw.tif"), path("huge.tif")], check=True)
    subprocess.run(["tiffset", "-s", "256", "70000", path("huge.tif")], check=True)

    for name in os.listdir(HERE):
        if name.startswith("tmp-"):
            os.remove(path(name))


if __name__ == "__main__":
    main()
