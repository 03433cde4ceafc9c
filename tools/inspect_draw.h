// tavi-inspect's drawing: the colours and labels of its page, and the panel
// of one candidate the driver examined (its binary crop with the probes).
#pragma once

#include <string>

#include <opencv2/core.hpp>

#include "vision/labelling.h"

inline const cv::Scalar kHit(0, 170, 0), kMiss(0, 0, 230), kText(30, 30, 30);

void inspect_text(cv::Mat& img, const std::string& s, cv::Point at, double size = 0.45,
                  cv::Scalar colour = kText);
// The crop enlarged, with the probes drawn, and the pattern under it.
cv::Mat inspect_candidate_panel(const cv::Mat& crop, int index, const candidate_rect& box,
                                int result);
