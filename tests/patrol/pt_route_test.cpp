// The route interpreter on routes and lists made up for the test, against the
// recording stand-ins: speed choice, list positions, reading lines, bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/run_ctrl.h"
#include "patrol/pt_route.h"
#include "tests/patrol/patrol_fakes.h"
#include "tests/support/emulated_devices.h"

namespace {

using events = std::vector<std::string>;

constexpr float STRAIGHT = 12.5f;
constexpr float ROTATION = 7.0f;

// A route over the given table with empty lists; tests fill in what they need.
pt_route make_route(const pt_record* records, int steps) {
    static const int32_t none[1] = {0};
    return pt_route{.records = records,
                    .steps = steps,
                    .straight_speed = STRAIGHT,
                    .rotation_speed = ROTATION,
                    .align_distance = 40,
                    .read_distance = 36,
                    .digits = 2,
                    .align_at = {none, 1},
                    .read_at = {none, 1},
                    .step_pause_us = 500,
                    .final_pause_us = 900,
                    .get_record = nullptr};
}

class PtRouteTest : public ::testing::Test {
  protected:
    void SetUp() override { patrol_fakes_reset(); }
    void run(const pt_route& route) {
        output = emu_capture_stdout([&] { pt_route_run(route); });
    }
    std::vector<float> speeds() const {
        std::vector<float> out;
        for (const recorded_move& m : patrol_rec.moves) {
            out.push_back(m.speed);
        }
        return out;
    }
    // Steps after which the alignment ran, from the order of the events.
    std::vector<int> aligned_after() const {
        std::vector<int> out;
        int seq = 0;
        for (const std::string& e : patrol_rec.events) {
            if (e == "create") {
                ++seq;
            } else if (e.rfind("align", 0) == 0) {
                out.push_back(seq);
            }
        }
        return out;
    }

    std::string output;
    pt_record table[PT_RECORDS] = {};
};

TEST(PtRouteSpeed, FollowsTheStyleAndTheSignOfTheValue) {
    const pt_route route = make_route(nullptr, 1);
    struct row {
        int style, value;
        bool has_previous;
        float previous, speed;
    };
    const row rows[] = {
        {RUN_STRAIGHT, 348, true, -3.0f, STRAIGHT},
        {RUN_STRAIGHT, 0, true, 3.0f, -STRAIGHT},  // a zero record creeps backward
        {RUN_STRAIGHT, -20, false, 0.0f, -STRAIGHT},
        {RUN_ROTATE, 90, true, 3.0f, ROTATION},
        {RUN_ROTATE, -90, true, 3.0f, -ROTATION},
        {RUN_ROTATE, 0, false, 0.0f, -ROTATION},
        // Other styles keep whatever the step before chose.
        {RUN_ARC, 71, true, 9.0f, 9.0f},
        {RUN_ARC, -71, true, 9.0f, 9.0f},
        {RUN_FAST_STRAIGHT, 100, true, -ROTATION, -ROTATION},
        {7, 5, true, 4.0f, 4.0f},
        // With no step before, they move like a straight record of that value.
        {RUN_ARC, 71, false, 0.0f, STRAIGHT},
        {RUN_ARC, -71, false, 0.0f, -STRAIGHT},
        {RUN_FAST_STRAIGHT, 0, false, 0.0f, -STRAIGHT},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.style) + " " + std::to_string(r.value));
        EXPECT_FLOAT_EQ(pt_route_speed(r.style, r.value, r.has_previous, r.previous, route),
                        r.speed);
    }
}

TEST(PtRouteCheckpoint, MovesOnOnlyOnAMatchAndStopsAtTheEnd) {
    // Four entries, of which the list owns three: the fourth must never be read.
    const int32_t storage[4] = {2, 5, 6, 7};
    const pt_list list{storage, 3};
    int pos = 0;
    const int seqs[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const bool match[] = {false, true, false, false, true, true, false, false};
    const int pos_after[] = {0, 1, 1, 1, 2, 3, 3, 3};
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(seqs[i]);
        EXPECT_EQ(pt_route_checkpoint(list, &pos, seqs[i]), match[i]);
        EXPECT_EQ(pos, pos_after[i]);
    }
    // The closing 0 never matches, and a position off the list reads nothing.
    const int32_t closed[3] = {1, 0, 3};
    int at_zero = 1;
    EXPECT_FALSE(pt_route_checkpoint({closed, 3}, &at_zero, 0));
    EXPECT_FALSE(pt_route_checkpoint({closed, 3}, &at_zero, 3));
    int negative = -1;
    EXPECT_FALSE(pt_route_checkpoint({closed, 3}, &negative, 1));
    EXPECT_EQ(negative, -1);
}

TEST_F(PtRouteTest, SpeedsCarryOverFromStepToStep) {
    const pt_record route_table[] = {{RUN_ARC, 30, 0, 0},           {RUN_STRAIGHT, 100, 0, 0},
                                     {RUN_ARC, 50, 0, 0},           {RUN_ROTATE, -90, 0, 0},
                                     {RUN_ARC, 30, 0, 0},           {RUN_STRAIGHT, -20, 0, 0},
                                     {RUN_FAST_STRAIGHT, 40, 0, 0}, {RUN_ROTATE, 45, 0, 0}};
    std::copy(std::begin(route_table), std::end(route_table), table);
    run(make_route(table, 8));
    EXPECT_EQ(speeds(), (std::vector<float>{STRAIGHT, STRAIGHT, STRAIGHT, -ROTATION, -ROTATION,
                                            -STRAIGHT, -STRAIGHT, ROTATION}));
    ASSERT_EQ(patrol_rec.moves.size(), 8u);
    EXPECT_EQ(patrol_rec.moves[3].mode, RUN_ROTATE);
    EXPECT_FLOAT_EQ(patrol_rec.moves[3].target, -90);
}

TEST_F(PtRouteTest, AListWithoutItsClosingZeroIsNotReadPastItsEnd) {
    // The entry just past the list's slots names a step that is run.
    const int32_t storage[4] = {1, 2, 3, 4};
    pt_route route = make_route(table, 5);
    route.align_at = {storage, 3};
    run(route);
    EXPECT_EQ(aligned_after(), (std::vector<int>{1, 2, 3}));
}

TEST_F(PtRouteTest, AnEntryOutOfOrderHoldsBackTheRest) {
    const int32_t list[4] = {3, 2, 4, 0};
    pt_route route = make_route(table, 5);
    route.align_at = {list, 4};
    run(route);
    EXPECT_EQ(aligned_after(), (std::vector<int>{3}));
}

TEST_F(PtRouteTest, EveryOneDigitReadingShowsTheNoDigitMarkOnTheRight) {
    const int32_t list[3] = {1, 2, 0};
    pt_route route = make_route(table, 2);
    route.digits = 1;
    route.read_at = {list, 3};
    patrol_rec.readings = {{4}, {-1}};
    run(route);
    EXPECT_EQ(patrol_lines(output, "左数字="),
              (events{"左数字=4、右数字=-1", "左数字=-1、右数字=-1"}));
}

TEST_F(PtRouteTest, TwoDigitReadingsPrintWhatTheReaderHolds) {
    const int32_t list[2] = {1, 0};
    pt_route route = make_route(table, 1);
    route.read_at = {list, 2};
    patrol_rec.readings = {{-1, 8}};
    run(route);
    EXPECT_EQ(patrol_lines(output, "左数字="), (events{"左数字=-1、右数字=8"}));
    EXPECT_EQ(patrol_actions(), (events{"nums 2", "set", "dist", "create", "cancel", "detect 36",
                                        "get", "stop", "pause 900"}));
}

TEST_F(PtRouteTest, StepsAreReadThroughTheAccessorWhenOneIsGiven) {
    pt_route route = make_route(table, 2);
    route.get_record = [](int index, int32_t* style, int32_t* value) {
        *style = RUN_ROTATE;
        *value = 10 * (index + 1);
    };
    run(route);
    EXPECT_EQ(patrol_lines(output, "sequence_num="),
              (events{"sequence_num=1     style=1      value=10   ",
                      "sequence_num=2     style=1      value=20   "}));
}

TEST_F(PtRouteTest, NeverRunsPastTheTable) {
    run(make_route(table, PT_RECORDS + 5));
    EXPECT_EQ(patrol_rec.moves.size(), static_cast<size_t>(PT_RECORDS));
    EXPECT_EQ(patrol_lines(output, "sequence_num=").size(), static_cast<size_t>(PT_RECORDS));
    EXPECT_EQ(patrol_count("pause 500"), PT_RECORDS - 1);
}

}  // namespace
