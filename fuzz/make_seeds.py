#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/seed-*.

Seeds come from the bundled examples (examples/) and the model files (resources/), turned
into the input form of each target (see the note at the top of each *_fuzzer.cpp); the PDF
target's are small PDFs written here object by object. Needs
Pillow (Debian's python3-pil): /usr/bin/python3 fuzz/make_seeds.py. The fuzzers grow the
corpus from these; scripts/fuzz.sh --merge keeps it small.
"""
import io
import math
import os
import random
import struct

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(ROOT, "examples")
RESOURCES = os.path.join(ROOT, "resources")
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def ppm(dpi):
    return int(dpi / 0.0254 + 0.5)


def ink_of(image, threshold=128):
    """1-bit picture, True where ink."""
    grey = image.convert("L")
    w, h = grey.size
    px = grey.load()
    return [[px[x, y] < threshold for x in range(w)] for y in range(h)], w, h


def rows_1bit(ink, w, h):
    """Rows bottom up, 1 = ink (palette: white, black), each padded to 4 bytes."""
    stride = (w + 31) // 32 * 4
    out = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if ink[y][x]:
                row[x >> 3] |= 0x80 >> (x & 7)
        out += row
    return bytes(out)


def dib_1bit(ink, w, h, xdpi, ydpi):
    pixels = rows_1bit(ink, w, h)
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(pixels), ppm(xdpi), ppm(ydpi),
                         2, 2)
    return header + struct.pack("<II", 0xFFFFFF, 0) + pixels


def dib_8bit(image, dpi):
    grey = image.convert("L")
    w, h = grey.size
    stride = (w + 3) // 4 * 4
    px = grey.load()
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        pixels += bytes(px[x, y] for x in range(w)) + bytes(stride - w)
    table = b"".join(struct.pack("<BBBB", v, v, v, 0) for v in range(256))
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), ppm(dpi), ppm(dpi),
                         256, 0)
    return header + table + bytes(pixels)


def recipe(w, h, res_code, flags=0, params=(0, 0, 0, 0), mode=1):
    """The read target's built form: mode, width, height, resolution, palette, parameters."""
    return (bytes([mode]) + struct.pack("<HH", w - 1, h - 1) + bytes([res_code, flags]) +
            bytes(8) + bytes(params))


def read_seeds():
    coding = Image.open(os.path.join(EXAMPLES, "coding-200dpi.bmp"))
    fax = Image.open(os.path.join(EXAMPLES, "fax-200x100dpi.tif"))
    block = Image.open(os.path.join(EXAMPLES, "block-300dpi.png"))
    c_ink, cw, ch = ink_of(coding)
    f_ink, fw, fh = ink_of(fax)
    b_ink, bw, bh = ink_of(block.crop((0, 0, 600, 140)), 150)
    write("read", "coding-raw", b"\x00" + dib_1bit(c_ink, cw, ch, 200, 200))
    write("read", "coding-raw-single", b"\x02" + dib_1bit(c_ink, cw, ch, 200, 200))
    write("read", "fax-raw", b"\x00" + dib_1bit(f_ink, fw, fh, 200, 100))
    write("read", "block-raw", b"\x00" + dib_1bit(b_ink, bw, bh, 300, 300))
    small = coding.crop((0, 0, 200, ch))
    write("read", "coding-8bit-raw", b"\x00" + dib_8bit(small, 200))
    # Built forms: resolution codes 1 (200 dpi), 2 (300 dpi), 1 | 1 << 3 (200 x 100 dpi).
    write("read", "coding-built", recipe(cw, ch, 1) + rows_1bit(c_ink, cw, ch))
    write("read", "coding-built-templates",
          recipe(cw, ch, 1, params=(12, 1, 13, 2), mode=3) + rows_1bit(c_ink, cw, ch))
    write("read", "coding-built-inverse", recipe(cw, ch, 1, flags=1) +
          bytes(b ^ 0xFF for b in rows_1bit(c_ink, cw, ch)))
    write("read", "fax-built", recipe(fw, fh, 1 | 1 << 3) + rows_1bit(f_ink, fw, fh))
    write("read", "block-built", recipe(bw, bh, 2) + rows_1bit(b_ink, bw, bh))


def network_stream(sizes, weights_of, net_id=1):
    nodes = sum(sizes)
    links = sum(a * b for a, b in zip(sizes, sizes[1:]))
    out = struct.pack("<ii", net_id, len(sizes)) + struct.pack("<%di" % len(sizes), *sizes)
    out += struct.pack("<ii", nodes, links)
    for i in range(sizes[0]):
        out += struct.pack("<iidid", 100 + i, 1, 0.0, 1, 0.0)
    for i in range(sizes[0], nodes):
        out += struct.pack("<iiddd", 100 + i, 3, 0.0, 0.45, 0.9) + struct.pack("<id", 1, 0.0)
    for k in range(links):
        out += struct.pack("<id", 1000 + k, weights_of(k))
    return out


def network_seeds():
    rng = random.Random(7)
    xor = [20, 20, -10, -20, -20, 30, 0, 0, 30, 20, 20, -30]
    write("network", "xor", network_stream([3, 3, 1], lambda k: xor[k]))
    for sizes in ([2, 1], [4, 3, 2], [16, 8, 4], [5, 4, 3, 2]):
        name = "x".join(map(str, sizes))
        write("network", name, network_stream(sizes, lambda k: rng.uniform(-1, 1)))
    write("network", "nan-weight",
          network_stream([4, 3, 2], lambda k: math.nan if k == 5 else rng.uniform(-1, 1)))
    write("network", "huge-weights",
          network_stream([4, 3, 2], lambda k: (-1) ** k * 1e300))
    with open(os.path.join(RESOURCES, "OCRB16NET"), "rb") as f:
        write("network", "embedded-head", f.read(2048))


def model_seeds():
    def resource(name):
        with open(os.path.join(RESOURCES, name), "rb") as f:
            return f.read()

    write("model", "profiles", b"\x00" + resource("OCRB16STA"))
    write("model", "templates", b"\x01" + resource("OCRB163DSTA"))
    write("model", "templates-read", b"\x05" + resource("OCRB163DSTA"))
    write("model", "templates-short", b"\x05" + resource("OCRB163DSTA")[:4096])

    def patch(offset, data):
        return struct.pack("<I", offset)[:3] + bytes([len(data) - 1]) + data

    # The header is 28 bytes (ID, 3, 256, 128, 15, NodeCount, LinkCount); 256 input records of
    # 28 bytes and 143 unit records of 44 bytes follow, then the links, 12 bytes each.
    links = 28 + 256 * 28 + 143 * 44
    nan = struct.pack("<d", math.nan)
    inf = struct.pack("<d", math.inf)
    write("model", "network-nan", b"\x02" + patch(links + 4, nan))
    write("model", "network-weights",
          b"\x02" + patch(links + 4 + 12 * 300, struct.pack("<d", 1e6)) +
          patch(links + 4 + 12 * 9000, inf))
    write("model", "network-shape", b"\x02" + patch(12, struct.pack("<i", 127)))


def decode_seeds():
    coding = Image.open(os.path.join(EXAMPLES, "coding-200dpi.bmp"))
    block = Image.open(os.path.join(EXAMPLES, "block-300dpi.png")).crop((0, 0, 300, 90))
    with open(os.path.join(EXAMPLES, "coding-200dpi.bmp"), "rb") as f:
        write("decode", "coding.bmp", b"\x00" + f.read())
    with open(os.path.join(EXAMPLES, "fax-200x100dpi.tif"), "rb") as f:
        write("decode", "fax.tif", b"\x00" + f.read())

    def saved(image, fmt, **kw):
        out = io.BytesIO()
        image.save(out, fmt, **kw)
        return out.getvalue()

    small = coding.crop((0, 0, 160, 83)).convert("L")
    write("decode", "block.png", b"\x00" + saved(block, "PNG", dpi=(300, 300)))
    write("decode", "block.jpg", b"\x01" + saved(block, "JPEG", quality=40, dpi=(300, 300)))
    write("decode", "block.gif", b"\x02" + saved(block, "GIF"))
    write("decode", "block-lzw.tif", b"\x00" + saved(block, "TIFF", compression="tiff_lzw"))
    write("decode", "block.webp", b"\x00" + saved(block, "WEBP", quality=30))
    write("decode", "coding.pgm", b"\x04" + saved(small, "PPM"))
    write("decode", "coding.pbm", b"\x08" + saved(small.convert("1"), "PPM"))
    write("decode", "coding-rgb.bmp", b"\x10" + saved(small.convert("RGB"), "BMP"))
    two = [block.convert("1"), small.convert("1")]
    write("decode", "two-pages.tif",
          b"\x00" + saved(two[0], "TIFF", compression="group4", save_all=True,
                          append_images=two[1:]))


def pdf(pages, objects=()):
    """A PDF of Pages, each (content, resources), with Objects numbered from 3 + 2 * len(pages)
    on (bodies that streams' dictionaries and resources may refer to)."""
    bodies = [b"<< /Type /Catalog /Pages 2 0 R >>", None]
    kids = []
    first_extra = 3 + 2 * len(pages)
    for content, resources in pages:
        number = len(bodies) + 1
        kids.append(b"%d 0 R" % number)
        bodies.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 48] /Resources "
                      + resources + b" /Contents %d 0 R >>" % (number + 1))
        bodies.append(b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream")
    bodies[1] = b"<< /Type /Pages /Kids [" + b" ".join(kids) + b"] /Count %d >>" % len(pages)
    assert len(bodies) + 1 == first_extra
    bodies.extend(objects)
    out, offsets = b"%PDF-1.4\n", []
    for i, body in enumerate(bodies):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(bodies) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    return out + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(bodies) + 1, xref)


def stream(dictionary, data):
    return b"<< " + dictionary + b" /Length %d >>\nstream\n" % len(data) + data + b"\nendstream"


def pdf_seeds():
    import zlib

    coding = Image.open(os.path.join(EXAMPLES, "coding-200dpi.bmp")).crop((0, 20, 120, 60))
    grey = coding.convert("L")
    w, h = grey.size
    raw = grey.tobytes()
    ink = coding.convert("1").tobytes()
    jpeg = io.BytesIO()
    grey.save(jpeg, "JPEG", quality=30)
    image = b"/Type /XObject /Subtype /Image /Width %d /Height %d " % (w, h)
    draw = b"q 144 0 0 48 0 0 cm /Im0 Do Q"
    uses_image = b"<< /XObject << /Im0 7 0 R >> >>"
    one = lambda content, resources, body: pdf([(content, resources)], [body])
    write("pdf", "image.pdf", pdf([(draw, b"<< /XObject << /Im0 5 0 R >> >>")],
                                  [stream(image + b"/ColorSpace /DeviceGray /BitsPerComponent 8",
                                          raw)]))
    write("pdf", "flate.pdf", one(draw, b"<< /XObject << /Im0 5 0 R >> >>", stream(
        image + b"/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode",
        zlib.compress(raw))))
    write("pdf", "jpeg.pdf", one(draw, b"<< /XObject << /Im0 5 0 R >> >>", stream(
        image + b"/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode",
        jpeg.getvalue())))
    write("pdf", "mask.pdf", one(b"0 g " + draw, b"<< /XObject << /Im0 5 0 R >> >>", stream(
        image + b"/ImageMask true /Decode [1 0]", ink)))
    write("pdf", "form.pdf", pdf([(b"/F1 Do", b"<< /XObject << /F1 6 0 R >> >>")], [
        stream(b"/Type /XObject /Subtype /Form /BBox [0 0 144 48]", b"0 0 10 10 re f"),
        stream(b"/Type /XObject /Subtype /Form /BBox [0 0 144 48] /Resources << /XObject "
               b"<< /F0 5 0 R >> >>", b"/F0 Do 1 0 0 1 20 0 cm /F0 Do")]))
    write("pdf", "pattern.pdf", one(b"/Pattern cs /P0 scn 0 0 144 48 re f",
                                    b"<< /Pattern << /P0 5 0 R >> >>", stream(
        b"/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 8 8] /XStep 8 /YStep 8 "
        b"/Resources << >>", b"0 0 4 4 re f")))
    write("pdf", "path.pdf", pdf([(b"1 w 10 10 m 130 40 l 70 5 l h f 5 5 m 140 45 l S "
                                   b"BT /F0 12 Tf 10 20 Td (0123>) Tj ET",
                                   b"<< /Font << /F0 << /Type /Font /Subtype /Type1 "
                                   b"/BaseFont /Helvetica >> >> >>")]))
    write("pdf", "two-pages.pdf", pdf([(draw, uses_image), (b"0 0 144 48 re S", b"<< >>")], [
        stream(image + b"/ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0]", ink)]))


if __name__ == "__main__":
    read_seeds()
    network_seeds()
    model_seeds()
    decode_seeds()
    pdf_seeds()
