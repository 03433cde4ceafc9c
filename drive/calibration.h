// The drive's time step and wheel calibration, each stated once. The encoder
// sampler, the speed loop, the run controller, the odometry and the bench
// loops all take them from here.
#pragma once

#include <sys/types.h>

// Every loop that drives, samples or polls the wheels sleeps this long after
// its period's work (µs, as usleep takes it). The sleep comes after the work,
// not up to a fixed deadline: a period is then the 19 ms plus the work (an
// exchange with the encoder driver, a few products, one motor frame), close
// to the nominal 20 ms that DRIVE_CMS_PER_COUNT assumes, and a period that
// ran late is never followed by a short catch-up period whose few counts
// would read as a sudden drop in speed.
constexpr useconds_t DRIVE_PERIOD_US = 19000;

// cm a wheel travels per encoder count, as the 32-bit value the odometry has
// always used.
constexpr float DRIVE_CM_PER_COUNT = 0.038713433f;

// The left wheel is slightly smaller: its counts are worth this share of a
// right count, in distance and in speed alike. A double on purpose: the
// products are formed in double and rounded to float once.
constexpr double DRIVE_LEFT_CORRECTION = 0.9842;

// Wheel speed in cm/s for one count per period: the distance per count over
// the nominal 20 ms period (1.9356717 as a float).
constexpr float DRIVE_CMS_PER_COUNT = DRIVE_CM_PER_COUNT * 50;

// ---- turning geometry: the wheel track, with pi as the tuning used it.
// The two factors the run controller turns with are kept as they were tuned
// (to the digits written); the checks below tie both to this one track, so
// a factor edited alone no longer compiles.
constexpr double DRIVE_TRACK_CM = 28.8;
constexpr double DRIVE_PI = 3.1416;
// cm/s of wheel speed per deg/s of turn: half the track times a degree in
// radians.
constexpr double DRIVE_ROTATION_FACTOR = 0.251328;
// Degrees turned per cm of left-right wheel difference: a radian in degrees
// over the track.
constexpr double DRIVE_ANGLE_FACTOR = 1.9894321;
namespace drive_calibration_check {
constexpr double off(double a, double b) {
    return a > b ? a - b : b - a;
}
constexpr double track_rotation = DRIVE_PI * DRIVE_TRACK_CM / 360;
constexpr double track_angle = 180 / (DRIVE_PI * DRIVE_TRACK_CM);
static_assert(off(DRIVE_ROTATION_FACTOR, track_rotation) < 5e-7,
              "the rotation factor is not the track's");
static_assert(off(DRIVE_ANGLE_FACTOR, track_angle) < 5e-8, "the angle factor is not the track's");
}  // namespace drive_calibration_check
