#!/usr/bin/env python3
"""Runs whisper.cpp's own Parakeet test-model generator, optionally with another vocabulary size.

With its ten-token vocabulary the generated model decodes every input to the
empty text; with the real model's 8192 tokens it gives (meaningless) non-empty
text, which is what a test of the text path needs.

Usage: generate_parakeet_test_model.py <generator.py> <output.bin> [--n-vocab N]
"""

import argparse
import re
import sys


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("generator")
    parser.add_argument("output")
    parser.add_argument("--n-vocab", type=int)
    args = parser.parse_args()

    with open(args.generator, encoding="utf-8") as f:
        source = f.read()
    if args.n_vocab is not None:
        source, count = re.subn(r"('n_vocab':\s*)\d+", rf"\g<1>{args.n_vocab}", source, count=1)
        if count != 1:
            raise SystemExit(f"{args.generator}: no n_vocab setting found")
    namespace = {"__name__": "parakeet_test_model_generator", "__file__": args.generator}
    exec(compile(source, args.generator, "exec"), namespace)
    namespace["generate"](args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
