// Motor test: the entered outputs through motor_drive every period, for ever.
#pragma once

void test_motor();
