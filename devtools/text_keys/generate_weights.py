#!/usr/bin/env python3
"""Derives the weights of the engine's "General" text sort order from keys
measured with dump_text_keys (see README.md) and writes them as C++ data.

usage: generate_weights.py SINGLE.tsv PAIRS.tsv OUT.cpp [CHECK.tsv ...]

SINGLE holds the key of every character of the Basic Multilingual Plane
alone, PAIRS the key of "a" + the character + "á" (which shows whether it
weighs a letter, how many accent places it takes and what it adds to the
letter before it). Every key of every CHECK file (strings of many characters,
and files Access wrote) is then computed from the derived weights and must
equal the measured one; the script fails otherwise."""
import sys

IGNORED, LETTER, SPECIAL, MARK, UNKNOWN = range(5)
KIND_NAMES = ["kIgnored", "kLetter", "kSpecial", "kMark", "kUnknown"]
PLAIN = 0x02


def text_of(units):
    return "".join(chr(int(units[i:i + 4], 16)) for i in range(0, len(units), 4))


def keys_of(path):
    """(string, ascending key, descending key or None) of the single-text-column
    indexes of a dump, for the sort order 1033 version 0."""
    asc, desc = {}, {}
    for line in open(path, encoding="ascii"):
        _, _, columns, values, key = line.rstrip("\n").split("\t")
        if "," in columns or values == "-" or not columns.endswith(":1033.0"):
            continue
        typ, order, _ = columns.split(":")
        if typ not in ("10", "12"):
            continue
        (asc if order == "a" else desc)[text_of(values)] = bytes.fromhex(key)
    return asc, desc


def sections(key):
    assert key[0] == 0x7F and key[-1] == 0x00, key.hex()
    body = key[1:-1]
    cut = body.index(1)
    return body[:cut], body[cut + 1:].split(b"\x01")


def derive(single, pairs):
    table = {}
    for code in range(1, 0x10000):
        if 0xD800 <= code <= 0xDFFF:
            # Halves of surrogate pairs: the reference library weighs them
            # with bytes 0x00 and 0x01 inside, which no file Access wrote
            # confirms; characters past the plane stay unknown.
            continue
        c = chr(code)
        primary, rest = sections(pairs["a" + c + "á"])
        assert primary[:1] == b"\x4a" and primary[-1:] == b"\x4a", (hex(code), primary.hex())
        primary = primary[1:-1]
        accents = rest[0]
        assert accents[-1:] == b"\x0e"
        accents = accents[:-1]
        if len(rest) == 4 and rest[1] == rest[2] == b"" and accents == b"\x02":
            special = rest[3]
            assert len(special) == 4 and special[:3] == b"\x80\x0b\x06" and not primary
            table[code] = (SPECIAL, b"", bytes([special[3]]))
        elif len(rest) != 1:
            table[code] = (UNKNOWN, b"", b"")
        elif accents[:1] != b"\x02":
            assert len(accents) == 1 and not primary, hex(code)
            table[code] = (MARK, b"", bytes([(accents[0] - PLAIN) & 0xFF]))
        elif len(accents) == 1:
            assert not primary, hex(code)
            table[code] = (IGNORED, b"", b"")
        else:
            assert primary, hex(code)
            table[code] = (LETTER, primary, accents[1:])
    # Alone, each character must give what the weights say (but a space alone
    # is trailing, which the engine does not key).
    for code, entry in table.items():
        if code != 0x20 and entry[0] not in (UNKNOWN, MARK) and chr(code) in single:
            assert encode(table, chr(code)) == single[chr(code)], hex(code)
    return table


def encode(table, text):
    """The ascending key the weights give, or None for an unknown character."""
    text = text[:255].rstrip(" ")
    primary, accents, special = b"", [], b""
    for c in text:
        kind, weights, extra = table.get(ord(c), (UNKNOWN, b"", b""))
        if kind == UNKNOWN:
            return None
        if kind == LETTER:
            primary += weights
            accents += list(extra)
        elif kind == SPECIAL:
            special += (0x8000 + 4 * len(accents) + 7).to_bytes(2, "big") + b"\x06" + extra
        elif kind == MARK:
            if not accents:
                return None
            accents[-1] = (accents[-1] + extra[0]) & 0xFF
    while accents and accents[-1] == PLAIN:
        accents.pop()
    key = b"\x7f" + primary + b"\x01" + bytes(accents)
    if special:
        key += b"\x01\x01\x01" + special
    return key + b"\x00"


def runs(table):
    """Consecutive characters of one kind whose weights have one length and
    grow by one step, with the same accents."""
    out = []
    for code in sorted(table):
        kind, weights, extra = table[code]
        value = int.from_bytes(weights, "big") if weights else 0
        if out:
            run = out[-1]
            if (run["last"] + 1 == code and run["kind"] == kind and run["length"] == len(weights)
                    and run["extra"] == extra):
                if run["last"] == run["first"] and 0 <= value - run["value"] <= 255:
                    run["step"] = value - run["value"]
                    run["last"] = code
                    continue
                if value == run["value"] + run["step"] * (code - run["first"]):
                    run["last"] = code
                    continue
        out.append({"first": code, "last": code, "kind": kind, "length": len(weights),
                    "value": value, "step": 0, "extra": extra})
    return out


def write(table, path):
    rows = runs(table)
    assert max(len(r["extra"]) for r in rows) <= 3
    assert max(r["length"] for r in rows) <= 4
    lines = []
    for r in rows:
        extra = list(r["extra"]) + [0] * (3 - len(r["extra"]))
        lines.append("    {0x%04X, 0x%04X, %s, %d, %d, %d, 0x%X, {0x%02X, 0x%02X, 0x%02X}}," % (
            r["first"], r["last"], KIND_NAMES[r["kind"]], r["length"], r["step"],
            len(r["extra"]), r["value"], *extra))
    weighed = {e[1] for e in table.values() if e[0] == LETTER}
    with open(path, "w", encoding="ascii") as out:
        out.write("// Generated by devtools/text_keys/generate_weights.py from measured keys\n"
                  "// (devtools/text_keys/README.md); do not edit.\n"
                  "// %d characters: %d letters (%d distinct weights), %d passed over\n"
                  "// with a weight of their own, %d accent marks, %d ignored, %d unknown.\n"
                  % (len(table), sum(e[0] == LETTER for e in table.values()), len(weighed),
                     sum(e[0] == SPECIAL for e in table.values()),
                     sum(e[0] == MARK for e in table.values()),
                     sum(e[0] == IGNORED for e in table.values()),
                     sum(e[0] == UNKNOWN for e in table.values())))
        out.write("#include \"access/jet_text_weights.h\"\n\nnamespace velmora::jet {\n\n"
                  "const std::array<TextWeightRun, %d> kGeneralTextWeights = {{\n" % len(rows))
        out.write("\n".join(lines))
        out.write("\n}};\n\n} // namespace velmora::jet\n")
    return len(rows)


def main():
    single, _ = keys_of(sys.argv[1])
    pairs, _ = keys_of(sys.argv[2])
    table = derive(single, pairs)
    checked = unknown = 0
    failures = []
    for path in sys.argv[4:]:
        asc, desc = keys_of(path)
        for text, key in asc.items():
            mine = encode(table, text)
            if mine is None:
                unknown += 1
                continue
            checked += 1
            if mine != key:
                failures.append((path, text, key.hex(), mine.hex()))
            if text in desc and desc[text] != bytes(~b & 0xFF for b in mine) + b"\x00":
                failures.append((path, text + " (descending)", desc[text].hex(), mine.hex()))
    for failure in failures[:20]:
        print("differs: %s %r\n  measured %s\n  derived  %s" % failure, file=sys.stderr)
    count = write(table, sys.argv[3])
    print("%d characters in %d runs; %d keys checked, %d with unknown characters, %d differ"
          % (len(table), count, checked, unknown, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
