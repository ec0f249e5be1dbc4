#!/usr/bin/python3
"""Packs the editor's assets archive: a plain ZIP (deflate, sizes in every
local header, no data descriptors, no encryption).
Usage: make_data.py OUT ENTRY=FILE..."""
import os
import sys
import zipfile

LIMIT = 5 * 1024 * 1024  # the editor reads the archive into a 5 MiB buffer


def main():
    out = sys.argv[1]
    with open(out, 'wb') as f:  # a seekable file: sizes go into the local headers
        with zipfile.ZipFile(f, 'w', compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
            for pair in sys.argv[2:]:
                name, path = pair.split('=', 1)
                info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, open(path, 'rb').read())
    size = os.path.getsize(out)
    if size > LIMIT:
        sys.exit("make_data: %s is %d bytes, over the %d byte archive buffer" % (out, size, LIMIT))


if __name__ == '__main__':
    main()
