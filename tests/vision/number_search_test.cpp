// The seven-probe classifier, driven by crops built pixel by pixel from probe
// patterns, by the board figures, and by the layout of the nominal 55 x 98 digit.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "vision/number_search.h"
#include "vision_fixtures.h"

namespace {

// The probes in the order of a seven-segment display's letters: a top, b and
// c right, d bottom, e and f left, g middle.
enum feature { TOP, UPPER_RIGHT, LOWER_RIGHT, BOTTOM, LOWER_LEFT, UPPER_LEFT, MIDDLE, FEATURES };

unsigned pattern_of(const std::string& segments) {
    unsigned pattern = 0;
    for (char c : segments) {
        pattern |= 1u << (c - 'a');
    }
    return pattern;
}

// One pixel inside each probe, away from the pixels that two probes share.
cv::Point probe_pixel(int f, int w, int h) {
    const int r1 = h / 4;
    const int r3 = 3 * h / 4;
    const int half = w / 2;
    switch (f) {
        case TOP:
            return {w / 2, r1 / 2};
        case UPPER_LEFT:
            return {half / 2, r1};
        case UPPER_RIGHT:
            return {w - 1 - half / 2, r1};
        case MIDDLE:
            return {w / 2, (r1 + r3) / 2};
        case LOWER_LEFT:
            return {half / 2, r3};
        case LOWER_RIGHT:
            return {w - 1 - half / 2, r3};
        default:
            return {w / 2, h - 1 - (h / 4) / 2};
    }
}

cv::Mat crop_from(unsigned pattern, bool hole, int w, int h) {
    cv::Mat crop = cv::Mat::zeros(h, w, CV_8UC1);
    for (int f = 0; f < FEATURES; ++f) {
        if ((pattern >> f) & 1u) {
            crop.at<uint8_t>(probe_pixel(f, w, h)) = 255;
        }
    }
    if (hole) {
        crop.at<uint8_t>(3 * h / 4, w / 2) = 255;
    }
    return crop;
}

cv::Mat crop_with(int w, int h, const std::vector<std::pair<int, int>>& ink) {
    cv::Mat crop = cv::Mat::zeros(h, w, CV_8UC1);
    for (const auto& xy : ink) {
        crop.at<uint8_t>(xy.second, xy.first) = 255;
    }
    return crop;
}

int classify(const cv::Mat& crop) {
    int result = -99;
    number_search(crop, &result);
    return result;
}

// A figure as the binarization delivers it: ink 255 on 0, filling the crop.
cv::Mat figure_crop(const std::string& segments, int w = 55, int h = 98, int stroke = 12) {
    cv::Mat paper(h, w, CV_8UC1, cv::Scalar(255));
    draw_segments(paper, segments, cv::Rect(0, 0, w, h), stroke);
    return 255 - paper;
}

}  // namespace

TEST(NumberSearchPatterns, OnlyTheBoardFiguresReadOnOddWidths) {
    // The figures as read off the board: its 7 has the upper-left stroke, and
    // its 1 is a solid block told from 8 by ink at the hole probe.
    const struct {
        const char* segments;
        bool hole;
        int digit;
    } rows[] = {
        {"abcdef", false, 0},  {"abcdefg", true, 1}, {"abdeg", true, 2},    {"abcdg", false, 3},
        {"bcfg", true, 4},     {"acdfg", false, 5},  {"acdefg", true, 6},   {"abcf", false, 7},
        {"abcdefg", false, 8}, {"abcdfg", true, 9},  {"abcfg", false, -1},  {"abc", false, -1},
        {"bcg", false, -1},    {"", true, -1},       {"bcdefg", false, -1},
    };
    for (const cv::Size size : {cv::Size(55, 98), cv::Size(21, 41), cv::Size(7, 13)}) {
        for (const auto& r : rows) {
            EXPECT_EQ(r.digit,
                      classify(crop_from(pattern_of(r.segments), r.hole, size.width, size.height)))
                << size << " " << r.segments << " hole " << r.hole;
        }
        // Nothing else reads: eight figures with the hole probe either way,
        // and the solid block once as 1, once as 8.
        int digits = 0;
        for (unsigned pattern = 0; pattern < 128; ++pattern) {
            for (bool hole : {false, true}) {
                digits += classify(crop_from(pattern, hole, size.width, size.height)) >= 0;
            }
        }
        EXPECT_EQ(18, digits) << size;
    }
}

TEST(NumberSearchPatterns, EvenWidthsWhereTheHolePixelBelongsToTheLowerRightProbe) {
    // An ink hole pixel is met by the lower-right probe too: the crop reads
    // as the odd-width one with that probe inked.
    for (const int w : {56, 22}) {
        for (unsigned pattern = 0; pattern < 128; ++pattern) {
            for (bool hole : {false, true}) {
                const unsigned seen = hole ? pattern | (1u << LOWER_RIGHT) : pattern;
                EXPECT_EQ(classify(crop_from(seen, hole, w - 1, 98)),
                          classify(crop_from(pattern, hole, w, 98)))
                    << w << " pattern " << pattern << " hole " << hole;
            }
        }
    }
}

TEST(NumberSearchFigures, BoardFiguresReadAsTheirDigits) {
    const char* const figures[10] = {"abcdef", "",       "abdeg", "abcdg",   "bcfg",
                                     "acdfg",  "acdefg", "abcf",  "abcdefg", "abcdfg"};
    for (int digit = 0; digit < 10; ++digit) {
        cv::Mat paper(98, 55, CV_8UC1, cv::Scalar(255));
        draw_digit(paper, digit, cv::Rect(0, 0, 55, 98), 12);
        EXPECT_EQ(digit, classify(255 - paper)) << digit;
        if (digit != 1) {
            EXPECT_EQ(digit, classify(figure_crop(figures[digit], 41, 73, 9))) << digit << " small";
        }
    }
}

TEST(NumberSearchFigures, ListedEdgeCases) {
    EXPECT_EQ(1, classify(cv::Mat(98, 55, CV_8UC1, cv::Scalar(255)))) << "all ink";
    EXPECT_EQ(-1, classify(cv::Mat::zeros(98, 55, CV_8UC1))) << "no ink";

    cv::Mat eight = figure_crop("abcdefg");
    EXPECT_EQ(8, classify(eight));
    eight.at<uint8_t>(73, 27) = 255;  // the lower counter filled at the hole probe
    EXPECT_EQ(1, classify(eight));

    for (int row = 24; row <= 72; ++row) {
        cv::Mat zero = figure_crop("abcdef");
        zero.at<uint8_t>(row, 27) = 255;
        EXPECT_EQ(8, classify(zero)) << "stray middle pixel at row " << row;
    }
    EXPECT_EQ(-1, classify(figure_crop("abcfg"))) << "9 without bottom, or 4 with top bar";
    EXPECT_EQ(-1, classify(figure_crop("abc"))) << "7 without upper-left";
    EXPECT_EQ(-1, classify(figure_crop("bc"))) << "two right strokes";
    EXPECT_EQ(0, classify(figure_crop("abcdef"))) << "8 without middle";
    EXPECT_EQ(9, classify(figure_crop("abcdfg"))) << "8 without lower-left";

    EXPECT_EQ(-1, classify(cv::Mat(98, 1, CV_8UC1, cv::Scalar(255)))) << "one pixel wide";
    EXPECT_EQ(-1, classify(cv::Mat())) << "empty crop";
    EXPECT_EQ(-1, classify(cv::Mat(98, 55, CV_8UC1, cv::Scalar(254)))) << "only 255 is ink";
}

TEST(NumberSearchLayout, NominalDigitProbeBoundaries) {
    // 55 x 98: r1 = 24, r3 = 73, centre column 27, halves 0..26 and 28..54.
    const std::pair<int, int> top{27, 12}, ul{13, 24}, ur{41, 24}, mid{27, 48}, ll{13, 73},
        lr{41, 73}, bottom{27, 85};

    // Top probe ends at row 23; row 24 belongs to the middle probe (7 vs 4).
    EXPECT_EQ(7, classify(crop_with(55, 98, {ur, lr, ul, {27, 23}})));
    EXPECT_EQ(4, classify(crop_with(55, 98, {ur, lr, ul, {27, 24}})));
    // Middle probe ends at row 72; row 73 is only the hole probe's (8 vs 0).
    EXPECT_EQ(8, classify(crop_with(55, 98, {top, ul, ur, ll, lr, bottom, {27, 72}})));
    EXPECT_EQ(0, classify(crop_with(55, 98, {top, ul, ur, ll, lr, bottom, {27, 73}})));
    // Bottom probe spans rows 74 to 97.
    EXPECT_EQ(9, classify(crop_with(55, 98, {top, ul, ur, mid, lr, {27, 74}})));
    EXPECT_EQ(9, classify(crop_with(55, 98, {top, ul, ur, mid, lr, {27, 97}})));
    EXPECT_EQ(-1, classify(crop_with(55, 98, {top, ul, ur, mid, lr, {27, 73}})));
    // Column 26 is the left half's last, 28 the right half's first, 27 neither.
    EXPECT_EQ(4, classify(crop_with(55, 98, {ur, lr, mid, {26, 24}})));
    EXPECT_EQ(4, classify(crop_with(55, 98, {ul, lr, mid, {28, 24}})));
    EXPECT_EQ(-1, classify(crop_with(55, 98, {ur, lr, mid, {27, 24}})));
    EXPECT_EQ(9, classify(crop_with(55, 98, {top, ul, ur, mid, lr, bottom, {27, 73}})));
    EXPECT_EQ(8, classify(crop_with(55, 98, {top, ul, ur, mid, lr, bottom, {26, 73}})));
    EXPECT_EQ(9, classify(crop_with(55, 98, {top, ul, ur, mid, lr, bottom, {0, 72}})));
    // Side probes run edge to edge of their half.
    EXPECT_EQ(4, classify(crop_with(55, 98, {ur, lr, mid, {0, 24}})));
    EXPECT_EQ(4, classify(crop_with(55, 98, {ul, mid, ur, {54, 73}})));
}

TEST(NumberSearchLayout, EvenWidthCentreColumnIsInTheRightHalf) {
    // 56 x 98: centre column 28 is the right half's first column.
    const std::pair<int, int> ul{13, 24}, lr{42, 73}, centre_r1{28, 24};
    // One pixel at (cm, r1) is both the middle and the upper-right stroke.
    EXPECT_EQ(4, classify(crop_with(56, 98, {ul, lr, centre_r1})));
    EXPECT_EQ(-1, classify(crop_with(55, 98, {ul, lr, {27, 24}})));
    // The hole pixel is the last one the lower-right probe reads.
    const std::vector<std::pair<int, int>> all_but_lower_right{
        {28, 12}, ul, {42, 24}, {28, 48}, {13, 73}, {28, 85}, {28, 73}};
    EXPECT_EQ(1, classify(crop_with(56, 98, all_but_lower_right)));
}

TEST(NumberSearchLayout, HeightDivisibleByFourPutsTheHolePixelOnTheBottomProbe) {
    // 21 x 40: r3 = 30 = H - H/4, so the hole pixel is also the bottom probe's top row.
    const std::vector<std::pair<int, int>> all_but_bottom{{10, 5}, {5, 10},  {15, 10}, {10, 20},
                                                          {5, 30}, {15, 30}, {10, 30}};
    EXPECT_EQ(1, classify(crop_with(21, 40, all_but_bottom)));
    EXPECT_EQ(-1, classify(crop_with(21, 41, all_but_bottom)));
}

TEST(NumberSearchLayout, ReadsASubMatrixRegionOfALargerImage) {
    cv::Mat frame(240, 320, CV_8UC1, cv::Scalar(255));
    draw_digit(frame, 8, cv::Rect(100, 60, 55, 98), 12);
    draw_digit(frame, 1, cv::Rect(160, 60, 40, 98), 12);
    const cv::Mat binary = 255 - frame;
    EXPECT_EQ(8, classify(binary(cv::Rect(100, 60, 55, 98))));
    EXPECT_EQ(1, classify(binary(cv::Rect(160, 60, 40, 98))));
}
