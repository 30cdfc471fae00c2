#!/usr/bin/env python3
"""Writes the default alert sounds into sounds/ as 16-bit mono PCM wave files.

The tones are computed, so running the script again gives the same bytes; edit the
note lists below and run it to change a sound.
"""
import math
import os
import struct
import sys
import wave

RATE = 22050
VOLUME = 0.45
RAMP = 0.01  # seconds of fade at each end of a note, so notes start and stop without a click

# name: list of (frequency in Hz or 0 for a rest, seconds)
SOUNDS = {
    "Error.wav": [(880, 0.16), (0, 0.04), (660, 0.16), (0, 0.04), (440, 0.28)],
    "Okay.wav": [(523, 0.12), (659, 0.12), (784, 0.22)],
    "eoki.wav": [(587, 0.1), (740, 0.1), (880, 0.1), (1175, 0.2)],
    "eok.wav": [(1320, 0.06)],
    "eokb.wav": [(196, 0.18), (0, 0.05), (165, 0.3)],
}


def note(frequency, seconds):
    count = int(RATE * seconds)
    ramp = max(1, int(RATE * RAMP))
    samples = []
    for i in range(count):
        if frequency == 0:
            samples.append(0)
            continue
        envelope = min(1.0, i / ramp, (count - 1 - i) / ramp)
        # A little of the octave above makes the tone carry without sounding harsh.
        value = math.sin(2 * math.pi * frequency * i / RATE) + 0.25 * math.sin(4 * math.pi * frequency * i / RATE)
        samples.append(int(round(32767 * VOLUME * envelope * value / 1.25)))
    return samples


def write(path, notes):
    samples = [s for f, d in notes for s in note(f, d)]
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(struct.pack("<%dh" % len(samples), *samples))


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sounds")
    folder = os.path.normpath(sys.argv[1] if len(sys.argv) > 1 else default)
    os.makedirs(folder, exist_ok=True)
    for name, notes in SOUNDS.items():
        write(os.path.join(folder, name), notes)
        print(os.path.join(folder, name))


if __name__ == "__main__":
    main()
