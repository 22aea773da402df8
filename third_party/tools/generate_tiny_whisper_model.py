#!/usr/bin/env python3
"""Writes a tiny Whisper model with random weights in whisper.cpp's legacy ggml format.

The model has the real vocabulary size (51864 for an English-only model, 51865
for a multilingual one), so whisper.cpp treats it like the real models of that
kind: special-token ids, language tokens, language detection. The audio and text
dimensions are tiny, so loading and a full transcription take well under a
second; the text it produces is meaningless.

Text tokens: the 256 single bytes (every text can be tokenised), a set of
ordinary words, then unique filler tokens up to the end-of-text id; whisper.cpp
adds the special tokens itself.

Usage: generate_tiny_whisper_model.py <output.bin> [--n-vocab 51864|51865] [--seed N]
"""

import argparse
import os
import struct
import sys

import numpy as np

GGML_FILE_MAGIC = 0x67676D6C
F32, F16 = 0, 1
EOT_RAMP = 2.0

WORDS = (
    "the of and to in is was that for it with as on be at by this had not are but from or have an they which one "
    "you were her all she there would their we him been has when who will more no if out so said what up its about "
    "into than them can only other new some could time these two may then do first any my now such like our over "
    "man me even most made after also did many before must through back years where much your way well down should "
    "because each just those people how too little state good very make world still own see men work long get here "
    "between both life being under never day same another know while last might us great old year off come since "
    "against go came right used take three hello world Anna Kubernetes Murel dictation speech model"
).split()


def vocabulary(n_text_tokens):
    tokens = [bytes([b]) for b in range(256)]
    seen = set(tokens)
    for word in WORDS:
        for form in (word, " " + word, word.capitalize(), " " + word.capitalize()):
            t = form.encode("utf-8")
            if t not in seen and len(tokens) < n_text_tokens:
                seen.add(t)
                tokens.append(t)
    i = 0
    while len(tokens) < n_text_tokens:
        t = f" zq{i}".encode("ascii")
        i += 1
        if t not in seen:
            seen.add(t)
            tokens.append(t)
    return tokens


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


def write_tensor(out, name, array, ttype):
    data = array.astype(np.float16 if ttype == F16 else np.float32)
    dims = list(reversed(data.shape))  # ggml lists the innermost dimension first
    name_bytes = name.encode("utf-8")
    out.write(struct.pack("<iii", len(dims), len(name_bytes), ttype))
    for d in dims:
        out.write(struct.pack("<i", d))
    out.write(name_bytes)
    out.write(np.ascontiguousarray(data).astype(data.dtype.newbyteorder("<")).tobytes())


def generate(output, n_vocab, seed):
    rng = np.random.default_rng(seed)
    n_audio_ctx, n_text_ctx = 1500, 448  # 30 s windows, as in every real model
    n_state, n_head, n_layer, n_mels = 64, 2, 1, 80
    ftype = F16
    multilingual = n_vocab >= 51865
    n_text_tokens = 50257 if multilingual else 50256

    def w(*shape, scale=0.05):
        return (rng.standard_normal(shape) * scale).astype(np.float32)

    def ones(n):
        return np.ones(n, dtype=np.float32)

    tmp = output + ".tmp"
    with open(tmp, "wb") as out:
        out.write(struct.pack("<I", GGML_FILE_MAGIC))
        out.write(struct.pack("<11i", n_vocab, n_audio_ctx, n_state, n_head, n_layer,
                              n_text_ctx, n_state, n_head, n_layer, n_mels, ftype))
        filters = mel_filters(n_mels, 201)
        out.write(struct.pack("<ii", *filters.shape))
        out.write(filters.astype("<f4").tobytes())

        tokens = vocabulary(n_text_tokens)
        out.write(struct.pack("<i", len(tokens)))
        for t in tokens:
            out.write(struct.pack("<I", len(t)))
            out.write(t)

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
                write_tensor(out, f"{prefix}.{attn}.query.weight", w(n_state, n_state), ftype)
                write_tensor(out, f"{prefix}.{attn}.query.bias", w(n_state), F32)
                write_tensor(out, f"{prefix}.{attn}.key.weight", w(n_state, n_state), ftype)
                write_tensor(out, f"{prefix}.{attn}.value.weight", w(n_state, n_state), ftype)
                write_tensor(out, f"{prefix}.{attn}.value.bias", w(n_state), F32)
                write_tensor(out, f"{prefix}.{attn}.out.weight", w(n_state, n_state), ftype)
                write_tensor(out, f"{prefix}.{attn}.out.bias", w(n_state), F32)
            write_tensor(out, f"{prefix}.mlp_ln.weight", ones(n_state), F32)
            write_tensor(out, f"{prefix}.mlp_ln.bias", w(n_state), F32)
            write_tensor(out, f"{prefix}.mlp.0.weight", w(4 * n_state, n_state), ftype)
            write_tensor(out, f"{prefix}.mlp.0.bias", w(4 * n_state), F32)
            write_tensor(out, f"{prefix}.mlp.2.weight", w(n_state, 4 * n_state), ftype)
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
        write_tensor(out, "decoder.positional_embedding", positions.astype(np.float32), F32)
        write_tensor(out, "decoder.token_embedding.weight", token_embedding, ftype)
        for i in range(n_layer):
            block(f"decoder.blocks.{i}", cross=True)
        write_tensor(out, "decoder.ln.weight", ones(n_state), F32)
        write_tensor(out, "decoder.ln.bias", w(n_state), F32)
    os.replace(tmp, output)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--n-vocab", type=int, default=51864, choices=(51864, 51865))
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    generate(args.output, args.n_vocab, args.seed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
