#!/usr/bin/python3
"""Writes a 16 kHz mono WAV file that the synthetic tone model (tests/fixtures/make_tone_model.py)
recognises as TEXT: each word is the word-start tone and then one tone per letter.

Every tone lasts 100 ms with 5 ms raised-cosine ramps and is followed by 60 ms of silence; the
phrase has 100 ms of silence before it and 200 ms after. Token k sounds at position
FIRST_POSITION + k on the model's 64-bin Kaldi mel scale over 0..8000 Hz.

Usage: tone_phrase.py OUTPUT.wav TEXT
"""

import math
import os
import struct
import sys
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures"))
from make_tone_model import FIRST_POSITION, SYMBOLS  # noqa: E402

RATE = 16000


def frequency(position):
    step = 1127.0 * math.log(1.0 + 8000.0 / 700.0) / 65.0
    return 700.0 * (math.exp((position + 1.0) * step / 1127.0) - 1.0)


def silence(seconds):
    return [0.0] * round(seconds * RATE)


def tone(symbol, seconds=0.1, amplitude=0.3):
    hertz = frequency(FIRST_POSITION + SYMBOLS.index(symbol))
    count = round(seconds * RATE)
    ramp = int(0.005 * RATE)
    samples = []
    for i in range(count):
        edge = min(i, count - 1 - i)
        gain = 0.5 - 0.5 * math.cos(math.pi * edge / ramp) if edge < ramp else 1.0
        samples.append(amplitude * gain * math.sin(2.0 * math.pi * hertz * i / RATE))
    return samples


def phrase(text):
    samples = silence(0.1)
    for word in text.split():
        for symbol in [SYMBOLS[0]] + list(word):
            samples += tone(symbol) + silence(0.06)
    return samples + silence(0.2)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with wave.open(sys.argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", round(value * 32767)) for value in phrase(sys.argv[2])))


if __name__ == "__main__":
    main()
