// Colour frame to binary image: dark strokes 255 (ink), light background 0.
#pragma once

#include <opencv2/core.hpp>

// Grey, 5x5 Gaussian, inverted binary threshold chosen by Otsu per image.
// destination becomes an 8-bit single-channel image of the source's size.
void binarization(const cv::Mat& source, cv::Mat& destination);
