#include "sim/record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "sim/ultrasonic.h"

namespace {

constexpr size_t kPathReserve = 1 << 20;  // about 11 hours at 25 points per second
constexpr double kPi = 3.14159265358979323846;

std::mutex log_mutex;
FILE* log_file = nullptr;
std::vector<cv::Point2d> path_points;

void put_uss(FILE* f, const sim_world& w, const uint8_t* present, const sim_pose& pose, int ch,
             double now) {
    sim_uss_sample u = ultrasonic_measure(w, present, pose, ch, now);
    if (u.echo) {
        double reading = std::max(0.0, std::round(u.range) - 20.0);
        std::fprintf(f, "uss%d_range=%.1f\nuss%d_reading=%.0f\n", ch, u.range, ch, reading);
    } else {
        std::fprintf(f, "uss%d_range=none\nuss%d_reading=none\n", ch, ch);
    }
}

}  // namespace

int record_open(const std::string& path) {
    std::lock_guard<std::mutex> lock(log_mutex);
    log_file = std::fopen(path.c_str(), "w");
    if (log_file == nullptr)
        return -1;
    std::fputs("time,event,x,y,heading,v_left,v_right,cmd_left,cmd_right,detail\n", log_file);
    path_points.clear();
    path_points.reserve(kPathReserve);
    return 0;
}

void record_event(const sim_shared& s, const char* event, const char* detail) {
    constexpr auto rx = std::memory_order_relaxed;
    std::lock_guard<std::mutex> lock(log_mutex);
    if (log_file == nullptr)
        return;
    std::fprintf(log_file, "%.4f,%s,%.2f,%.2f,%.2f,%.2f,%.2f,%d,%d,%s\n", state_now(s), event,
                 s.x.load(rx), s.y.load(rx), s.heading.load(rx), s.v_left.load(rx),
                 s.v_right.load(rx), s.cmd_left.load(rx), s.cmd_right.load(rx), detail);
}

void record_path_point(double x, double y) {
    if (path_points.size() < kPathReserve)
        path_points.emplace_back(x, y);
}

void record_close() {
    std::lock_guard<std::mutex> lock(log_mutex);
    if (log_file != nullptr)
        std::fclose(log_file);
    log_file = nullptr;
}

namespace {

// How well the simulated hardware kept real time, and a verdict: a step or
// an encoder reply more than kLateLimitS behind is no longer what the robot's
// hardware would have done, and the run's figures are then the simulator's
// as much as the program's.
constexpr double kLateLimitS = 0.005;

void put_timeliness(FILE* f, const sim_shared& s) {
    constexpr auto rx = std::memory_order_relaxed;
    const int64_t replies = s.encoder_requests.load(rx);
    const double physics_late = s.physics_late_max.load(rx);
    const double device_late = s.device_late_max.load(rx);
    const double reply_age = s.reply_age_max.load(rx);
    const double dropped = s.physics_dropped.load(rx);
    const double pty_late = s.pty_late_max.load(rx);
    std::fprintf(f, "sim_priority=%d\n", s.realtime_priority.load(rx));
    std::fprintf(f, "sim_physics_late_max_ms=%.2f\nsim_physics_dropped_ms=%.1f\n",
                 physics_late * 1e3, dropped * 1e3);
    std::fprintf(f, "sim_device_late_max_ms=%.2f\n", device_late * 1e3);
    std::fprintf(f, "sim_reply_age_max_ms=%.2f\nsim_reply_age_mean_ms=%.3f\n", reply_age * 1e3,
                 replies > 0 ? s.reply_age_sum.load(rx) / static_cast<double>(replies) * 1e3 : 0.0);
    std::fprintf(f, "sim_pty_late_max_ms=%.2f\n", pty_late * 1e3);
    const bool kept = physics_late <= kLateLimitS && device_late <= kLateLimitS &&
                      reply_age <= kLateLimitS && pty_late <= kLateLimitS && dropped == 0;
    std::fprintf(f, "sim_realtime=%s\n", kept ? "yes" : "no");
}

}  // namespace

int record_summary(const std::string& path, const sim_world& w, const sim_shared& s,
                   const sim_robot& r, double run_time) {
    constexpr auto rx = std::memory_order_relaxed;
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        return -1;
    uint8_t present[kWorldMaxBoards];
    state_present(s, present);
    std::fprintf(f, "x=%.2f\ny=%.2f\nheading=%.2f\nheading_turned=%.2f\n", r.pose.x, r.pose.y,
                 r.pose.heading, r.heading_turned);
    std::fprintf(f, "distance_travelled=%.2f\n", r.distance);
    std::fprintf(f, "wheel_speed_left=%.2f\nwheel_speed_right=%.2f\n", r.v_left, r.v_right);
    bool rest = std::fabs(r.v_left) < 0.5 && std::fabs(r.v_right) < 0.5;
    std::fprintf(f, "at_rest=%d\n", rest ? 1 : 0);
    std::fprintf(f, "motor_frames=%lld\n", static_cast<long long>(s.motor_frames.load(rx)));
    int len = s.last_frame_len.load(rx);
    uint32_t frame = s.last_frame.load(rx);
    if (len == 0) {
        std::fputs("last_motor_frame=none\n", f);
    } else {
        std::fputs("last_motor_frame=", f);
        for (int i = 0; i < len; ++i)
            std::fprintf(f, i ? " %02X" : "%02X", static_cast<unsigned>((frame >> (8 * i)) & 0xFF));
        std::fputs("\n", f);
    }
    std::fprintf(f, "last_motor_frame_len=%d\nlast_motor_frame_time=%.4f\n", len,
                 len ? s.last_frame_time.load(rx) : -1.0);
    std::fprintf(f, "motor_left=%d\nmotor_right=%d\n", s.cmd_left.load(rx), s.cmd_right.load(rx));
    std::fprintf(f, "encoder_requests=%lld\nencoder_wraps=%lld\n",
                 static_cast<long long>(s.encoder_requests.load(rx)),
                 static_cast<long long>(s.encoder_wraps.load(rx)));
    std::fprintf(f, "encoder_left=%lld\nencoder_right=%lld\n", static_cast<long long>(r.count_left),
                 static_cast<long long>(r.count_right));
    std::fprintf(f, "uss_queries=%lld\n", static_cast<long long>(s.uss_queries.load(rx)));
    put_uss(f, w, present, r.pose, 1, run_time);
    put_uss(f, w, present, r.pose, 2, run_time);
    sim_pose cam = physics_mount_pose(r.pose, kWorldCameraForward, 0, 0);
    double dist = -1;
    int board = world_board_ahead(w, present, cam.x, cam.y, cam.heading, &dist);
    if (board >= 0) {
        std::fprintf(f, "board_ahead=%d\nboard_ahead_digits=%s\nboard_ahead_distance=%.1f\n", board,
                     w.boards[board].digits.c_str(), dist);
    } else {
        std::fputs("board_ahead=none\nboard_ahead_digits=\nboard_ahead_distance=-1\n", f);
    }
    std::fprintf(f, "captures=%lld\ncaptures_failed=%lld\nboards_removed=%lld\n",
                 static_cast<long long>(s.captures.load(rx)),
                 static_cast<long long>(s.captures_failed.load(rx)),
                 static_cast<long long>(s.boards_removed.load(rx)));
    std::fprintf(f, "blocked=%d\nblocked_ever=%d\nrun_time=%.3f\n", r.blocked ? 1 : 0,
                 r.blocked_ever ? 1 : 0, run_time);
    std::fprintf(f, "track=%.10g\n", w.track);
    put_timeliness(f, s);
    return std::fclose(f) == 0 ? 0 : -1;
}

int record_map(const std::string& path, const sim_world& w, const sim_shared& s,
               const sim_robot& r) {
    // Frame everything that exists in the run, with a margin.
    double x0 = std::min(w.start_x, r.pose.x), x1 = std::max(w.start_x, r.pose.x);
    double y0 = std::min(w.start_y, r.pose.y), y1 = std::max(w.start_y, r.pose.y);
    for (const sim_wall& s2 : w.walls) {
        x0 = std::min({x0, s2.x1, s2.x2});
        x1 = std::max({x1, s2.x1, s2.x2});
        y0 = std::min({y0, s2.y1, s2.y2});
        y1 = std::max({y1, s2.y1, s2.y2});
    }
    for (const cv::Point2d& p : path_points) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    x0 -= 40;
    y0 -= 40;
    x1 += 40;
    y1 += 40;
    // 2 px per cm, but never a picture beyond 4000 px a side.
    double scale = std::min(2.0, 4000.0 / std::max(x1 - x0, y1 - y0));
    int width = static_cast<int>((x1 - x0) * scale) + 1;
    int height = static_cast<int>((y1 - y0) * scale) + 1;
    cv::Mat img(height, width, CV_8UC3, cv::Scalar(255, 255, 255));
    auto px = [&](double x, double y) {
        return cv::Point(static_cast<int>(std::lround((x - x0) * scale)),
                         static_cast<int>(std::lround((y1 - y) * scale)));
    };
    for (double gx = std::ceil(x0 / 50) * 50; gx <= x1; gx += 50)
        cv::line(img, px(gx, y0), px(gx, y1), cv::Scalar(235, 235, 235), 1);
    for (double gy = std::ceil(y0 / 50) * 50; gy <= y1; gy += 50)
        cv::line(img, px(x0, gy), px(x1, gy), cv::Scalar(235, 235, 235), 1);
    for (const sim_wall& s2 : w.walls) {
        if (s2.board >= 0)
            continue;
        cv::line(img, px(s2.x1, s2.y1), px(s2.x2, s2.y2), cv::Scalar(0, 0, 0), 3);
    }
    for (const sim_wall& s2 : w.walls) {
        if (s2.board < 0)
            continue;
        bool present = s.present[s2.board].load(std::memory_order_relaxed) != 0;
        cv::Scalar colour = present ? cv::Scalar(200, 80, 0) : cv::Scalar(230, 190, 150);
        cv::line(img, px(s2.x1, s2.y1), px(s2.x2, s2.y2), colour, 4);
        const sim_board& b = w.boards[s2.board];
        double tx = b.x + 12 * std::cos(b.facing * kPi / 180);
        double ty = b.y + 12 * std::sin(b.facing * kPi / 180);
        cv::putText(img, b.digits, px(tx, ty) + cv::Point(-8, 6), cv::FONT_HERSHEY_SIMPLEX, 0.6,
                    colour, 2);
    }
    for (size_t i = 1; i < path_points.size(); ++i)
        cv::line(img, px(path_points[i - 1].x, path_points[i - 1].y),
                 px(path_points[i].x, path_points[i].y), cv::Scalar(0, 0, 220), 2);
    auto pose_mark = [&](double x, double y, double h, cv::Scalar colour) {
        cv::circle(img, px(x, y), static_cast<int>(kWorldBodyRadius * scale), colour, 2);
        double hx = x + kWorldBodyRadius * std::cos(h * kPi / 180);
        double hy = y + kWorldBodyRadius * std::sin(h * kPi / 180);
        cv::line(img, px(x, y), px(hx, hy), colour, 2);
    };
    const cv::Scalar start_colour(0, 160, 0), end_colour(0, 0, 120);
    pose_mark(w.start_x, w.start_y, w.start_heading, start_colour);
    pose_mark(r.pose.x, r.pose.y, r.pose.heading, end_colour);
    auto label = [&](const std::string& text, cv::Point at, cv::Scalar colour) {
        cv::putText(img, text, at, cv::FONT_HERSHEY_SIMPLEX, 0.45, colour, 1, cv::LINE_AA);
    };
    const int body = static_cast<int>(kWorldBodyRadius * scale);
    char text[96];
    std::snprintf(text, sizeof text, "start %.0f,%.0f %.0f deg", w.start_x, w.start_y,
                  w.start_heading);
    label(text, px(w.start_x, w.start_y) + cv::Point(body + 4, -body), start_colour);
    std::snprintf(text, sizeof text, "end %.1f,%.1f %.1f deg", r.pose.x, r.pose.y, r.pose.heading);
    label(text, px(r.pose.x, r.pose.y) + cv::Point(body + 4, body + 12), end_colour);

    // Where the robot was when the fault was injected, and when the stop
    // frame after it came.
    constexpr auto rx = std::memory_order_relaxed;
    const cv::Scalar fault_colour(0, 140, 255), fault_stop_colour(160, 0, 160);
    const double fault_t = s.fault_time.load(rx), stop_t = s.fault_stop_time.load(rx);
    if (fault_t >= 0) {
        const cv::Point at = px(s.fault_x.load(rx), s.fault_y.load(rx));
        cv::drawMarker(img, at, fault_colour, cv::MARKER_TILTED_CROSS, 16, 2);
        std::snprintf(text, sizeof text, "fault %.2f s", fault_t);
        label(text, at + cv::Point(10, -8), fault_colour);
    }
    if (stop_t >= 0) {
        const cv::Point at = px(s.fault_stop_x.load(rx), s.fault_stop_y.load(rx));
        cv::drawMarker(img, at, fault_stop_colour, cv::MARKER_SQUARE, 14, 2);
        std::snprintf(text, sizeof text, "stop %.2f s (%.2f s after)", stop_t, stop_t - fault_t);
        label(text, at + cv::Point(10, 14), fault_stop_colour);
    }

    // Scale bar (the grid's 50 cm) and legend in the bottom left corner, on
    // a white card so walls and path under them do not mix with the text.
    const struct {
        const char* name;
        cv::Scalar colour;
    } legend_all[] = {{"wall", cv::Scalar(0, 0, 0)},
                      {"board (digits beside it)", cv::Scalar(200, 80, 0)},
                      {"board taken away", cv::Scalar(230, 190, 150)},
                      {"path of the axle centre", cv::Scalar(0, 0, 220)},
                      {"start pose (body, heading)", start_colour},
                      {"end pose", end_colour},
                      {"fault injected", fault_colour},
                      {"first stop frame after it", fault_stop_colour}};
    // The fault's entries only on a map that marks one.
    const int entries = fault_t >= 0 ? 8 : 6;
    const cv::Rect card(2, height - 36 - 16 * entries, 230, 34 + 16 * entries);
    img(card & cv::Rect(0, 0, width, height)).setTo(cv::Scalar(255, 255, 255));
    cv::rectangle(img, card, cv::Scalar(180, 180, 180), 1);
    const cv::Point bar(10, height - 12);
    const int bar_px = static_cast<int>(std::lround(50 * scale));
    cv::line(img, bar, bar + cv::Point(bar_px, 0), cv::Scalar(0, 0, 0), 2);
    cv::line(img, bar + cv::Point(0, -4), bar + cv::Point(0, 4), cv::Scalar(0, 0, 0), 1);
    cv::line(img, bar + cv::Point(bar_px, -4), bar + cv::Point(bar_px, 4), cv::Scalar(0, 0, 0), 1);
    label("50 cm (grid 50 cm)", bar + cv::Point(bar_px + 6, 4), cv::Scalar(0, 0, 0));
    int row = height - 34;
    for (int i = entries - 1; i >= 0; --i, row -= 16) {
        cv::line(img, cv::Point(10, row - 4), cv::Point(34, row - 4), legend_all[i].colour, 3);
        label(legend_all[i].name, cv::Point(40, row), cv::Scalar(60, 60, 60));
    }
    return cv::imwrite(path, img) ? 0 : -1;
}
