# DejaVu Sans under name tables of each kind a font file may carry, for the
# names a linked font takes from them: a Mac Roman full name beside a
# German Windows one (which ranks above it), that beside an American one,
# and none at all, where the family and style names stand in.
# Usage: namefonts.py DejaVuSans.ttf OUTPUT_FOLDER
import os
import sys

from fontTools.ttLib import TTFont

source, out = sys.argv[1], sys.argv[2]


def save(file, family, style, full_names):
    font = TTFont(source)
    table = font['name']
    table.names = []
    table.setName(family, 1, 3, 1, 0x409)
    table.setName(style, 2, 3, 1, 0x409)
    for platform, encoding, language, text in full_names:
        table.setName(text, 4, platform, encoding, language)
    font.save(os.path.join(out, file))


# Non-ASCII Mac Roman letters become '?'; UTF-16 keeps its two- and
# three-byte characters and a pair of surrogates becomes one '?'.
save('MacOnly.ttf', 'QB Mac', 'Regular', [(1, 0, 0, 'Caf\u00e9 Mac')])
save('MacAndGerman.ttf', 'QB German', 'Regular',
     [(1, 0, 0, 'Mac Name'), (3, 1, 0x407, 'Gr\u00f6\u00dfe \u20ac\U0001F600!')])
save('GermanAndAmerican.ttf', 'QB American', 'Regular',
     [(0, 3, 0, 'Unicode Name'), (3, 1, 0x407, 'German Name'), (3, 1, 0x409, 'American Name')])
save('NoFullBold.ttf', 'QB Family', 'Bold', [])
save('NoFullRegular.ttf', 'QB Family', 'Regular', [])
