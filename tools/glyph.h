// The seven-segment figures printed on the number boards, as rectangles of
// ink on the board face. The simulator's camera draws them and tavi-board
// prints them, so a printed board is the board the reader was tried on. Pure
// geometry: nothing here links OpenCV or any control code.
#pragma once

// A rectangle on a board face: s across the face (to the viewer's right), z up,
// both cm from the face centre.
struct face_rect {
    double s0, s1, z0, z1;
};

// One digit's cell on the board, cm: 55 x 98 pixels seen square on from 50 cm
// by the robot's camera (focal length 280 pixels in a 320 x 240 frame), the
// digit the reader's size window is centred on.
constexpr double kGlyphDigitWidth = 55.0 * 50.0 / 280.0;
constexpr double kGlyphDigitHeight = 98.0 * 50.0 / 280.0;

// The board the figures are printed on, cm. It is wider than the widest box
// the reader accepts at any distance (one and a half digits), so its own
// outline can never pass for a digit.
constexpr double kGlyphBoardWidth = 30.0;
constexpr double kGlyphBoardHeight = 24.0;

// Blank between two digits, of the cell width: wide enough that the blur and
// the threshold never bridge the two figures into one contour.
constexpr double kGlyphDigitGap = 0.4;

// Most rectangles one board's figures take: two digits of at most 7.
constexpr int kGlyphMaxRects = 14;

// The glyph rectangles of one digit whose cell has its top-left corner at
// (left, top) on the face; at most 7 of them.
int glyph_rects(int digit, double left, double top, face_rect* out);

// The rectangles of every digit '0'..'9' in digits (other characters are left
// out, only the first two digits are laid out), the figures side by side and
// centred on the face. out has room for kGlyphMaxRects.
int glyph_board_rects(const char* digits, face_rect* out);
