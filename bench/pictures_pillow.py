#!/usr/bin/env python3
"""The conversion path of bench/pictures done with Pillow, for comparison.

For each file: open it, for JPEG ask the decoder for a DCT-scaled picture that still
covers the shown size (draft), resize to the size the conversion window shows
(an area average, Pillow's BOX filter, like the program's reduction), crop the
800 x 480 frame centred over it and encode the crop as JPEG at quality 90 (4:2:0).
Prints one line per file: the best time in milliseconds of RUNS runs (on a shared
machine other work only adds time), the size the decoder delivered, and the file.

    pictures_pillow.py RUNS SHOWN_W SHOWN_H FILE [SHOWN_W SHOWN_H FILE ...]
"""
import io
import sys
import time

from PIL import Image

TARGET = (800, 480)
PANEL = (884, 662)


def centre(outer, inner):
    return int((outer - inner) / 2)  # truncating toward zero


def convert(path, shown):
    img = Image.open(path)
    if img.format == "JPEG":
        img.draft("RGB", shown)
    img = img.convert("RGB")
    decoded = img.size
    img = img.resize(shown, Image.BOX)
    # The frame centred in the panel, kept on the picture as the window keeps it.
    il, it = centre(PANEL[0], shown[0]), centre(PANEL[1], shown[1])
    fl, ft = centre(PANEL[0], TARGET[0]), centre(PANEL[1], TARGET[1])
    if ft + TARGET[1] >= it + shown[1]:
        ft = it + shown[1] - TARGET[1]
    if it >= ft:
        ft = it
    if fl + TARGET[0] >= il + shown[0]:
        fl = il + shown[0] - TARGET[0]
    if il >= fl:
        fl = il
    left, top = fl - il, ft - it
    crop = img.crop((left, top, left + TARGET[0], top + TARGET[1]))
    out = io.BytesIO()
    crop.save(out, "JPEG", quality=90, subsampling=2)
    return decoded, len(out.getvalue())


def main(argv):
    runs = int(argv[1])
    rest = argv[2:]
    for i in range(0, len(rest), 3):
        shown = (int(rest[i]), int(rest[i + 1]))
        path = rest[i + 2]
        times = []
        for _ in range(runs):
            t0 = time.perf_counter()
            decoded, size = convert(path, shown)
            times.append((time.perf_counter() - t0) * 1000)
        print("%.3f %dx%d %s" % (min(times), decoded[0], decoded[1], path), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
