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
static_assert(sizeof(candidate_rect) == 16, "candidate_rect is four 32-bit corners");

constexpr int CANDIDATE_TABLE_SIZE = 10;

// Pixel bounds of an accepted box; a box is accepted only strictly between them.
struct size_window {
    int width_min;
    int width_max;
    int height_min;
    int height_max;
};

// The window for a board distance cm away: 2/3 and 3/2 of a 55 x 98 digit at
// 50 cm, scaled by 50 / distance and truncated. A distance of 0 gives an
// all-zero window; a negative one gives negative bounds. Neither accepts anything.
size_window labelling_window(int distance);

// Clears table (10 records), prints the size window line, clears the outermost
// pixel ring of binary, finds every contour of binary, stores accepted boxes in order and saves
// "./img/label-all.jpg" (the frame with every contour's box) and "./img/label.jpg" (the frame with
// the stored boxes, which are also drawn on binary). Boxes beyond the tenth accepted one are
// dropped, and the walk goes on so label-all.jpg shows every contour. Returns the count (<= 10), or
// -1 when binary is null, empty or not 8-bit single-channel.
int labelling(cv::Mat* binary, candidate_rect table[CANDIDATE_TABLE_SIZE], int distance);

// Writes one of the inspection images a reading leaves in ./img for a person
// to look at. Nothing reads them back, so a failed write is ignored: an
// inspection file must never stop a reading.
void labelling_save(const char* path, const cv::Mat& image);
