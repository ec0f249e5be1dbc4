#!/usr/bin/python3
"""Cuts the editor's icons out of the Font Awesome font and remaps them to the
low code points listed in src/render/icons.h. Usage: make_icons_font.py ICONS_H SOURCE_TTF OUT_TTF"""
import re
import sys
from fontTools.ttLib import TTFont
from fontTools.subset import Subsetter, Options
from fontTools.ttLib.tables._c_m_a_p import CmapSubtable

ENTRY = re.compile(r'^\s*ICON_(\w+)\s*=\s*(\d+),\s*//\s*U\+([0-9A-Fa-f]+)', re.M)


def main():
    header, source, out = sys.argv[1:4]
    entries = [(name, int(cp), int(src, 16)) for name, cp, src in ENTRY.findall(open(header).read())]
    if not entries:
        sys.exit("make_icons_font: no icons found in " + header)
    font = TTFont(source)
    source_map = font.getBestCmap()
    mapping = {}
    for name, cp, src in entries:
        if not 0 <= cp <= 127:
            sys.exit("make_icons_font: ICON_%s uses code point %d outside 0-127" % (name, cp))
        if src not in source_map:
            sys.exit("make_icons_font: ICON_%s: U+%04X is not in %s" % (name, src, source))
        mapping[cp] = source_map[src]

    options = Options()
    options.glyph_names = True
    options.notdef_outline = True
    options.name_IDs = ['*']
    options.drop_tables += ['FFTM']
    subsetter = Subsetter(options)
    subsetter.populate(glyphs=sorted(set(mapping.values())))
    subsetter.subset(font)

    tables = []
    for platform, encoding in ((0, 3), (3, 1)):
        table = CmapSubtable.newSubtable(4)
        table.platformID, table.platEncID, table.language = platform, encoding, 0
        table.cmap = dict(mapping)
        tables.append(table)
    font['cmap'].tables = tables
    for key in ('GDEF', 'FFTM'):
        if key in font:
            del font[key]
    font.save(out)


if __name__ == '__main__':
    main()
