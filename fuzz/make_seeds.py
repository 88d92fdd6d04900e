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

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, name), "wb") as f:
        f.write(data)


# draw_line: x0 y0 x1 y1 as int32, then optionally width-1 and height-1.
LO, HI = -(2**31), 2**31 - 1
for name, line in {
        "point": (5, 5, 5, 5), "shallow": (0, 0, 4, 2), "shallow_reversed": (4, 2, 0, 0),
        "steep": (0, 0, 2, 4), "leftward": (0, 0, -4, 2), "diagonal": (0, 0, 3, 3),
        "bottom_row": (0, 0, 319, 0), "partly_off": (-100, 50, 500, 200),
        "wholly_off": (1000, 1000, 2000, 3000), "corner_to_corner": (LO, LO, HI, HI),
        "long_flat": (LO, 0, HI, 1), "long_vertical": (0, HI, 0, LO),
        "spike_through_screen": (160, 120, -2000000000, 1999999999)}.items():
    write("draw_line", name, struct.pack("<4i", *line))
write("draw_line", "small_screen", struct.pack("<4iBB", -3, -1, 10, 3, 7, 4))
write("draw_line", "one_pixel_screen", struct.pack("<4iBB", -5, 0, 5, 0, 0, 0))


# title_image: 18-byte header (width at 12, height at 14), then B G R per pixel.
def header(width, height):
    return bytes(12) + struct.pack("<HH", width, height) + bytes(2)


for name, data in {
        "empty": b"", "short_header": header(2, 2)[:17],
        "one_pixel": header(1, 1) + bytes([0x10, 0x20, 0x30]),
        "two_by_two": header(2, 2) + bytes(range(1, 13)),  # a swap or a flip shows
        "full_size_cut_short": header(320, 240) + bytes(range(9)),
        "one_pixel_too_many": header(321, 240),
        "turned_full_size": header(240, 320) + b"\xff\x00\x80",
        "one_long_row": header(65535, 1) + b"\x01\x02\x03\x04",
        "zero_width": header(0, 5) + b"\x01\x02\x03", "zero_height": header(5, 0) + b"\x01\x02\x03",
        "largest_header": header(65535, 65535), "partial_pixel": header(2, 1) + b"\x01\x02\x03\x04",
}.items():
    write("title_image", name, data)


# music_stream: tiny files of every kind the mixer recognises.
def wav(samples, rate=8000):
    data = struct.pack("<%dh" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVEfmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data))
    return b"RIFF" + struct.pack("<I", len(body) + len(data)) + body + data


tone = [int(8000 * ((i // 8) % 2 * 2 - 1)) for i in range(400)]
write("music_stream", "tiny.wav", wav(tone))
write("music_stream", "cut_short.wav", wav(tone)[:100])
# 0 channels: SDL2_mixer 2.6 divides by the count while opening such a file,
# so the sound layer must refuse it first (found by this fuzzer).
zero_channels = bytearray(wav(tone[:64]))
zero_channels[22:24] = struct.pack("<H", 0)
write("music_stream", "zero_channels.wav", bytes(zero_channels))
# ProTracker "M.K.": title, 31 sample headers (one square wave of 32 bytes), the
# order list, one pattern (row 0: sample 1 at period 428; row 16: break), the sample.
pattern = bytearray(1024)
pattern[0:4] = bytes([0x01, 0xAC, 0x10, 0x00])
pattern[256:260] = bytes([0x00, 0x00, 0x0D, 0x00])
write("music_stream", "tiny.mod", b"seed".ljust(20, b"\0")
      + struct.pack(">22sHBBHH", b"square", 16, 0, 64, 0, 1)
      + struct.pack(">22sHBBHH", b"", 0, 0, 0, 0, 1) * 30 + bytes([1, 0]) + bytes(128)
      + b"M.K." + bytes(pattern) + bytes([0x40] * 16 + [0xC0] * 16))
track = bytes([0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00])
write("music_stream", "tiny.mid", b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96)
      + b"MTrk" + struct.pack(">I", len(track)) + track)
write("music_stream", "garbage", bytes((i * 37 + 11) % 256 for i in range(64)))

if shutil.which("sox") and shutil.which("ffmpeg"):
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "tone.wav")
        subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", source,
                        "synth", "0.05", "sine", "660"], check=True)
        quiet = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", source,
                 "-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact"]
        for name, command in [
                ("tiny.ogg", quiet + ["-c:a", "libvorbis", "-q:a", "0"]),
                ("tiny.mp3", quiet + ["-c:a", "libmp3lame", "-b:a", "8k"]),
                ("tiny.opus", quiet + ["-c:a", "libopus", "-b:a", "6k", "-ar", "8000"]),
                ("tiny.flac", ["sox", source])]:
            out = os.path.join(work, name)
            subprocess.run(command + [out], check=True)
            with open(out, "rb") as f:
                write("music_stream", name, f.read())
else:
    print("sox or ffmpeg missing: compressed music seeds not written")
