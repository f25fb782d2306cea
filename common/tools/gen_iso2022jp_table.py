#!/usr/bin/python3
"""Writes common/src/iso2022jp_table.inc: for every double-byte code of code
page 932, the JIS code the mail engine sends for it, whether standard
ISO-2022-JP readers (JIS X 0208 only, RFC 1468) show it, and a replacement
that every reader shows, where one exists.

A code of a JIS X 0208 row (Shift_JIS arithmetic gives rows 0x21-0x74) whose
cell JIS X 0208 defines is standard.  Every other character is sent as the
same character's code in this order of preference, as Windows' own
Unicode -> ISO-2022-JP conversion does: its JIS X 0208 cell (NEC row-13 and
IBM duplicates of ≒ ∵ ￢ and the like: standard), its NEC row-13 cell, its
cell in the NEC-selected IBM rows 0x79-0x7C.  Those two are the extension
rows; readers that implement only JIS X 0208 show boxes or other characters
for them.  Characters with none of these (the user-defined area, unassigned
codes) have no code.

JIS X 0208 is taken from Python's iso2022_jp codec (the 1990 edition, as
glibc's); code page 932 from Python's cp932 codec.

Run with Debian's interpreter:  /usr/bin/python3 common/tools/gen_iso2022jp_table.py
"""
import os
import unicodedata

LEADS = list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
TRAILS = list(range(0x40, 0xFD))  # 0x7F included as a hole: one column per byte

# Unified ideographs of the IBM extension rows whose everyday form is in
# JIS X 0208 (the forms Japanese registers and name lists fall back to).
KANJI_VARIANTS = {
    "增": "増", "寬": "寛", "﨑": "崎", "德": "徳", "悅": "悦", "敎": "教", "昻": "昂",
    "栁": "柳", "橫": "横", "淸": "清", "濵": "浜", "瀨": "瀬", "凞": "熙", "甁": "瓶",
    "綠": "緑", "緖": "緒", "薰": "薫", "賴": "頼", "郞": "郎", "鄕": "郷", "靍": "鶴",
    "靑": "青", "髙": "高", "黑": "黒", "桒": "桑", "冝": "宜", "羡": "羨", "曻": "昇",
}
# Symbols whose compatibility form is not what a Japanese reader writes instead.
SYMBOLS = {"№": "No.", "㏍": "K.K.", "〝": "“", "〟": "”"}


def sjis_to_jis(lead, trail):
    b1 = trail - 1 if trail >= 0x80 else trail
    row = ((2 * lead - 0x61) if lead >= 0xA0 else (2 * lead - 0x80 - 0x61)) % 256
    if b1 >= 0x9E:
        row += 1
        col = b1 - 0x7D
    else:
        col = b1 + 0x5E - 0x7D
    return row, col


def cp932(lead, trail):
    try:
        return bytes([lead, trail]).decode("cp932")
    except UnicodeDecodeError:
        return None


def jis0208_defined(row, col):
    if not (0x21 <= row <= 0x7E and 0x21 <= col <= 0x7E):
        return False
    try:
        bytes([0x1B, 0x24, 0x42, row, col, 0x1B, 0x28, 0x42]).decode("iso2022_jp")
        return True
    except UnicodeDecodeError:
        return False


def main():
    cells = {}  # (lead, trail) -> (character, standard jis or None)
    standard_by_char = {}
    row13_by_char = {}
    nec_ibm_by_char = {}
    for lead in LEADS:
        for trail in TRAILS:
            ch = None if trail == 0x7F else cp932(lead, trail)
            if ch is None:
                continue
            row, col = sjis_to_jis(lead, trail)
            jis = (row << 8) | col
            if lead <= 0xEA and jis0208_defined(row, col):
                cells[(lead, trail)] = (ch, jis)
                standard_by_char.setdefault(ch, jis)
            else:
                cells[(lead, trail)] = (ch, None)
                if row == 0x2D:
                    row13_by_char.setdefault(ch, jis)
                elif 0x79 <= row <= 0x7C and 0xED <= lead <= 0xEE:
                    nec_ibm_by_char.setdefault(ch, jis)

    def shows(text):
        return all(ord(c) < 0x80 or c in standard_by_char for c in text)

    for table in (SYMBOLS, KANJI_VARIANTS):
        for rep in table.values():
            if not shows(rep):
                raise SystemExit(f"replacement {rep} is not JIS X 0208")

    def replacement_of(ch):
        name = unicodedata.name(ch, "")
        if name.startswith("CIRCLED DIGIT") or name.startswith("CIRCLED NUMBER"):
            return "(" + unicodedata.normalize("NFKC", ch) + ")"
        if name.startswith("CIRCLED IDEOGRAPH"):
            return "(" + unicodedata.normalize("NFKC", ch) + ")"
        nfkc = unicodedata.normalize("NFKC", ch)
        for table in (SYMBOLS, KANJI_VARIANTS):
            for key in (ch, nfkc):
                if key in table:
                    return table[key]
        return nfkc if nfkc != ch else None

    values = []
    replacements = []
    counts = {"standard": 0, "extension": 0, "none": 0}
    for lead in LEADS:
        for trail in TRAILS:
            cell = cells.get((lead, trail))
            value = 0
            if cell is not None:
                ch, jis = cell
                if jis is None and ch in standard_by_char:
                    jis = standard_by_char[ch]
                if jis is not None:
                    counts["standard"] += 1
                    value = jis
                else:
                    ext = row13_by_char.get(ch) or nec_ibm_by_char.get(ch)
                    if ext is not None:
                        counts["extension"] += 1
                        value = ext | 0x8000
                    else:
                        counts["none"] += 1
                    rep = replacement_of(ch)
                    if rep is not None and shows(rep):
                        replacements.append(((lead << 8) | trail, ch, rep))
            values.append(value)

    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    with open(os.path.join(folder, "iso2022jp_table.inc"), "w", encoding="utf-8") as f:
        f.write("// Generated by common/tools/gen_iso2022jp_table.py; do not edit.\n")
        f.write(f"// standard {counts['standard']}, extension {counts['extension']}, "
                f"no code {counts['none']} (defined code page 932 characters)\n")
        f.write("#ifdef TARN_ISO2022JP_CODES\n")
        f.write("// JIS code per cell (lead 0x81-0x9F, 0xE0-0xFC; trail 0x40-0xFC); 0x8000 marks an\n")
        f.write("// extension row, 0 no code.\n")
        for i in range(0, len(values), 12):
            f.write(" ".join(f"0x{v:04X}," for v in values[i:i + 12]) + "\n")
        f.write("#endif\n#ifdef TARN_ISO2022JP_REPLACEMENTS\n")
        f.write("// Shift_JIS code, replacement in Shift_JIS; sorted by code.\n")
        f.write("// NOLINTBEGIN(modernize-raw-string-literal): bytes, not text\n")
        for code, ch, rep in replacements:
            escaped = "".join(f"\\x{b:02X}" for b in rep.encode("cp932"))
            f.write(f'{{0x{code:04X}, "{escaped}"}},  // {ch} -> {rep}\n')
        f.write("// NOLINTEND(modernize-raw-string-literal)\n")
        f.write("#endif\n")
    print(counts, len(replacements), "replacements")


if __name__ == "__main__":
    main()
