// Frames of the simulated camera: geometry of the printed figures, the frame
// format, the degradations, and that the robot's own number reading reads
// them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "sim/camera/camera.h"
#include "tests/support/emulated_devices.h"
#include "vision/number_detect.h"

namespace {

const camera_options kClean{0.0, 0.0, 0.0, 1};

// A board straight ahead of a camera at the origin looking east.
camera_board board_ahead(double distance, const std::string& digits) {
    return camera_board{distance, 0.0, 180.0, 30.0, kCameraBoardHeight, digits};
}

// Boxes of the dark figures, left to right: the ink is far below the board,
// the walls and the floor, so a fixed threshold separates it.
std::vector<cv::Rect> ink_boxes(const cv::Mat& frame) {
    cv::Mat grey, ink;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::threshold(grey, ink, 80, 255, cv::THRESH_BINARY_INV);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(ink, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    std::vector<cv::Rect> boxes;
    for (const auto& c : contours)
        boxes.push_back(cv::boundingRect(c));
    std::sort(boxes.begin(), boxes.end(),
              [](const cv::Rect& a, const cv::Rect& b) { return a.x < b.x; });
    return boxes;
}

TEST(CameraFrame, IsColourOfTheRequestedSize) {
    const std::vector<camera_board> boards{board_ahead(50, "8")};
    const cv::Mat frame = camera_render(boards, 0, 0, 0, 320, 240, kClean);
    EXPECT_EQ(frame.type(), CV_8UC3);
    EXPECT_EQ(frame.cols, 320);
    EXPECT_EQ(frame.rows, 240);
    const cv::Mat odd = camera_render(boards, 0, 0, 0, 97, 61, kClean);
    EXPECT_EQ(odd.cols, 97);
    EXPECT_EQ(odd.rows, 61);
    EXPECT_TRUE(camera_render(boards, 0, 0, 0, 0, 240, kClean).empty());
    EXPECT_TRUE(camera_render(boards, 0, 0, 0, 320, -1, kClean).empty());
}

TEST(CameraGeometry, DigitIsNominalSizeAtFiftyCentimetresAndCentred) {
    for (const char* d : {"0", "2", "3", "4", "5", "6", "7", "8", "9"}) {
        const auto boxes =
            ink_boxes(camera_render({board_ahead(50, d)}, 0, 0, 0, 320, 240, kClean));
        ASSERT_EQ(boxes.size(), 1u) << "digit " << d << " must be one blob";
        EXPECT_NEAR(boxes[0].width, 55, 2) << d;
        EXPECT_NEAR(boxes[0].height, 98, 2) << d;
        EXPECT_NEAR(boxes[0].x + boxes[0].width / 2.0, 160, 1.5) << d;
        EXPECT_NEAR(boxes[0].y + boxes[0].height / 2.0, 120, 1.5) << d;
    }
}

TEST(CameraGeometry, SizeFallsWithDistanceAndGrowsWithFrameWidth) {
    for (double d : {30.0, 40.0, 70.0, 100.0}) {
        const auto boxes =
            ink_boxes(camera_render({board_ahead(d, "8")}, 0, 0, 0, 320, 240, kClean));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NEAR(boxes[0].height, 98 * 50 / d, 2) << d;
        EXPECT_NEAR(boxes[0].width, 55 * 50 / d, 2) << d;
    }
    const auto big = ink_boxes(camera_render({board_ahead(50, "8")}, 0, 0, 0, 640, 480, kClean));
    ASSERT_EQ(big.size(), 1u);
    EXPECT_NEAR(big[0].height, 196, 3);
}

TEST(CameraGeometry, OneIsASolidBarTheLabellingStillAccepts) {
    const auto boxes = ink_boxes(camera_render({board_ahead(50, "1")}, 0, 0, 0, 320, 240, kClean));
    ASSERT_EQ(boxes.size(), 1u);
    // Narrower than a digit, yet inside the window the labelling uses at 50 cm.
    EXPECT_LT(boxes[0].width, 55 - 5);
    EXPECT_GT(boxes[0].width, 36);
    EXPECT_NEAR(boxes[0].height, 98, 2);
}

TEST(CameraGeometry, TwoDigitsStandApartInReadingOrder) {
    // "18": the bar is narrower than the 8, so the order is visible in the boxes.
    const auto boxes = ink_boxes(camera_render({board_ahead(50, "18")}, 0, 0, 0, 320, 240, kClean));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_LT(boxes[0].width, boxes[1].width);
    EXPECT_GT(boxes[1].x - (boxes[0].x + boxes[0].width), 10);
    EXPECT_NEAR(boxes[1].width, 55, 2);
    // The pair is centred on the board.
    const double centre = (boxes[0].x + boxes[1].x + boxes[1].width) / 2.0;
    EXPECT_NEAR(centre, 160, 4);
}

TEST(CameraGeometry, PoseMovesAndTurnsTheView) {
    // A board north of the camera, seen by a camera that looks north.
    const camera_board north{0, 60, 270, 30, kCameraBoardHeight, "8"};
    auto boxes = ink_boxes(camera_render({north}, 0, 10, 90, 320, 240, kClean));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NEAR(boxes[0].height, 98, 2);
    // Turning the camera left (counter-clockwise) moves the board to the right.
    boxes = ink_boxes(camera_render({north}, 0, 10, 100, 320, 240, kClean));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_GT(boxes[0].x + boxes[0].width / 2.0, 160 + 20);
    // Seen at an angle the face narrows while the height stays.
    const camera_board slanted{0, 60, 270 + 40, 30, kCameraBoardHeight, "8"};
    boxes = ink_boxes(camera_render({slanted}, 0, 10, 90, 320, 240, kClean));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_LT(boxes[0].width, 55 * std::cos(30 * M_PI / 180));
}

TEST(CameraGeometry, BoardsBehindOrTurnedAwayShowNoFigures) {
    const cv::Mat blank = camera_render({}, 0, 0, 0, 320, 240, kClean);
    EXPECT_TRUE(ink_boxes(blank).empty());
    const cv::Mat behind = camera_render({board_ahead(-50, "8")}, 0, 0, 0, 320, 240, kClean);
    EXPECT_EQ(cv::norm(behind, blank, cv::NORM_INF), 0.0);
    // Its printed face looks east, away from a camera to its west.
    const camera_board away{50, 0, 0, 30, kCameraBoardHeight, "8"};
    EXPECT_TRUE(ink_boxes(camera_render({away}, 0, 0, 0, 320, 240, kClean)).empty());
    // Beside the camera and partly behind it: drawn without wrapping round.
    const camera_board beside{5, 20, 180, 60, kCameraBoardHeight, "8"};
    EXPECT_EQ(camera_render({beside}, 0, 0, 0, 320, 240, kClean).type(), CV_8UC3);
}

TEST(CameraOptions, NoiseIsFixedBySeedAndLightFallsOffAcrossTheFrame) {
    const std::vector<camera_board> boards{board_ahead(50, "25")};
    const camera_options a{1.0, 8.0, 0.3, 7};
    const camera_options b{1.0, 8.0, 0.3, 8};
    const cv::Mat f1 = camera_render(boards, 0, 0, 0, 320, 240, a);
    const cv::Mat f2 = camera_render(boards, 0, 0, 0, 320, 240, a);
    const cv::Mat f3 = camera_render(boards, 0, 0, 0, 320, 240, b);
    EXPECT_EQ(cv::norm(f1, f2, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(f1, f3, cv::NORM_L1), 0.0);

    const cv::Mat clean = camera_render(boards, 0, 0, 0, 320, 240, kClean);
    const cv::Mat dim = camera_render(boards, 0, 0, 0, 320, 240, camera_options{0, 0, 0.4, 1});
    // The left edge keeps its light, the right edge loses 40 %.
    const cv::Vec3b l0 = clean.at<cv::Vec3b>(10, 0), l1 = dim.at<cv::Vec3b>(10, 0);
    const cv::Vec3b r0 = clean.at<cv::Vec3b>(10, 319), r1 = dim.at<cv::Vec3b>(10, 319);
    EXPECT_EQ(l0, l1);
    EXPECT_NEAR(r1[0], r0[0] * 0.6, 1.5);
    // A blur softens the figure's edges: fewer pure-ink pixels remain.
    const cv::Mat blurred = camera_render(boards, 0, 0, 0, 320, 240, camera_options{2.0, 0, 0, 1});
    cv::Mat gc, gb;
    cv::cvtColor(clean, gc, cv::COLOR_BGR2GRAY);
    cv::cvtColor(blurred, gb, cv::COLOR_BGR2GRAY);
    EXPECT_LT(cv::countNonZero(gb < 40), cv::countNonZero(gc < 40));
}

// A private working directory with img/, as the reading expects.
struct reading_dir {
    reading_dir() { std::filesystem::create_directory(dir.path + "/img"); }
    emu_temp_dir dir;
    emu_scoped_cwd inside{dir.path};
};

// The frame goes through a JPEG file, as a capture does, then through the
// robot's own reading. Returns the digits read, left first.
std::vector<int> read_board(const cv::Mat& frame, int distance, int count) {
    cv::imwrite("img/input.jpg", frame);
    const cv::Mat loaded = cv::imread("img/input.jpg", cv::IMREAD_ANYCOLOR);
    number_set_nums(count);
    if (number_detect_frame(loaded, distance, 0, nullptr) != 0)
        return {};
    int out[2] = {-2, -2};
    number_get(out);
    return std::vector<int>(out, out + count);
}

TEST(CameraReading, EverySingleDigitReadsAtTheDistancesThePatrolUses) {
    reading_dir dir;
    for (double d : {40.0, 46.0, 50.0, 56.0, 70.0}) {
        for (int digit = 0; digit <= 9; ++digit) {
            const std::string s(1, static_cast<char>('0' + digit));
            const cv::Mat frame = camera_render({board_ahead(d, s)}, 0, 0, 0, 320, 240, kClean);
            EXPECT_EQ(read_board(frame, static_cast<int>(d), 1), std::vector<int>{digit})
                << "digit " << digit << " at " << d << " cm";
        }
    }
}

TEST(CameraReading, TwoDigitBoardsReadLeftToRightUnderBlurNoiseAndUnevenLight) {
    reading_dir dir;
    const camera_options rough{1.2, 6.0, 0.35, 3};
    for (int left = 0; left <= 9; ++left) {
        for (int right = 0; right <= 9; ++right) {
            const std::string s{static_cast<char>('0' + left), static_cast<char>('0' + right)};
            // Slightly off square and off centre, as after a wall alignment.
            const camera_board b{50, 2, 180 + 4, 30, kCameraBoardHeight, s};
            const cv::Mat frame = camera_render({b}, 0, 0, 1.5, 320, 240, rough);
            EXPECT_EQ(read_board(frame, 50, 2), (std::vector<int>{left, right})) << s;
        }
    }
}

}  // namespace
