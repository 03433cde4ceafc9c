#include "vision/labelling.h"

#include <cstdio>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// 2/3 and 3/2 of a digit 55 wide and 98 high at 50 cm. The factors are kept as
// single-precision constants and widened, so the bounds truncate exactly as the
// worked windows (30 cm: 61/137/108/245, 46 cm: 39/89/71/159).
constexpr float WIDTH_MIN_FACTOR = 36.666668f;
constexpr float WIDTH_MAX_FACTOR = 82.5f;
constexpr float HEIGHT_MIN_FACTOR = 65.333336f;
constexpr float HEIGHT_MAX_FACTOR = 147.0f;
constexpr double NOMINAL_DISTANCE_CM = 50.0;

const char* const ALL_BOXES_PATH = "./img/label-all.jpg";
const char* const ACCEPTED_BOXES_PATH = "./img/label.jpg";

void draw_box(cv::Mat& image, const cv::Rect& box) {
    // The far corner is one past the box, as the boxes have always been drawn.
    cv::rectangle(image, cv::Point(box.x, box.y), cv::Point(box.x + box.width, box.y + box.height),
                  cv::Scalar(255), 1, cv::LINE_8, 0);
}

bool inside(const size_window& window, const cv::Rect& box) {
    return window.width_min < box.width && box.width < window.width_max &&
           window.height_min < box.height && box.height < window.height_max;
}

}  // namespace

void labelling_save(const char* path, const cv::Mat& image) {
    try {
        (void)cv::imwrite(path, image);
    } catch (const cv::Exception&) {
    }
}

size_window labelling_window(int distance) {
    // 50 / 0 is infinite, and converting it to int is undefined, so 0 gets the
    // window that accepts nothing. A negative distance needs no such care: its
    // bounds come out negative with each minimum above its maximum, and those
    // accept nothing either.
    if (distance == 0) {
        return size_window{0, 0, 0, 0};
    }
    const double g = NOMINAL_DISTANCE_CM / distance;
    return size_window{static_cast<int>(static_cast<double>(WIDTH_MIN_FACTOR) * g),
                       static_cast<int>(static_cast<double>(WIDTH_MAX_FACTOR) * g),
                       static_cast<int>(static_cast<double>(HEIGHT_MIN_FACTOR) * g),
                       static_cast<int>(static_cast<double>(HEIGHT_MAX_FACTOR) * g)};
}

int labelling(cv::Mat* binary, candidate_rect table[CANDIDATE_TABLE_SIZE], int distance) {
    for (int i = 0; i < CANDIDATE_TABLE_SIZE; ++i) {
        table[i] = candidate_rect{-1, -1, -1, -1};
    }
    const size_window window = labelling_window(distance);
    std::printf("width_min=%d, width_max=%d, height_min=%d, height_max=%d\n", window.width_min,
                window.width_max, window.height_min, window.height_max);
    if (binary == nullptr || binary->empty() || binary->type() != CV_8UC1) {
        return -1;
    }

    // Taken before anything is drawn, so it shows the frame as it came in.
    cv::Mat all_boxes = binary->clone();
    std::vector<std::vector<cv::Point>> contours;
    // The contour tracer has always taken the frame's outermost pixel ring as
    // background and cleared it in the frame itself: a figure touching the
    // edge gets a box one pixel smaller, and "./img/label.jpg" shows the
    // cleared ring. The tracer of today leaves its input alone, so the ring is
    // cleared here.
    cv::rectangle(*binary, cv::Point(0, 0), cv::Point(binary->cols - 1, binary->rows - 1),
                  cv::Scalar(0), 1, cv::LINE_8, 0);
    cv::findContours(*binary, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);

    int count = 0;
    for (const std::vector<cv::Point>& contour : contours) {
        const cv::Rect box = cv::boundingRect(contour);
        draw_box(all_boxes, box);
        if (!inside(window, box) || count >= CANDIDATE_TABLE_SIZE) {
            continue;
        }
        draw_box(*binary, box);
        table[count] = candidate_rect{box.x, box.y, box.x + box.width, box.y + box.height};
        ++count;
    }

    labelling_save(ALL_BOXES_PATH, all_boxes);
    labelling_save(ACCEPTED_BOXES_PATH, *binary);
    return count;
}
