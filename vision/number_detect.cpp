#include "vision/number_detect.h"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "vision/binarization.h"
#include "vision/get_img.h"
#include "vision/number_search.h"
#include "vision/triming.h"

namespace {

const char* const FRAME_PATH = "./img/input.jpg";
const char* const BINARY_PATH = "./img/binr.jpg";
constexpr int FRAME_WIDTH = 320;
constexpr int FRAME_HEIGHT = 240;
// A bar-like 8 (its counters closed up in a narrow box) is a 1.
constexpr double ASPECT_LIMIT = 0.3;

// Set between readings by the caller's thread; atomic so a caller that sets it
// from another thread is still well defined.
std::atomic<int> dir_num{2};
// Slot 0 the left digit (or the only one), slot 1 the right. Nothing has been
// read at start, so both say "not read" rather than pass for two zeros.
std::atomic<int> numbers[2] = {{-1}, {-1}};

// A JPEG that ends before its end-of-image marker decodes to a partly grey
// picture without any error, so a capture cut short is caught here. Zero bytes
// after the marker are padding some cameras add.
bool jpeg_is_complete(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        return true;  // not a JPEG; its own decoder judges it
    }
    size_t end = bytes.size();
    while (end > 2 && bytes[end - 1] == 0x00) {
        --end;
    }
    return end >= 4 && bytes[end - 2] == 0xFF && bytes[end - 1] == 0xD9;
}

cv::Mat load_image(const char* path, int flags) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return cv::Mat();
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (bytes.empty() || !jpeg_is_complete(bytes)) {
        return cv::Mat();
    }
    try {
        return cv::imdecode(bytes, flags);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

void save(const char* path, const cv::Mat& image) {
    // For inspection only; a failed save does not stop the reading.
    try {
        (void)cv::imwrite(path, image);
    } catch (const cv::Exception&) {
    }
}

void store(int left, int right) {
    numbers[0].store(left, std::memory_order_relaxed);
    numbers[1].store(right, std::memory_order_relaxed);
}

}  // namespace

void number_set_nums(int count) {
    dir_num.store(count, std::memory_order_relaxed);
}

void number_get(int* out) {
    if (out == nullptr) {
        return;
    }
    const int count = dir_num.load(std::memory_order_relaxed);
    // The store has two slots, whatever count was set.
    for (int i = 0; i < count && i < 2; ++i) {
        out[i] = numbers[i].load(std::memory_order_relaxed);
    }
}

bool number_detect_candidate(const cv::Mat& frame, const candidate_rect& box, int* result) {
    const int w = box.x2 - box.x1;
    const int h = box.y2 - box.y1;
    if (!triming_write(frame, box.x1, box.y1, w, h)) {
        std::printf("cannot write %s: is ./img/ there and writable?\n", TRIM_PATH);
        return false;
    }
    const cv::Mat crop = load_image(TRIM_PATH, cv::IMREAD_COLOR);
    if (crop.empty()) {
        std::printf("cannot load %s: missing or truncated\n", TRIM_PATH);
        return false;
    }
    // The crop gets its own threshold, fitted to its own light and ink.
    cv::Mat crop_binary;
    binarization(crop, crop_binary);
    int digit = -1;
    number_search(crop_binary, &digit);
    if (digit == 8) {
        const double ratio = static_cast<double>(w + 2) / static_cast<double>(h + 2);
        if (ratio < ASPECT_LIMIT) {
            std::printf(
                "ROI捜査では8と認識されましたが、縦横比が %5.2f であるため 1 と判定します。\n",
                ratio);
            digit = 1;
        }
    }
    std::printf("number=%d\n", digit);
    *result = digit;
    return true;
}

int number_detect_frame(const cv::Mat& frame, int distance, int pause_us, number_reading* reading) {
    number_reading local{0, 0, 0, 0};
    number_reading& r = reading != nullptr ? *reading : local;
    r = number_reading{0, 0, 0, 0};
    if (frame.empty()) {
        std::printf("no frame to read\n");
        return -1;
    }
    // Read once, so a change between readings cannot split this one.
    const bool one_digit = dir_num.load(std::memory_order_relaxed) == 1;

    cv::Mat binary;
    binarization(frame, binary);
    save(BINARY_PATH, binary);
    candidate_rect table[CANDIDATE_TABLE_SIZE];
    const int count = labelling(&binary, table, distance);
    std::printf("トリミングエリアとして抽出されたエリアの数 = %d\n", count);
    r.candidates = count;

    int first = -1;
    int first_x1 = 0;
    int second = -1;
    int second_x1 = 0;
    for (int i = 0; i < count; ++i) {
        std::printf("triming number = %d\n", i);
        int digit = -1;
        if (!number_detect_candidate(frame, table[i], &digit)) {
            return -1;
        }
        ++r.examined;
        if (digit >= 0 && digit <= 9) {
            if (first != -1) {
                second = digit;
                second_x1 = table[i].x1;
                r.read = 2;
                break;
            }
            first = digit;
            first_x1 = table[i].x1;
            r.read = 1;
            if (one_digit) {
                break;
            }
        }
        if (pause_us > 0) {
            usleep(static_cast<useconds_t>(pause_us));
        }
        ++r.pauses;
    }

    if (one_digit) {
        numbers[0].store(first, std::memory_order_relaxed);
        std::printf("left=%d\n", first);
    } else {
        if (r.read == 2) {
            // The candidate further left is the left digit; on a tie the later one.
            if (second_x1 > first_x1) {
                store(first, second);
            } else {
                store(second, first);
            }
        } else {
            // One digit alone cannot be placed left or right, and keeping the
            // previous reading would pass it off as this one.
            store(-1, -1);
        }
        std::printf("left=%d,\t right=%d\n", numbers[0].load(std::memory_order_relaxed),
                    numbers[1].load(std::memory_order_relaxed));
    }
    return 0;
}

int number_detect(int distance) {
    // A capture that reports success without writing must not leave the
    // previous frame to be read as this one.
    std::remove(FRAME_PATH);
    if (get_img(FRAME_PATH, FRAME_WIDTH, FRAME_HEIGHT) != 0) {
        return -1;
    }
    const cv::Mat frame = load_image(FRAME_PATH, cv::IMREAD_ANYCOLOR);
    if (frame.empty()) {
        std::printf("cannot load %s: the capture left no complete image\n", FRAME_PATH);
        return -1;
    }
    return number_detect_frame(frame, distance, NUMBER_CANDIDATE_PAUSE_US, nullptr);
}
