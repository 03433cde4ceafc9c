#include "vision_fixtures.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Segment letters of the board figures, digit by digit.
const char* const FIGURES[10] = {"abcdef", "",       "abdeg", "abcdg",   "bcfg",
                                 "acdfg",  "acdefg", "abcf",  "abcdefg", "abcdfg"};

cv::Rect segment_rect(char s, const cv::Rect& b, int t) {
    const int half = b.height / 2;
    switch (s) {
        case 'a':
            return {b.x, b.y, b.width, t};
        case 'd':
            return {b.x, b.y + b.height - t, b.width, t};
        case 'g':
            return {b.x, b.y + half - t / 2, b.width, t};
        case 'f':
            return {b.x, b.y, t, half + t / 2};
        case 'b':
            return {b.x + b.width - t, b.y, t, half + t / 2};
        case 'e':
            return {b.x, b.y + half - t / 2, t, b.height - half + t / 2};
        case 'c':
            return {b.x + b.width - t, b.y + half - t / 2, t, b.height - half + t / 2};
        default:
            return {};
    }
}

}  // namespace

void draw_segments(cv::Mat& image, const std::string& segments, const cv::Rect& box, int stroke) {
    for (char s : segments) {
        cv::rectangle(image, segment_rect(s, box, stroke), cv::Scalar::all(0), cv::FILLED);
    }
}

void draw_digit(cv::Mat& image, int digit, const cv::Rect& box, int stroke) {
    if (digit == 1) {
        cv::rectangle(image, box, cv::Scalar::all(0), cv::FILLED);
        return;
    }
    draw_segments(image, FIGURES[digit], box, stroke);
}

cv::Mat white_frame() {
    return cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(255));
}

vision_workdir::vision_workdir(bool without_img) {
    if (!without_img) {
        std::filesystem::create_directory(path + "/img");
    }
    std::filesystem::create_directory(path + "/bin");
}

void vision_workdir::fake_capture(const std::string& source, int status) const {
    const std::string script = path + "/bin/uvccapture";
    std::ofstream out(script);
    out << "#!/bin/sh\n"
        << "echo \"$@\" > '" << path << "/capture_args.txt'\n"
        << "out=\n"
        << "for a in \"$@\"; do case \"$a\" in -o*) out=\"${a#-o}\";; esac; done\n";
    if (!source.empty()) {
        out << "cp '" << source << "' \"$out\"\n";
    }
    out << "exit " << status << "\n";
    out.close();
    chmod(script.c_str(), 0755);
}

std::string vision_workdir::save_jpeg(const std::string& name, const cv::Mat& image) const {
    const std::string full = path + "/" + name;
    cv::imwrite(full, image);
    return full;
}

std::string vision_workdir::read(const std::string& name) const {
    std::ifstream in(path + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool vision_workdir::exists(const std::string& name) const {
    return std::filesystem::exists(path + "/" + name);
}
