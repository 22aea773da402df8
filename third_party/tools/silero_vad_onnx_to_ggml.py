#!/usr/bin/env python3
"""Converts the Silero VAD ONNX model into whisper.cpp's VAD model file.

The ONNX graph keeps the weights as named constants inside the two branches of
its top-level `If` on the sample rate. The 16 kHz branch is the one whose STFT
basis has 258 rows (129 frequency bins, real and imaginary parts); the other
branch serves 8 kHz and is ignored.

Output layout (little-endian int32 unless noted), as whisper.cpp's
whisper_vad_init_with_params reads it:
  magic 'ggml', model type string, version major/minor/patch, window size,
  context size, encoder layer count, (in, out, kernel) per encoder layer,
  LSTM input and hidden size, final conv in and out channels,
  then tensors: n_dims, name length, type (0 f32, 1 f16), dims (innermost
  first), name bytes, data.

Usage: silero_vad_onnx_to_ggml.py <model.onnx> <output.bin> [--version 6.2.0]
"""

import argparse
import os
import struct
import sys

import numpy as np
import onnx
from onnx import numpy_helper

GGML_FILE_MAGIC = 0x67676D6C
WINDOW_SIZE = 512
CONTEXT_SIZE = 64
BASIS_ROWS_16K = 258

# (name in the file, f16?) in the order whisper.cpp's reference converter writes them.
TENSORS = [
    *[(f"encoder.{i}.reparam_conv.{kind}", kind == "weight") for i in range(4) for kind in ("weight", "bias")],
    ("decoder.rnn.weight_ih", False),
    ("decoder.rnn.weight_hh", False),
    ("decoder.rnn.bias_ih", False),
    ("decoder.rnn.bias_hh", False),
    ("decoder.decoder.2.weight", True),
    ("decoder.decoder.2.bias", False),
    ("stft.forward_basis_buffer", True),
]


def branch_constants(graph):
    """Yields a {short name: array} dictionary per subgraph that holds constants."""
    found = {}
    for node in graph.node:
        if node.op_type == "Constant":
            for attr in node.attribute:
                if attr.name == "value":
                    found[node.output[0]] = numpy_helper.to_array(attr.t)
        for attr in node.attribute:
            if attr.type == onnx.AttributeProto.GRAPH:
                yield from branch_constants(attr.g)
    for init in graph.initializer:
        found[init.name] = numpy_helper.to_array(init)
    if found:
        yield found


def weights_of_16k_branch(model):
    for constants in branch_constants(model.graph):
        by_suffix = {}
        for full_name, array in constants.items():
            for name, _ in TENSORS:
                if full_name == name or full_name.endswith("__" + name) or full_name.endswith("." + name):
                    by_suffix[name] = array
        basis = by_suffix.get("stft.forward_basis_buffer")
        if basis is not None and basis.shape[0] == BASIS_ROWS_16K:
            missing = [name for name, _ in TENSORS if name not in by_suffix]
            if missing:
                raise SystemExit(f"16 kHz branch lacks {', '.join(missing)}")
            return by_suffix
    raise SystemExit(f"no branch with a {BASIS_ROWS_16K}-row STFT basis in the model")


def write_tensor(out, name, array, as_f16):
    if name == "stft.forward_basis_buffer":
        # Kept three-dimensional: ggml reads it as [256, 1, 258].
        data = array
    else:
        data = np.squeeze(array)
        if data.ndim == 0:
            data = data.reshape(1)
    data = data.astype(np.float16 if as_f16 else np.float32)
    dims = list(reversed(data.shape))
    name_bytes = ("_model." + name).encode("utf-8")
    out.write(struct.pack("<iii", len(dims), len(name_bytes), 1 if as_f16 else 0))
    for d in dims:
        out.write(struct.pack("<i", d))
    out.write(name_bytes)
    out.write(np.ascontiguousarray(data).astype(data.dtype.newbyteorder("<")).tobytes())


def convert(onnx_path, output_path, version):
    weights = weights_of_16k_branch(onnx.load(onnx_path))

    enc = [weights[f"encoder.{i}.reparam_conv.weight"] for i in range(4)]
    lstm_hidden = weights["decoder.rnn.weight_hh"].shape[1]
    lstm_input = weights["decoder.rnn.weight_ih"].shape[1]
    final = weights["decoder.decoder.2.weight"]
    major, minor, patch = (int(p) for p in version.split("."))

    tmp = output_path + ".tmp"
    with open(tmp, "wb") as out:
        out.write(struct.pack("<I", GGML_FILE_MAGIC))
        model_type = b"silero-16k"
        out.write(struct.pack("<i", len(model_type)))
        out.write(model_type)
        out.write(struct.pack("<iii", major, minor, patch))
        out.write(struct.pack("<ii", WINDOW_SIZE, CONTEXT_SIZE))
        out.write(struct.pack("<i", len(enc)))
        for w in enc:  # PyTorch conv weights are (out, in, kernel)
            out.write(struct.pack("<iii", w.shape[1], w.shape[0], w.shape[2]))
        out.write(struct.pack("<ii", lstm_input, lstm_hidden))
        out.write(struct.pack("<ii", final.shape[1], final.shape[0]))
        for name, as_f16 in TENSORS:
            write_tensor(out, name, weights[name], as_f16)
    os.replace(tmp, output_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("onnx_model")
    parser.add_argument("output")
    parser.add_argument("--version", default="6.2.0", help="model version written into the header")
    args = parser.parse_args()
    convert(args.onnx_model, args.output, args.version)
    return 0


if __name__ == "__main__":
    sys.exit(main())
