// The short demonstration patrol: the same route at speed, squaring up and
// reading one digit once, after the fourth step.
#include "patrol/patrol.h"
#include "patrol/pt_route.h"

pt_record pt_data[PT_RECORDS] = {PT_SHIPPED_ROUTE};

namespace {

constexpr long STEP_PAUSE_US = 10000;     // between steps
constexpr long FINAL_PAUSE_US = 1000000;  // after the final stop
constexpr int SLOTS = 3;
const int32_t dir_number[SLOTS] = {4, 0, 0};
const int32_t num_number[SLOTS] = {4, 0, 0};

const pt_route route = {
    .records = pt_data,
    .steps = 4,
    .straight_speed = 80.0f,  // cm/s
    .rotation_speed = 30.0f,  // deg/s
    .align_distance = 50,     // cm
    .read_distance = 46,      // the camera sits 4 cm ahead of the rangers
    .digits = 1,
    .align_at = {dir_number, SLOTS},
    .read_at = {num_number, SLOTS},
    .step_pause_us = STEP_PAUSE_US,
    .final_pause_us = FINAL_PAUSE_US,
    .get_record = nullptr,  // the records are walked directly
};

}  // namespace

void tavion_patrol() {
    pt_route_run(route);
}
