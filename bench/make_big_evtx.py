#!/usr/bin/python3
"""Writes a large .evtx file made of the chunks of a sample log, repeated, with
the records numbered on so that every record ID is new, and every checksum and
the file header made right.

    /usr/bin/python3 bench/make_big_evtx.py SAMPLE.evtx OUT.evtx [MEGABYTES]
"""
import struct
import sys
import zlib

HEADER, CHUNK = 4096, 65536


def chunks_of(data):
    for at in range(HEADER, len(data) - CHUNK + 1, CHUNK):
        chunk = data[at:at + CHUNK]
        if chunk[:8] == b"ElfChnk\0":
            yield chunk


def renumber(chunk, next_id):
    c = bytearray(chunk)
    free = struct.unpack_from("<I", c, 48)[0]
    pos, first = 512, next_id
    while pos + 28 <= free and c[pos:pos + 4] == b"**\0\0":
        size = struct.unpack_from("<I", c, pos + 4)[0]
        struct.pack_into("<Q", c, pos + 8, next_id)
        next_id += 1
        pos += size
    struct.pack_into("<QQQQ", c, 8, first, next_id - 1, first, next_id - 1)
    struct.pack_into("<I", c, 52, zlib.crc32(bytes(c[512:free])))
    struct.pack_into("<I", c, 124, zlib.crc32(bytes(c[128:512]), zlib.crc32(bytes(c[:120]))))
    return bytes(c), next_id


def main():
    sample, out, megabytes = sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 100
    with open(sample, "rb") as f:
        data = f.read()
    source = list(chunks_of(data))
    count = min(65535, megabytes * 2 ** 20 // CHUNK)
    next_id = 1
    with open(out, "wb") as f:
        f.write(b"\0" * HEADER)
        for i in range(count):
            chunk, next_id = renumber(source[i % len(source)], next_id)
            f.write(chunk)
        header = bytearray(data[:HEADER])
        struct.pack_into("<QQQ", header, 8, 0, count - 1, next_id)
        struct.pack_into("<H", header, 42, count)
        struct.pack_into("<I", header, 120, 0)  # clean: closed properly
        struct.pack_into("<I", header, 124, zlib.crc32(bytes(header[:120])))
        f.seek(0)
        f.write(header)
    print(f"{out}: {count} chunks, {next_id - 1} records")


main()
