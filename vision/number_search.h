// Seven-probe classifier for one binary crop of a seven-segment digit.
#pragma once

#include <opencv2/core.hpp>

// Writes the digit 0..9 shown by crop (8-bit, 1 channel, 255 = ink) into
// *result, or -1 when the probe pattern is not a digit.
void number_search(const cv::Mat& crop, int* result);

// One probe: n pixels from column x0, row y0 on, stepping by (dx, dy), looking
// for the first ink. n may be 0 or less for a crop too narrow or too low; the
// probe then meets nothing.
struct number_probe {
    int x0, y0, dx, dy, n;
};

// Where the classifier looks on a crop of width x height pixels: the seven
// probes in its table order (top, upper-right, lower-right, bottom,
// lower-left, upper-left, middle) and the hole probe's pixel, which tells a
// solid bar (ink there: 1) from an 8 when every probe met ink.
struct number_probe_layout {
    number_probe probes[7];
    int hole_x, hole_y;
};
number_probe_layout number_search_layout(int width, int height);

// The step at which probe p first meets ink on crop, or -1 when it meets none.
int number_probe_hit(const cv::Mat& crop, const number_probe& p);
