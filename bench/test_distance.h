// Odometry test: both wheel distances, one line a period, for ever.
#pragma once

void test_distance();
