// For tests only: the run controller back to the state a program starts in
// (no move, no target, end flag 0, gain 0.3 and no saved gain; the speed
// loop's references and the odometry at 0), its thread ended first. Programs
// never call it.
#pragma once

void run_ctrl_testing_reset();
