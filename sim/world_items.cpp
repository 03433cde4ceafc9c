#include "sim/world_items.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr double kPi = 3.14159265358979323846;
double rad(double deg) {
    return deg * kPi / 180.0;
}

}  // namespace

bool world_read_numbers(std::istringstream& in, double* out, int n) {
    for (int i = 0; i < n; ++i) {
        std::string tok;
        if (!(in >> tok))
            return false;
        char* end = nullptr;
        out[i] = std::strtod(tok.c_str(), &end);
        if (end == tok.c_str() || *end != '\0' || !std::isfinite(out[i]))
            return false;
    }
    return true;
}

bool world_read_int(std::istringstream& in, long long lo, long long hi, long long* out) {
    std::string tok;
    if (!(in >> tok))
        return false;
    char* end = nullptr;
    long long v = std::strtoll(tok.c_str(), &end, 10);
    if (end == tok.c_str() || *end != '\0' || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

bool world_rest_is_empty(std::istringstream& in) {
    std::string tok;
    return !(in >> tok);
}

void world_add_wall(sim_world* w, double x1, double y1, double x2, double y2, int board) {
    w->walls.push_back(sim_wall{x1, y1, x2, y2, board});
}

int world_parse_board(sim_world* w, std::istringstream& in, std::string* error) {
    double v[3];
    std::string digits;
    if (!world_read_numbers(in, v, 3) || !(in >> digits)) {
        *error = "board needs X Y FACING DIGITS";
        return -1;
    }
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        *error = "board digits must be one or two of 0-9";
        return -1;
    }
    if (static_cast<int>(w->boards.size()) >= kWorldMaxBoards) {
        *error = "too many boards";
        return -1;
    }
    sim_board b{v[0], v[1], v[2], 30.0, digits, 0};
    std::string key;
    while (in >> key) {
        if (key == "width") {
            if (!world_read_numbers(in, &b.width, 1) || b.width <= 0) {
                *error = "board width must be a positive number";
                return -1;
            }
        } else if (key == "remove_after_captures") {
            long long n = 0;
            if (!world_read_int(in, 1, 1000000, &n)) {
                *error = "remove_after_captures needs a count of at least 1";
                return -1;
            }
            b.remove_after = static_cast<int>(n);
        } else {
            *error = "unknown board option '" + key + "'";
            return -1;
        }
    }
    int index = static_cast<int>(w->boards.size());
    w->boards.push_back(b);
    // The board is a flat plate across its facing direction.
    double ax = std::cos(rad(b.facing + 90.0)) * b.width / 2;
    double ay = std::sin(rad(b.facing + 90.0)) * b.width / 2;
    world_add_wall(w, b.x - ax, b.y - ay, b.x + ax, b.y + ay, index);
    return 0;
}

int world_parse_curve(sim_world* w, std::istringstream& in, std::string* error) {
    std::string wheel;
    in >> wheel;
    if (wheel != "left" && wheel != "right") {
        *error = "motor_curve needs left or right, then COMMAND SPEED pairs";
        return -1;
    }
    sim_motor_curve c{};
    double pair[2];
    std::string rest;
    std::getline(in, rest);
    std::istringstream numbers(rest);
    int tokens = 0;
    for (std::string tok; numbers >> tok;)
        ++tokens;
    numbers.clear();
    numbers.seekg(0);
    if (tokens % 2 != 0) {
        *error = "motor_curve needs COMMAND SPEED pairs";
        return -1;
    }
    while (world_read_numbers(numbers, pair, 2)) {
        if (c.points == kWorldCurvePoints || pair[0] < 0 || pair[0] > 127 || pair[1] < 0 ||
            (c.points > 0 && pair[0] <= c.command[c.points - 1])) {
            *error = "motor_curve: at most 32 points, commands rising within 0-127, speeds >= 0";
            return -1;
        }
        c.command[c.points] = pair[0];
        c.speed[c.points] = pair[1];
        ++c.points;
    }
    if (c.points < 2 || c.points * 2 != tokens) {
        *error = "motor_curve needs at least two COMMAND SPEED pairs and nothing else";
        return -1;
    }
    (wheel == "left" ? w->curve_left : w->curve_right) = c;
    return 0;
}

namespace {

// "left", "right" (and "both" when allowed) as the wheels they name.
bool read_wheels(std::istringstream& in, bool both_allowed, bool wheels[2]) {
    std::string tok;
    in >> tok;
    wheels[0] = tok == "left" || (both_allowed && tok == "both");
    wheels[1] = tok == "right" || (both_allowed && tok == "both");
    return wheels[0] || wheels[1];
}

// The optional AT_S: seconds on the simulator's clock; without it, from the
// start.
bool read_start(std::istringstream& in, sim_fault_start* start) {
    *start = sim_fault_start{sim_fault_start::from_start, 0};
    std::string tok;
    if (!(in >> tok))
        return true;
    std::istringstream one(tok);
    *start = sim_fault_start{sim_fault_start::from_time, 0};
    return world_read_numbers(one, &start->at, 1) && start->at >= 0;
}

// The faults switched on by their name alone, for the whole run; nullptr
// for any other name.
const sim_fault* by_name_alone(const std::string& name) {
    static const struct {
        const char* name;
        sim_fault fault;
    } faults[] = {{"uss_silent", sim_fault::uss_silent},
                  {"capture_fail", sim_fault::capture_fail},
                  {"capture_nofile", sim_fault::capture_nofile},
                  {"capture_truncated", sim_fault::capture_truncated}};
    for (const auto& f : faults)
        if (name == f.name)
            return &f.fault;
    return nullptr;
}

}  // namespace

int world_parse_fault(sim_world* w, std::istringstream& in, std::string* error) {
    std::string name;
    if (!(in >> name)) {
        *error = "fault needs a name";
        return -1;
    }
    const sim_fault_start whole_run{sim_fault_start::from_start, 0};
    auto row = [w](sim_fault f) -> sim_fault_start& { return w->faults[static_cast<int>(f)]; };
    if (const sim_fault* alone = by_name_alone(name)) {
        row(*alone) = whole_run;
    } else if (name == "uss_late") {
        long long ms = 70;
        std::string tok;
        if (in >> tok) {
            std::istringstream one(tok);
            if (!world_read_int(one, 1, 10000, &ms)) {
                *error = "uss_late takes a delay in ms (1-10000)";
                return -1;
            }
        }
        w->uss_late_ms = static_cast<int>(ms);
        row(sim_fault::uss_late) = whole_run;
    } else if (name == "uss_no_echo") {
        long long ch = 0;
        if (!world_read_int(in, 1, 4, &ch)) {
            *error = "uss_no_echo needs a channel 1-4";
            return -1;
        }
        row(world_fault_of(sim_fault::uss_no_echo_1, static_cast<int>(ch) - 1)) = whole_run;
    } else if (name == "encoder_silent") {
        sim_fault_start start{};
        if (!read_start(in, &start)) {
            *error = "encoder_silent takes a start time in s (at least 0)";
            return -1;
        }
        row(sim_fault::encoder_silent) = start;
    } else if (name == "encoder_split") {
        sim_fault_start start{};
        long long first = 0, gap = 0;
        if (!read_start(in, &start) || start.when != sim_fault_start::from_time ||
            !world_read_int(in, 0, 10000, &first) || !world_read_int(in, 0, 10000, &gap)) {
            *error =
                "encoder_split needs a time in s, then the first byte's and the second "
                "byte's delays in ms (0-10000)";
            return -1;
        }
        row(sim_fault::encoder_split) = start;
        w->encoder_split_first_ms = static_cast<int>(first);
        w->encoder_split_gap_ms = static_cast<int>(gap);
    } else if (name == "encoder_dead" || name == "wheel_blocked") {
        const bool blocked = name == "wheel_blocked";
        bool wheels[2];
        sim_fault_start start{};
        if (!read_wheels(in, blocked, wheels) || !read_start(in, &start)) {
            *error = name + (blocked ? " needs left, right or both" : " needs left or right") +
                     ", then an optional start time in s (at least 0)";
            return -1;
        }
        const sim_fault first =
            blocked ? sim_fault::wheel_blocked_left : sim_fault::encoder_dead_left;
        for (int i = 0; i < 2; ++i)
            if (wheels[i])
                row(world_fault_of(first, i)) = start;
    } else if (name == "motor_reversed") {
        bool wheels[2];
        if (!read_wheels(in, false, wheels)) {
            *error = "motor_reversed needs left or right";
            return -1;
        }
        for (int i = 0; i < 2; ++i)
            if (wheels[i])
                row(world_fault_of(sim_fault::motor_reversed_left, i)) = whole_run;
    } else {
        *error = "unknown fault '" + name + "'";
        return -1;
    }
    if (!world_rest_is_empty(in)) {
        *error = "unexpected text after fault " + name;
        return -1;
    }
    return 0;
}
