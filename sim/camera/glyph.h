// The seven-segment figures printed on the number boards, as rectangles of
// ink on the board face, sized from the camera's nominal digit.
#pragma once

// A rectangle on a board face: s across the face (to the viewer's right), z up,
// both cm from the face centre.
struct face_rect {
    double s0, s1, z0, z1;
};

// Blank between two digits, of the cell width: wide enough that the blur and
// the threshold never bridge the two figures into one contour.
constexpr double kGlyphDigitGap = 0.4;

// The glyph rectangles of one digit whose cell has its top-left corner at
// (left, top) on the face; at most 7 of them.
int glyph_rects(int digit, double left, double top, face_rect* out);
