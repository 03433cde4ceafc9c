#include "tools/inspect_draw.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <opencv2/imgproc.hpp>

void inspect_text(cv::Mat& img, const std::string& s, cv::Point at, double size,
                  cv::Scalar colour) {
    cv::putText(img, s, at, cv::FONT_HERSHEY_SIMPLEX, size, colour, 1, cv::LINE_AA);
}

namespace {

// One probe as the classifier lays it: pixels from (x0, y0) stepping by
// (dx, dy), n of them; where it first meets ink, or -1.
struct probe {
    const char* name;
    int x0, y0, dx, dy, n;
    int hit = -1;
};

}  // namespace

cv::Mat inspect_candidate_panel(const cv::Mat& crop, int index, const candidate_rect& box,
                                int result) {
    const int w = crop.cols, h = crop.rows;
    const int r1 = h / 4, r3 = (3 * h) / 4, cm = w / 2, half = w / 2;
    // In the classifier's table order: top, upper-right, lower-right, bottom,
    // lower-left, upper-left, middle.
    std::vector<probe> probes = {
        {"top", cm, 0, 0, 1, r1},
        {"upper-right", w - 1, r1, -1, 0, half},
        {"lower-right", w - 1, r3, -1, 0, half},
        {"bottom", cm, h - 1, 0, -1, h / 4},
        {"lower-left", 0, r3, 1, 0, half},
        {"upper-left", 0, r1, 1, 0, half},
        {"middle", cm, r1, 0, 1, r3 - r1},
    };
    std::string pattern;
    for (probe& p : probes) {
        for (int i = 0; i < p.n && p.hit < 0; ++i)
            if (crop.at<uint8_t>(p.y0 + i * p.dy, p.x0 + i * p.dx) == 255)
                p.hit = i;
        pattern += p.hit >= 0 ? '1' : '0';
    }
    const bool hole = h > 0 && w > 0 && crop.at<uint8_t>(r3, cm) == 255;

    const double k = std::max(1.0, std::min(200.0 / h, 160.0 / std::max(w, 1)));
    cv::Mat big, panel(static_cast<int>(h * k) + 80, std::max(static_cast<int>(w * k), 190) + 20,
                       CV_8UC3, cv::Scalar(255, 255, 255));
    cv::resize(crop, big, cv::Size(), k, k, cv::INTER_NEAREST);
    cv::cvtColor(255 - big, big, cv::COLOR_GRAY2BGR);  // ink dark on light
    big.copyTo(panel(cv::Rect(10, 10, big.cols, big.rows)));
    auto at = [&](int x, int y) {
        return cv::Point(10 + static_cast<int>((x + 0.5) * k),
                         10 + static_cast<int>((y + 0.5) * k));
    };
    for (const probe& p : probes) {
        if (p.n <= 0)
            continue;
        const int last = p.hit >= 0 ? p.hit : p.n - 1;
        cv::line(panel, at(p.x0, p.y0), at(p.x0 + last * p.dx, p.y0 + last * p.dy),
                 p.hit >= 0 ? kHit : kMiss, 2);
        if (p.hit >= 0)
            cv::circle(panel, at(p.x0 + p.hit * p.dx, p.y0 + p.hit * p.dy), 4, kHit, -1);
    }
    cv::rectangle(panel, at(cm, r3) - cv::Point(5, 5), at(cm, r3) + cv::Point(5, 5),
                  hole ? kHit : kMiss, hole ? -1 : 2);
    const int y = 10 + big.rows;
    char line[128];
    std::snprintf(line, sizeof line, "#%d at %d,%d  %dx%d", index, box.x1, box.y1, w, h);
    inspect_text(panel, line, cv::Point(10, y + 18));
    std::snprintf(line, sizeof line, "probes %s hole %d", pattern.c_str(), hole ? 1 : 0);
    inspect_text(panel, line, cv::Point(10, y + 38));
    std::snprintf(line, sizeof line, "number=%d", result);
    inspect_text(panel, line, cv::Point(10, y + 62), 0.6, result >= 0 ? kHit : kMiss);
    return panel;
}
