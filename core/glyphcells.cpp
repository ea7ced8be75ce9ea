#include "glyphcells.h"

namespace vardune {

int GlyphStrip::Cell(char32_t c)
{
    if (c >= U'a' && c <= U'z')
        c = c - U'a' + U'A';
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    switch (c) {
    case U' ': return 10;
    case U':': return 11;
    case U';': return 12;
    case U'-': return 13;
    case U'\'': return 14;
    case U'.': return 15;
    case U',': return 16;
    default: return -1;
    }
}

} // namespace vardune
