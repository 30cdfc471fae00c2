#!/usr/bin/env python3
"""Writes src/platform/ErrorNames.inc, the table of Windows and Winsock error codes and
their published constant names, from the MinGW-w64 headers (Debian mingw-w64-common).

Only the numbers and names are taken. Sources, in order of preference for a code that
has several names:
  1. winerror.h ERROR_* and WSA* names (the first one defined wins),
  2. any other error constant of winerror.h (RPC_S_*, DNS_ERROR_*, WAIT_TIMEOUT, ...),
  3. lmerr.h NERR_* names for codes winerror.h leaves unnamed,
  4. ipexport.h IP_* status names (11000-11255) for codes winerror.h leaves unnamed.
HRESULT-style values (typed as HRESULT, above 0xFFFF or negative) are not error codes and
are skipped, as are bases, masks, ranges and facility/severity numbers.

Usage: gen-error-names.py [--include DIR] [--output FILE]
"""
import argparse
import os
import re
import sys

DEFAULT_INCLUDE = "/usr/share/mingw-w64/include"
HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUTPUT = os.path.join(HERE, "..", "src", "platform", "ErrorNames.inc")

DEFINE_RE = re.compile(r"^\s*#\s*define\s+([A-Za-z_]\w*)(\(?)\s*(.*)$")
HRESULT_RE = re.compile(r"_HRESULT_TYPEDEF_|\(\s*(HRESULT|SCODE)\s*\)")
CAST_RE = re.compile(r"\(\s*(DWORD|LONG|ULONG|long|unsigned\s+long|int|unsigned\s+int|unsigned)\s*\)")
TOKEN_RE = re.compile(r"\s*(0[xX][0-9A-Fa-f]+|\d+|[A-Za-z_]\w*|[()+-])[uUlL]*")
EXCLUDED_NAME_RE = re.compile(
    r"^(_|FACILITY_|SEVERITY_)|_(BASE|MASK|FIRST|LAST|BEGIN|END)$|BASEERR$")


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


def tokenize(expr):
    pos, tokens = 0, []
    expr = expr.strip()
    while pos < len(expr):
        m = TOKEN_RE.match(expr, pos)
        if not m:
            return None
        tokens.append(m.group(1))
        pos = m.end()
        while pos < len(expr) and expr[pos].isspace():
            pos += 1
    return tokens


def evaluate(expr, symbols):
    """Value of a constant expression of numbers, known names, + - and parentheses;
    None when it is anything else."""
    tokens = tokenize(expr)
    if not tokens:
        return None
    pos = 0

    def primary():
        nonlocal pos
        if pos >= len(tokens):
            raise ValueError
        tok = tokens[pos]
        pos += 1
        if tok == "(":
            v = additive()
            if pos >= len(tokens) or tokens[pos] != ")":
                raise ValueError
            pos += 1
            return v
        if tok == "-":
            return -primary()
        if tok == "+":
            return primary()
        if tok[0].isdigit():
            return int(tok, 0)
        if tok in symbols:
            return symbols[tok]
        raise ValueError

    def additive():
        nonlocal pos
        v = primary()
        while pos < len(tokens) and tokens[pos] in "+-":
            op = tokens[pos]
            pos += 1
            w = primary()
            v = v + w if op == "+" else v - w
        return v

    try:
        v = additive()
    except (ValueError, IndexError):
        return None
    return v if pos == len(tokens) else None


def read_defines(path, symbols):
    """(name, value) of each object-like constant of the header, in file order. Every
    value is also recorded in symbols so later definitions may refer to it."""
    with open(path, encoding="latin-1") as f:
        text = strip_comments(f.read().replace("\\\n", " "))
    found = []
    for line in text.splitlines():
        m = DEFINE_RE.match(line)
        if not m or m.group(2):
            continue
        name, body = m.group(1), m.group(3).strip()
        if not body or HRESULT_RE.search(body):
            continue
        body = CAST_RE.sub(" ", body.replace("__MSABI_LONG", " "))
        value = evaluate(body, symbols)
        if value is None:
            continue
        symbols.setdefault(name, value)
        found.append((name, value))
    return found


def is_error_code(name, value):
    return 0 <= value <= 0xFFFF and not EXCLUDED_NAME_RE.search(name)


def build_table(include_dir):
    symbols = {}
    candidates = []  # (rank, order, code, name)
    order = 0

    def add(rank, name, value):
        nonlocal order
        candidates.append((rank, order, value, name))
        order += 1

    for name, value in read_defines(os.path.join(include_dir, "winerror.h"), symbols):
        if is_error_code(name, value):
            add(0 if name.startswith(("ERROR_", "WSA")) else 1, name, value)
    for name, value in read_defines(os.path.join(include_dir, "lmerr.h"), dict(symbols)):
        if name.startswith("NERR_") and is_error_code(name, value):
            add(2, name, value)
    for name, value in read_defines(os.path.join(include_dir, "ipexport.h"), dict(symbols)):
        if name.startswith("IP_") and 11000 <= value <= 11255 and is_error_code(name, value):
            add(3, name, value)

    best = {}
    for rank, index, code, name in candidates:
        if code not in best or (rank, index) < best[code][:2]:
            best[code] = (rank, index, name)
    return sorted((code, entry[2]) for code, entry in best.items())


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--include", default=DEFAULT_INCLUDE)
    ap.add_argument("--output", default=DEFAULT_OUTPUT)
    args = ap.parse_args()
    if not os.path.isfile(os.path.join(args.include, "winerror.h")):
        sys.exit(f"gen-error-names: no winerror.h in {args.include} "
                 "(install mingw-w64-common, see scripts/install-deps.sh)")
    table = build_table(args.include)
    lines = [
        "// Generated by scripts/gen-error-names.py from the MinGW-w64 headers; do not edit.",
        "// Windows and Winsock error codes with their published constant names, sorted by",
        "// code, one name per code. Included inside an array initializer.",
    ]
    lines += [f'{{{code}, "{name}"}},' for code, name in table]
    with open(args.output, "w", encoding="latin-1", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print(f"gen-error-names: {len(table)} codes written to {os.path.normpath(args.output)}")


if __name__ == "__main__":
    main()
