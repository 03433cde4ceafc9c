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

// ---- Drive supervision: when the wheels or the encoder no longer do what
// the speed loop commands. The motor driver holds the last command, so these
// are the only thing between a pulled cable and a robot driving on.

// How long past a whole period the speed loop waits for the next completed
// exchange before it calls the period stale (ms); the periods after a stale
// one are stale a period apart. The driver answers at once (the counts are
// latched in hardware, the reply is two bytes); the simulated device answers
// within its 2 ms poll. 30 ms is half a period more than a whole period of
// slack, so a busy machine does not turn a slow reply into a stale period.
constexpr int DRIVE_REPLY_DEADLINE_MS = 30;

// Speed-loop periods in a row without a completed exchange before the
// encoder counts as silent: a silent encoder stops the wheels within
// 19 + 30 + 7 x 19 ms (0.18 s) plus the period that sends the stop. A single
// late reply (one or two stale periods) is held through, not tripped on.
constexpr int DRIVE_SILENT_PERIODS = 8;

// A hard command: a controller output of at least this size (of 127). At
// 40 cm/s, the fastest the straight runs and turns ask for, a wheel needs
// about 67 (0.6 cm/s per unit above the dead band); only a wheel that is far
// behind its reference, or the 80 cm/s demonstration leg, gets more.
constexpr int DRIVE_HARD_COMMAND = 100;

// "Not moving": at most this many counts a period (1 count = 1.9 cm/s). A
// wheel under a hard command is driven towards 50 cm/s or more and, with the
// motor's time constant of about 70 ms, passes 2 cm/s within a few ms.
constexpr int DRIVE_STILL_COUNTS = 1;

// A hard command that moves nothing for this many periods in a row is a
// stall (about 0.5 s, seven motor time constants): a blocked wheel, or a
// counter that no longer counts while its wheel turns. Starting from rest
// against the dead band is not one: the output is then small, and by the time
// the integral has made it hard the wheel has long started.
constexpr int DRIVE_STALL_PERIODS = 25;

// "Clearly against the command": at least this many counts a period the
// other way (5.8 cm/s), well above the one-count jitter of a wheel at rest.
constexpr int DRIVE_AGAINST_COUNTS = 3;

// A hard command answered by motion the other way for this many periods in a
// row (about 0.4 s) is a wheel wired backwards. A healthy wheel reversed
// from the fastest run (40 cm/s) at full command brakes through zero within
// three time constants (0.2 s); after that it follows its command.
constexpr int DRIVE_AGAINST_PERIODS = 20;

// The last net, for a move whose wheels and encoder look healthy but whose
// target never comes: it is overdue after twice its slowest honest time plus
// this margin, in seconds. The slowest honest time is the target at the
// move's speed plus the whole final stretch at the creep speed (2 cm/s, or
// 2 deg/s for a turn), the inner wheel's share for an arc.
constexpr double DRIVE_OVERDUE_MARGIN_S = 5.0;
