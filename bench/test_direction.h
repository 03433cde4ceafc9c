// Wall alignment test: one alignment at the entered distance, then its outcome.
#pragma once

void test_direction();
