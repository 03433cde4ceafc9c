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

// Rows [first, last] of one column, in the given direction; stops at the first ink.
bool column_probe(const cv::Mat& crop, int column, int from, int to) {
    const int step = from <= to ? 1 : -1;
    for (int row = from; row != to + step; row += step) {
        if (is_ink(crop, row, column)) {
            return true;
        }
    }
    return false;
}

bool row_probe(const cv::Mat& crop, int row, int from, int to) {
    const int step = from <= to ? 1 : -1;
    for (int column = from; column != to + step; column += step) {
        if (is_ink(crop, row, column)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void number_search(const cv::Mat& crop, int* result) {
    if (result == nullptr) {
        return;
    }
    *result = -1;
    if (crop.empty() || crop.type() != CV_8UC1) {
        return;
    }
    const int w = crop.cols;
    const int h = crop.rows;
    const int r1 = h / 4;
    const int r3 = (3 * h) / 4;
    const int cm = w / 2;
    const int half = w / 2;

    // Empty ranges (a crop too narrow or too low) leave their feature false.
    unsigned pattern = 0;
    if (r1 > 0 && column_probe(crop, cm, 0, r1 - 1)) {
        pattern |= TOP;
    }
    if (half > 0 && row_probe(crop, r1, 0, half - 1)) {
        pattern |= UPPER_LEFT;
    }
    if (half > 0 && row_probe(crop, r1, w - 1, w - half)) {
        pattern |= UPPER_RIGHT;
    }
    if (r3 > r1 && column_probe(crop, cm, r1, r3 - 1)) {
        pattern |= MIDDLE;
    }
    if (half > 0 && row_probe(crop, r3, 0, half - 1)) {
        pattern |= LOWER_LEFT;
    }
    if (half > 0 && row_probe(crop, r3, w - 1, w - half)) {
        pattern |= LOWER_RIGHT;
    }
    if (h / 4 > 0 && column_probe(crop, cm, h - 1, h - h / 4)) {
        pattern |= BOTTOM;
    }

    if (pattern == ALL_FEATURES) {
        // The lower counter of an 8 is background; a solid bar has ink there.
        *result = is_ink(crop, r3, cm) ? 1 : 8;
        return;
    }
    for (int digit = 0; digit < 10; ++digit) {
        if (DIGIT_PATTERNS[digit] == pattern) {
            *result = digit;
            return;
        }
    }
}
