// Raw output test: the entered outputs as a two-byte motor frame every period,
// with no dead-band offset and no limit, for ever.
#pragma once

#include <cstdint>

void test_pwm();

// Motor command byte from an entered output v: v for v >= 0, 128 - v below
// (reverse bit plus magnitude), low 8 bits, no limit (300 -> 44, -128 -> 0).
uint8_t test_pwm_duty(int v);

// Asks for the two outputs (the PWM prompts) and gives their command bytes;
// false when an answer was not a number and the dialogue has ended.
bool test_pwm_read_duties(uint8_t* left_duty, uint8_t* right_duty);
