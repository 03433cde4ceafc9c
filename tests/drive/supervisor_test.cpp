// The drive supervisor's verdicts, period by period, and the overdue-move net.
#include <gtest/gtest.h>

#include <vector>

#include "drive/run_ctrl.h"
#include "drive/supervisor.h"

namespace {

// A stretch of identical periods.
struct stretch {
    int periods;
    supervisor_period p;
};

constexpr supervisor_period healthy{10, 10, true, true, 40, 40};
constexpr supervisor_period stale{0, 0, false, true, 40, 40};

// Runs the stretches; the fault found and the period (from 1) it was found in,
// or SUPERVISOR_OK and 0.
std::pair<supervisor_fault, int> run(const std::vector<stretch>& stretches) {
    supervisor_state st{};
    int n = 0;
    for (const stretch& s : stretches) {
        for (int i = 0; i < s.periods; ++i) {
            ++n;
            const supervisor_fault f = supervisor_step(&st, s.p);
            if (f != SUPERVISOR_OK) {
                return {f, n};
            }
        }
    }
    return {SUPERVISOR_OK, 0};
}

TEST(Supervisor, VerdictsAndWhenTheyComeAgainstBoundaries) {
    struct row {
        const char* what;
        std::vector<stretch> periods;
        supervisor_fault fault;
        int at;  // period of the verdict
    };
    const row rows[] = {
        {"encoder silent", {{100, stale}}, SUPERVISOR_ENCODER_SILENT, 8},
        {"late replies held through",
         {{7, stale}, {1, healthy}, {7, stale}, {50, healthy}},
         SUPERVISOR_OK,
         0},
        {"left blocked", {{100, {0, 10, true, true, 100, 40}}}, SUPERVISOR_STALL_LEFT, 25},
        {"right dead counter", {{100, {10, 1, true, true, 40, -127}}}, SUPERVISOR_STALL_RIGHT, 25},
        {"both blocked", {{100, {0, 0, true, true, 127, 127}}}, SUPERVISOR_STALL_BOTH, 25},
        {"the other wheel half as long: both",
         {{13, {0, 0, true, true, 127, 60}}, {50, {0, 0, true, true, 127, 127}}},
         SUPERVISOR_STALL_BOTH,
         25},
        {"the other wheel less than half: one",
         {{14, {0, 0, true, true, 60, 127}}, {50, {0, 0, true, true, 127, 127}}},
         SUPERVISOR_STALL_RIGHT,
         25},
        {"99 is not hard", {{300, {0, 0, true, true, 99, -99}}}, SUPERVISOR_OK, 0},
        {"two counts is moving", {{300, {2, -2, true, true, 127, -127}}}, SUPERVISOR_OK, 0},
        {"saturated and moving (80 cm/s leg)",
         {{300, {42, 41, true, true, 127, 127}}},
         SUPERVISOR_OK,
         0},
        {"stop frames break a stall",
         {{24, {0, 0, true, true, 127, 127}},
          {1, {0, 0, true, false, 0, 0}},
          {24, {0, 0, true, true, 127, 127}}},
         SUPERVISOR_OK,
         0},
        {"a soft period breaks a stall",
         {{24, {0, 0, true, true, 127, 127}},
          {1, {0, 0, true, true, 50, 50}},
          {24, {0, 0, true, true, 127, 127}}},
         SUPERVISOR_OK,
         0},
        {"stale periods are no evidence either way",
         {{24, {0, 0, true, true, 127, 127}}, {3, stale}, {5, {0, 0, true, true, 127, 127}}},
         SUPERVISOR_STALL_BOTH,
         28},
        {"left reversed", {{100, {-3, 10, true, true, 110, 40}}}, SUPERVISOR_AGAINST_LEFT, 20},
        {"right reversed", {{100, {10, 5, true, true, 40, -100}}}, SUPERVISOR_AGAINST_RIGHT, 20},
        {"both reversed", {{100, {-20, -20, true, true, 127, 127}}}, SUPERVISOR_AGAINST_BOTH, 20},
        {"two counts back is not clearly against",
         {{300, {-2, 2, true, true, 127, -127}}},
         SUPERVISOR_OK,
         0},
        {"braking through zero",
         {{19, {-20, -20, true, true, 127, 127}}, {50, healthy}},
         SUPERVISOR_OK,
         0},
    };
    for (const row& r : rows) {
        const auto [fault, at] = run(r.periods);
        EXPECT_EQ(fault, r.fault) << r.what;
        EXPECT_EQ(at, r.at) << r.what;
    }
}

TEST(Supervisor, EveryFaultHasItsOwnLine) {
    EXPECT_STREQ(supervisor_text(SUPERVISOR_ENCODER_SILENT),
                 "drive fault: encoder_dev stopped answering, motors stopped");
    EXPECT_STREQ(supervisor_text(SUPERVISOR_STALL_LEFT),
                 "drive fault: left wheel stalled, motors stopped");
    EXPECT_STREQ(supervisor_text(SUPERVISOR_AGAINST_RIGHT),
                 "drive fault: right wheel turning against its command, motors stopped");
    EXPECT_STREQ(supervisor_text(SUPERVISOR_MOVE_OVERDUE),
                 "drive fault: move not ended in time, motors stopped");
}

// Limits worked by hand: twice (target / speed + final stretch / the slower
// of speed and 2) + 5 s, against periods of 19 ms.
TEST(Supervisor, MoveOverdueAfterTwiceItsSlowestHonestTime) {
    struct row {
        int32_t mode;
        float speed, dist;
        int32_t last_in_time;  // the period after it is overdue
    };
    const row rows[] = {
        // 100 cm at 20 cm/s: 5 s + 12 cm at 2 cm/s = 11 s; limit 27 s = 1421.05 periods.
        {RUN_STRAIGHT, 20, 100, 1421},
        // Backward, below the creep: 10 cm at 1 cm/s + 12 cm at 1 = 22 s; limit 49 s.
        {RUN_STRAIGHT, -1, -10, 2578},
        // 300 cm at 1 cm/s: 312 s, limit 629 s = 33105.3 periods. The honest
        // move takes about 15,000 periods (1 cm/s is 0.02 cm a period, however
        // long each period lasts), the net half as many again.
        {RUN_STRAIGHT, 1, 300, 33105},
        // A speed of 0 never leaves the final stretch's creep: 50 cm at 2 cm/s
        // + 6 s = 31 s; limit 67 s = 3526.3 periods.
        {RUN_STRAIGHT, 0, -50, 3526},
        // 90 degrees at 30 deg/s: 3 s + 20 degrees at 2 = 13 s; limit 31 s = 1631.6 periods.
        {RUN_ROTATE, 30, 90, 1631},
        // Arc of 71 cm at 20 cm/s, inner wheel 0.35: 10.14 s + 17.14 s; limit 59.57 s.
        {RUN_ARC, 20, 71, 3135},
        // The demonstration's 348 cm at 80 cm/s, as a straight run: 4.35 s + 6 s;
        // limit 25.7 s = 1352.6 periods.
        {RUN_FAST_STRAIGHT, 80, 348, 1352},
    };
    for (const row& r : rows) {
        const run_ctrl_inputs in{.mode = r.mode, .speed = r.speed, .dist = r.dist, .dist_flag = 1};
        EXPECT_FALSE(run_ctrl_overdue(in, r.last_in_time)) << r.mode << " " << r.dist;
        EXPECT_TRUE(run_ctrl_overdue(in, r.last_in_time + 1)) << r.mode << " " << r.dist;
    }
}

}  // namespace
