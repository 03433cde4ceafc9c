// Writes one region of an image to the crop file "./img/trim.jpg".
#pragma once

#include <opencv2/core.hpp>

// Region with top-left corner (x, y) and size width x height, in pixels of image.
void triming(const cv::Mat& image, int x, int y, int width, int height);
