#include "vision/triming.h"

#include <opencv2/imgcodecs.hpp>

bool triming_write(const cv::Mat& image, int x, int y, int width, int height) {
    const cv::Rect region = cv::Rect(x, y, width, height) & cv::Rect(0, 0, image.cols, image.rows);
    if (region.empty()) {
        return false;
    }
    try {
        return cv::imwrite(TRIM_PATH, image(region));
    } catch (const cv::Exception&) {
        return false;
    }
}

void triming(const cv::Mat& image, int x, int y, int width, int height) {
    // Callers that do not care whether the file was written use this form.
    (void)triming_write(image, x, y, width, height);
}
