// Capture command, binarization and crop file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "vision/binarization.h"
#include "vision/get_img.h"
#include "vision/triming.h"
#include "vision_fixtures.h"

namespace {

int capture(const char* path, int width, int height, std::string* output) {
    testing::internal::CaptureStdout();
    const int result = get_img(path, width, height);
    *output = testing::internal::GetCapturedStdout();
    return result;
}

}  // namespace

TEST(GetImg, RunsTheCaptureCommandWithPathAndSize) {
    vision_workdir dir;
    const std::string source = dir.save_jpeg("board.jpg", white_frame());
    dir.fake_capture(source, 0);
    std::string output;
    EXPECT_EQ(0, capture("./img/input.jpg", 320, 240, &output));
    EXPECT_EQ("", output);
    EXPECT_EQ("-o./img/input.jpg -x320 -y240\n", dir.read("capture_args.txt"));
    EXPECT_TRUE(dir.exists("img/input.jpg"));
}

TEST(GetImg, FailingCommandReportsCaptureFail) {
    vision_workdir dir;
    for (int status : {1, 3}) {
        dir.fake_capture("", status);
        std::string output;
        EXPECT_EQ(-1, capture("./img/input.jpg", 320, 240, &output));
        EXPECT_EQ("Capture fail!!\n", output);
    }
}

// Debian's own uvccapture parses the command line; with no camera it cannot
// open the device, and only then does the reading fail (an option it did not
// know would have printed its usage instead).
TEST(GetImg, RealUvccaptureAcceptsTheCommandLine) {
    if (access("/usr/bin/uvccapture", X_OK) != 0) {
        GTEST_SKIP() << "Debian's uvccapture is not installed";
    }
    if (access("/dev/video0", F_OK) == 0) {
        GTEST_SKIP() << "a camera is attached (/dev/video0): the capture would succeed";
    }
    vision_workdir dir;
    setenv("PATH", "/usr/bin:/bin", 1);  // the real tool, not the stand-in
    testing::internal::CaptureStderr();
    std::string output;
    EXPECT_EQ(-1, capture("./img/input.jpg", 320, 240, &output));
    const std::string complaint = testing::internal::GetCapturedStderr();
    EXPECT_EQ("Capture fail!!\n", output);
    EXPECT_NE(std::string::npos, complaint.find("ERROR opening V4L interface")) << complaint;
    EXPECT_EQ(std::string::npos, complaint.find("Usage")) << complaint;
}

TEST(GetImg, OverlongOrUnsafeCommandIsNotRun) {
    vision_workdir dir;
    dir.fake_capture("", 0);
    // 99 characters fit ("uvccapture -o" 13, " -x320 -y240\n" 13): a 73-character path.
    const std::string fits = "./img/" + std::string(63, 'a') + ".jpg";
    std::string output;
    EXPECT_EQ(0, capture(fits.c_str(), 320, 240, &output));
    EXPECT_TRUE(dir.exists("capture_args.txt"));

    const std::string too_long = "./img/" + std::string(64, 'a') + ".jpg";
    std::remove((dir.path + "/capture_args.txt").c_str());
    EXPECT_EQ(-1, capture(too_long.c_str(), 320, 240, &output));
    EXPECT_NE(std::string::npos, output.find("longer than 99")) << output;
    EXPECT_NE(std::string::npos, output.find("Capture fail!!\n")) << output;
    EXPECT_FALSE(dir.exists("capture_args.txt"));

    for (const char* unsafe : {"./img/a;touch hacked", "./img/$(touch hacked)", "", "a b"}) {
        EXPECT_EQ(-1, capture(unsafe, 320, 240, &output)) << unsafe;
        EXPECT_NE(std::string::npos, output.find("Capture fail!!\n")) << unsafe;
    }
    EXPECT_EQ(-1, capture(nullptr, 320, 240, &output));
    EXPECT_FALSE(dir.exists("capture_args.txt"));
    EXPECT_FALSE(dir.exists("hacked"));
}

TEST(Binarization, DarkStrokesBecomeInkOnlyZeroAndFullValues) {
    cv::Mat frame = white_frame();
    draw_digit(frame, 8, cv::Rect(100, 60, 55, 98), 12);
    const cv::Mat before = frame.clone();
    cv::Mat binary;
    binarization(frame, binary);
    ASSERT_EQ(CV_8UC1, binary.type());
    EXPECT_EQ(frame.size(), binary.size());
    EXPECT_EQ(binary.total(),
              static_cast<size_t>(cv::countNonZero(binary == 0) + cv::countNonZero(binary == 255)));
    EXPECT_EQ(255, binary.at<uint8_t>(65, 127)) << "top bar";
    EXPECT_EQ(0, binary.at<uint8_t>(85, 127)) << "upper counter";
    EXPECT_EQ(0, binary.at<uint8_t>(20, 20)) << "board";
    EXPECT_EQ(0, cv::countNonZero(cv::Mat(before != frame).reshape(1))) << "source unchanged";

    // A light figure on a dark ground comes out with the ground as ink.
    cv::Mat negative = 255 - before;
    binarization(negative, binary);
    EXPECT_EQ(0, binary.at<uint8_t>(65, 127));
    EXPECT_EQ(255, binary.at<uint8_t>(20, 20));
}

TEST(Binarization, GreyAndEmptySources) {
    cv::Mat grey(240, 320, CV_8UC1, cv::Scalar(230));
    cv::rectangle(grey, cv::Rect(100, 60, 40, 98), cv::Scalar(30), cv::FILLED);
    cv::Mat binary;
    binarization(grey, binary);
    EXPECT_EQ(255, binary.at<uint8_t>(100, 120));
    EXPECT_EQ(0, binary.at<uint8_t>(10, 10));

    binarization(cv::Mat(), binary);
    EXPECT_TRUE(binary.empty());
}

TEST(Triming, WritesTheRegionOnly) {
    vision_workdir dir;
    cv::Mat frame = white_frame();
    cv::rectangle(frame, cv::Rect(100, 60, 20, 30), cv::Scalar(0, 0, 255), cv::FILLED);
    triming(frame, 100, 60, 40, 30);
    const cv::Mat crop = cv::imread("./img/trim.jpg", cv::IMREAD_COLOR);
    ASSERT_EQ(cv::Size(40, 30), crop.size());
    const cv::Vec3b red = crop.at<cv::Vec3b>(15, 5);
    const cv::Vec3b white = crop.at<cv::Vec3b>(15, 35);
    EXPECT_GT(red[2], 200);
    EXPECT_LT(red[0], 60);
    EXPECT_GT(white[0], 200);

    // Clipped at the frame's edge, like a region of interest.
    EXPECT_TRUE(triming_write(frame, 300, 220, 50, 50));
    EXPECT_EQ(cv::Size(20, 20), cv::imread("./img/trim.jpg").size());
    EXPECT_FALSE(triming_write(frame, 400, 10, 20, 20)) << "outside the frame";
    EXPECT_FALSE(triming_write(frame, 10, 10, 0, 20)) << "no width";
}

TEST(Triming, MissingImageFolderIsReported) {
    vision_workdir dir(true);
    EXPECT_FALSE(triming_write(white_frame(), 0, 0, 40, 40));
    EXPECT_FALSE(dir.exists("img/trim.jpg"));
}
