// The world file's reader: the defaults, one line at a time, a whole file.
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/world.h"
#include "sim/world_items.h"

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
    w->track = kWorldDefaultTrack;
    w->cm_per_count = kWorldDefaultCmPerCount;
    w->left_correction = kWorldDefaultLeftCorrection;
    w->uss[0] = sim_uss_mount{true, 12.0, 5.5, 0.0};
    w->uss[1] = sim_uss_mount{true, 12.0, -5.5, 0.0};
    w->uss[2] = sim_uss_mount{false, 0, 0, 0};
    w->uss[3] = sim_uss_mount{false, 0, 0, 0};
    w->uss_max_range = 300;
    w->uss_cone = 3;
    w->uss_grazing = 60;
    for (sim_fault_start& f : w->faults)
        f = sim_fault_start{sim_fault_start::never, 0};
    w->uss_late_ms = 70;
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
        if (!world_read_numbers(in, v, 4) || !world_rest_is_empty(in)) {
            *error = key + " needs X1 Y1 X2 Y2";
            return -1;
        }
        if (key == "wall") {
            world_add_wall(w, v[0], v[1], v[2], v[3], -1);
        } else {
            world_add_wall(w, v[0], v[1], v[2], v[1], -1);
            world_add_wall(w, v[2], v[1], v[2], v[3], -1);
            world_add_wall(w, v[2], v[3], v[0], v[3], -1);
            world_add_wall(w, v[0], v[3], v[0], v[1], -1);
        }
    } else if (key == "board") {
        rc = world_parse_board(w, in, error);
    } else if (key == "start") {
        if (!world_read_numbers(in, v, 3) || !world_rest_is_empty(in)) {
            *error = "start needs X Y HEADING";
            return -1;
        }
        w->start_x = v[0];
        w->start_y = v[1];
        w->start_heading = v[2];
    } else if (key == "io") {
        std::string chars;
        if (!(in >> chars) || chars.size() != 12 || !world_rest_is_empty(in)) {
            *error = "io needs exactly 12 characters";
            return -1;
        }
        std::memcpy(w->io, chars.data(), 12);
    } else if (key == "seed") {
        long long s = 0;
        if (!world_read_int(in, 0, 4294967295LL, &s) || !world_rest_is_empty(in)) {
            *error = "seed needs a whole number";
            return -1;
        }
        w->seed = static_cast<uint32_t>(s);
    } else if (key == "noise" || key == "slip" || key == "motor_gain" || key == "lag" ||
               key == "uss_max_range" || key == "uss_cone" || key == "uss_grazing" ||
               key == "camera_blur" || key == "camera_noise" || key == "camera_light") {
        if (!world_read_numbers(in, v, 1) || !world_rest_is_empty(in) || v[0] < 0) {
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
    } else if (key == "track" || key == "cm_per_count" || key == "left_correction") {
        if (!world_read_numbers(in, v, 1) || !world_rest_is_empty(in) || v[0] <= 0) {
            *error = key + " needs one number above 0";
            return -1;
        }
        (key == "track"          ? w->track
         : key == "cm_per_count" ? w->cm_per_count
                                 : w->left_correction) = v[0];
    } else if (key == "deadband") {
        if (!world_read_numbers(in, v, 2) || !world_rest_is_empty(in) || v[0] < 0 || v[1] < 0 ||
            v[0] > 127 || v[1] > 127) {
            *error = "deadband needs LEFT RIGHT in 0-127";
            return -1;
        }
        w->deadband_left = v[0];
        w->deadband_right = v[1];
    } else if (key == "motor_knee") {
        if (!world_read_numbers(in, v, 2) || !world_rest_is_empty(in) || v[0] < 0 || v[1] < 0) {
            *error = "motor_knee needs UNITS GAIN of at least 0";
            return -1;
        }
        w->motor_knee = v[0];
        w->motor_gain_high = v[1];
    } else if (key == "uss") {
        long long ch = 0;
        if (!world_read_int(in, 1, 4, &ch) || !world_read_numbers(in, v, 3) ||
            !world_rest_is_empty(in)) {
            *error = "uss needs CH FORWARD LEFT ANGLE";
            return -1;
        }
        w->uss[ch - 1] = sim_uss_mount{true, v[0], v[1], v[2]};
    } else if (key == "fault") {
        rc = world_parse_fault(w, in, error);
    } else if (key == "motor_curve") {
        rc = world_parse_curve(w, in, error);
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
