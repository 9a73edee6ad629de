#!/usr/bin/env python3
"""Prints the strings whose keys measure the engine's text sort order, one a
line as UTF-16 code units of four hex digits ("-" for NULL):
  --single  every character of the Basic Multilingual Plane alone
            (surrogates and U+0000 aside);
  --pairs   each of them between "a" and "á", which shows its accent places
            and what a combining mark adds to the letter before it;
  --rules   strings that show how characters combine: accents, combining
            marks, ligatures, passed-over punctuation at every place, case,
            trailing spaces, NULL and the empty text, strings long enough to
            be cut."""
import random
import sys


def units(text):
    return "".join("%04X" % ord(c) for c in text)


def characters():
    for code in range(1, 0x10000):
        if not 0xD800 <= code <= 0xDFFF:
            yield chr(code)


def rules():
    letters = "aAáÁàâäãåæÆçČčćĆđĐđšŠžŽéèêëÉíìîïñóòôöõøœŒßúùûüÿýŸ" \
              "ЂђЉљЊњЋћЏџШшЖжабвгдАБВ" "ăâđêôơưĂÂĐÊÔƠƯạảấầẩẫậắằẳẵặẹẻẽếềểễệỉịọỏốồổỗộớờởỡợụủứừửữựỳỵỷỹ" \
              "ﬁﬂĳǆǅǄ0123456789 '-.,!&()_+/’‘`´"
    rng = random.Random(27)
    for a in letters:
        for b in "aeb'- .":
            yield a + b
            yield b + a
    for n in range(300):
        yield "".join(rng.choice(letters) for _ in range(rng.randint(2, 12)))
    for pos in range(0, 260, 1):
        yield "a" * pos + "'"
        yield "a" * pos + "-b"
    for n in range(1, 260, 7):
        yield "á" * n
        yield "ab" * (n // 2) + "c"
        yield "Ш" * n
        yield "ä" * n + "'"
    for n in (60, 100, 120, 125, 126, 127, 128, 200, 255):
        yield "".join(rng.choice(letters) for _ in range(n))
    marks = "\u0301\u0300\u0302\u0308\u030c\u0327\u02b9\u05b0\u20d0\u3099\u309a\u0e47"
    for m in marks:
        for s in (m, m + "a", "a" + m, "á" + m, "ä" + m, "a" + m + m, "a" + m + "\u0301",
                  "a" + m + "b", "'" + m, "a'" + m, "ǆ" + m, "ß" + m, " " + m, "a " + m,
                  "a-" + m + "b", "a\u01f6" + m):
            yield s
    yield "e\u0302\u0301"
    for s in ("", " ", "  ", "a  ", " a ", "a\u00a0", "a\t", "a" + " " * 300,
              "a" * 250 + " " * 10 + "b"):
        yield s


if __name__ == "__main__":
    if sys.argv[1:] == ["--single"]:
        listed = characters()
    elif sys.argv[1:] == ["--pairs"]:
        listed = ("a" + c + "á" for c in characters())
    else:
        listed = rules()
        print("-")
    seen = set()
    for s in listed:
        if s not in seen:
            seen.add(s)
            print(units(s))
