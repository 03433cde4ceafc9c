// tavi-inspect: why a frame read as it did, in one picture.
//
//   tavi-inspect FRAME DISTANCE [--digits N] [-o OUT.png]
//
// Runs the robot's own reading chain (binarization, labelling, the driver's
// candidate loop with its crop classifier, the store) on a saved frame such as
// the img/input.jpg a robot leaves behind, without the pauses between
// candidates, and draws: the frame with every contour's box and the size
// window for DISTANCE, the accepted candidates numbered in table order, and
// for every candidate the driver examined its binary crop enlarged with the
// seven probe lines and the hole probe (green: met ink, red: did not), the
// pattern, the result and, last, the digits stored. The chain's console lines
// are printed as the robot prints them. The chain's image files go to a
// scratch folder, so a robot's own img/ is left as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "tools/inspect_draw.h"
#include "vision/labelling.h"
#include "vision/number_detect.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: tavi-inspect FRAME DISTANCE [--digits N] [-o OUT.png]\n");
    return 2;
}

std::string absolute(const std::string& p) {
    if (p.empty() || p[0] == '/')
        return p;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + p : p;
}

struct options {
    std::string frame_path;
    std::string out = "inspect.png";
    int distance = 0;
    int digits = 1;
};

// False on a command line that is not the usage.
bool parse(int argc, char** argv, options* o) {
    std::vector<std::string> pos;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-o" && i + 1 < argc) {
            o->out = argv[++i];
        } else if (a == "--digits" && i + 1 < argc) {
            o->digits = std::atoi(argv[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            return false;
        } else {
            pos.push_back(a);
        }
    }
    if (pos.size() != 2 || (o->digits != 1 && o->digits != 2))
        return false;
    o->frame_path = absolute(pos[0]);
    o->out = absolute(o->out);
    o->distance = std::atoi(pos[1].c_str());
    return true;
}

// One run of the reading chain, and what it went through.
struct inspection {
    int rc = -1;
    number_reading reading{};
    number_trace trace;
    int stored[2] = {-1, -1};
};

// Runs the chain once on frame, its console lines printed as the robot prints
// them, its image files in a scratch folder so a robot's own img/ is left as
// it was. False when the scratch folder could not be made.
bool run(const cv::Mat& frame, const options& o, inspection* in) {
    char scratch[] = "/tmp/tavi-inspect.XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0 || mkdir("img", 0755) != 0) {
        std::perror("tavi-inspect: scratch folder");
        return false;
    }
    number_set_nums(o.digits);
    in->rc = number_detect_frame(frame, o.distance, 0, &in->reading, &in->trace);
    number_get(in->stored);
    std::fflush(stdout);  // the chain's lines before anything on standard error
    std::error_code gone;
    if (chdir("/") != 0 || std::filesystem::remove_all(scratch, gone) == 0 || gone)
        std::fprintf(stderr, "tavi-inspect: could not remove %s\n", scratch);
    return true;
}

// The frame twice its size: every contour's box grey, candidates green
// and numbered, the size window's smallest and largest box in the corner.
cv::Mat draw_frame(const cv::Mat& frame, const options& o, const inspection& in,
                   std::size_t* contour_count) {
    std::vector<std::vector<cv::Point>> contours;
    if (!in.trace.binary.empty())
        cv::findContours(in.trace.binary.clone(), contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    *contour_count = contours.size();
    const int k = 2;
    cv::Mat shown;
    if (frame.channels() == 1)
        cv::cvtColor(frame, shown, cv::COLOR_GRAY2BGR);
    else
        shown = frame.clone();
    cv::resize(shown, shown, cv::Size(), k, k, cv::INTER_NEAREST);
    for (const auto& c : contours) {
        const cv::Rect r = cv::boundingRect(c);
        cv::rectangle(shown, cv::Rect(r.x * k, r.y * k, r.width * k, r.height * k),
                      cv::Scalar(150, 150, 150), 1);
    }
    for (int i = 0; i < in.reading.candidates && i < CANDIDATE_TABLE_SIZE; ++i) {
        const candidate_rect& b = in.trace.table[i];
        const cv::Scalar colour = i < in.reading.examined ? kHit : cv::Scalar(200, 140, 0);
        cv::rectangle(shown, cv::Point(b.x1 * k, b.y1 * k), cv::Point(b.x2 * k, b.y2 * k), colour,
                      2);
        inspect_text(shown, "#" + std::to_string(i), cv::Point(b.x1 * k + 3, b.y1 * k + 16), 0.55,
                     colour);
    }
    const size_window win = labelling_window(o.distance);
    const cv::Point corner(shown.cols - 8, shown.rows - 8);
    cv::rectangle(shown, corner - cv::Point(win.width_max * k, win.height_max * k), corner,
                  cv::Scalar(0, 200, 230), 1);
    cv::rectangle(shown, corner - cv::Point(win.width_min * k, win.height_min * k), corner,
                  cv::Scalar(0, 200, 230), 1);
    return shown;
}

// The page: four header lines, the frame, then the candidates' panels in rows.
cv::Mat draw_page(const cv::Mat& frame, const options& o, const inspection& in) {
    std::size_t contour_count = 0;
    const cv::Mat shown = draw_frame(frame, o, in, &contour_count);
    std::vector<cv::Mat> panels;
    for (std::size_t i = 0; i < in.trace.crops.size(); ++i) {
        const int index = static_cast<int>(i);
        panels.push_back(inspect_candidate_panel(in.trace.crops[i], index, in.trace.table[i],
                                                 in.trace.results[i]));
    }

    const int header = 92;
    int width = std::max(shown.cols, 900), height = header + shown.rows;
    int row_w = 0, row_h = 0, rows_h = 0;
    for (const cv::Mat& p : panels) {
        if (row_w + p.cols > std::max(width, 900)) {
            rows_h += row_h;
            row_w = row_h = 0;
        }
        row_w += p.cols;
        row_h = std::max(row_h, p.rows);
        width = std::max(width, row_w);
    }
    height += rows_h + row_h + 10;
    cv::Mat page(height, width, CV_8UC3, cv::Scalar(255, 255, 255));
    char line[256];
    std::snprintf(line, sizeof line, "%s  at %d cm, %d digit%s expected",
                  o.frame_path.substr(o.frame_path.rfind('/') + 1).c_str(), o.distance, o.digits,
                  o.digits == 1 ? "" : "s");
    inspect_text(page, line, cv::Point(10, 20), 0.5);
    const size_window win = labelling_window(o.distance);
    std::snprintf(line, sizeof line,
                  "%zu contours (grey); size window %d-%d x %d-%d px (yellow, exclusive); "
                  "%d candidates, %d examined (green)",
                  contour_count, win.width_min, win.width_max, win.height_min, win.height_max,
                  in.reading.candidates, in.reading.examined);
    inspect_text(page, line, cv::Point(10, 42), 0.42);
    if (o.digits == 1)
        std::snprintf(line, sizeof line, "digits stored: %d", in.stored[0]);
    else
        std::snprintf(line, sizeof line, "digits stored: left %d, right %d", in.stored[0],
                      in.stored[1]);
    inspect_text(page, in.rc == 0 ? line : "the chain could not process the frame",
                 cv::Point(10, 66), 0.6, in.rc == 0 && in.stored[0] >= 0 ? kHit : kMiss);
    inspect_text(
        page,
        "probes (table order): top, upper-right, lower-right, bottom, lower-left, upper-left, "
        "middle; green met ink, red none; square: hole probe",
        cv::Point(10, 84), 0.4);
    shown.copyTo(page(cv::Rect(0, header, shown.cols, shown.rows)));
    int x = 0, y = header + shown.rows + 10;
    row_h = 0;
    for (const cv::Mat& p : panels) {
        if (x + p.cols > width) {
            x = 0;
            y += row_h;
            row_h = 0;
        }
        p.copyTo(page(cv::Rect(x, y, p.cols, p.rows)));
        x += p.cols;
        row_h = std::max(row_h, p.rows);
    }
    return page;
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    if (!parse(argc, argv, &o))
        return usage();
    const cv::Mat frame = cv::imread(o.frame_path, cv::IMREAD_ANYCOLOR);
    if (frame.empty()) {
        std::fprintf(stderr, "tavi-inspect: cannot load %s\n", o.frame_path.c_str());
        return 1;
    }
    inspection in;
    if (!run(frame, o, &in))
        return 1;
    if (!cv::imwrite(o.out, draw_page(frame, o, in))) {
        std::fprintf(stderr, "tavi-inspect: cannot write %s\n", o.out.c_str());
        return 1;
    }
    std::fprintf(stderr, "tavi-inspect: %s\n", o.out.c_str());
    return 0;
}
