#!/usr/bin/env python3
"""Writes a copy of a Windows program whose image is larger by a given number of bytes: one more
section, of that size, at the end of the image, its bytes a hole in a sparse file. To the loader it
is what a payload of that size in the resources is: one more range of the address space to map.
It makes an image of gigabytes in no time and no disk space, to measure which image sizes the
32-bit updater still starts with (scripts/measure_payload_limit.sh).

Usage: grow_image.py <program.exe> <copy.exe> <bytes>"""
import shutil
import struct
import sys


def align(value, to):
    return (value + to - 1) // to * to


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, target, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
    shutil.copyfile(source, target)
    with open(target, 'r+b') as f:
        data = bytearray(f.read())
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        sections = struct.unpack_from('<H', data, pe + 6)[0]
        optional_size = struct.unpack_from('<H', data, pe + 20)[0]
        optional = pe + 24
        section_alignment, file_alignment = struct.unpack_from('<II', data, optional + 32)
        headers_size = struct.unpack_from('<I', data, optional + 60)[0]
        security = optional + (112 if struct.unpack_from('<H', data, optional)[0] == 0x20B else 96) + 4 * 8
        if struct.unpack_from('<I', data, security + 4)[0]:
            sys.exit('grow_image: the program is signed; use an unsigned build')
        table = optional + optional_size
        new_header = table + 40 * sections
        if new_header + 40 > headers_size:
            sys.exit('grow_image: no room for one more section header')
        last = table + 40 * (sections - 1)
        last_size, last_address = struct.unpack_from('<II', data, last + 8)
        address = align(last_address + last_size, section_alignment)
        raw = align(len(data), file_alignment)
        raw_size = align(size, file_alignment)
        struct.pack_into('<8sIIIIIIHHI', data, new_header, b'.grow', size, address, raw_size, raw,
                         0, 0, 0, 0, 0x40000040)  # initialised data, readable
        struct.pack_into('<H', data, pe + 6, sections + 1)
        struct.pack_into('<I', data, optional + 56, align(address + size, section_alignment))
        f.seek(0)
        f.write(data)
        f.truncate(raw + raw_size)  # the new section's bytes: a hole, read as zeros


if __name__ == '__main__':
    main()
