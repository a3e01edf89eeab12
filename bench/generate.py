#!/usr/bin/env python3
"""Writes a deterministic, realistic benchmark input in Shift_JIS (cp932).

One title record, then RECORDS data records of 9 fields, each line ended by
CR LF:

   1 id        ascending from 1
   2 name      a Japanese family and given name (kanji)
   3 kana      its reading in katakana
   4 city      prefecture and city, about 300 distinct values (many ties)
   5 price     written like 1,234; quoted in comma mode when it holds a comma
   6 datetime  like 2023/1/5 9:03:07 (month, day and hour not zero-padded)
   7 category  20 values
   8 quantity  1 to 500
   9 note      free text: often empty, sometimes holding a comma or a double
               quote (quoted, the quote doubled, in comma mode)

The values (names, prefectures, city stems, categories, notes) come from the
tables of values.txt, which the micro-benchmarks are built from too.

In tab mode (--tab) fields are joined by tabs and never quoted (the tool reads
no quotes in tab mode: a quote or a comma is an ordinary byte there); no
field ever holds a tab, a CR or a LF, so every line is one record in both
modes. A given seed and record count always give the same bytes, and the two
modes hold the same values record for record.

Lines are about 88 bytes (at most about 130), far below the 2,048-byte limit,
and hold 9 fields. 1,245,184 records take about 7 s and 110 MB.

usage: generate.py OUTPUT [--records N] [--tab] [--seed S] [--no-title]
       (N defaults to 1,245,184 = 19 x 65,536, the most one sort accepts)
"""
import argparse
import os
import random
import sys

DEFAULT_RECORDS = 19 * 65536
DEFAULT_SEED = 20240607
BATCH = 32768  # lines joined and written at a time

VALUES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "values.txt")


def read_tables(path=VALUES):
    """The value tables of values.txt (shared with the micro-benchmarks): a
    dict from table name to its values, each a string or a (kanji, katakana)
    pair where the line holds a tab."""
    tables = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                values = tables.setdefault(line.strip("[]"), [])
            elif not tables:
                raise ValueError("%s:%d: a value before the first [table]" % (path, number))
            else:
                values.append(tuple(line.split("\t")) if "\t" in line else line)
    return tables


TABLES = read_tables()
FAMILY = TABLES["family"]  # (kanji, katakana) pairs
GIVEN = TABLES["given"]
PREFECTURES = TABLES["prefectures"]
CITY_STEMS = TABLES["city_stems"]
CATEGORIES = TABLES["categories"]
NOTES = TABLES["notes"]  # as values: comma mode quotes those holding a comma or a quote
NOTE_EMPTY_SHARE = 0.3  # share of records with an empty note


def comma_field(text):
    """A value as written in comma mode: quoted when it holds a comma or quote."""
    if "," in text or '"' in text:
        return '"' + text.replace('"', '""') + '"'
    return text


def build_tables(rng, tab):
    enc = lambda text: text.encode("cp932")
    field = (lambda text: text) if tab else comma_field
    # About 300 cities: each prefecture with 5 to 8 of the stems.
    cities = []
    for pref in PREFECTURES:
        for stem in rng.sample(CITY_STEMS, rng.randint(5, 8)):
            cities.append(enc(pref + stem + ("区" if pref == "東京都" else "市")))
    names = [(enc(f + g), enc(fk + gk)) for f, fk in FAMILY for g, gk in GIVEN]
    categories = [enc(c) for c in CATEGORIES]
    notes = [enc(field(n)) for n in NOTES]
    # Dates 2019/1/1 to 2024/12/28 and every second of a day, pre-formatted.
    days = ["%d/%d/%d" % (y, m, d) for y in range(2019, 2025)
            for m in range(1, 13) for d in range(1, 29)]
    times = ["%d:%02d:%02d" % (h, mi, s) for h in range(24)
             for mi in range(60) for s in range(60)]
    return cities, names, categories, notes, days, times


def price_text(value, tab):
    text = "{:,}".format(value)
    if not tab and "," in text:
        return '"' + text + '"'
    return text


def generate(out, records, tab, seed, title):
    rng = random.Random(seed)
    cities, names, categories, notes, days, times = build_tables(rng, tab)
    sep = b"\t" if tab else b","
    if title:
        heading = ["ID", "氏名", "フリガナ", "市区町村", "価格", "日時", "分類", "数量", "備考"]
        out.write(sep.join(h.encode("cp932") for h in heading) + b"\r\n")
    rnd = rng.random
    n_city, n_name, n_cat, n_note = len(cities), len(names), len(categories), len(notes)
    n_day, n_time = len(days), len(times)
    lines = []
    for ident in range(1, records + 1):
        name, kana = names[int(rnd() * n_name)]
        # Prices spread over 1 to 9,999,999, most below 100,000.
        price = int(10 ** (rnd() * 7)) + int(rnd() * 10)
        r = rnd()
        note = b"" if r < NOTE_EMPTY_SHARE else notes[int((r - NOTE_EMPTY_SHARE) / (1 - NOTE_EMPTY_SHARE) * n_note)]
        lines.append(sep.join((
            b"%d" % ident,
            name,
            kana,
            cities[int(rnd() * n_city)],
            price_text(price, tab).encode("ascii"),
            (days[int(rnd() * n_day)] + " " + times[int(rnd() * n_time)]).encode("ascii"),
            categories[int(rnd() * n_cat)],
            b"%d" % (1 + int(rnd() * rnd() * 500)),
            note,
        )))
        if len(lines) == BATCH:
            lines.append(b"")
            out.write(b"\r\n".join(lines))
            lines = []
    if lines:
        lines.append(b"")
        out.write(b"\r\n".join(lines))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", help="file to write ('-' for standard output)")
    parser.add_argument("records_pos", nargs="?", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--records", type=int, default=None,
                        help="data records (default %d)" % DEFAULT_RECORDS)
    parser.add_argument("--tab", action="store_true", help="tab-separated, never quoted")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED, help="random seed")
    parser.add_argument("--no-title", action="store_true", help="omit the title record")
    args = parser.parse_args(argv)
    records = args.records if args.records is not None else (args.records_pos or DEFAULT_RECORDS)
    if args.output == "-":
        generate(sys.stdout.buffer, records, args.tab, args.seed, not args.no_title)
    else:
        with open(args.output, "wb", buffering=1 << 20) as out:
            generate(out, records, args.tab, args.seed, not args.no_title)


if __name__ == "__main__":
    main(sys.argv[1:])
