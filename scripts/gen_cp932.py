#!/usr/bin/env python3
"""Generates src/base/cp932_table.inc, the code page 932 tables of zkQuorvane.

Python's cp932 codec supplies the characters; the corrections below make the
tables give what MultiByteToWideChar and WideCharToMultiByte(932, 0, ...) give
on Windows, which is what the program has to agree with (the Windows adapter
test in src/base/win32 checks every byte, every pair and every BMP code unit).

Usage: gen_cp932.py [OUTPUT]   (default: src/base/cp932_table.inc beside this script)
"""
import os
import sys

# Windows decodes a lead byte that has no valid trail byte after it, and a lead
# byte alone at the end, as KATAKANA MIDDLE DOT; Python gives U+FFFD there.
INVALID = 0x30FB

# JIS forms that Python's codec accepts but Windows writes as "?": Windows only
# knows the Microsoft forms (U+FF5E, U+2225, U+FF0D) of these rows.
WINDOWS_REFUSES = [0x2016, 0x2212, 0x301C]

# Best-fit mappings that WideCharToMultiByte applies with default flags for
# characters code page 932 does not have (checked under Wine, character by
# character, by the adapter test).
BEST_FIT = {
    0x00A1: 0x21, 0x00A5: 0x5C, 0x00A6: 0x7C, 0x00A9: 0x63, 0x00AA: 0x61,
    0x00AB: 0x81E1, 0x00AD: 0x2D, 0x00AE: 0x52, 0x00AF: 0x8150, 0x00B2: 0x32,
    0x00B3: 0x33, 0x00B5: 0x83CA, 0x00B7: 0x8145, 0x00B8: 0x8143, 0x00B9: 0x31,
    0x00BA: 0x6F, 0x00BB: 0x81E2,
    0x00C0: 0x41, 0x00C1: 0x41, 0x00C2: 0x41, 0x00C3: 0x41, 0x00C4: 0x41,
    0x00C5: 0x41, 0x00C6: 0x41, 0x00C7: 0x43, 0x00C8: 0x45, 0x00C9: 0x45,
    0x00CA: 0x45, 0x00CB: 0x45, 0x00CC: 0x49, 0x00CD: 0x49, 0x00CE: 0x49,
    0x00CF: 0x49, 0x00D0: 0x44, 0x00D1: 0x4E, 0x00D2: 0x4F, 0x00D3: 0x4F,
    0x00D4: 0x4F, 0x00D5: 0x4F, 0x00D6: 0x4F, 0x00D8: 0x4F, 0x00D9: 0x55,
    0x00DA: 0x55, 0x00DB: 0x55, 0x00DC: 0x55, 0x00DD: 0x59, 0x00DE: 0x54,
    0x00DF: 0x73,
    0x00E0: 0x61, 0x00E1: 0x61, 0x00E2: 0x61, 0x00E3: 0x61, 0x00E4: 0x61,
    0x00E5: 0x61, 0x00E6: 0x61, 0x00E7: 0x63, 0x00E8: 0x65, 0x00E9: 0x65,
    0x00EA: 0x65, 0x00EB: 0x65, 0x00EC: 0x69, 0x00ED: 0x69, 0x00EE: 0x69,
    0x00EF: 0x69, 0x00F0: 0x64, 0x00F1: 0x6E, 0x00F2: 0x6F, 0x00F3: 0x6F,
    0x00F4: 0x6F, 0x00F5: 0x6F, 0x00F6: 0x6F, 0x00F8: 0x6F, 0x00F9: 0x75,
    0x00FA: 0x75, 0x00FB: 0x75, 0x00FC: 0x75, 0x00FD: 0x79, 0x00FE: 0x74,
    0x00FF: 0x79,
    0x3094: 0x8394,  # hiragana vu: only the katakana form exists
}

QUESTION = 0x3F


def is_lead(byte):
    return 0x81 <= byte <= 0x9F or 0xE0 <= byte <= 0xFC


def decode_single(byte):
    if is_lead(byte):
        return INVALID
    text = bytes([byte]).decode('cp932')
    assert len(text) == 1
    return ord(text)


def decode_pair(lead, trail):
    """The one character a lead byte and a (non-NUL) following byte decode to."""
    try:
        text = bytes([lead, trail]).decode('cp932')
    except UnicodeDecodeError:
        return INVALID
    return ord(text) if len(text) == 1 else INVALID


def build_encoder(decoded_pairs):
    by_char = {}
    for code, char in decoded_pairs.items():
        by_char.setdefault(char, []).append(code)
    table = [QUESTION] * 0x10000
    for unit in range(0x10000):
        if 0xD800 <= unit < 0xE000:
            continue  # a lone surrogate is no character
        try:
            data = chr(unit).encode('cp932')
        except UnicodeEncodeError:
            continue
        code = data[0] if len(data) == 1 else (data[0] << 8) | data[1]
        if 0xED00 <= code <= 0xEEFF:
            # Python writes the duplicated IBM extension characters in the
            # NEC-selected rows; Windows writes the IBM rows 0xFA..0xFC.
            ibm = [c for c in by_char[unit] if c >= 0xFA00]
            assert len(ibm) == 1, hex(unit)
            code = ibm[0]
        table[unit] = code
    for unit in WINDOWS_REFUSES:
        table[unit] = QUESTION
    for unit, code in BEST_FIT.items():
        assert table[unit] == QUESTION, hex(unit)
        table[unit] = code
    return table


def rows(values, width, fmt):
    for i in range(0, len(values), width):
        yield '  ' + ' '.join(fmt % v + ',' for v in values[i:i + width])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, '..', 'src', 'base', 'cp932_table.inc')

    single = [decode_single(b) for b in range(256)]
    leads = [b for b in range(256) if is_lead(b)]
    lead_index = [0] * 256
    double = []
    decoded_pairs = {}
    for row, lead in enumerate(leads):
        lead_index[lead] = row + 1
        for trail in range(256):
            char = decode_pair(lead, trail)
            double.append(char)
            if char != INVALID or (lead, trail) == (0x81, 0x45):
                decoded_pairs[(lead << 8) | trail] = char

    encode = build_encoder(decoded_pairs)
    # Two levels: most 256-unit pages of the BMP hold nothing, and share one
    # page of "?".
    pages = []
    page_of = []
    seen = {}
    empty = tuple([QUESTION] * 256)
    seen[empty] = 0
    pages.append(empty)
    for hi in range(256):
        page = tuple(encode[hi << 8:(hi + 1) << 8])
        if page not in seen:
            seen[page] = len(pages)
            pages.append(page)
        page_of.append(seen[page])
    assert len(pages) < 256

    lines = [
        '// Generated by scripts/gen_cp932.py: do not edit, run the script instead.',
        '// Code page 932 as Windows converts it (see the script for the corrections',
        '// made to Python\'s codec).',
        '',
        '// Byte -> character; lead bytes hold U+30FB, used when no trail follows.',
        'inline constexpr char16_t kCp932Single[256] = {',
        *rows(single, 12, '0x%04X'),
        '};',
        '',
        '// 0 for a byte that starts no pair, else 1 + its row in kCp932Double.',
        'inline constexpr unsigned char kCp932LeadIndex[256] = {',
        *rows(lead_index, 16, '%d'),
        '};',
        '',
        'inline constexpr int kCp932LeadCount = %d;' % len(leads),
        '// Row per lead byte, 256 trail bytes each; U+30FB for an invalid pair.',
        'inline constexpr char16_t kCp932Double[%d * 256] = {' % len(leads),
        *rows(double, 12, '0x%04X'),
        '};',
        '',
        '// Code unit >> 8 -> page of kCp932EncodePages (page 0 is all "?").',
        'inline constexpr unsigned char kCp932EncodePageOf[256] = {',
        *rows(page_of, 16, '%d'),
        '};',
        '',
        '// Below 0x100 one byte, else lead byte << 8 | trail byte.',
        'inline constexpr unsigned short kCp932EncodePages[%d * 256] = {' % len(pages),
    ]
    for page in pages:
        lines.extend(rows(list(page), 12, '0x%04X'))
    lines.append('};')
    with open(out_path, 'w', newline='\n') as out:
        out.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
