#!/usr/bin/env python3
"""Writes Keyvane's four feedback sounds as PCM WAVE files.

Each sound is synthesised here (sine tones with short fades), in exactly the
format and whole-file size the program's resources use:

    sound134.wav  connected        PCM 16-bit mono 11025 Hz  11564 bytes
    sound135.wav  port failed      PCM 16-bit mono 11025 Hz   9370 bytes
    sound129.wav  good read        PCM  8-bit mono 22050 Hz   2258 bytes
    sound4.wav    bad read         PCM  8-bit mono 11025 Hz   4454 bytes

Usage: make_sounds.py [output folder]   (default: resources/ of the source tree)
"""
import math
import os
import struct
import sys

HEADER_BYTES = 44

# resource: (bits, rate, file bytes, [(frequency Hz, share of the duration)], volume)
SOUNDS = {
    134: (16, 11025, 11564, [(660.0, 0.3), (880.0, 0.3), (1320.0, 0.4)], 0.45),
    135: (16, 11025, 9370, [(440.0, 0.5), (294.0, 0.5)], 0.45),
    129: (8, 22050, 2258, [(2700.0, 1.0)], 0.6),
    4: (8, 11025, 4454, [(220.0, 0.45), (0.0, 0.1), (220.0, 0.45)], 0.6),
}


def samples(count, rate, notes, volume):
    """count samples in -1..1: the notes in turn, each faded in and out."""
    out = []
    start = 0
    for index, (frequency, share) in enumerate(notes):
        length = count - start if index == len(notes) - 1 else int(round(count * share))
        fade = max(1, min(length // 8, int(rate * 0.004)))
        for i in range(length):
            envelope = min(1.0, i / fade, (length - 1 - i) / fade)
            value = math.sin(2.0 * math.pi * frequency * i / rate) if frequency else 0.0
            out.append(volume * envelope * value)
        start += length
    return out


def wave_bytes(bits, rate, file_bytes, notes, volume):
    data_bytes = file_bytes - HEADER_BYTES
    width = bits // 8
    if data_bytes <= 0 or data_bytes % width:
        raise ValueError("size does not hold whole samples")
    count = data_bytes // width
    if bits == 16:
        data = b"".join(struct.pack("<h", int(round(v * 32767))) for v in samples(count, rate, notes, volume))
    else:
        data = bytes(int(round(128 + v * 127)) for v in samples(count, rate, notes, volume))
    header = b"RIFF" + struct.pack("<I", file_bytes - 8) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * width, width, bits)
    header += b"data" + struct.pack("<I", data_bytes)
    result = header + data
    assert len(result) == file_bytes
    return result


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "resources")
    os.makedirs(folder, exist_ok=True)
    for resource, (bits, rate, size, notes, volume) in SOUNDS.items():
        path = os.path.join(folder, "sound%d.wav" % resource)
        with open(path, "wb") as f:
            f.write(wave_bytes(bits, rate, size, notes, volume))
        print(path)


if __name__ == "__main__":
    main()
