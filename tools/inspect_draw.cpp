#include "tools/inspect_draw.h"

#include <algorithm>
#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "vision/number_search.h"

void inspect_text(cv::Mat& img, const std::string& s, cv::Point at, double size,
                  cv::Scalar colour) {
    cv::putText(img, s, at, cv::FONT_HERSHEY_SIMPLEX, size, colour, 1, cv::LINE_AA);
}

cv::Mat inspect_candidate_panel(const cv::Mat& crop, int index, const candidate_rect& box,
                                int result) {
    const int w = crop.cols, h = crop.rows;
    // The classifier's own probes, in its table order.
    const number_probe_layout layout = number_search_layout(w, h);
    const int cm = layout.hole_x, r3 = layout.hole_y;
    int hits[7];
    std::string pattern;
    for (int i = 0; i < 7; ++i) {
        hits[i] = number_probe_hit(crop, layout.probes[i]);
        pattern += hits[i] >= 0 ? '1' : '0';
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
    for (int i = 0; i < 7; ++i) {
        const number_probe& p = layout.probes[i];
        if (p.n <= 0)
            continue;
        const int hit = hits[i];
        const int last = hit >= 0 ? hit : p.n - 1;
        cv::line(panel, at(p.x0, p.y0), at(p.x0 + last * p.dx, p.y0 + last * p.dy),
                 hit >= 0 ? kHit : kMiss, 2);
        if (hit >= 0)
            cv::circle(panel, at(p.x0 + hit * p.dx, p.y0 + hit * p.dy), 4, kHit, -1);
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
