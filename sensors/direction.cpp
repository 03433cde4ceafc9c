#include "sensors/direction.h"

#include <cstdio>

#include "drive/pause.h"
#include "drive/run_ctrl.h"
#include "drive/vel_ctrl.h"
#include "sensors/uss.h"

namespace {

constexpr int LEFT_CHANNEL = 1;   // sensor on the robot's left front
constexpr int RIGHT_CHANNEL = 2;  // sensor on the robot's right front

// The board needs a pause after each query before it can range again.
constexpr long QUERY_GAP_US = 50000;
constexpr long POLL_US = 20000;         // end-flag polling of a running move
constexpr long SETTLE_US = 1000000;     // lets the robot come to rest after closing in
constexpr long RETRY_US = 100000;       // between a rotation and the next measurement
constexpr int NO_DISTANCE = 999;        // neither sensor saw the surface
constexpr int MAX_ROTATIONS = 11;       // tries of the squaring phase
constexpr int SQUARE_TOLERANCE_CM = 1;  // left and right may differ by this much
// Caps one turn at about 42 degrees: a larger difference mostly means one
// sensor sees something other than the surface (or nothing at all).
constexpr int MAX_DIFF_CM = 10;
constexpr float APPROACH_SPEED = 30;       // cm/s
constexpr float TURN_SPEED = 10;           // deg/s
constexpr double SENSOR_BASELINE_CM = 11;  // distance between the two sensors
constexpr double PI = 3.1415;
// Less than the full small-angle estimate, so the turns approach square from
// one side rather than overshooting back and forth.
constexpr double TURN_GAIN = 0.8;

// Angle of the latest squaring rotation, degrees, positive to the right.
float ref_angle = 0;

struct range_pair {
    int left;
    int right;
};

// A query the board never answered is no echo: its made-up 20 cm on both
// sides would otherwise pass for a robot standing square to a wall.
int measure_channel(int channel) {
    int cm = uss_get(channel);
    return uss_last_answered() ? cm : USS_NO_ECHO;
}

range_pair measure_ranges() {
    range_pair ranges;
    ranges.left = measure_channel(LEFT_CHANNEL);
    pause_us(QUERY_GAP_US);
    ranges.right = measure_channel(RIGHT_CHANNEL);
    pause_us(QUERY_GAP_US);
    return ranges;
}

// Readings this close or this far are outside what the sensors resolve reliably.
bool distance_valid(int cm) {
    return cm > 30 && cm < 80;
}

int current_distance(range_pair ranges) {
    bool left_ok = distance_valid(ranges.left);
    bool right_ok = distance_valid(ranges.right);
    if (left_ok && right_ok) {
        return (ranges.left + ranges.right) / 2;
    }
    if (left_ok) {
        return ranges.left;
    }
    if (right_ok) {
        return ranges.right;
    }
    return NO_DISTANCE;
}

// True when the move reached its end; false when the drive stopped it on a
// fault, and the alignment has failed.
bool wait_move_end() {
    while (run_ctrl_get_endflag() != 1) {
        pause_us(POLL_US);
    }
    return vel_ctrl_fault() == SUPERVISOR_OK;
}

// Drives straight until the surface is ref_dist away. False when no distance
// could be measured (nothing has moved then) or the drive stopped on a fault.
bool close_in(int ref_dist) {
    std::printf("距離補正スタート\n");
    int cur = current_distance(measure_ranges());
    std::printf("ref_dist=%d     cur_dist = %d\n", ref_dist, cur);
    if (cur == NO_DISTANCE) {
        std::printf("can't get distance using USS\n");
        return false;
    }
    int diff = cur - ref_dist;  // positive: too far away
    run_ctrl_set(RUN_STRAIGHT, diff > 0 ? APPROACH_SPEED : -APPROACH_SPEED);
    run_ctrl_set_dist(static_cast<float>(diff));
    run_ctrl_create();
    const bool reached = wait_move_end();
    run_ctrl_cancel();
    if (!reached) {
        return false;
    }
    pause_us(SETTLE_US);
    return true;
}

int clamp_diff(int d) {
    if (d > MAX_DIFF_CM) {
        return MAX_DIFF_CM;
    }
    if (d < -MAX_DIFF_CM) {
        return -MAX_DIFF_CM;
    }
    return d;
}

// Leaves the wheels at rest and the rotation gain as the run controller had it.
int finish(int result) {
    run_ctrl_stop();
    run_ctrl_reset_Kfr();
    return result;
}

int square_up() {
    run_ctrl_reset();
    std::printf("正体補正スタート\n");
    for (int attempt = 0; attempt < MAX_ROTATIONS; ++attempt) {
        range_pair ranges = measure_ranges();
        std::printf("uss_l=%d   uss_r= %d\n", ranges.left, ranges.right);
        // No echo on either side: there is no surface to square to, and the
        // equal "readings" must not pass for a square robot.
        if (ranges.left == USS_NO_ECHO && ranges.right == USS_NO_ECHO) {
            return finish(-1);
        }
        int d = ranges.left - ranges.right;  // positive: turned to the left of square
        if (d >= -SQUARE_TOLERANCE_CM && d <= SQUARE_TOLERANCE_CM) {
            return finish(1);
        }
        d = clamp_diff(d);
        // Small-angle estimate of the skew over the sensor baseline, in degrees.
        ref_angle = static_cast<float>(d / SENSOR_BASELINE_CM * 180.0 / PI * TURN_GAIN);
        std::printf("diff_uss=%d      ref_angle=%6.1f\n", d, ref_angle);

        run_ctrl_set(RUN_ROTATE, ref_angle > 0 ? TURN_SPEED : -TURN_SPEED);
        run_ctrl_set_dist(ref_angle);
        run_ctrl_create();
        // The rotation's thread ends by itself; no cancel is needed.
        if (!wait_move_end()) {
            return finish(-1);
        }
        // The last rotation is not measured: the caller learns it did not square.
        if (attempt < MAX_ROTATIONS - 1) {
            pause_us(RETRY_US);
        }
    }
    return finish(-1);
}

}  // namespace

int direction_correct(int ref_dist) {
    std::printf("Direction Correction Start !!1\n");
    if (ref_dist != 0 && !close_in(ref_dist)) {
        return -1;
    }
    return square_up();
}
