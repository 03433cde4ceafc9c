// Candidate labelling: digit-sized boxes in a binary frame, with a size window
// scaled by the distance to the board.
#pragma once

#include <cstdint>

#include <opencv2/core.hpp>

// Candidate rectangle in frame pixels; -1 in all four fields when empty.
struct candidate_rect {
    int32_t x1;  // left column
    int32_t y1;  // top row
    int32_t x2;  // x1 + width (one past the right column)
    int32_t y2;  // y1 + height (one past the bottom row)
};

constexpr int CANDIDATE_TABLE_SIZE = 10;

// Clears table (10 records), prints the size window line, finds every contour
// of binary (consumed: altered and drawn on), stores accepted boxes in order and
// saves "./img/label-all.jpg" and "./img/label.jpg". Returns the count (<= 10),
// or -1 when binary is null or empty.
int labelling(cv::Mat* binary, candidate_rect table[CANDIDATE_TABLE_SIZE], int distance);
