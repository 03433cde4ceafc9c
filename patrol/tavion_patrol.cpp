// The route-table patrol: ten steps at walking pace, squaring up to the wall
// at three checkpoints and reading two digits at two of them.
#include "patrol/patrol.h"
#include "patrol/pt_route.h"

pt_record pt_data[PT_RECORDS] = {PT_SHIPPED_ROUTE};

namespace {

constexpr long STEP_PAUSE_US = 1000000;  // between steps
constexpr long FINAL_PAUSE_US = 100000;  // after the final stop
constexpr int SLOTS = 20;
// Longer than the ten steps run: the entries past step 10 are never reached.
int32_t dir_number[SLOTS] = {2, 6, 8, 16, 20, 23, 27, 30, 32, 37, 44, 47, 50, 57};
int32_t num_number[SLOTS] = {2, 8, 23, 50};

// Style and value of record index: the route's steps are read through here.
void get_patrol_data(int index, int32_t* style, int32_t* value) {
    *style = pt_data[index].style;
    *value = pt_data[index].value;
}

const pt_route route = {
    .records = pt_data,
    .steps = 10,
    .straight_speed = 10.0f,  // cm/s
    .rotation_speed = 10.0f,  // deg/s
    .align_distance = 60,     // cm
    .read_distance = 56,      // the camera sits 4 cm ahead of the rangers
    .digits = 2,
    .align_at = {dir_number, SLOTS},
    .read_at = {num_number, SLOTS},
    .step_pause_us = STEP_PAUSE_US,
    .final_pause_us = FINAL_PAUSE_US,
    .get_record = get_patrol_data,
};

}  // namespace

void tavion_patrol() {
    pt_route_run(route);
}
