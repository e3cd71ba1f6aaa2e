// The window's own glyphs, drawn at run time: clean white 32 x 32 pictures
// with smooth edges on a transparent ground.
#pragma once

#include <windows.h>

enum class TGlyph { gMinimize, gClose };

// A 32 x 32 top-down 32-bit premultiplied bitmap (the caller owns it).
HBITMAP CreateGlyph(TGlyph glyph);
