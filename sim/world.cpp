#include "sim/world.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
double rad(double deg) {
    return deg * kPi / 180.0;
}
double deg(double r) {
    return r * 180.0 / kPi;
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

bool world_fault_due(const sim_world& w, sim_fault f, double now) {
    const sim_fault_start& start = w.faults[static_cast<int>(f)];
    switch (start.when) {
        case sim_fault_start::from_start:
            return true;
        case sim_fault_start::from_time:
            return now >= start.at;
        case sim_fault_start::never:
            break;
    }
    return false;
}

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
