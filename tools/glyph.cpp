#include "tools/glyph.h"

namespace {

// Glyph proportions, as fractions of the digit cell. Vertical strokes are 12
// of 55 pixels wide and bars 12 of 98 pixels high at the nominal size, so the
// quarter-height probe rows cross the side strokes well clear of the bars, the
// centre column meets each bar, and the counters stay narrower than the
// smallest box the labelling accepts.
constexpr double kStrokeWidth = 0.22;  // of the cell width
constexpr double kBarHeight = 0.12;    // of the cell height
// The 1 is a solid bar: every probe meets ink, which is what tells it from an
// 8. It stays wider than two thirds of a digit, so the labelling's size window
// still takes it as a candidate.
constexpr double kOneWidth = 0.8;

enum : unsigned {
    SEG_TOP = 1u << 0,
    SEG_UPPER_LEFT = 1u << 1,
    SEG_UPPER_RIGHT = 1u << 2,
    SEG_MIDDLE = 1u << 3,
    SEG_LOWER_LEFT = 1u << 4,
    SEG_LOWER_RIGHT = 1u << 5,
    SEG_BOTTOM = 1u << 6,
    SEG_SOLID_BAR = 1u << 7,
};

// 7 with its upper-left stroke, 6 and 9 with both bars, 1 as the solid bar.
constexpr unsigned kGlyphs[10] = {
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_LOWER_LEFT | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_SOLID_BAR,
    SEG_TOP | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_LEFT | SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_RIGHT,
    SEG_TOP | SEG_UPPER_LEFT | SEG_MIDDLE | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_LEFT | SEG_MIDDLE | SEG_LOWER_LEFT | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_LOWER_RIGHT,
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_LEFT | SEG_LOWER_RIGHT |
        SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_RIGHT | SEG_BOTTOM,
};

}  // namespace

int glyph_rects(int digit, double left, double top, face_rect* out) {
    const double w = kGlyphDigitWidth;
    const double h = kGlyphDigitHeight;
    const double sw = kStrokeWidth * w;
    const double bh = kBarHeight * h;
    const double mid = h / 2.0;
    const unsigned segs = kGlyphs[digit];
    int n = 0;
    // y measured downwards from the cell's top edge; z = top - y.
    auto add = [&](double x0, double x1, double y0, double y1) {
        out[n++] = face_rect{left + x0, left + x1, top - y1, top - y0};
    };
    if (segs & SEG_SOLID_BAR) {
        const double bw = kOneWidth * w;
        add((w - bw) / 2.0, (w + bw) / 2.0, 0.0, h);
        return n;
    }
    // Bars run the full cell width and strokes reach into the bars, so the
    // segments overlap at every joint and each figure is one connected blob.
    if (segs & SEG_TOP)
        add(0.0, w, 0.0, bh);
    if (segs & SEG_MIDDLE)
        add(0.0, w, mid - bh / 2.0, mid + bh / 2.0);
    if (segs & SEG_BOTTOM)
        add(0.0, w, h - bh, h);
    if (segs & SEG_UPPER_LEFT)
        add(0.0, sw, 0.0, mid + bh / 2.0);
    if (segs & SEG_UPPER_RIGHT)
        add(w - sw, w, 0.0, mid + bh / 2.0);
    if (segs & SEG_LOWER_LEFT)
        add(0.0, sw, mid - bh / 2.0, h);
    if (segs & SEG_LOWER_RIGHT)
        add(w - sw, w, mid - bh / 2.0, h);
    return n;
}

int glyph_board_rects(const char* digits, face_rect* out) {
    int count = 0;
    for (const char* c = digits; *c != '\0' && count < 2; ++c) {
        if (*c >= '0' && *c <= '9')
            ++count;
    }
    const double pitch = kGlyphDigitWidth * (1.0 + kGlyphDigitGap);
    const double total = count * kGlyphDigitWidth + (count - 1) * kGlyphDigitGap * kGlyphDigitWidth;
    double left = -total / 2.0;
    int n = 0;
    int laid = 0;
    for (const char* c = digits; *c != '\0' && laid < count; ++c) {
        if (*c < '0' || *c > '9')
            continue;
        n += glyph_rects(*c - '0', left, kGlyphDigitHeight / 2.0, out + n);
        left += pitch;
        ++laid;
    }
    return n;
}
