// The capture's completeness check against the decoder: a frame the decoder
// reads as a whole picture passes, a frame cut short anywhere is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "vision/jpeg_complete.h"

namespace {

using bytes = std::vector<uint8_t>;

// A picture with enough detail that its coded data holds stuffed 0xFF bytes.
bytes encoded(std::vector<int> params = {}) {
    cv::Mat image(48, 64, CV_8UC3);
    cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(255));
    bytes out;
    EXPECT_TRUE(cv::imencode(".jpg", image, out, params));
    return out;
}

std::size_t count_markers(const bytes& b, uint8_t marker) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        count += (b[i] == 0xFF && b[i + 1] == marker) ? 1 : 0;
    }
    return count;
}

// Where the segment after the first one (APP0) begins.
std::size_t after_app0(const bytes& b) {
    EXPECT_EQ(b[2], 0xFF);
    EXPECT_EQ(b[3], 0xE0);
    return 4 + (static_cast<std::size_t>(b[4]) << 8 | b[5]);
}

bytes inserted(bytes b, std::size_t at, const bytes& what) {
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), what.begin(), what.end());
    return b;
}

bytes cut(const bytes& b, std::size_t keep) {
    return bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(keep));
}

TEST(JpegComplete, FramesTheDecoderReadsWholePassAndFramesCutShortDoNot) {
    const bytes plain = encoded();
    const bytes restarts = encoded({cv::IMWRITE_JPEG_RST_INTERVAL, 1});
    const bytes progressive = encoded({cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    // What the table rests on: stuffing in the coded data, restart markers
    // in one frame, several scans in the other.
    ASSERT_GT(count_markers(plain, 0x00), 0u);
    ASSERT_GT(count_markers(restarts, 0xD0), 0u);
    ASSERT_GT(count_markers(progressive, 0xDA), 1u);
    const std::size_t last_scan = [&] {
        std::size_t at = 0;
        for (std::size_t i = 0; i + 1 < progressive.size(); ++i) {
            at = (progressive[i] == 0xFF && progressive[i + 1] == 0xDA) ? i : at;
        }
        return at;
    }();

    struct {
        const char* what;
        bytes frame;
        bool complete;
    } cases[] = {
        {"whole frame", plain, true},
        {"stale bytes after the end", inserted(plain, plain.size(), cut(plain, plain.size() / 2)),
         true},
        {"restart markers", restarts, true},
        {"progressive", progressive, true},
        {"two stray bytes after APP0", inserted(plain, after_app0(plain), {0x12, 0x34}), true},
        {"a stray 0xFF 0x00 after APP0", inserted(plain, after_app0(plain), {0xFF, 0x00}), true},
        {"fill bytes before a marker", inserted(plain, after_app0(plain), {0xFF, 0xFF}), true},
        {"the start marker alone", cut(plain, 2), false},
        {"inside APP0", cut(plain, 9), false},
        {"a segment's length only", cut(plain, after_app0(plain) + 4), false},
        {"half way", cut(plain, plain.size() / 2), false},
        {"without the end marker", cut(plain, plain.size() - 2), false},
        {"half of the end marker", cut(plain, plain.size() - 1), false},
        {"restart frame half way", cut(restarts, restarts.size() / 2), false},
        {"progressive before its last scan", cut(progressive, last_scan), false},
        {"progressive inside its last scan", cut(progressive, progressive.size() - 8), false},
        {"stray bytes, then cut short", cut(inserted(plain, after_app0(plain), {1, 2}), 30), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(jpeg_is_complete(c.frame.data(), c.frame.size()), c.complete) << c.what;
        if (c.complete) {
            // The decoder agrees: each of these is a whole picture to it.
            const cv::Mat image = cv::imdecode(c.frame, cv::IMREAD_COLOR);
            EXPECT_EQ(image.size(), cv::Size(64, 48)) << c.what;
        }
    }
    // No JPEG at all is left to its own decoder.
    const std::string text = "not an image\n";
    EXPECT_TRUE(jpeg_is_complete(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace
