// The reading driver: candidate order, pauses, one- and two-digit modes, the
// aspect rule, failed captures and unloadable files, and the store.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "vision/number_detect.h"
#include "vision_fixtures.h"

namespace {

const char* const WINDOW_50 = "width_min=36, width_max=82, height_min=65, height_max=147\n";
const char* const COUNT_LINE = "トリミングエリアとして抽出されたエリアの数 = ";

// A board seen at 50 cm: digits 55 x 98 with 12-pixel strokes, side by side at
// the same height. Side-by-side figures come out of the contour list right first.
cv::Mat board(const std::vector<std::pair<int, int>>& digit_at_x) {
    cv::Mat frame = white_frame();
    for (const auto& [digit, x] : digit_at_x) {
        draw_digit(frame, digit, cv::Rect(x, 60, 55, 98), 12);
    }
    return frame;
}

struct detected {
    int result;
    std::string output;
};

detected detect(int distance) {
    testing::internal::CaptureStdout();
    const int result = number_detect(distance);
    return {result, testing::internal::GetCapturedStdout()};
}

detected detect_frame(const cv::Mat& frame, int distance, int pause_us, number_reading* reading) {
    testing::internal::CaptureStdout();
    const int result = number_detect_frame(frame, distance, pause_us, reading);
    return {result, testing::internal::GetCapturedStdout()};
}

std::pair<int, int> stored() {
    int out[2] = {-7, -7};
    number_set_nums(2);
    number_get(out);
    return {out[0], out[1]};
}

// Leaves the store holding 3 and 7 from a good reading.
void store_three_seven(const vision_workdir& dir) {
    number_set_nums(2);
    ASSERT_EQ(0, detect_frame(board({{3, 60}, {7, 180}}), 50, 0, nullptr).result);
    ASSERT_EQ(std::make_pair(3, 7), stored());
    (void)dir;
}

}  // namespace

TEST(NumberDetect, TwoDigitsOrderedByLeftColumn) {
    vision_workdir dir;
    dir.fake_capture(dir.save_jpeg("board.jpg", board({{3, 60}, {7, 180}})), 0);
    number_set_nums(2);
    const auto start = std::chrono::steady_clock::now();
    const detected got = detect(50);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(0, got.result);
    EXPECT_EQ(std::string(WINDOW_50) + COUNT_LINE +
                  "2\ntriming number = 0\nnumber=7\ntriming number = 1\nnumber=3\n"
                  "left=3,\t right=7\n",
              got.output);
    EXPECT_EQ(std::make_pair(3, 7), stored());
    // One pause, after the first digit; the completing digit has none.
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    for (const char* file :
         {"img/input.jpg", "img/binr.jpg", "img/trim.jpg", "img/label.jpg", "img/label-all.jpg"}) {
        EXPECT_TRUE(dir.exists(file)) << file;
    }
    EXPECT_EQ("-o./img/input.jpg -x320 -y240\n", dir.read("capture_args.txt"));

    // Whichever digit the table gives first, x1 alone places them; on equal
    // x1 the digit found second goes left. Digits as {digit, x, y, width}: a
    // figure with its top higher up comes later in the contour list. A 0 78
    // wide has a hole 54 x 74 that fits the window and reads as 0 on its own;
    // only the outer figure may give the 0.
    struct order_row {
        std::vector<std::tuple<int, int, int, int>> digits;
        const char* found;
        const char* stored_line;
        std::pair<int, int> stored;
    };
    const std::vector<order_row> rows{
        {{{3, 60, 60, 55}, {7, 180, 40, 55}},
         "2\ntriming number = 0\nnumber=3\ntriming number = 1\nnumber=7\n",
         "left=3,\t right=7\n",
         {3, 7}},
        {{{3, 100, 10, 55}, {7, 100, 120, 55}},
         "2\ntriming number = 0\nnumber=7\ntriming number = 1\nnumber=3\n",
         "left=3,\t right=7\n",
         {3, 7}},
        {{{7, 20, 60, 55}, {0, 130, 60, 78}},
         "3\ntriming number = 0\nnumber=0\n"
         "candidate 0 lies inside candidate 1 (a digit's own hole): not kept\n"
         "triming number = 1\nnumber=0\ntriming number = 2\nnumber=7\n",
         "left=7,\t right=0\n",
         {7, 0}},
    };
    for (const order_row& row : rows) {
        cv::Mat frame = white_frame();
        for (const auto& [digit, x, y, width] : row.digits) {
            draw_digit(frame, digit, cv::Rect(x, y, width, 98), 12);
        }
        const detected placed = detect_frame(frame, 50, 0, nullptr);
        EXPECT_EQ(std::string(WINDOW_50) + COUNT_LINE + row.found + row.stored_line, placed.output);
        EXPECT_EQ(row.stored, stored());
    }
}

TEST(NumberDetect, FrameWithStaleBytesAfterItsEndIsRead) {
    vision_workdir dir;
    store_three_seven(dir);
    std::ifstream in(dir.save_jpeg("board.jpg", board({{5, 60}, {2, 180}})), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The buffer's stale rest: the front half of an earlier frame.
    std::ofstream(dir.path + "/padded.jpg", std::ios::binary)
        << bytes << bytes.substr(0, bytes.size() / 2);
    dir.fake_capture(dir.path + "/padded.jpg", 0);
    const detected got = detect(50);
    EXPECT_EQ(0, got.result);
    EXPECT_NE(std::string::npos, got.output.find("left=5,\t right=2\n")) << got.output;
}

TEST(NumberDetect, RejectedCandidateBetweenTwoDigitsTakesItsPause) {
    vision_workdir dir;
    cv::Mat frame = board({{3, 20}, {7, 240}});
    draw_segments(frame, "abc", cv::Rect(130, 60, 55, 98), 12);  // a 7 without its stroke
    number_set_nums(2);
    number_reading reading{};
    const auto start = std::chrono::steady_clock::now();
    const detected got = detect_frame(frame, 50, NUMBER_CANDIDATE_PAUSE_US, &reading);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(0, got.result);
    EXPECT_EQ(std::string(WINDOW_50) + COUNT_LINE +
                  "3\ntriming number = 0\nnumber=7\ntriming number = 1\nnumber=-1\n"
                  "triming number = 2\nnumber=3\nleft=3,\t right=7\n",
              got.output);
    EXPECT_EQ(3, reading.examined);
    EXPECT_EQ(2, reading.pauses);
    EXPECT_EQ(2, reading.read);
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    EXPECT_EQ(std::make_pair(3, 7), stored());
}

TEST(NumberDetect, ThirdDigitIsNeverExamined) {
    vision_workdir dir;
    number_set_nums(2);
    number_reading reading{};
    const detected got = detect_frame(board({{2, 10}, {5, 130}, {9, 250}}), 50, 0, &reading);
    EXPECT_EQ(3, reading.candidates);
    EXPECT_EQ(2, reading.examined);
    EXPECT_EQ(1, reading.pauses);
    EXPECT_EQ(std::make_pair(5, 9), stored());
    EXPECT_EQ(std::string::npos, got.output.find("triming number = 2"));
}

TEST(NumberDetect, OneDigitModeExaminesOnlyCandidateZero) {
    vision_workdir dir;
    store_three_seven(dir);
    number_set_nums(1);
    number_reading reading{};
    const detected got = detect_frame(board({{2, 10}, {5, 130}, {9, 250}}), 50, 0, &reading);
    EXPECT_EQ(std::string(WINDOW_50) + COUNT_LINE + "3\ntriming number = 0\nnumber=9\nleft=9\n",
              got.output);
    EXPECT_EQ(1, reading.examined);
    EXPECT_EQ(0, reading.pauses);
    int out[2] = {-7, -7};
    number_get(out);
    EXPECT_EQ(9, out[0]);
    EXPECT_EQ(-7, out[1]) << "one-digit mode copies only slot 0";
    EXPECT_EQ(std::make_pair(9, 7), stored()) << "slot 1 keeps the earlier digit";

    // A frame without a digit stores -1.
    number_set_nums(1);
    EXPECT_EQ(0, detect_frame(white_frame(), 50, 0, nullptr).result);
    number_get(out);
    EXPECT_EQ(-1, out[0]);
}

TEST(NumberDetect, TwoDigitReadingWithFewerDigitsStoresNotRead) {
    vision_workdir dir;
    store_three_seven(dir);
    const detected one = detect_frame(board({{4, 130}}), 50, 0, nullptr);
    EXPECT_EQ(0, one.result);
    EXPECT_NE(std::string::npos, one.output.find("number=4\nleft=-1,\t right=-1\n")) << one.output;
    EXPECT_EQ(std::make_pair(-1, -1), stored());

    store_three_seven(dir);
    const detected none = detect_frame(white_frame(), 50, 0, nullptr);
    EXPECT_EQ(std::string(WINDOW_50) + COUNT_LINE + "0\nleft=-1,\t right=-1\n", none.output);
    EXPECT_EQ(std::make_pair(-1, -1), stored());
}

TEST(NumberDetect, AspectRuleTurnsANarrowEightIntoOne) {
    vision_workdir dir;
    cv::Mat frame = white_frame();
    draw_digit(frame, 8, cv::Rect(40, 60, 20, 80), 4);
    draw_digit(frame, 8, cv::Rect(120, 60, 28, 98), 6);
    draw_digit(frame, 8, cv::Rect(200, 60, 40, 98), 8);
    int result = -7;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(number_detect_candidate(frame, {40, 60, 60, 140}, &result));
    EXPECT_EQ(
        "ROI捜査では8と認識されましたが、縦横比が  0.27 であるため 1 と判定します。\nnumber=1\n",
        testing::internal::GetCapturedStdout());
    EXPECT_EQ(1, result);
    for (const candidate_rect& box : {candidate_rect{120, 60, 148, 158}, {200, 60, 240, 158}}) {
        testing::internal::CaptureStdout();
        ASSERT_TRUE(number_detect_candidate(frame, box, &result));
        EXPECT_EQ("number=8\n", testing::internal::GetCapturedStdout());
        EXPECT_EQ(8, result);
    }
}

TEST(NumberDetect, AspectRuleAppliesToTheLeftDigitOfTwo) {
    vision_workdir dir;
    cv::Mat frame = board({{7, 200}});
    draw_digit(frame, 8, cv::Rect(60, 50, 38, 140), 8);  // 40 / 142 = 0.28
    number_set_nums(2);
    const detected got = detect_frame(frame, 50, 0, nullptr);
    EXPECT_NE(std::string::npos, got.output.find("縦横比が  0.28 であるため")) << got.output;
    EXPECT_EQ(std::make_pair(1, 7), stored());
}

TEST(NumberDetectFailures, FailedCaptureLeavesTheStore) {
    vision_workdir dir;
    store_three_seven(dir);
    const std::string binary_before = dir.read("img/binr.jpg");
    const std::string crop_before = dir.read("img/trim.jpg");
    dir.fake_capture(dir.save_jpeg("board.jpg", board({{5, 60}, {2, 180}})), 1);
    const detected got = detect(50);
    EXPECT_EQ(-1, got.result);
    EXPECT_EQ("Capture fail!!\n", got.output);
    EXPECT_EQ(std::make_pair(3, 7), stored());
    EXPECT_EQ(binary_before, dir.read("img/binr.jpg"));
    EXPECT_EQ(crop_before, dir.read("img/trim.jpg"));
}

TEST(NumberDetectFailures, UnloadableFramesLeaveTheStore) {
    vision_workdir dir;
    store_three_seven(dir);
    const std::string good = dir.save_jpeg("board.jpg", board({{5, 60}, {2, 180}}));

    // Success reported, nothing written, and an earlier frame lying there.
    std::filesystem::copy_file(good, dir.path + "/img/input.jpg");
    dir.fake_capture("", 0);
    detected got = detect(50);
    EXPECT_EQ(-1, got.result);
    EXPECT_NE(std::string::npos, got.output.find("cannot load ./img/input.jpg")) << got.output;
    EXPECT_EQ(std::make_pair(3, 7), stored());

    // A frame cut off half way.
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(dir.path + "/half.jpg", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    dir.fake_capture(dir.path + "/half.jpg", 0);
    got = detect(50);
    EXPECT_EQ(-1, got.result);
    EXPECT_NE(std::string::npos, got.output.find("cannot load ./img/input.jpg")) << got.output;
    EXPECT_EQ(std::make_pair(3, 7), stored());

    // Not a picture at all.
    std::ofstream(dir.path + "/junk.jpg") << "not an image\n";
    dir.fake_capture(dir.path + "/junk.jpg", 0);
    EXPECT_EQ(-1, detect(50).result);
    EXPECT_EQ(std::make_pair(3, 7), stored());
}

TEST(NumberDetectFailures, MissingImageFolder) {
    vision_workdir dir;
    store_three_seven(dir);
    std::filesystem::remove_all(dir.path + "/img");
    dir.fake_capture(dir.save_jpeg("board.jpg", board({{5, 60}, {2, 180}})), 0);
    const detected got = detect(50);
    EXPECT_EQ(-1, got.result);
    EXPECT_EQ(std::make_pair(3, 7), stored());

    // The frame already in memory, but no folder for the crop file.
    const detected frame = detect_frame(board({{5, 60}, {2, 180}}), 50, 0, nullptr);
    EXPECT_EQ(-1, frame.result);
    EXPECT_NE(std::string::npos,
              frame.output.find("cannot load ./img/trim.jpg: the crop left no complete image\n"))
        << frame.output;
    EXPECT_EQ(std::make_pair(3, 7), stored());
}

TEST(NumberStore, GetCopiesAtMostTwo) {
    vision_workdir dir;
    store_three_seven(dir);
    int out[4] = {-7, -7, -7, -7};
    number_set_nums(5);
    number_get(out);
    EXPECT_EQ(3, out[0]);
    EXPECT_EQ(7, out[1]);
    EXPECT_EQ(-7, out[2]);
    number_set_nums(0);
    int none[2] = {-7, -7};
    number_get(none);
    EXPECT_EQ(-7, none[0]);
    number_get(nullptr);
}
