#include "vision/binarization.h"

#include <opencv2/imgproc.hpp>

void binarization(const cv::Mat& source, cv::Mat& destination) {
    (void)binarization_split(source, destination);
}

double binarization_split(const cv::Mat& source, cv::Mat& destination) {
    if (source.empty()) {
        destination.release();
        return 0.0;
    }
    cv::Mat grey;
    // A grey JPEG loads with one channel; converting it as colour would throw.
    if (source.channels() == 1) {
        grey = source;
    } else if (source.channels() == 4) {
        cv::cvtColor(source, grey, cv::COLOR_BGRA2GRAY);
    } else {
        cv::cvtColor(source, grey, cv::COLOR_BGR2GRAY);
    }
    cv::Mat smoothed;
    // Sigma 0: derived from the 5x5 size. Edge pixels are replicated so strokes
    // that touch the border of a tight crop keep their darkness there.
    cv::GaussianBlur(grey, smoothed, cv::Size(5, 5), 0, 0, cv::BORDER_REPLICATE);
    // Otsu picks the threshold per image; the 90 is ignored by design.
    cv::threshold(smoothed, destination, 90, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    const int ink = cv::countNonZero(destination);
    if (ink == 0 || ink == destination.rows * destination.cols) {
        return 0.0;
    }
    return cv::mean(smoothed, 255 - destination)[0] - cv::mean(smoothed, destination)[0];
}
