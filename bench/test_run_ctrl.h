// Drive console: straight runs and turns typed in by the operator, with speeds
// and distances shown while each one runs. Returns only when the input ends.
#pragma once

void test_run_ctrl();
