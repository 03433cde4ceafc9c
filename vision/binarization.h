// Colour frame to binary image: dark strokes 255 (ink), light background 0.
#pragma once

#include <opencv2/core.hpp>

// Grey, 5x5 Gaussian, inverted binary threshold chosen by Otsu per image.
// destination becomes an 8-bit single-channel image of the source's size.
void binarization(const cv::Mat& source, cv::Mat& destination);

// As binarization, and how far apart the two sides of the threshold lie: the
// mean grey of the smoothed background minus that of the smoothed ink, 0 when
// either side is empty. A threshold that split nothing but noise leaves the
// two means a few grey levels apart; one between ink and paper, far apart.
double binarization_split(const cv::Mat& source, cv::Mat& destination);
