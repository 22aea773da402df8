#!/usr/bin/env python3
"""Fails on a temporary that GCC 12 may destroy twice inside a co_await.

GCC 12 destroys one temporary of a co_await expression twice when it is a
lambda (with a non-trivial capture) or an awaiter object constructed right in
the expression. Such operands must be named first:

    auto job = [this, token] { ... };        SleepAwaiter slept(...);
    co_await worker.run(std::move(job));     co_await slept;

Flags, in every .cpp/.h under the folders given, a co_await whose operand holds
a lambda expression or starts with a constructor call (a name that starts with
an upper-case letter followed by ( or {). A line that ends in the comment
"// unnamed on purpose" is let through (the compiler test counts those)."""
import pathlib
import re
import sys

LAMBDA = re.compile(r"\[[^\[\]]*\]\s*(\(|\{|mutable\b|->)")
CONSTRUCTOR = re.compile(r"^(::)?([A-Za-z_]\w*::)*[A-Z]\w*\s*(<[^;(){}]*>)?\s*[({]")


def strip(text):
    """Comments and string/char literals blanked out, line breaks kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_paren = text.find("(", i)
            delim = text[i + 2:open_paren]
            end = text.find(")" + delim + '"', open_paren)
            end = n if end < 0 else end + len(delim) + 2
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:end]))
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (j - i - 1) + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def operand(code, start):
    """The text of the co_await operand that starts at `start`."""
    depth = 0
    i = start
    while i < len(code):
        c = code[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            if depth == 0:
                break
            depth -= 1
        elif c in ";," and depth == 0:
            break
        i += 1
    return code[start:i]


def check(path):
    raw = path.read_text(encoding="utf-8")
    lines = raw.split("\n")
    code = strip(raw)
    found = []
    for match in re.finditer(r"\bco_await\b", code):
        text = operand(code, match.end()).strip()
        line = code.count("\n", 0, match.start()) + 1
        if lines[line - 1].rstrip().endswith("// unnamed on purpose"):
            continue
        if LAMBDA.search(text):
            found.append((line, "a lambda inside co_await: name it first"))
        elif CONSTRUCTOR.match(text):
            found.append((line, "an awaiter constructed inside co_await: name it first"))
    return found


def main(folders):
    bad = 0
    for folder in folders:
        for path in sorted(pathlib.Path(folder).rglob("*")):
            if path.suffix not in (".cpp", ".h") or not path.is_file():
                continue
            for line, why in check(path):
                print(f"{path}:{line}: {why}")
                bad += 1
    print(f"{bad} unnamed co_await temporaries")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:] or ["Murel"]))
