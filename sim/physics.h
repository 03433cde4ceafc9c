// Differential-drive physics: motor command bytes to wheel speeds (dead band,
// linear gain, first-order lag, optional noise and slip), wheel travel to
// encoder counts, wheel speeds to pose, walls that refuse a step. One call of
// physics_step advances the robot by dt; nothing here reads a clock.
#pragma once

#include <cstdint>
#include <random>

#include "sim/world.h"

struct sim_pose {
    double x, y;     // cm
    double heading;  // degrees, -180..180
};

struct sim_robot {
    sim_pose pose;
    double v_left, v_right;            // cm/s, wheel surface speeds
    double travel_left, travel_right;  // cm the wheels have turned, forward positive
    int64_t count_left, count_right;   // their whole encoder counts, forward positive
    double heading_turned;             // degrees turned since the start, counter-clockwise positive
    double distance;                   // cm path length of the centre
    bool blocked;                      // the last step was refused by a wall
    bool blocked_ever;
    // A wheel held by an obstacle of its own (a chair leg): 0 speed whatever
    // the command, so the robot pivots about it when the other wheel turns.
    bool held_left, held_right;
};

// The robot standing still at the world's start pose.
sim_robot physics_start(const sim_world& w);

// Sign-and-magnitude command byte to a signed command: bit 7 reverse, bits
// 0-6 magnitude (0x80 is a stop like 0x00).
int physics_decode_byte(uint8_t b);
// Speed the wheel settles at for a signed command: 0 inside the dead band;
// above it the drive e = magnitude - dead band gives gain x e up to the knee
// and a steeper gain_high beyond it; the command's sign.
double physics_target_speed(int command, double deadband, double gain, double knee,
                            double gain_high);

// Speed the wheel settles at for a signed command on a measured curve.
double physics_curve_speed(int command, const sim_motor_curve& curve);

// Whole encoder counts of a wheel travel (floor, so a wheel that goes back
// and forth over a count boundary gives +1 then -1).
int64_t physics_counts(double travel, double cm_per_count);

// Advances the robot by dt seconds under the held commands. `present` as in
// world_ray. rng drives noise and slip (unused when both are 0).
void physics_step(const sim_world& w, const uint8_t* present, sim_robot* r, int cmd_left,
                  int cmd_right, double dt, std::mt19937* rng);

// Pose of a point mounted on the robot: forward/left offsets in cm, angle
// relative to the heading.
sim_pose physics_mount_pose(const sim_pose& robot, double forward, double left, double angle);
