#!/usr/bin/python3
"""Writes the generated seed inputs of the fuzz targets that take model files.

model_files: each file of the tone model behind its selector byte (0 tokens.txt, 1 bpe.vocab,
2 to 4 an ONNX graph as encoder, decoder or joiner), the graphs with the real model's layout, and
the damaged graphs. engine: the damages of the tests as whole replacements (selector byte, mode 1,
file), a few byte patches (mode 0), and the undamaged model.

Usage: make_seeds.py TONE_MODEL_DIR TONE_FAULTS_DIR OUTPUT_DIR
"""

import os
import sys


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    model, faults, out = sys.argv[1:]
    encoder = read(os.path.join(model, "encoder.int8.onnx"))
    decoder = read(os.path.join(model, "decoder.onnx"))
    joiner = read(os.path.join(model, "joiner.onnx"))
    damaged = read(os.path.join(faults, "encoder-damaged-constant.onnx"))
    failing = read(os.path.join(faults, "joiner-fails-on-speech.onnx"))
    unknown = read(os.path.join(faults, "encoder-unknown-operator.onnx"))

    files = os.path.join(out, "model_files")
    write(files, "tokens", b"\x00" + read(os.path.join(model, "tokens.txt")))
    write(files, "bpe-vocab", b"\x01" + read(os.path.join(model, "bpe.vocab")))
    for selector, name, data in ((2, "encoder", encoder), (3, "decoder", decoder), (4, "joiner", joiner),
                                 (2, "damaged-constant", damaged), (4, "fails-on-speech", failing),
                                 (2, "unknown-operator", unknown)):
        write(files, name, bytes([selector]) + data)
    for selector, name in ((2, "encoder.int8.onnx"), (3, "decoder.onnx"), (4, "joiner.onnx")):
        write(files, "gigaam-io-" + name, bytes([selector]) + read(os.path.join(faults, "gigaam-io", name)))

    engine = os.path.join(out, "engine")
    write(engine, "undamaged", b"\x03\x01" + read(os.path.join(model, "tokens.txt")))
    write(engine, "swapped-decoder", b"\x01\x01" + joiner)
    write(engine, "swapped-joiner", b"\x02\x01" + decoder)
    write(engine, "encoder-as-decoder", b"\x01\x01" + encoder)
    write(engine, "damaged-constant", b"\x00\x01" + damaged)
    write(engine, "fails-on-speech", b"\x02\x01" + failing)
    write(engine, "unknown-operator", b"\x00\x01" + unknown)
    write(engine, "terms", b"\x05\x01" + "дон\nулыбка :)\nhello\n".encode())
    write(engine, "patched-encoder", b"\x00\x00" + bytes([0x10, 0x00, 0x7f, 0x00, 0x02, 0x00, 0x80, 0x04, 0x41]))
    write(engine, "patched-tokens", b"\x03\x00" + bytes([0x05, 0x00, 0x20, 0x30, 0x00, 0x0a]))


if __name__ == "__main__":
    main()
