// Alignment and reading test: aligns at the entered distance, then reads one
// digit 4 cm nearer (the camera sits ahead of the ultrasonic sensors).
#pragma once

void test_dir_num();
