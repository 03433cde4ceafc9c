// Writes one region of an image to the crop file "./img/trim.jpg".
#pragma once

#include <opencv2/core.hpp>

// Path of the crop file.
constexpr const char* TRIM_PATH = "./img/trim.jpg";

// Region with top-left corner (x, y) and size width x height, in pixels of image.
// The region is clipped to the image; an empty one writes nothing.
void triming(const cv::Mat& image, int x, int y, int width, int height);

// As triming; true when the crop file was written.
bool triming_write(const cv::Mat& image, int x, int y, int width, int height);
