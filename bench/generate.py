#!/usr/bin/env python3
"""Writes a realistic sort input: order lines with a customer name in
Shift_JIS, a category with many ties, an amount that is sometimes quoted with
thousands separators, a date in several layouts and a free-text remark.

usage: generate.py OUTPUT [RECORDS] [SEED]   (RECORDS defaults to 19 * 65536)
"""
import random
import sys

FAMILY = ["佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "山本", "中村", "小林", "加藤",
          "ヤマダ", "イトウ", "ｻｻｷ", "Smith", "smith", "SMITH"]
GIVEN = ["太郎", "花子", "一郎", "美咲", "翔", "結衣", "ヂロー", "アキラ", "", "Ken"]
CATEGORY = ["A01", "a01", "B02", "C03", "D04", "E05", "F06", "G07", "食品", "雑貨", "書籍"]
REMARK = ["", "至急", "\"要確認, 再送\"", "note", "%s%d", "返品\tあり", "ﾒﾓ", "\"x\"\"y\""]


def amount(rng):
    value = rng.choice([rng.randrange(0, 1000), rng.randrange(0, 10_000_000), 1500, 1500])
    text = "{:,}".format(value)
    if rng.random() < 0.5:
        return '"%s"' % text if "," in text else text
    return str(value)


def date(rng):
    y, m, d = rng.randrange(2015, 2025), rng.randrange(1, 13), rng.randrange(1, 29)
    hh, mm = rng.randrange(0, 24), rng.randrange(0, 60)
    layout = rng.randrange(4)
    if layout == 0:
        return "%d/%d/%d %d:%02d" % (y, m, d, hh, mm)
    if layout == 1:
        return "%04d-%02d-%02d %02d:%02d:00" % (y, m, d, hh, mm)
    if layout == 2:
        return "%04d%02d%02d" % (y, m, d)
    return "%d年%d月%d日" % (y, m, d)


def main():
    path = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 19 * 65536
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    with open(path, "wb") as out:
        lines = []
        for i in range(count):
            fields = [
                "%08d" % rng.randrange(0, count),  # order number, some repeated
                rng.choice(FAMILY) + rng.choice(GIVEN),
                rng.choice(CATEGORY),
                amount(rng),
                date(rng),
                rng.choice(REMARK),
            ]
            lines.append(",".join(fields).encode("cp932") + b"\r\n")
            if len(lines) == 65536:
                out.write(b"".join(lines))
                lines = []
        out.write(b"".join(lines))


if __name__ == "__main__":
    main()
