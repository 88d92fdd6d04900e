#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora (fuzz/corpus/<target>/): small files that
start each fuzzer at the interesting edges of its input. The committed seeds
came from this script; run it again only to change them. The compressed music
seeds need sox and ffmpeg (scripts/install-deps.sh --with-tools)."""
import os
import shutil
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- draw_line: x0 y0 x1 y1 as int32, then optionally width-1 and height-1 ---
INT_MIN, INT_MAX = -(2**31), 2**31 - 1
lines = {
    "point": (5, 5, 5, 5),
    "shallow": (0, 0, 4, 2),
    "shallow_reversed": (4, 2, 0, 0),
    "steep": (0, 0, 2, 4),
    "leftward": (0, 0, -4, 2),
    "diagonal": (0, 0, 3, 3),
    "bottom_row": (0, 0, 319, 0),
    "partly_off": (-100, 50, 500, 200),
    "wholly_off": (1000, 1000, 2000, 3000),
    "corner_to_corner": (INT_MIN, INT_MIN, INT_MAX, INT_MAX),
    "long_flat": (INT_MIN, 0, INT_MAX, 1),
    "long_vertical": (0, INT_MAX, 0, INT_MIN),
    "spike_through_screen": (160, 120, -2000000000, 1999999999),
}
for name, (x0, y0, x1, y1) in lines.items():
    write("draw_line", name, struct.pack("<4i", x0, y0, x1, y1))
write("draw_line", "small_screen", struct.pack("<4iBB", -3, -1, 10, 3, 7, 4))
write("draw_line", "one_pixel_screen", struct.pack("<4iBB", -5, 0, 5, 0, 0, 0))


# --- title_image: 18-byte header (width at 12, height at 14), then B G R ---
def header(width, height):
    h = bytearray(18)
    h[12:14] = struct.pack("<H", width)
    h[14:16] = struct.pack("<H", height)
    return bytes(h)


write("title_image", "empty", b"")
write("title_image", "short_header", header(2, 2)[:17])
write("title_image", "one_pixel", header(1, 1) + bytes([0x10, 0x20, 0x30]))
# Distinct channels and no symmetry: a swap or a flip shows.
write("title_image", "two_by_two", header(2, 2) + bytes(range(1, 13)))
write("title_image", "full_size_cut_short", header(320, 240) + bytes(range(9)))
write("title_image", "one_pixel_too_many", header(321, 240))
write("title_image", "turned_full_size", header(240, 320) + b"\xff\x00\x80")
write("title_image", "one_long_row", header(65535, 1) + b"\x01\x02\x03\x04")
write("title_image", "zero_width", header(0, 5) + b"\x01\x02\x03")
write("title_image", "zero_height", header(5, 0) + b"\x01\x02\x03")
write("title_image", "largest_header", header(65535, 65535))
write("title_image", "partial_pixel", header(2, 1) + b"\x01\x02\x03\x04")


# --- music_stream: tiny files of every kind the mixer recognises ---
def wav(samples, rate=8000):
    data = struct.pack("<%dh" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


tone = [int(8000 * ((i // 8) % 2 * 2 - 1)) for i in range(400)]
write("music_stream", "tiny.wav", wav(tone))
write("music_stream", "cut_short.wav", wav(tone)[:100])
# A header claiming 0 channels: SDL2_mixer 2.6 divides by the count while
# opening it, so the sound layer must refuse it first (found by this fuzzer).
zero_channels = bytearray(wav(tone[:64]))
zero_channels[22:24] = struct.pack("<H", 0)
write("music_stream", "zero_channels.wav", bytes(zero_channels))


def mod():
    # ProTracker "M.K.": 20-byte title, 31 sample headers, order list, 1 pattern.
    title = b"seed".ljust(20, b"\0")
    samples = struct.pack(">22sHBBHH", b"square", 16, 0, 64, 0, 1)  # 32 bytes of sample
    samples += struct.pack(">22sHBBHH", b"", 0, 0, 0, 0, 1) * 30
    orders = bytes([1, 0]) + bytes(128)
    pattern = bytearray(1024)
    # Row 0, channel 0: sample 1 at period 428 (C-2).
    pattern[0:4] = bytes([0x01, 0xAC, 0x10, 0x00])
    pattern[16 * 16:16 * 16 + 4] = bytes([0x00, 0x00, 0x0D, 0x00])  # row 16: pattern break
    sample = bytes([0x40] * 16 + [0xC0] * 16)
    return title + samples + orders + b"M.K." + bytes(pattern) + sample


write("music_stream", "tiny.mod", mod())


def midi():
    track = bytes([0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00])
    return (b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) +
            b"MTrk" + struct.pack(">I", len(track)) + track)


write("music_stream", "tiny.mid", midi())
write("music_stream", "garbage", bytes((i * 37 + 11) % 256 for i in range(64)))

if shutil.which("sox") and shutil.which("ffmpeg"):
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "tone.wav")
        subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", source,
                        "synth", "0.05", "sine", "660"], check=True)
        quiet = ["-hide_banner", "-loglevel", "error", "-y", "-i", source,
                 "-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact"]
        for name, codec in [("tiny.ogg", ["-c:a", "libvorbis", "-q:a", "0"]),
                            ("tiny.mp3", ["-c:a", "libmp3lame", "-b:a", "8k"]),
                            ("tiny.opus", ["-c:a", "libopus", "-b:a", "6k", "-ar", "8000"])]:
            out = os.path.join(work, name)
            subprocess.run(["ffmpeg"] + quiet + codec + [out], check=True)
            with open(out, "rb") as f:
                write("music_stream", name, f.read())
        flac = os.path.join(work, "tiny.flac")
        subprocess.run(["sox", source, flac], check=True)
        with open(flac, "rb") as f:
            write("music_stream", "tiny.flac", f.read())
else:
    print("sox or ffmpeg missing: compressed music seeds not written")
