# Two test faces cut from DejaVu Sans: "QB No A" has no "A" at all (the
# font subsetter keeps B to Z), "QB Tall A" has an "A" three times as tall
# and unhinted, so that one point more adds two or three rows to it.
# Usage: cutfonts.py DejaVuSans.ttf OUTPUT_FOLDER
import os
import sys

from fontTools import subset
from fontTools.ttLib import TTFont
from fontTools.ttLib.tables import ttProgram


def rename(font, name):
    table = font['name']
    for i in (1, 3, 4, 6):
        table.removeNames(nameID=i)
    for i in (1, 3, 4):
        table.setName(name, i, 3, 1, 0x409)
    table.setName(name.replace(' ', ''), 6, 3, 1, 0x409)


source, out = sys.argv[1], sys.argv[2]
cut = os.path.join(out, 'cut.ttf')
subset.main([source, '--unicodes=U+0042-005A', "--name-IDs=*", '--output-file=' + cut])
font = TTFont(cut)
rename(font, 'QB No A')
font.save(os.path.join(out, 'NoA.ttf'))
os.remove(cut)

font = TTFont(source)
glyf = font['glyf']
a = glyf[font.getBestCmap()[ord('A')]]
a.coordinates.scale((1, 3))
a.program = ttProgram.Program()
a.program.fromBytecode(b'')
a.recalcBounds(glyf)
rename(font, 'QB Tall A')
font.save(os.path.join(out, 'TallA.ttf'))
