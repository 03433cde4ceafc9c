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
    pt_data,
    4,      // steps
    80.0f,  // straight speed, cm/s
    30.0f,  // rotation speed
    50,     // squared up at this distance, cm
    46,     // read from here: the camera sits 4 cm ahead of the rangers
    1,      // digits per reading
    {dir_number, SLOTS},
    {num_number, SLOTS},
    STEP_PAUSE_US,
    FINAL_PAUSE_US,
    nullptr,  // the records are walked directly
};

}  // namespace

void tavion_patrol() {
    pt_route_run(route);
}
