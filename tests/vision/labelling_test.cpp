// Candidate labelling: the distance-scaled size window, the strict bounds, the
// candidate table and the two inspection images.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "vision/labelling.h"
#include "vision_fixtures.h"

namespace {

cv::Mat binary_with(const std::vector<cv::Rect>& filled) {
    cv::Mat binary = cv::Mat::zeros(240, 320, CV_8UC1);
    for (const cv::Rect& r : filled) {
        cv::rectangle(binary, r, cv::Scalar(255), cv::FILLED);
    }
    return binary;
}

struct labelled {
    int count;
    std::vector<candidate_rect> table;
    std::string output;
};

labelled run(cv::Mat* binary, int distance) {
    labelled out{0, std::vector<candidate_rect>(CANDIDATE_TABLE_SIZE, {7, 7, 7, 7}), ""};
    testing::internal::CaptureStdout();
    out.count = labelling(binary, out.table.data(), distance);
    out.output = testing::internal::GetCapturedStdout();
    return out;
}

bool empty_record(const candidate_rect& r) {
    return r.x1 == -1 && r.y1 == -1 && r.x2 == -1 && r.y2 == -1;
}

// Mean grey level along the column just right of a box drawn one past its edge.
double right_edge_mean(const cv::Mat& image, const cv::Rect& r) {
    return cv::mean(image(cv::Rect(r.x + r.width, r.y + 2, 1, r.height - 4)))[0];
}

}  // namespace

TEST(LabellingWindow, WorkedDistances) {
    const std::vector<std::tuple<int, size_window>> worked{
        {30, {61, 137, 108, 245}}, {40, {45, 103, 81, 183}}, {46, {39, 89, 71, 159}},
        {50, {36, 82, 65, 147}},   {56, {32, 73, 58, 131}},  {60, {30, 68, 54, 122}},
        {100, {18, 41, 32, 73}}};
    for (const auto& [distance, want] : worked) {
        const size_window got = labelling_window(distance);
        EXPECT_EQ(want.width_min, got.width_min) << distance;
        EXPECT_EQ(want.width_max, got.width_max) << distance;
        EXPECT_EQ(want.height_min, got.height_min) << distance;
        EXPECT_EQ(want.height_max, got.height_max) << distance;
    }
}

TEST(LabellingWindow, LineAndNoCandidateForDistancesOfZeroOrLess) {
    vision_workdir dir;
    // Only 0 needs a window of its own; a negative distance prints the
    // formula's bounds, each minimum above its maximum.
    const std::vector<std::pair<int, std::string>> rows{
        {0, "width_min=0, width_max=0, height_min=0, height_max=0\n"},
        {-1, "width_min=-1833, width_max=-4125, height_min=-3266, height_max=-7350\n"},
        {-50, "width_min=-36, width_max=-82, height_min=-65, height_max=-147\n"}};
    for (const auto& [distance, line] : rows) {
        cv::Mat binary = binary_with({{100, 60, 55, 98}});
        const labelled got = run(&binary, distance);
        EXPECT_EQ(0, got.count) << distance;
        EXPECT_EQ(line, got.output);
    }
    cv::Mat binary = binary_with({{100, 60, 55, 98}});
    const labelled at50 = run(&binary, 50);
    EXPECT_EQ(1, at50.count);
    EXPECT_EQ("width_min=36, width_max=82, height_min=65, height_max=147\n", at50.output);
}

TEST(LabellingBounds, StrictAtFiftyCentimetres) {
    vision_workdir dir;
    const std::vector<std::tuple<int, int, int>> cases{{36, 98, 0},  {37, 98, 1}, {81, 98, 1},
                                                       {82, 98, 0},  {55, 65, 0}, {55, 66, 1},
                                                       {55, 146, 1}, {55, 147, 0}};
    for (const auto& [w, h, accepted] : cases) {
        cv::Mat binary = binary_with({{100, 40, w, h}});
        const labelled got = run(&binary, 50);
        EXPECT_EQ(accepted, got.count) << w << "x" << h;
        if (accepted == 1) {
            EXPECT_EQ(100, got.table[0].x1);
            EXPECT_EQ(40, got.table[0].y1);
            EXPECT_EQ(100 + w, got.table[0].x2);
            EXPECT_EQ(40 + h, got.table[0].y2);
        }
        for (int i = accepted; i < CANDIDATE_TABLE_SIZE; ++i) {
            EXPECT_TRUE(empty_record(got.table[i])) << w << "x" << h << " record " << i;
        }
    }
}

TEST(LabellingContours, HoleIsACandidateOfItsOwn) {
    vision_workdir dir;
    cv::Mat binary = binary_with({});
    cv::rectangle(binary, cv::Rect(100, 40, 72, 140), cv::Scalar(255), 5);  // hollow frame
    const labelled got = run(&binary, 50);
    ASSERT_EQ(2, got.count);
    std::set<int> widths{got.table[0].x2 - got.table[0].x1, got.table[1].x2 - got.table[1].x1};
    EXPECT_EQ(2u, widths.size());
    EXPECT_GT(*widths.rbegin(), *widths.begin());
    EXPECT_TRUE(empty_record(got.table[2]));
}

TEST(LabellingContours, MoreThanTenBoxesKeepsTheFirstTen) {
    vision_workdir dir;
    std::vector<cv::Rect> twelve;
    for (int i = 0; i < 12; ++i) {
        twelve.push_back({5 + (i % 6) * 52, 10 + (i / 6) * 110, 40, 70});
    }
    cv::Mat binary = binary_with(twelve);
    const labelled got = run(&binary, 50);
    ASSERT_EQ(10, got.count);
    std::set<std::pair<int, int>> seen;
    for (const candidate_rect& r : got.table) {
        EXPECT_EQ(40, r.x2 - r.x1);
        EXPECT_EQ(70, r.y2 - r.y1);
        seen.insert({r.x1, r.y1});
    }
    EXPECT_EQ(10u, seen.size());
    // Every contour's box is drawn, also the two dropped ones.
    const cv::Mat all = cv::imread("./img/label-all.jpg", cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(all.empty());
    for (const cv::Rect& r : twelve) {
        if (seen.count({r.x, r.y}) == 0) {
            EXPECT_GT(right_edge_mean(all, r), 100.0) << r;
        }
    }
}

TEST(LabellingImages, AllBoxesAndAcceptedBoxesAreSaved) {
    vision_workdir dir;
    const cv::Rect digit{60, 60, 55, 98};
    const cv::Rect speck{200, 100, 12, 12};
    // Touching the left edge: traced without its first column.
    const cv::Rect edge{0, 120, 50, 100};
    const cv::Rect edge_box{1, 120, 49, 100};
    cv::Mat binary = binary_with({digit, speck, edge});
    const cv::Mat before = binary.clone();
    const labelled got = run(&binary, 50);
    ASSERT_EQ(2, got.count);
    std::set<std::tuple<int, int, int, int>> stored;
    for (int i = 0; i < 2; ++i) {
        stored.insert({got.table[i].x1, got.table[i].y1, got.table[i].x2, got.table[i].y2});
    }
    EXPECT_EQ(1u, stored.count({1, 120, 50, 220}));

    const cv::Mat all = cv::imread("./img/label-all.jpg", cv::IMREAD_GRAYSCALE);
    const cv::Mat accepted = cv::imread("./img/label.jpg", cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(all.empty());
    ASSERT_FALSE(accepted.empty());
    EXPECT_GT(right_edge_mean(all, digit), 100.0);
    EXPECT_GT(right_edge_mean(all, speck), 100.0);
    EXPECT_GT(right_edge_mean(accepted, digit), 100.0);
    EXPECT_LT(right_edge_mean(accepted, speck), 40.0);

    // The outermost ring is cleared and the accepted boxes are drawn on the
    // frame itself; nothing else changes.
    cv::Mat expected = before.clone();
    cv::rectangle(expected, cv::Rect(0, 0, expected.cols, expected.rows), cv::Scalar(0), 1);
    cv::rectangle(expected, digit.tl(), digit.br(), cv::Scalar(255), 1, cv::LINE_8);
    cv::rectangle(expected, edge_box.tl(), edge_box.br(), cv::Scalar(255), 1, cv::LINE_8);
    EXPECT_EQ(0, cv::countNonZero(expected != binary));
}

TEST(LabellingImages, EmptyFrameStillSavesBoth) {
    vision_workdir dir;
    cv::Mat binary = cv::Mat::zeros(240, 320, CV_8UC1);
    EXPECT_EQ(0, run(&binary, 50).count);
    EXPECT_TRUE(dir.exists("img/label-all.jpg"));
    EXPECT_TRUE(dir.exists("img/label.jpg"));
}

TEST(LabellingImages, NoImageClearsTheTableAndSavesNothing) {
    vision_workdir dir;
    for (cv::Mat* binary : {static_cast<cv::Mat*>(nullptr), new cv::Mat()}) {
        const labelled got = run(binary, 50);
        EXPECT_EQ(-1, got.count);
        EXPECT_EQ("width_min=36, width_max=82, height_min=65, height_max=147\n", got.output);
        for (const candidate_rect& r : got.table) {
            EXPECT_TRUE(empty_record(r));
        }
        delete binary;
    }
    cv::Mat colour(240, 320, CV_8UC3, cv::Scalar::all(0));
    EXPECT_EQ(-1, run(&colour, 50).count) << "not a binary image";
    EXPECT_FALSE(dir.exists("img/label-all.jpg"));
    EXPECT_FALSE(dir.exists("img/label.jpg"));
}
