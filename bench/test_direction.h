// Wall alignment test: one alignment at the entered distance, then its outcome.
#pragma once

void test_direction();

// The alignment both alignment tests begin with: starts the encoder sampler
// and the speed loop, asks for the distance, aligns there and prints the
// outcome. False when the distance could not be read or is below lowest (the
// routine then ends).
bool test_direction_align(int* distance, int lowest);
