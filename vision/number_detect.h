// Number reading driver and the store of the last digits read.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "vision/labelling.h"

// Digits a reading expects, 1 or 2 (initially 2). Any value other than 1 reads
// like 2.
void number_set_nums(int count);
// Copies the expected digits (left first; at most two, none for a count below 1)
// into out. -1 marks a digit not read; both slots hold -1 until a reading stores.
void number_get(int* out);
// One reading at distance cm from the board: capture, binarize, label, classify,
// store. 0 when a frame was processed, -1 when capture or loading failed (store
// unchanged). A two-digit reading that did not read both digits stores -1, -1.
int number_detect(int distance);

// Pause after every examined candidate except one that completes the reading, in µs.
constexpr int NUMBER_CANDIDATE_PAUSE_US = 100000;

// What one processed frame went through.
struct number_reading {
    int candidates;  // labelling's count
    int examined;    // candidates cropped and classified
    int pauses;      // pauses taken between candidates
    int read;        // digits read, 0..2
};

// What a person inspecting a reading is shown besides the counts: the frame's
// binary image before labelling, the candidate table, and for every candidate
// examined its binary crop (what the classifier probed) and its result.
struct number_trace {
    cv::Mat binary;
    candidate_rect table[CANDIDATE_TABLE_SIZE];
    std::vector<cv::Mat> crops;
    std::vector<int> results;
};

// Everything of a reading after the capture, on a loaded colour frame: the
// binary image file, labelling, the candidate loop with pause_us between
// candidates, the store and its line. 0 when processed; -1 (store unchanged)
// when the frame is empty or a crop file could not be written or loaded.
// reading and trace may be null; a trace is filled as the reading goes.
// No digit is kept from a candidate whose box lies inside another candidate's
// box (a digit's own hole) or equals an earlier one's; a line says so after
// its "number=" line, and it counts as a candidate that read -1. A candidate
// the frame's threshold found solid ink whose crop's own threshold split only
// noise is classified as ink throughout (a solid 1 in a light room).
int number_detect_frame(const cv::Mat& frame, int distance, int pause_us, number_reading* reading,
                        number_trace* trace = nullptr);

// One candidate: crops box out of frame through the crop file, binarizes and
// classifies it, applies the aspect rule to an 8 and prints the "number=" line.
// false (nothing classified, "cannot load ./img/trim.jpg: the crop left no
// complete image" printed) when the crop file could not be written or loaded.
bool number_detect_candidate(const cv::Mat& frame, const candidate_rect& box, int* result);
