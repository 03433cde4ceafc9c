// Wall alignment: close to a set distance from the surface ahead, then turn square to it.
#pragma once

// ref_dist: wanted distance in cm (0 only squares up). 1 when the robot ends
// square, -1 when no usable distance was measured or 11 rotations did not square it.
// When squaring is reached (every return but "no distance"), the run
// controller is left with its references at 0 and its rotation gain restored.
// Blocks the caller; a move that cannot reach its target (robot blocked)
// keeps it waiting, as there is no time-out.
int direction_correct(int ref_dist);
