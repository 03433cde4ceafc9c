// Candidate labelling on arbitrary binary frames and board distances (zero and
// negative ones included). Checks what a caller relies on: the count, that every
// stored box lies inside the frame and inside the size window, and that the
// unused records are cleared.
//
// Input: [0] width, [1] height, [2] distance (signed, x2), [3] flags, then one
// bit per pixel (0 / 255). Flag bit 0 passes a three-channel frame instead.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>

#include "vision/labelling.h"

namespace {

constexpr int MAX_SIDE = 96;

bool is_empty(const candidate_rect& r) {
    return r.x1 == -1 && r.y1 == -1 && r.x2 == -1 && r.y2 == -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const int width = data[0] % (MAX_SIDE + 1);
    const int height = data[1] % (MAX_SIDE + 1);
    const int distance = static_cast<int8_t>(data[2]) * 2;
    const bool colour = data[3] & 1;
    data += 4;
    size -= 4;

    cv::Mat frame(height, width, CV_8UC1, cv::Scalar(0));
    size_t bit = 0;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column, ++bit) {
            const size_t byte = bit / 8;
            if (byte < size && (data[byte] >> (bit % 8) & 1)) {
                frame.at<uint8_t>(row, column) = 255;
            }
        }
    }
    if (colour) {
        cv::Mat three;
        cv::merge(std::vector<cv::Mat>{frame, frame, frame}, three);
        frame = three;
    }

    candidate_rect table[CANDIDATE_TABLE_SIZE];
    for (auto& r : table) {
        r = {7, 7, 7, 7};  // stale contents the call has to clear
    }
    const int count = labelling(&frame, table, distance);
    if (count < -1 || count > CANDIDATE_TABLE_SIZE) {
        std::abort();
    }
    if (count == -1) {
        return 0;
    }
    const size_window window = labelling_window(distance);
    for (int i = 0; i < CANDIDATE_TABLE_SIZE; ++i) {
        const candidate_rect& r = table[i];
        if (i >= count) {
            if (!is_empty(r)) {
                std::abort();
            }
            continue;
        }
        const int w = r.x2 - r.x1;
        const int h = r.y2 - r.y1;
        if (r.x1 < 0 || r.y1 < 0 || r.x2 > width || r.y2 > height || w <= 0 || h <= 0) {
            std::abort();  // a box the trimming step would cut outside the frame
        }
        if (w <= window.width_min || w >= window.width_max || h <= window.height_min ||
            h >= window.height_max) {
            std::abort();
        }
    }
    return 0;
}
