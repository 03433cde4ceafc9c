// Encoder test: the sampler's counts and sums, one line a period, for ever.
#pragma once

void test_encoder();
