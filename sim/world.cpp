#include "sim/world.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

constexpr double kPi = 3.14159265358979323846;
double rad(double deg) {
    return deg * kPi / 180.0;
}
double deg(double r) {
    return r * 180.0 / kPi;
}

// Reads exactly `n` numbers from the stream; false when any is missing or
// not a finite number.
bool read_numbers(std::istringstream& in, double* out, int n) {
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

// long long: the seed's range (up to 2^32 - 1) does not fit the 32-bit
// robot's long.
bool read_int(std::istringstream& in, long long lo, long long hi, long long* out) {
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

bool rest_is_empty(std::istringstream& in) {
    std::string tok;
    return !(in >> tok);
}

void add_wall(sim_world* w, double x1, double y1, double x2, double y2, int board) {
    w->walls.push_back(sim_wall{x1, y1, x2, y2, board});
}

int parse_board(sim_world* w, std::istringstream& in, std::string* error) {
    double v[3];
    std::string digits;
    if (!read_numbers(in, v, 3) || !(in >> digits)) {
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
            if (!read_numbers(in, &b.width, 1) || b.width <= 0) {
                *error = "board width must be a positive number";
                return -1;
            }
        } else if (key == "remove_after_captures") {
            long long n = 0;
            if (!read_int(in, 1, 1000000, &n)) {
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
    add_wall(w, b.x - ax, b.y - ay, b.x + ax, b.y + ay, index);
    return 0;
}

// "motor_curve left|right C S C S ...": the command magnitudes rise strictly
// within 0..127, the speeds are at least 0.
int parse_curve(sim_world* w, std::istringstream& in, std::string* error) {
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
    while (read_numbers(numbers, pair, 2)) {
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

int parse_fault(sim_world* w, std::istringstream& in, std::string* error) {
    std::string name;
    if (!(in >> name)) {
        *error = "fault needs a name";
        return -1;
    }
    if (name == "uss_silent") {
        w->uss_silent = true;
    } else if (name == "uss_late") {
        long long ms = 70;
        std::string tok;
        if (in >> tok) {
            std::istringstream one(tok);
            if (!read_int(one, 1, 10000, &ms)) {
                *error = "uss_late takes a delay in ms (1-10000)";
                return -1;
            }
        }
        w->uss_late_ms = static_cast<int>(ms);
    } else if (name == "uss_no_echo") {
        long long ch = 0;
        if (!read_int(in, 1, 4, &ch)) {
            *error = "uss_no_echo needs a channel 1-4";
            return -1;
        }
        w->uss_no_echo[ch - 1] = true;
    } else if (name == "capture_fail") {
        w->capture_fail = true;
    } else if (name == "capture_nofile") {
        w->capture_nofile = true;
    } else if (name == "capture_truncated") {
        w->capture_truncated = true;
    } else {
        *error = "unknown fault '" + name + "'";
        return -1;
    }
    if (!rest_is_empty(in)) {
        *error = "unexpected text after fault " + name;
        return -1;
    }
    return 0;
}

// Distance along the ray (ox,oy)+t*(dx,dy) to segment s, or -1 when missed.
double ray_segment(double ox, double oy, double dx, double dy, const sim_wall& s) {
    double ex = s.x2 - s.x1, ey = s.y2 - s.y1;
    double den = dx * ey - dy * ex;
    if (std::fabs(den) < 1e-12)
        return -1;  // parallel: a ray along a wall sees no face
    double qx = s.x1 - ox, qy = s.y1 - oy;
    double t = (qx * ey - qy * ex) / den;
    double u = (qx * dy - qy * dx) / den;
    if (t < 0 || u < 0 || u > 1)
        return -1;
    return t;
}

double point_segment(double px, double py, const sim_wall& s) {
    double ex = s.x2 - s.x1, ey = s.y2 - s.y1;
    double len2 = ex * ex + ey * ey;
    double t = len2 > 0 ? ((px - s.x1) * ex + (py - s.y1) * ey) / len2 : 0;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return std::hypot(px - (s.x1 + t * ex), py - (s.y1 + t * ey));
}

bool present_wall(const sim_wall& s, const uint8_t* present) {
    return s.board < 0 || present == nullptr || present[s.board] != 0;
}

}  // namespace

void world_defaults(sim_world* w) {
    *w = sim_world{};
    w->start_x = w->start_y = w->start_heading = 0;
    std::memset(w->io, '0', sizeof w->io);
    w->seed = 1;
    w->noise = w->slip = 0;
    w->deadband_left = 28;
    w->deadband_right = 18;
    w->motor_gain = 0.6;
    w->motor_knee = 85;
    w->motor_gain_high = 3.57;
    w->lag = 0.07;
    w->uss[0] = sim_uss_mount{true, 12.0, 5.5, 0.0};
    w->uss[1] = sim_uss_mount{true, 12.0, -5.5, 0.0};
    w->uss[2] = sim_uss_mount{false, 0, 0, 0};
    w->uss[3] = sim_uss_mount{false, 0, 0, 0};
    w->uss_max_range = 300;
    w->uss_cone = 3;
    w->uss_grazing = 60;
}

int world_parse_line(sim_world* w, const std::string& raw, std::string* error) {
    std::string line = raw.substr(0, raw.find('#'));
    std::istringstream in(line);
    std::string key;
    if (!(in >> key))
        return 0;
    double v[4];
    int rc = 0;
    if (key == "wall" || key == "box") {
        if (!read_numbers(in, v, 4) || !rest_is_empty(in)) {
            *error = key + " needs X1 Y1 X2 Y2";
            return -1;
        }
        if (key == "wall") {
            add_wall(w, v[0], v[1], v[2], v[3], -1);
        } else {
            add_wall(w, v[0], v[1], v[2], v[1], -1);
            add_wall(w, v[2], v[1], v[2], v[3], -1);
            add_wall(w, v[2], v[3], v[0], v[3], -1);
            add_wall(w, v[0], v[3], v[0], v[1], -1);
        }
    } else if (key == "board") {
        rc = parse_board(w, in, error);
    } else if (key == "start") {
        if (!read_numbers(in, v, 3) || !rest_is_empty(in)) {
            *error = "start needs X Y HEADING";
            return -1;
        }
        w->start_x = v[0];
        w->start_y = v[1];
        w->start_heading = v[2];
    } else if (key == "io") {
        std::string chars;
        if (!(in >> chars) || chars.size() != 12 || !rest_is_empty(in)) {
            *error = "io needs exactly 12 characters";
            return -1;
        }
        std::memcpy(w->io, chars.data(), 12);
    } else if (key == "seed") {
        long long s = 0;
        if (!read_int(in, 0, 4294967295LL, &s) || !rest_is_empty(in)) {
            *error = "seed needs a whole number";
            return -1;
        }
        w->seed = static_cast<uint32_t>(s);
    } else if (key == "noise" || key == "slip" || key == "motor_gain" || key == "lag" ||
               key == "uss_max_range" || key == "uss_cone" || key == "uss_grazing" ||
               key == "camera_blur" || key == "camera_noise" || key == "camera_light") {
        if (!read_numbers(in, v, 1) || !rest_is_empty(in) || v[0] < 0) {
            *error = key + " needs one number of at least 0";
            return -1;
        }
        if (((key == "slip" || key == "camera_light") && v[0] > 1) ||
            (key == "uss_grazing" && v[0] > 90)) {
            *error = key + " out of range";
            return -1;
        }
        double* target = key == "noise"           ? &w->noise
                         : key == "slip"          ? &w->slip
                         : key == "motor_gain"    ? &w->motor_gain
                         : key == "lag"           ? &w->lag
                         : key == "uss_max_range" ? &w->uss_max_range
                         : key == "uss_cone"      ? &w->uss_cone
                         : key == "camera_blur"   ? &w->camera_blur
                         : key == "camera_noise"  ? &w->camera_noise
                         : key == "camera_light"  ? &w->camera_light
                                                  : &w->uss_grazing;
        *target = v[0];
    } else if (key == "deadband") {
        if (!read_numbers(in, v, 2) || !rest_is_empty(in) || v[0] < 0 || v[1] < 0 || v[0] > 127 ||
            v[1] > 127) {
            *error = "deadband needs LEFT RIGHT in 0-127";
            return -1;
        }
        w->deadband_left = v[0];
        w->deadband_right = v[1];
    } else if (key == "motor_knee") {
        if (!read_numbers(in, v, 2) || !rest_is_empty(in) || v[0] < 0 || v[1] < 0) {
            *error = "motor_knee needs UNITS GAIN of at least 0";
            return -1;
        }
        w->motor_knee = v[0];
        w->motor_gain_high = v[1];
    } else if (key == "uss") {
        long long ch = 0;
        if (!read_int(in, 1, 4, &ch) || !read_numbers(in, v, 3) || !rest_is_empty(in)) {
            *error = "uss needs CH FORWARD LEFT ANGLE";
            return -1;
        }
        w->uss[ch - 1] = sim_uss_mount{true, v[0], v[1], v[2]};
    } else if (key == "fault") {
        rc = parse_fault(w, in, error);
    } else if (key == "motor_curve") {
        rc = parse_curve(w, in, error);
    } else {
        *error = "unknown item '" + key + "'";
        return -1;
    }
    if (rc == 0)
        w->lines.push_back(line);
    return rc;
}

int world_load(sim_world* w, const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot open";
        return -1;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string why;
        if (world_parse_line(w, line, &why) != 0) {
            *error = path + ":" + std::to_string(number) + ": " + why;
            return -1;
        }
    }
    return 0;
}

namespace {

// The first wall or present board along the ray, the distance to it and the
// signed angle from its normal (the one pointing into it) to the ray.
const sim_wall* ray_hit(const sim_world& w, const uint8_t* present, double ox, double oy,
                        double dir, double* dist, double* off_square) {
    double dx = std::cos(rad(dir)), dy = std::sin(rad(dir));
    double best = std::numeric_limits<double>::infinity();
    const sim_wall* hit = nullptr;
    for (const sim_wall& s : w.walls) {
        if (!present_wall(s, present))
            continue;
        double t = ray_segment(ox, oy, dx, dy, s);
        if (t >= 0 && t < best) {
            best = t;
            hit = &s;
        }
    }
    if (hit == nullptr)
        return nullptr;
    double nx = -(hit->y2 - hit->y1), ny = hit->x2 - hit->x1;
    if (nx * dx + ny * dy < 0) {
        nx = -nx;
        ny = -ny;
    }
    *dist = best;
    *off_square = std::remainder(dir - deg(std::atan2(ny, nx)), 360.0);
    return hit;
}

}  // namespace

bool world_ray(const sim_world& w, const uint8_t* present, double ox, double oy, double dir,
               double* dist, double* incidence) {
    double off = 0;
    if (ray_hit(w, present, ox, oy, dir, dist, &off) == nullptr)
        return false;
    *incidence = std::fabs(off);
    return true;
}

bool world_off_square(const sim_world& w, const uint8_t* present, double ox, double oy, double dir,
                      double* off_square, double* perpendicular) {
    double dist = 0;
    if (ray_hit(w, present, ox, oy, dir, &dist, off_square) == nullptr)
        return false;
    *perpendicular = dist * std::cos(rad(*off_square));
    return true;
}

double world_clearance(const sim_world& w, const uint8_t* present, double x, double y) {
    double best = 1e9;
    for (const sim_wall& s : w.walls) {
        if (!present_wall(s, present))
            continue;
        double d = point_segment(x, y, s);
        if (d < best)
            best = d;
    }
    return best;
}

int world_board_ahead(const sim_world& w, const uint8_t* present, double cx, double cy,
                      double heading, double* distance) {
    int best = -1;
    double best_dist = 0;
    for (int i = 0; i < static_cast<int>(w.boards.size()); ++i) {
        if (present != nullptr && present[i] == 0)
            continue;
        const sim_board& b = w.boards[i];
        double nx = std::cos(rad(b.facing)), ny = std::sin(rad(b.facing));
        // The camera must stand in front of the printed face.
        double perp = (cx - b.x) * nx + (cy - b.y) * ny;
        if (perp <= 0)
            continue;
        double bearing = deg(std::atan2(b.y - cy, b.x - cx)) - heading;
        bearing = std::remainder(bearing, 360.0);
        if (std::fabs(bearing) > 30.0)
            continue;
        if (best < 0 || perp < best_dist) {
            best = i;
            best_dist = perp;
        }
    }
    *distance = best >= 0 ? best_dist : -1;
    return best;
}
