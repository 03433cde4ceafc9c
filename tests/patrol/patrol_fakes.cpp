#include "tests/patrol/patrol_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "drive/pause.h"
#include "patrol/pt_route.h"
#include "sensors/direction.h"
#include "vision/number_detect.h"

patrol_record patrol_rec;

namespace {

void note(const std::string& event) {
    patrol_rec.events.push_back(event);
}

}  // namespace

void patrol_fakes_reset() {
    patrol_rec = patrol_record{};
    run_ctrl_recorder_use(&patrol_rec);
}

std::vector<std::string> patrol_actions() {
    const std::string poll_pause = "pause " + std::to_string(PT_ROUTE_POLL_US);
    std::vector<std::string> out;
    for (const std::string& e : patrol_rec.events) {
        if (e != "flag" && e != poll_pause) {
            out.push_back(e);
        }
    }
    return out;
}

int patrol_count(const std::string& event) {
    return static_cast<int>(std::count(patrol_rec.events.begin(), patrol_rec.events.end(), event));
}

std::vector<std::string> patrol_lines(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(line);
        }
        at = end + 1;
    }
    return out;
}

int direction_correct(int ref_dist) {
    note("align " + std::to_string(ref_dist));
    return 1;
}

void number_set_nums(int count) {
    patrol_rec.digits_expected = count;
    note("nums " + std::to_string(count));
}

int number_detect(int distance) {
    note("detect " + std::to_string(distance));
    return 0;
}

// Like the real store: writes only as many values as a reading expects.
void number_get(int* out) {
    note("get");
    if (patrol_rec.readings.empty()) {
        ADD_FAILURE() << "more readings than scripted";
        return;
    }
    const std::vector<int> digits = patrol_rec.readings.front();
    patrol_rec.readings.pop_front();
    const int n =
        std::min<int>(patrol_rec.digits_expected == 1 ? 1 : 2, static_cast<int>(digits.size()));
    for (int i = 0; i < n; ++i) {
        out[i] = digits[i];
    }
}

void pause_us(long us) {
    note("pause " + std::to_string(us));
}
