// Seven-probe classifier for one binary crop of a seven-segment digit.
#pragma once

#include <opencv2/core.hpp>

// Writes the digit 0..9 shown by crop (8-bit, 1 channel, 255 = ink) into
// *result, or -1 when the probe pattern is not a digit.
void number_search(const cv::Mat& crop, int* result);
