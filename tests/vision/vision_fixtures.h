// Shared pieces of the vision tests: boards with seven-segment figures, and a
// private working directory with ./img/ and a stand-in capture command.
#pragma once

#include <string>

#include <opencv2/core.hpp>

#include "tests/support/emulated_devices.h"

// Draws the strokes named in segments in black on a colour (or grey) image,
// filling box. Letters as on a seven-segment display: a top, b upper-right,
// c lower-right, d bottom, e lower-left, f upper-left, g middle. stroke is the
// bar thickness in pixels.
void draw_segments(cv::Mat& image, const std::string& segments, const cv::Rect& box, int stroke);

// The board figures of digit 0..9 (7 with its upper-left stroke, 6 and 9 with
// both bars, 1 as a solid bar filling box).
void draw_digit(cv::Mat& image, int digit, const cv::Rect& box, int stroke);

// A white 320 x 240 colour frame.
cv::Mat white_frame();

// A temporary directory with an img/ folder (unless without_img) and a bin/
// folder put first on PATH; the process works in it while the object lives.
// The destructor restores the working directory and PATH and removes it all.
struct vision_workdir {
    explicit vision_workdir(bool without_img = false);

    // Installs bin/uvccapture: it records its arguments in capture_args.txt,
    // copies source (when not empty) to the path given with -o and exits with
    // status.
    void fake_capture(const std::string& source, int status = 0) const;
    // Saves image as a JPEG under the directory and returns its full path.
    std::string save_jpeg(const std::string& name, const cv::Mat& image) const;
    // Contents of a file under the directory ("" when missing).
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

    emu_temp_dir dir;
    const std::string path = dir.path;
    emu_path_first stand_ins{path + "/bin"};
    emu_scoped_cwd inside{path};
};
