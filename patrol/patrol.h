// The patrol entry and its route table. Two alternative modules define them
// (tavion_patrol.cpp, the long slow route; tavi_demo.cpp, the short fast
// demonstration), so a mission program links exactly one.
#pragma once

#include <cstdint>

// One move of the route. style is the run mode (RUN_STRAIGHT .. RUN_FAST_STRAIGHT,
// drive/run_ctrl.h); value the target, cm (degrees for a rotation), its sign
// the direction. The last two fields are kept at 0 and never read.
struct pt_record {
    int32_t style;
    int32_t value;
    int32_t reserved1;
    int32_t reserved2;
};

// Records in the table; record n is the move of sequence number n + 1.
constexpr int PT_RECORDS = 100;

// The compiled-in route, writable so a route can be patched in place.
extern pt_record pt_data[PT_RECORDS];

// The route both variants ship: 348 cm straight, an arc to the right until the
// left wheel has gone 71 cm, 124 cm straight; every later record is a zero
// move. Each variant's module defines pt_data itself (a program links one of
// them), and an array takes its compile-time contents only from a brace list,
// hence a macro: pt_record pt_data[PT_RECORDS] = {PT_SHIPPED_ROUTE};
// clang-format off
#define PT_SHIPPED_ROUTE {0, 348, 0, 0}, {2, 71, 0, 0}, {0, 124, 0, 0}
// clang-format on

// Runs the whole route once from the first record and returns when done.
// Needs the encoder, motor and ultrasonic devices open and the encoder sampler
// and the speed loop running; it opens and starts none of them.
void tavion_patrol();
