#!/usr/bin/env python3
"""Runs whisper.cpp's own Parakeet test-model generator, optionally with another vocabulary size.

With its ten-token vocabulary the generated model decodes every input to the
empty text; with the real model's 8192 tokens it gives (meaningless) non-empty
text, which is what a test of the text path needs.

For benchmarks, --dims tdt-0.6b writes Parakeet TDT 0.6B's real dimensions
(1024 wide, 8 heads, 24 conformer layers, 128 mel bands, a two-layer 640-wide
prediction network, five durations, 8192 tokens), --ftype q8_0 stores every
matrix the library loads at the model's type in Q8_0 as its quantize tool does,
and --size pads the token texts so the file has a catalogue entry's exact byte
size. The weights stay random (scaled down so 24 layers stay finite); the text
is meaningless.

Usage: generate_parakeet_test_model.py <generator.py> <output.bin> [--n-vocab N]
           [--dims test|tdt-0.6b] [--ftype f32|q8_0] [--size BYTES]
"""

import argparse
import os
import re
import shutil
import struct
import sys

# Parakeet TDT 0.6B as its converter writes it.
REAL_DIMS = {
    "n_vocab": 8192,
    "n_audio_ctx": 5000,
    "n_audio_state": 1024,
    "n_audio_head": 8,
    "n_audio_layer": 24,
    "n_mels": 128,
    "n_fft": 512,
    "subsampling_factor": 8,
    "n_subsampling_channels": 256,
    "n_conv_kernel": 9,
    "n_pred_dim": 640,
    "n_pred_layers": 2,
    "n_tdt_durations": 5,
    "n_max_tokens": 10,
}
HPARAM_ORDER = ("n_vocab", "n_audio_ctx", "n_audio_state", "n_audio_head", "n_audio_layer", "n_mels", "ftype",
                "n_fft", "subsampling_factor", "n_subsampling_channels", "n_conv_kernel", "n_pred_dim",
                "n_pred_layers", "n_tdt_durations", "n_max_tokens")
F32, Q8_0 = 0, 8
# File-level ftype of a q8_0 model: GGML_FTYPE_MOSTLY_Q8_0 plus the
# quantisation version times GGML_QNT_VERSION_FACTOR.
FTYPE_MOSTLY_Q8_0 = 7 + 2 * 1000
# Unit-variance weights through 24 residual layers overflow; this keeps the
# activations in range.
REAL_WEIGHT_SCALE = 0.05


def set_hparam(source, key, value):
    source, count = re.subn(rf"('{key}':\s*)\d+", rf"\g<1>{value}", source, count=1)
    if count != 1:
        raise SystemExit(f"the generator has no {key} setting")
    return source


def quantized(name, shape):
    """Whether the library loads `name` at the model's type: the 2-D weight matrices (the LSTM's too) but the
    depthwise convolution."""
    weight = name.endswith(".weight") or re.search(r"\.weight_(ih|hh)_l\d+$", name)
    return len(shape) == 2 and bool(weight) and "depthwise_conv" not in name and shape[-1] % 32 == 0


def quantize_q8_0(np, array):
    """ggml's Q8_0 blocks: per 32 values one f16 scale and 32 signed bytes."""
    blocks = np.ascontiguousarray(array, dtype=np.float32).reshape(-1, 32)
    scale = np.abs(blocks).max(axis=1) / 127.0
    inverse = np.divide(1.0, scale, out=np.zeros_like(scale), where=scale > 0)
    out = np.empty(len(blocks), dtype=[("d", "<f2"), ("q", "i1", 32)])
    out["d"] = scale
    out["q"] = np.round(blocks * inverse[:, None]).astype(np.int8)
    return out.tobytes()


def make_tensor_writer(np, q8_0, weight_scale):
    def write_tensor(fout, name, data):
        dims = list(reversed(data.shape))  # ggml lists the innermost dimension first
        ttype = Q8_0 if q8_0 and quantized(name, data.shape) else F32
        if data.dtype != np.int32 and "running_var" not in name:
            data = data * weight_scale
        name_bytes = name.encode("utf-8")
        fout.write(struct.pack("<iii", len(dims), len(name_bytes), ttype))
        for d in dims:
            fout.write(struct.pack("<i", d))
        fout.write(name_bytes)
        if ttype == Q8_0:
            fout.write(quantize_q8_0(np, data))
        else:
            fout.write(np.ascontiguousarray(data, dtype="<f4").tobytes())

    return write_tensor


def pad_to_size(path, size):
    """Rewrites the token texts of `path` so the file is exactly `size` bytes long."""
    with open(path, "rb") as f:
        head = f.read(4 + 4 * len(HPARAM_ORDER))
        hp = dict(zip(HPARAM_ORDER, struct.unpack_from(f"<{len(HPARAM_ORDER)}i", head, 4)))
        n_mels, n_freqs = struct.unpack("<ii", f.read(8))
        head += struct.pack("<ii", n_mels, n_freqs) + f.read(4 * n_mels * n_freqs)
        (n_fft,) = struct.unpack("<i", f.read(4))
        head += struct.pack("<i", n_fft) + f.read(4 * n_fft) + f.read(4 * hp["n_tdt_durations"])
        (n_vocab,) = struct.unpack("<i", f.read(4))
        tokens = []
        for _ in range(n_vocab):
            (length,) = struct.unpack("<i", f.read(4))
            tokens.append(f.read(length))
        tensors_at = f.tell()
    padding = size - os.path.getsize(path)
    if padding < 0:
        raise SystemExit(f"--size {size} is below the model's own {size - padding} bytes")
    # The special tokens keep their texts; the rest stay unique, as each
    # keeps its own first character.
    first = 3
    each, extra = divmod(padding, n_vocab - first)
    for k in range(first, n_vocab):
        tokens[k] += b"z" * (each + (1 if k - first < extra else 0))
    tmp = path + ".tmp"
    with open(path, "rb") as src, open(tmp, "wb") as out:
        out.write(head)
        out.write(struct.pack("<i", n_vocab))
        for t in tokens:
            out.write(struct.pack("<i", len(t)))
            out.write(t)
        src.seek(tensors_at)
        shutil.copyfileobj(src, out, 1 << 20)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("generator")
    parser.add_argument("output")
    parser.add_argument("--n-vocab", type=int)
    parser.add_argument("--dims", default="test", choices=("test", "tdt-0.6b"))
    parser.add_argument("--ftype", default="f32", choices=("f32", "q8_0"))
    parser.add_argument("--size", type=int, help="exact file size in bytes, reached by padding the token texts")
    args = parser.parse_args()

    with open(args.generator, encoding="utf-8") as f:
        source = f.read()
    if args.dims == "tdt-0.6b":
        for key, value in REAL_DIMS.items():
            source = set_hparam(source, key, value)
    if args.n_vocab is not None:
        source = set_hparam(source, "n_vocab", args.n_vocab)
    if args.ftype == "q8_0":
        source = set_hparam(source, "ftype", FTYPE_MOSTLY_Q8_0)
    namespace = {"__name__": "parakeet_test_model_generator", "__file__": args.generator}
    exec(compile(source, args.generator, "exec"), namespace)
    if args.ftype != "f32" or args.dims != "test":
        # The generator looks its tensor writer up when it runs, so ours is used.
        namespace["write_tensor"] = make_tensor_writer(namespace["np"], args.ftype == "q8_0",
                                                       REAL_WEIGHT_SCALE if args.dims != "test" else 1.0)
    tmp = args.output + ".partial"
    namespace["generate"](tmp)
    if args.size is not None:
        pad_to_size(tmp, args.size)
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
