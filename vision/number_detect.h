// Number reading driver and the store of the last digits read.
#pragma once

// Digits a reading expects, 1 or 2 (initially 2).
void number_set_nums(int count);
// Copies the expected digits (left first; at most two) into out.
void number_get(int* out);
// One reading at distance cm from the board: capture, binarize, label, classify,
// store. 0 when a frame was processed, -1 when capture or loading failed (store unchanged).
int number_detect(int distance);
