// The simulated world: walls, number boards, the robot's start pose, the io
// inputs, the motor and sensor parameters and the fault switches, read from a
// plain-text world file plus command-line lines. Geometry queries (ray cast,
// clearance, board ahead) are pure functions of the world and of which boards
// are still present, so every thread and every test can call them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Boards are taken away at run time; their presence flags live in fixed
// arrays of this size, so no thread ever has to reallocate them.
constexpr int kWorldMaxBoards = 64;

struct sim_wall {
    double x1, y1, x2, y2;  // cm
    int board;              // index of the board this segment is, -1 for a plain wall
};

struct sim_board {
    double x, y;         // cm, centre of the printed face
    double facing;       // degrees, heading the printed face looks towards
    double width;        // cm
    std::string digits;  // one or two characters 0-9
    int remove_after;    // captures showing it before it is taken away, 0 = never
};

struct sim_uss_mount {
    bool fitted;
    double forward, left;  // cm in the robot frame (forward along the heading, left of it)
    double angle;          // degrees relative to the heading
};

// A wheel's measured motor curve: steady wheel speed (cm/s) at each drive
// command magnitude, straight lines between the points, 0 below the first and
// the last speed beyond the last; reverse commands mirror it. No points: the
// dead band, gain and knee form applies.
constexpr int kWorldCurvePoints = 32;
struct sim_motor_curve {
    int points;
    double command[kWorldCurvePoints];  // strictly increasing, 0..127
    double speed[kWorldCurvePoints];
};

// Every fault a world can inject, one row per wheel and per channel.
enum class sim_fault {
    uss_silent,     // the ultrasonic board never replies
    uss_late,       // its replies come uss_late_ms after the request
    uss_no_echo_1,  // that channel always replies no echo (to uss_no_echo_4)
    uss_no_echo_2,
    uss_no_echo_3,
    uss_no_echo_4,
    capture_fail,       // every capture request is answered "fail injected"
    capture_nofile,     // captures answer ok and write no file
    capture_truncated,  // captures write half the JPEG and answer ok
    encoder_silent,     // encoder_dev reads requests and never replies
    encoder_dead_left,  // that wheel's increment in every reply is 0
    encoder_dead_right,
    wheel_blocked_left,  // that wheel is held at 0 speed
    wheel_blocked_right,
    motor_reversed_left,  // that motor turns against its command
    motor_reversed_right,
    // Not a fault the drive should stop on: the first encoder reply from its
    // time on comes late, not lost (encoder_split_first_ms, then _gap_ms).
    encoder_split,
};
constexpr int kWorldFaults = static_cast<int>(sim_fault::encoder_split) + 1;

// The row of a per-wheel (0 left, 1 right) or per-channel fault: `first` is
// its left wheel's or channel 1's row.
constexpr sim_fault world_fault_of(sim_fault first, int index) {
    return static_cast<sim_fault>(static_cast<int>(first) + index);
}

// When a fault takes effect: never (the world does not switch it on), from
// the simulator's start, or from a time on its clock (the log's time, 0 when
// the simulator starts).
struct sim_fault_start {
    enum { never, from_start, from_time } when;
    double at;  // s, for from_time
};

struct sim_world {
    std::vector<sim_wall> walls;  // plain walls and one segment per board
    std::vector<sim_board> boards;
    double start_x, start_y, start_heading;  // cm, cm, degrees
    char io[12];
    uint32_t seed;
    double noise;  // relative wheel-speed noise, standard deviation
    double slip;   // largest fraction of the wheel travel lost on the ground
    double deadband_left, deadband_right;  // command magnitude that does not move the wheel
    double motor_gain;       // cm/s per command unit above the dead band, up to the knee
    double motor_knee;       // units above the dead band where the steeper part begins
    double motor_gain_high;  // cm/s per unit beyond the knee
    double lag;              // s, wheel-speed time constant
    // The robot's build: cm between the wheels, cm a right wheel travels per
    // encoder count, and the share of that a left count is worth.
    double track, cm_per_count, left_correction;
    sim_motor_curve curve_left, curve_right;  // measured curves, used when they have points
    sim_uss_mount uss[4];                     // channels 1..4 at index 0..3
    double uss_max_range;                     // cm
    double uss_cone;                          // degrees, half-angle of the side rays
    double uss_grazing;                       // degrees off the normal beyond which no echo returns
    double camera_blur, camera_noise, camera_light;  // frame degradations (see camera_options)
    sim_fault_start faults[kWorldFaults];            // every fault switch, by sim_fault
    int uss_late_ms;                                 // the delay of uss_late's replies
    // encoder_split's reply: its first byte this long after the request, its
    // second this long after the first (ms).
    int encoder_split_first_ms, encoder_split_gap_ms;
    std::vector<std::string> lines;  // every accepted line, in order (the effective world)
};

// The robot the program is calibrated for (drive/calibration.h; the
// simulator's tests check the two agree): the world's geometry unless its
// file says otherwise.
constexpr double kWorldDefaultTrack = 28.8;
constexpr double kWorldDefaultCmPerCount = 0.038713433;
constexpr double kWorldDefaultLeftCorrection = 0.9842;

// Robot geometry shared by physics, sensors and camera.
constexpr double kWorldBodyRadius = 18.0;  // cm, collision circle around the axle midpoint
constexpr double kWorldCameraForward = 16.0;

// An empty floor, start 0 0 0, default motors and sensors (channels 1 and 2
// fitted at the front), no faults.
void world_defaults(sim_world* w);
// Whether fault f is in effect at `now` (s on the simulator's clock). Every
// fault's effect asks this, whichever thread serves it.
bool world_fault_due(const sim_world& w, sim_fault f, double now);
// Applies one line (comments and blank lines are accepted and ignored).
// 0 on success; -1 with a message in *error on a malformed line.
int world_parse_line(sim_world* w, const std::string& line, std::string* error);
// Reads a world file on top of *w; -1 with "FILE:LINE: message" on failure.
int world_load(sim_world* w, const std::string& path, std::string* error);

// Ray from (ox, oy) towards `dir` degrees: distance to the first wall or
// present board hit, and the angle between the ray and that surface's normal
// (0 = head on, 90 = grazing). present[i] != 0 for boards still there;
// nullptr means all present. False when nothing is hit.
bool world_ray(const sim_world& w, const uint8_t* present, double ox, double oy, double dir,
               double* dist, double* incidence);
// How square a ray meets the surface it hits: *off_square is the signed angle
// in degrees from the surface's normal to the ray (positive when the ray
// points to the left of square, counter-clockwise), *perpendicular the
// distance from the origin to the surface's line. False when nothing is hit.
bool world_off_square(const sim_world& w, const uint8_t* present, double ox, double oy, double dir,
                      double* off_square, double* perpendicular);
// Smallest distance from (x, y) to any wall or present board, cm (a large
// value when the world is empty).
double world_clearance(const sim_world& w, const uint8_t* present, double x, double y);
// The board a camera at (cx, cy) looking along `heading` sees: the nearest
// present board whose face looks back at the camera and whose centre lies
// within 30 degrees of the axis. Its index, or -1; *distance gets the
// perpendicular distance from the camera to the face.
int world_board_ahead(const sim_world& w, const uint8_t* present, double cx, double cy,
                      double heading, double* distance);
