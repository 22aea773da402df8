#!/usr/bin/env python3
"""Writes a Whisper model with random weights in whisper.cpp's legacy ggml format.

The model has the real vocabulary size (51864 for an English-only model, 51865
for a multilingual one), so whisper.cpp treats it like the real models of that
kind: special-token ids, language tokens, language detection. The audio and text
dimensions are tiny, so loading and a full transcription take well under a
second; the text it produces is meaningless.

Text tokens: the 256 single bytes (every text can be tokenised), a set of
ordinary words, then unique filler tokens up to the end-of-text id; whisper.cpp
adds the special tokens itself.

For benchmarks, --dims small writes Whisper small's real dimensions (768
wide, 12 heads, 12 layers each side), --ftype q8_0 quantises the matrices as
whisper.cpp's quantize tool does, --size pads the filler tokens so the file
has a catalogue entry's exact byte size, and --script-tokens N makes every
30 s window decode one timestamp, N distinct words and the end-of-text token,
so two runs over the same audio do the same decoder work.

Usage: generate_tiny_whisper_model.py <output.bin> [--n-vocab 51864|51865] [--seed N]
           [--dims tiny|small] [--ftype f16|q8_0] [--size BYTES] [--script-tokens N]
"""

import argparse
import io
import os
import shutil
import struct
import sys

import numpy as np

GGML_FILE_MAGIC = 0x67676D6C
F32, F16, Q8_0 = 0, 1, 8
# File-level ftype of a q8_0 model: GGML_FTYPE_MOSTLY_Q8_0 plus the
# quantisation version times GGML_QNT_VERSION_FACTOR.
FTYPE_MOSTLY_Q8_0 = 7 + 2 * 1000
EOT_RAMP = 2.0
# Weight of a scripted position's lean towards its token: large enough that
# the random layers cannot outvote it, so greedy decoding follows the script.
SCRIPT_LEAN = 2000.0
DIMS = {"tiny": (64, 2, 1), "small": (768, 12, 12)}  # n_state, n_head, n_layer

WORDS = (
    "the of and to in is was that for it with as on be at by this had not are but from or have an they which one "
    "you were her all she there would their we him been has when who will more no if out so said what up its about "
    "into than them can only other new some could time these two may then do first any my now such like our over "
    "man me even most made after also did many before must through back years where much your way well down should "
    "because each just those people how too little state good very make world still own see men work long get here "
    "between both life being under never day same another know while last might us great old year off come since "
    "against go came right used take three hello world Anna Kubernetes Murel dictation speech model"
).split()


FILLER_DIGITS = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"


def compact_filler(i):
    """A four-byte filler: shorter than the real vocabulary's average token, so --size can pad up to it."""
    n = len(FILLER_DIGITS)
    return b"~" + bytes(FILLER_DIGITS[(i // n**k) % n] for k in (2, 1, 0))


def vocabulary(n_text_tokens, padding=0, compact=False):
    """Byte tokens, the word list, then fillers; `padding` extra bytes are spread over the fillers."""
    tokens = [bytes([b]) for b in range(256)]
    seen = set(tokens)
    for word in WORDS:
        for form in (word, " " + word, word.capitalize(), " " + word.capitalize()):
            t = form.encode("utf-8")
            if t not in seen and len(tokens) < n_text_tokens:
                seen.add(t)
                tokens.append(t)
    first_filler = len(tokens)
    i = 0
    while len(tokens) < n_text_tokens:
        t = compact_filler(i) if compact else f" zq{i}".encode("ascii")
        i += 1
        if t not in seen:
            seen.add(t)
            tokens.append(t)
    n_fillers = len(tokens) - first_filler
    if padding and n_fillers:
        # A suffix keeps the fillers unique, as each starts with its own index.
        each, extra = divmod(padding, n_fillers)
        for k in range(n_fillers):
            tokens[first_filler + k] += b"z" * (each + (1 if k < extra else 0))
    return tokens


def vocabulary_bytes(tokens):
    return 4 + sum(4 + len(t) for t in tokens)


def mel_filters(n_mels, n_fft_bins, sample_rate=16000):
    """Triangular mel filters over n_fft_bins linear bins, like the real models carry."""

    def hz_to_mel(f):
        return 2595.0 * np.log10(1.0 + f / 700.0)

    def mel_to_hz(m):
        return 700.0 * (10 ** (m / 2595.0) - 1.0)

    bins = np.linspace(0, sample_rate / 2, n_fft_bins)
    points = mel_to_hz(np.linspace(hz_to_mel(0), hz_to_mel(sample_rate / 2), n_mels + 2))
    filters = np.zeros((n_mels, n_fft_bins), dtype=np.float32)
    for m in range(n_mels):
        lo, mid, hi = points[m], points[m + 1], points[m + 2]
        up = (bins - lo) / max(mid - lo, 1e-6)
        down = (hi - bins) / max(hi - mid, 1e-6)
        filters[m] = np.maximum(0, np.minimum(up, down))
    return filters


def quantize_q8_0(array):
    """ggml's Q8_0 blocks: per 32 values one f16 scale and 32 signed bytes."""
    blocks = np.ascontiguousarray(array, dtype=np.float32).reshape(-1, 32)
    scale = np.abs(blocks).max(axis=1) / 127.0
    inverse = np.divide(1.0, scale, out=np.zeros_like(scale), where=scale > 0)
    out = np.empty(len(blocks), dtype=[("d", "<f2"), ("q", "i1", 32)])
    out["d"] = scale
    out["q"] = np.round(blocks * inverse[:, None]).astype(np.int8)
    return out.tobytes()


def write_tensor(out, name, array, ttype):
    dims = list(reversed(array.shape))  # ggml lists the innermost dimension first
    name_bytes = name.encode("utf-8")
    out.write(struct.pack("<iii", len(dims), len(name_bytes), ttype))
    for d in dims:
        out.write(struct.pack("<i", d))
    out.write(name_bytes)
    if ttype == Q8_0:
        out.write(quantize_q8_0(array))
        return
    data = array.astype(np.float16 if ttype == F16 else np.float32)
    out.write(np.ascontiguousarray(data).astype(data.dtype.newbyteorder("<")).tobytes())


def generate(output, n_vocab, seed, dims="tiny", quantized=False, size=None, script_tokens=0):
    rng = np.random.default_rng(seed)
    n_audio_ctx, n_text_ctx = 1500, 448  # 30 s windows, as in every real model
    n_state, n_head, n_layer = DIMS[dims]
    n_mels = 80
    ftype = F16
    # Matrices as whisper.cpp's quantize tool leaves them: 2-D weights in
    # Q8_0, convolutions in F16, biases, norms and positions in F32.
    mtype = Q8_0 if quantized else ftype
    multilingual = n_vocab >= 51865
    n_text_tokens = 50257 if multilingual else 50256

    def w(*shape, scale=0.05):
        return (rng.standard_normal(shape) * scale).astype(np.float32)

    def ones(n):
        return np.ones(n, dtype=np.float32)

    # Header and mel filters, then the vocabulary, then the tensors; the
    # tensors are written first so that the vocabulary can pad to `size`.
    head = io.BytesIO()
    head.write(struct.pack("<I", GGML_FILE_MAGIC))
    head.write(struct.pack("<11i", n_vocab, n_audio_ctx, n_state, n_head, n_layer,
                           n_text_ctx, n_state, n_head, n_layer, n_mels,
                           FTYPE_MOSTLY_Q8_0 if quantized else ftype))
    filters = mel_filters(n_mels, 201)
    head.write(struct.pack("<ii", *filters.shape))
    head.write(filters.astype("<f4").tobytes())

    tmp = output + ".tmp"
    tensors_path = output + ".tensors.tmp"
    with open(tensors_path, "wb") as out:
        # Encoder
        write_tensor(out, "encoder.positional_embedding", w(n_audio_ctx, n_state), F32)
        write_tensor(out, "encoder.conv1.weight", w(n_state, n_mels, 3), ftype)
        write_tensor(out, "encoder.conv1.bias", w(n_state, 1), F32)
        write_tensor(out, "encoder.conv2.weight", w(n_state, n_state, 3), ftype)
        write_tensor(out, "encoder.conv2.bias", w(n_state, 1), F32)

        def block(prefix, cross):
            parts = [("attn", "attn_ln")] + ([("cross_attn", "cross_attn_ln")] if cross else [])
            for attn, ln in parts:
                write_tensor(out, f"{prefix}.{ln}.weight", ones(n_state), F32)
                write_tensor(out, f"{prefix}.{ln}.bias", w(n_state), F32)
                write_tensor(out, f"{prefix}.{attn}.query.weight", w(n_state, n_state), mtype)
                write_tensor(out, f"{prefix}.{attn}.query.bias", w(n_state), F32)
                write_tensor(out, f"{prefix}.{attn}.key.weight", w(n_state, n_state), mtype)
                write_tensor(out, f"{prefix}.{attn}.value.weight", w(n_state, n_state), mtype)
                write_tensor(out, f"{prefix}.{attn}.value.bias", w(n_state), F32)
                write_tensor(out, f"{prefix}.{attn}.out.weight", w(n_state, n_state), mtype)
                write_tensor(out, f"{prefix}.{attn}.out.bias", w(n_state), F32)
            write_tensor(out, f"{prefix}.mlp_ln.weight", ones(n_state), F32)
            write_tensor(out, f"{prefix}.mlp_ln.bias", w(n_state), F32)
            write_tensor(out, f"{prefix}.mlp.0.weight", w(4 * n_state, n_state), mtype)
            write_tensor(out, f"{prefix}.mlp.0.bias", w(4 * n_state), F32)
            write_tensor(out, f"{prefix}.mlp.2.weight", w(n_state, 4 * n_state), mtype)
            write_tensor(out, f"{prefix}.mlp.2.bias", w(n_state), F32)

        for i in range(n_layer):
            block(f"encoder.blocks.{i}", cross=False)
        write_tensor(out, "encoder.ln_post.weight", ones(n_state), F32)
        write_tensor(out, "encoder.ln_post.bias", w(n_state), F32)

        # Decoder. With tied random embeddings the likeliest next token is the
        # previous one, so decoding would run to the end of the text context on
        # every window. The positional embedding leans more and more towards
        # the end-of-text token, which ends each window after a few tokens.
        token_embedding = w(n_vocab, n_state, scale=1.0)
        eot = n_text_tokens
        towards_eot = token_embedding[eot] / np.linalg.norm(token_embedding[eot])
        positions = w(n_text_ctx, n_state) + np.outer(np.arange(n_text_ctx) * EOT_RAMP, towards_eot)
        if script_tokens:
            # Position 0 holds the start token and yields the forced first
            # timestamp; positions 1..N each lean on their own word, the rest
            # on the end-of-text token.
            def unit(token):
                return token_embedding[token] / np.linalg.norm(token_embedding[token])

            words = [t for t in range(256, n_text_tokens) if t % 7 == 0][:script_tokens]
            for p in range(1, n_text_ctx):
                target = words[p - 1] if p <= len(words) else eot
                positions[p] = w(n_state) + SCRIPT_LEAN * unit(target)
        write_tensor(out, "decoder.positional_embedding", positions.astype(np.float32), F32)
        write_tensor(out, "decoder.token_embedding.weight", token_embedding, mtype)
        for i in range(n_layer):
            block(f"decoder.blocks.{i}", cross=True)
        write_tensor(out, "decoder.ln.weight", ones(n_state), F32)
        write_tensor(out, "decoder.ln.bias", w(n_state), F32)

    fixed = head.tell() + os.path.getsize(tensors_path)
    padding = 0
    compact = size is not None
    if compact:
        padding = size - fixed - vocabulary_bytes(vocabulary(n_text_tokens, compact=True))
        if padding < 0:
            os.remove(tensors_path)
            raise SystemExit(f"--size {size} is below the model's own {size - padding} bytes")
    tokens = vocabulary(n_text_tokens, padding, compact)
    with open(tmp, "wb") as out:
        out.write(head.getvalue())
        out.write(struct.pack("<i", len(tokens)))
        for t in tokens:
            out.write(struct.pack("<I", len(t)))
            out.write(t)
        with open(tensors_path, "rb") as tensors:
            shutil.copyfileobj(tensors, out, 1 << 20)
    os.remove(tensors_path)
    os.replace(tmp, output)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--n-vocab", type=int, default=51864, choices=(51864, 51865))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--dims", default="tiny", choices=sorted(DIMS))
    parser.add_argument("--ftype", default="f16", choices=("f16", "q8_0"))
    parser.add_argument("--size", type=int, help="exact file size in bytes, reached by padding filler tokens")
    parser.add_argument("--script-tokens", type=int, default=0, metavar="N",
                        help="decode N fixed words and then end-of-text in every window")
    args = parser.parse_args()
    generate(args.output, args.n_vocab, args.seed, args.dims, args.ftype == "q8_0", args.size, args.script_tokens)
    return 0


if __name__ == "__main__":
    sys.exit(main())
