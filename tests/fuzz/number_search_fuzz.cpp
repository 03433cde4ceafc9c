// The seven-probe classifier on arbitrary crops: any size (empty and one-pixel
// ones included), any pixel values, and crops that are regions of a larger
// frame, as the reading driver passes them.
//
// Input: [0] width, [1] height, [2] flags, [3] offset of the crop in its frame,
// then pixels: one bit each (0 / 255) or, with flag bit 0, one raw byte each.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <opencv2/core.hpp>

#include "vision/number_search.h"

namespace {

constexpr int MAX_SIDE = 80;

uint8_t pixel(const uint8_t* data, size_t size, size_t index, bool raw) {
    if (raw) {
        return index < size ? data[index] : 0;
    }
    const size_t byte = index / 8;
    return byte < size && (data[byte] >> (index % 8) & 1) ? 255 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const int width = data[0] % (MAX_SIDE + 1);  // 0 gives an empty crop
    const int height = data[1] % (MAX_SIDE + 1);
    const bool raw = data[2] & 1;
    const int margin = data[3] % 8;
    data += 4;
    size -= 4;

    cv::Mat frame(height + 2 * margin, width + 2 * margin, CV_8UC1, cv::Scalar(0));
    cv::Mat crop = frame(cv::Rect(margin, margin, width, height));
    size_t index = 0;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            crop.at<uint8_t>(row, column) = pixel(data, size, index++, raw);
        }
    }
    const cv::Mat before = crop.clone();

    int result = 1234;
    number_search(crop, &result);
    if (result < -1 || result > 9) {
        std::abort();  // neither a digit nor the "no digit" mark
    }
    // The crop is the caller's: reading it must not change it, and the same
    // crop must always give the same answer.
    if (!crop.empty() && cv::countNonZero(before != crop) != 0) {
        std::abort();
    }
    int again = 1234;
    number_search(crop, &again);
    if (again != result) {
        std::abort();
    }
    number_search(crop, nullptr);  // a missing result slot is ignored, not written
    return 0;
}
