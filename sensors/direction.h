// Wall alignment: close to a set distance from the surface ahead, then turn square to it.
#pragma once

// ref_dist: wanted distance in cm (0 only squares up). 1 when the robot ends
// square, -1 when no usable distance was measured or 11 rotations did not square it.
int direction_correct(int ref_dist);
