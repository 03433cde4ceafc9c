// Camera frames of the simulated world: a pinhole camera at the robot's front
// that sees number boards with seven-segment digits printed on them. The
// renderer is a pure function of the boards, the pose and the options, so the
// simulator's capture thread and the tests call it the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tools/glyph.h"

// One number board as the camera sees it. The board hangs with its centre at
// the camera's height, upright.
struct camera_board {
    double x, y;         // cm (world), centre of the printed face
    double facing_deg;   // heading the printed face looks towards (towards a viewer)
    double width;        // cm
    double height;       // cm
    std::string digits;  // one or two characters '0'..'9'; others are left blank
};

// Image degradations; all zero gives a clean frame.
struct camera_options {
    double blur;          // Gaussian sigma in pixels (0 = none)
    double noise;         // standard deviation of per-pixel noise, grey levels
    double uneven_light;  // 0..1, how much darker the frame gets towards one side
    uint32_t seed;        // noise seed: equal seeds give equal frames
};

// The grey levels (B = G = R) of the room around the boards.
struct camera_room {
    double wall_grey;
    double floor_grey;
};
// The simulator's room: walls and floor well darker than a board face.
constexpr camera_room kCameraRoom{150.0, 118.0};

// Board height when a world gives none, cm.
constexpr double kCameraBoardHeight = kGlyphBoardHeight;
// Focal length in pixels for a 320-pixel-wide frame; it scales with the width.
constexpr double kCameraFocal320 = 280.0;
// One digit's size on the board, cm: 55 x 98 pixels seen square on from 50 cm
// in a 320 x 240 frame.
constexpr double kCameraDigitWidth = kGlyphDigitWidth;
constexpr double kCameraDigitHeight = kGlyphDigitHeight;
static_assert(kCameraDigitWidth == 55.0 * 50.0 / kCameraFocal320,
              "the printed digit is the camera's nominal one");

// Focal length in pixels of a frame `width` pixels wide.
double camera_focal(int width);

// Renders a width x height CV_8UC3 frame (BGR) of the boards seen by a camera
// at (cam_x, cam_y) cm looking along cam_heading_deg (degrees CCW from +x):
// mid-grey floor and walls, light board faces, dark digits in perspective.
// Boards behind the camera or facing away are not drawn. A width or height
// below 1 gives an empty Mat.
cv::Mat camera_render(const std::vector<camera_board>& boards, double cam_x, double cam_y,
                      double cam_heading_deg, int width, int height, const camera_options& opt,
                      const camera_room& room = kCameraRoom);

// As camera_render with one board whose face is a printed page: page (grey or
// BGR, any resolution) covers the board's width x height, white paper seen
// as a board face, black print as ink; the board's digits are not drawn. The
// page is left out when a corner of the board lies behind the camera.
cv::Mat camera_render_page(const camera_board& board, const cv::Mat& page, double cam_x,
                           double cam_y, double cam_heading_deg, int width, int height,
                           const camera_options& opt, const camera_room& room = kCameraRoom);
