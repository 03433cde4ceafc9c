#include "vision/number_detect.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include "vision/binarization.h"
#include "vision/get_img.h"
#include "vision/jpeg_complete.h"
#include "vision/labelling.h"
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

// OpenCV's own worker threads (its TBB pool) would inherit the caller's
// SCHED_FIFO and run the image work beside the drive's workers, and they
// outlive the reading: seen under the i386 emulator, a pool worker was still
// inside libtbbmalloc while exit() ran the libraries' destructors, and the
// demonstration, having read its board, ended in SIGSEGV. A 320 x 240 frame
// needs no pool: the reading runs on the calling thread.
void read_on_this_thread() {
    static const bool once = (cv::setNumThreads(0), true);
    (void)once;
}

cv::Mat decode_file(const char* path, int flags) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return cv::Mat();
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (bytes.empty() || !jpeg_is_complete(bytes.data(), bytes.size())) {
        return cv::Mat();
    }
    try {
        return cv::imdecode(bytes, flags);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

// One rule for every image file a reading makes and then reads back, the
// frame and each crop alike: the file was removed before it was made, so a
// file that was not written, was cut short or does not decode all show here
// the same way, and the reading ends without touching the store.
cv::Mat load_image(const char* path, int flags, const char* made_by) {
    cv::Mat image = decode_file(path, flags);
    if (image.empty()) {
        std::printf("cannot load %s: the %s left no complete image\n", path, made_by);
    }
    return image;
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

namespace {

// Below this part of the frame's split, a crop's own threshold has found no
// ink and paper in it, only the noise of one grey.
constexpr double NOISE_SPLIT = 0.25;

// What the whole frame's threshold made of the picture: its binary image
// before labelling draws on it, and how far apart ink and paper lie in it.
struct frame_classes {
    cv::Mat binary;
    double split;
};

// A figure with counters is well under this part ink in its box (the glyph's
// 8 about 0.7); a bar is all ink but for the corners the smoothing rounds off.
constexpr double SOLID_INK = 0.9;

bool box_solid_ink(const cv::Mat& binary, const candidate_rect& box) {
    const cv::Rect region = cv::Rect(box.x1, box.y1, box.x2 - box.x1, box.y2 - box.y1) &
                            cv::Rect(0, 0, binary.cols, binary.rows);
    return !region.empty() && cv::countNonZero(binary(region)) >= SOLID_INK * region.area();
}

// One candidate, as number_detect_candidate says; its binary crop is left in
// crop_binary. A solid 1 whose box fits its bar exactly (the frame's threshold
// between the ink and a light room's walls) is ink throughout, and the crop's
// own threshold would split its JPEG noise into a random figure, any digit
// at all. When the frame found the box solid ink and the crop's split is no
// more than noise, the crop is taken as what it is: ink throughout.
bool classify_candidate(const cv::Mat& frame, const frame_classes* classes,
                        const candidate_rect& box, int* result, cv::Mat& crop_binary) {
    const int w = box.x2 - box.x1;
    const int h = box.y2 - box.y1;
    std::remove(TRIM_PATH);
    triming(frame, box.x1, box.y1, w, h);
    const cv::Mat crop = load_image(TRIM_PATH, cv::IMREAD_COLOR, "crop");
    if (crop.empty()) {
        return false;
    }
    // The crop gets its own threshold, fitted to its own light and ink.
    const double crop_split = binarization_split(crop, crop_binary);
    if (classes != nullptr && crop_split < NOISE_SPLIT * classes->split &&
        box_solid_ink(classes->binary, box)) {
        crop_binary.setTo(255);
    }
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

// The candidate whose box holds candidate i's box, or -1. The labelling lists
// hole borders beside outer ones, so a wide counter (the hole of a broad 0)
// can fit the size window: its crop shows the ring around it and reads as a
// digit that is not on the board. A box equal to an earlier one is held by it
// too, so one figure is never read twice.
int enclosing_candidate(const candidate_rect* table, int count, int i) {
    const candidate_rect& a = table[i];
    for (int j = 0; j < count; ++j) {
        const candidate_rect& b = table[j];
        if (j == i || a.x1 < b.x1 || a.y1 < b.y1 || a.x2 > b.x2 || a.y2 > b.y2) {
            continue;
        }
        const bool same = a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
        if (!same || j < i) {
            return j;
        }
    }
    return -1;
}

}  // namespace

bool number_detect_candidate(const cv::Mat& frame, const candidate_rect& box, int* result) {
    cv::Mat crop_binary;
    return classify_candidate(frame, nullptr, box, result, crop_binary);
}

int number_detect_frame(const cv::Mat& frame, int distance, int pause_us, number_reading* reading,
                        number_trace* trace) {
    number_reading local{0, 0, 0, 0};
    number_reading& r = reading != nullptr ? *reading : local;
    r = number_reading{0, 0, 0, 0};
    read_on_this_thread();
    if (frame.empty()) {
        std::printf("no frame to read\n");
        return -1;
    }
    // Read once, so a change between readings cannot split this one.
    const bool one_digit = dir_num.load(std::memory_order_relaxed) == 1;

    cv::Mat binary;
    frame_classes classes;
    classes.split = binarization_split(frame, binary);
    labelling_save(BINARY_PATH, binary);
    classes.binary = binary.clone();  // labelling draws on its own
    if (trace != nullptr) {
        trace->binary = classes.binary;
    }
    candidate_rect table[CANDIDATE_TABLE_SIZE];
    const int count = labelling(&binary, table, distance);
    if (trace != nullptr) {
        std::copy(table, table + CANDIDATE_TABLE_SIZE, trace->table);
    }
    std::printf("トリミングエリアとして抽出されたエリアの数 = %d\n", count);
    r.candidates = count;

    int first = -1;
    int first_x1 = 0;
    int second = -1;
    int second_x1 = 0;
    for (int i = 0; i < count; ++i) {
        std::printf("triming number = %d\n", i);
        int digit = -1;
        cv::Mat crop_binary;
        if (!classify_candidate(frame, &classes, table[i], &digit, crop_binary)) {
            return -1;
        }
        ++r.examined;
        const int holder = enclosing_candidate(table, count, i);
        if (holder >= 0 && digit != -1) {
            std::printf("candidate %d lies inside candidate %d (a digit's own hole): not kept\n", i,
                        holder);
            digit = -1;
        }
        if (trace != nullptr) {
            trace->crops.push_back(crop_binary);
            trace->results.push_back(digit);
        }
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
    read_on_this_thread();
    if (get_img(FRAME_PATH, FRAME_WIDTH, FRAME_HEIGHT) != 0) {
        return -1;
    }
    const cv::Mat frame = load_image(FRAME_PATH, cv::IMREAD_ANYCOLOR, "capture");
    if (frame.empty()) {
        return -1;
    }
    return number_detect_frame(frame, distance, NUMBER_CANDIDATE_PAUSE_US, nullptr);
}
