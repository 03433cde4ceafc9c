#include "vision/number_search.h"

#include <cstdint>

namespace {

// One bit per probe feature, in the order the digit patterns are written below.
enum : unsigned {
    TOP = 1u << 6,
    UPPER_RIGHT = 1u << 5,
    LOWER_RIGHT = 1u << 4,
    BOTTOM = 1u << 3,
    LOWER_LEFT = 1u << 2,
    UPPER_LEFT = 1u << 1,
    MIDDLE = 1u << 0,
};
constexpr unsigned ALL_FEATURES =
    TOP | UPPER_RIGHT | LOWER_RIGHT | BOTTOM | LOWER_LEFT | UPPER_LEFT | MIDDLE;

// The figures as printed on the boards. 7 carries the upper-left stroke and 6
// and 9 both bars; 1 is a solid bar, so it meets every probe and only the hole
// probe tells it from 8 (handled before this table is consulted).
constexpr unsigned DIGIT_PATTERNS[10] = {
    TOP | UPPER_RIGHT | LOWER_RIGHT | BOTTOM | LOWER_LEFT | UPPER_LEFT,  // 0
    ALL_FEATURES,                                                        // 1
    TOP | UPPER_RIGHT | BOTTOM | LOWER_LEFT | MIDDLE,                    // 2
    TOP | UPPER_RIGHT | LOWER_RIGHT | BOTTOM | MIDDLE,                   // 3
    UPPER_RIGHT | LOWER_RIGHT | UPPER_LEFT | MIDDLE,                     // 4
    TOP | LOWER_RIGHT | BOTTOM | UPPER_LEFT | MIDDLE,                    // 5
    TOP | LOWER_RIGHT | BOTTOM | LOWER_LEFT | UPPER_LEFT | MIDDLE,       // 6
    TOP | UPPER_RIGHT | LOWER_RIGHT | UPPER_LEFT,                        // 7
    ALL_FEATURES,                                                        // 8
    TOP | UPPER_RIGHT | LOWER_RIGHT | BOTTOM | UPPER_LEFT | MIDDLE,      // 9
};

constexpr uint8_t INK = 255;

bool is_ink(const cv::Mat& crop, int row, int column) {
    return crop.ptr<uint8_t>(row)[column] == INK;
}

}  // namespace

number_probe_layout number_search_layout(int width, int height) {
    const int w = width;
    const int h = height;
    const int r1 = h / 4;
    const int r3 = (3 * h) / 4;
    const int cm = w / 2;
    const int half = w / 2;
    // Each probe walks from the crop's edge inward; the bottom one covers the
    // last quarter of the rows, the middle one the rows between the quarters.
    return number_probe_layout{
        .probes = {{cm, 0, 0, 1, r1},          // top
                   {w - 1, r1, -1, 0, half},   // upper-right
                   {w - 1, r3, -1, 0, half},   // lower-right
                   {cm, h - 1, 0, -1, h / 4},  // bottom
                   {0, r3, 1, 0, half},        // lower-left
                   {0, r1, 1, 0, half},        // upper-left
                   {cm, r1, 0, 1, r3 - r1}},   // middle
        .hole_x = cm,
        .hole_y = r3,
    };
}

int number_probe_hit(const cv::Mat& crop, const number_probe& p) {
    for (int i = 0; i < p.n; ++i) {
        if (is_ink(crop, p.y0 + i * p.dy, p.x0 + i * p.dx)) {
            return i;
        }
    }
    return -1;
}

void number_search(const cv::Mat& crop, int* result) {
    if (result == nullptr) {
        return;
    }
    *result = -1;
    if (crop.empty() || crop.type() != CV_8UC1) {
        return;
    }
    const number_probe_layout layout = number_search_layout(crop.cols, crop.rows);
    // The probes come in the patterns' bit order, most significant first.
    unsigned pattern = 0;
    for (const number_probe& p : layout.probes) {
        pattern = pattern << 1 | (number_probe_hit(crop, p) >= 0 ? 1u : 0u);
    }

    if (pattern == ALL_FEATURES) {
        // The lower counter of an 8 is background; a solid bar has ink there.
        *result = is_ink(crop, layout.hole_y, layout.hole_x) ? 1 : 8;
        return;
    }
    for (int digit = 0; digit < 10; ++digit) {
        if (DIGIT_PATTERNS[digit] == pattern) {
            *result = digit;
            return;
        }
    }
}
