// Ultrasonic test: channels 1 and 2, one line a second, for ever.
#pragma once

void test_uss();
