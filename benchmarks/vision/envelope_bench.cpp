// The reader's envelope: the project's boards rendered by the simulator's
// camera, one condition changed at a time from a nominal frame (50 cm, square
// on, blur 0.7, noise 4 grey levels, JPEG quality 75, the simulator's room),
// every board read by the real chain, and a table of boards read, rejected
// (a digit not read) and wrong (a digit stored that is not on the board).
// Usage: tavi_envelope_bench [--quick] [--list]
//   --quick: every seventh board only; --list: name the boards not read, and
//   what was stored for them, under each condition's row.
// Exits 1 when any board was read wrong.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "benchmarks/vision/bench_quiet.h"
#include "sim/camera/camera.h"
#include "vision/number_detect.h"

namespace {

struct condition {
    std::string group;
    std::string label;
    double distance = 50.0;  // where the board is, cm
    int given = 0;           // distance handed to the reading; 0: the true one
    double yaw = 0.0;        // board turned out of square, degrees
    double roll = 0.0;       // camera rolled, degrees
    double blur = 0.7;       // Gaussian sigma, pixels
    double noise = 4.0;      // grey levels
    int quality = 75;        // JPEG quality of the capture
    double gain = 1.0;       // exposure: 1 nominal, below 1 a dark room
    double gradient = 0.0;   // light falling off across the frame, 0..1
    camera_room room = kCameraRoom;
};

struct tally {
    int boards = 0, read = 0, rejected = 0, wrong = 0;
    std::string missed;  // "board:stored" of every board not read
};

// The frame as the capture would deliver it under condition c.
cv::Mat capture(const std::string& digits, const condition& c, uint32_t seed) {
    const double facing = 180.0 + c.yaw;
    const camera_board board{c.distance, 0.0, facing, kGlyphBoardWidth, kGlyphBoardHeight, digits};
    const camera_options optics{c.blur, 0.0, c.gradient, seed};
    cv::Mat frame = camera_render({board}, 0.0, 0.0, 0.0, 320, 240, optics, c.room);
    if (c.roll != 0.0) {
        const cv::Mat turn = cv::getRotationMatrix2D(
            cv::Point2f((frame.cols - 1) / 2.0f, (frame.rows - 1) / 2.0f), c.roll, 1.0);
        cv::warpAffine(frame, frame, turn, frame.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    }
    // Exposure before the sensor's noise, as a dark room gives a dim signal
    // with the same noise.
    cv::Mat lit;
    frame.convertTo(lit, CV_16SC3, c.gain);
    if (c.noise > 0.0) {
        cv::RNG rng(seed);
        cv::Mat n(frame.size(), CV_16SC3);
        rng.fill(n, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(c.noise));
        lit += n;
    }
    lit.convertTo(frame, CV_8UC3);
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", frame, jpeg, {cv::IMWRITE_JPEG_QUALITY, c.quality});
    return cv::imdecode(jpeg, cv::IMREAD_ANYCOLOR);
}

void read_board(const std::string& digits, const condition& c, uint32_t seed, tally* t) {
    const int count = static_cast<int>(digits.size());
    number_set_nums(count);
    const int given = c.given > 0 ? c.given : static_cast<int>(std::lround(c.distance));
    ++t->boards;
    if (number_detect_frame(capture(digits, c, seed), given, 0, nullptr) != 0) {
        ++t->rejected;
        t->missed += " " + digits + ":not processed";
        return;
    }
    int out[2] = {-1, -1};
    number_get(out);
    auto miss = [&] {
        t->missed += " " + digits + ":" + std::to_string(out[0]) +
                     (count == 2 ? "," + std::to_string(out[1]) : "");
    };
    bool all = true;
    bool wrong = false;
    for (int i = 0; i < count; ++i) {
        all = all && out[i] == digits[i] - '0';
        wrong = wrong || (out[i] >= 0 && out[i] != digits[i] - '0');
    }
    if (wrong) {
        ++t->wrong;
        miss();
    } else if (all) {
        ++t->read;
    } else {
        ++t->rejected;
        miss();
    }
}

std::vector<condition> conditions() {
    std::vector<condition> list;
    auto add = [&](const char* group, const std::string& label, auto change) {
        condition c;
        c.group = group;
        c.label = label;
        change(c);
        list.push_back(c);
    };
    for (int d : {30, 35, 40, 45, 50, 55, 60, 65, 70, 80}) {
        add("distance", std::to_string(d) + " cm", [&](condition& c) { c.distance = d; });
    }
    for (int d : {30, 33, 35, 40, 60, 70, 74, 76, 80}) {
        add("distance, 50 given", std::to_string(d) + " cm", [&](condition& c) {
            c.distance = d;
            c.given = 50;
        });
    }
    for (int y : {5, 10, 15, 20, 30, 40}) {
        add("yaw", std::to_string(y) + " deg", [&](condition& c) { c.yaw = y; });
    }
    for (int r : {2, 3, 5, 8, 12}) {
        add("roll", std::to_string(r) + " deg", [&](condition& c) { c.roll = r; });
    }
    for (double b : {0.0, 1.0, 1.5, 2.0, 3.0, 4.0}) {
        char s[32];
        std::snprintf(s, sizeof s, "sigma %.1f px", b);
        add("blur", s, [&](condition& c) { c.blur = b; });
    }
    for (double n : {0.0, 8.0, 15.0, 25.0, 40.0}) {
        char s[32];
        std::snprintf(s, sizeof s, "%.0f grey levels", n);
        add("noise", s, [&](condition& c) { c.noise = n; });
    }
    for (int q : {95, 50, 30, 15, 8}) {
        add("JPEG", "quality " + std::to_string(q), [&](condition& c) { c.quality = q; });
    }
    add("light", "nominal room", [](condition&) {});
    add("light", "dark (gain 0.4)", [](condition& c) { c.gain = 0.4; });
    add("light", "very dark (gain 0.2)", [](condition& c) { c.gain = 0.2; });
    add("light", "light room (200/175)", [](condition& c) { c.room = camera_room{200.0, 175.0}; });
    add("light", "light room, 60 cm", [](condition& c) {
        c.room = camera_room{200.0, 175.0};
        c.distance = 60;
    });
    add("light", "light room, 40 cm", [](condition& c) {
        c.room = camera_room{200.0, 175.0};
        c.distance = 40;
    });
    // A sharp image is the light room's hard case: the frame's threshold
    // falls between the ink and the light walls, and the box of a solid 1
    // then holds nothing but ink.
    add("light", "light room, sharp (blur 0)", [](condition& c) {
        c.room = camera_room{200.0, 175.0};
        c.blur = 0.0;
    });
    add("light", "light room, sharp, JPEG 30", [](condition& c) {
        c.room = camera_room{200.0, 175.0};
        c.blur = 0.0;
        c.quality = 30;
    });
    add("light", "light room, sharp, no noise", [](condition& c) {
        c.room = camera_room{200.0, 175.0};
        c.blur = 0.0;
        c.noise = 0.0;
    });
    add("light", "white room (225/215)", [](condition& c) { c.room = camera_room{225.0, 215.0}; });
    add("light", "gradient 0.3", [](condition& c) { c.gradient = 0.3; });
    add("light", "gradient 0.6", [](condition& c) { c.gradient = 0.6; });
    add("light", "light room, gradient 0.3", [](condition& c) {
        c.room = camera_room{200.0, 175.0};
        c.gradient = 0.3;
    });
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        quick = quick || std::strcmp(argv[i], "--quick") == 0;
        list = list || std::strcmp(argv[i], "--list") == 0;
    }
    // Every one- and two-digit board the reader can be asked for.
    std::vector<std::string> boards;
    for (int i = 0; i < 110; ++i) {
        if (quick && i % 7 != 0) {
            continue;
        }
        boards.push_back(i < 10 ? std::string(1, static_cast<char>('0' + i))
                                : std::string{static_cast<char>('0' + (i - 10) / 10),
                                              static_cast<char>('0' + (i - 10) % 10)});
    }

    const std::string work = bench_enter_workdir("tavi_envelope_bench");
    if (work.empty()) {
        return 1;
    }
    // The reading's console lines go nowhere; the table to the original output.
    const int report_fd = bench_quiet_stdout();
    FILE* report = report_fd < 0 ? nullptr : fdopen(report_fd, "w");
    if (report == nullptr) {
        return 1;
    }

    std::fprintf(report, "| condition | | boards | read | rejected | wrong |\n");
    std::fprintf(report, "| --- | --- | ---: | ---: | ---: | ---: |\n");
    int wrong = 0;
    uint32_t seed = 1;
    for (const condition& c : conditions()) {
        tally t;
        for (const std::string& b : boards) {
            read_board(b, c, seed++, &t);
        }
        std::fprintf(report, "| %s | %s | %d | %d | %d | %d |\n", c.group.c_str(), c.label.c_str(),
                     t.boards, t.read, t.rejected, t.wrong);
        if (list && !t.missed.empty()) {
            std::fprintf(report, "not read:%s\n", t.missed.c_str());
        }
        std::fflush(report);
        wrong += t.wrong;
    }
    std::fprintf(report, "boards read wrong in all conditions: %d\n", wrong);
    std::fclose(report);
    std::filesystem::remove_all(work);
    return wrong == 0 ? 0 : 1;
}
