// Host link test: sends each entered number, then fetches "info.data".
#pragma once

void test_comm();
