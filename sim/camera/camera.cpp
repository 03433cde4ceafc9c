#include "sim/camera/camera.h"

#include <cmath>

double camera_focal(int width) {
    return kCameraFocal320 * width / 320.0;
}

cv::Mat camera_render(const std::vector<camera_board>& boards, double cam_x, double cam_y,
                      double cam_heading_deg, int width, int height, const camera_options& opt) {
    (void)boards;
    (void)cam_x;
    (void)cam_y;
    (void)cam_heading_deg;
    (void)opt;
    if (width < 1 || height < 1)
        return cv::Mat();
    return cv::Mat(height, width, CV_8UC3, cv::Scalar(128, 128, 128));
}
