#include "sim/camera/camera.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "tools/glyph.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Grey levels (B = G = R) of the scene. The ink is far darker than anything
// else, so a per-image threshold always separates it, whichever side of the
// threshold the walls and the floor fall on.
constexpr double kBoardFace = 228.0;
constexpr double kBoardBack = 135.0;
constexpr double kInk = 32.0;

// Closest a drawn point may come to the camera plane, cm.
constexpr double kNearPlane = 1.0;
// Sub-pixel bits for the polygon fill.
constexpr int kShift = 4;

// A point in camera coordinates: forward along the axis, left of it, up.
struct cam_point {
    double fwd, left, up;
};

struct view {
    double cam_x, cam_y, cos_h, sin_h;
    double focal, cu, cv;
};

cam_point to_camera(const view& v, double wx, double wy, double up) {
    const double dx = wx - v.cam_x;
    const double dy = wy - v.cam_y;
    return cam_point{dx * v.cos_h + dy * v.sin_h, -dx * v.sin_h + dy * v.cos_h, up};
}

// Keeps the part of a convex polygon in front of the near plane
// (Sutherland-Hodgman against one plane), so boards beside or partly behind
// the camera project without wrapping around.
int clip_near(const cam_point* in, int n, cam_point* out) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const cam_point& a = in[i];
        const cam_point& b = in[(i + 1) % n];
        const bool a_in = a.fwd >= kNearPlane;
        const bool b_in = b.fwd >= kNearPlane;
        if (a_in)
            out[m++] = a;
        if (a_in != b_in) {
            const double t = (kNearPlane - a.fwd) / (b.fwd - a.fwd);
            out[m++] =
                cam_point{kNearPlane, a.left + t * (b.left - a.left), a.up + t * (b.up - a.up)};
        }
    }
    return m;
}

// Pixel coordinates are kept within this bound so the fixed-point fill cannot
// overflow; anything that far out is off the frame anyway.
constexpr double kCoordLimit = 1 << 20;

void fill_face_rect(cv::Mat& img, const view& v, const camera_board& b, const face_rect& r,
                    double grey) {
    const double phi = b.facing_deg * kPi / 180.0;
    // Across the face to the right of someone looking at it.
    const double rx = -std::sin(phi);
    const double ry = std::cos(phi);
    const double s[4] = {r.s0, r.s1, r.s1, r.s0};
    const double z[4] = {r.z1, r.z1, r.z0, r.z0};
    cam_point corners[4];
    for (int i = 0; i < 4; ++i) {
        corners[i] = to_camera(v, b.x + s[i] * rx, b.y + s[i] * ry, z[i]);
    }
    cam_point clipped[8];
    const int n = clip_near(corners, 4, clipped);
    if (n < 3)
        return;
    cv::Point pts[8];
    const double scale = 1 << kShift;
    for (int i = 0; i < n; ++i) {
        double u = v.cu - v.focal * clipped[i].left / clipped[i].fwd;
        double w = v.cv - v.focal * clipped[i].up / clipped[i].fwd;
        u = std::clamp(u, -kCoordLimit, kCoordLimit);
        w = std::clamp(w, -kCoordLimit, kCoordLimit);
        pts[i] = cv::Point(static_cast<int>(std::lround(u * scale)),
                           static_cast<int>(std::lround(w * scale)));
    }
    const cv::Point* poly[1] = {pts};
    const int counts[1] = {n};
    cv::fillPoly(img, poly, counts, 1, cv::Scalar(grey, grey, grey), cv::LINE_8, kShift);
}

void draw_board(cv::Mat& img, const view& v, const camera_board& b) {
    const double phi = b.facing_deg * kPi / 180.0;
    const double nx = std::cos(phi);
    const double ny = std::sin(phi);
    const bool front = (v.cam_x - b.x) * nx + (v.cam_y - b.y) * ny > 0.0;
    const face_rect face{-b.width / 2.0, b.width / 2.0, -b.height / 2.0, b.height / 2.0};
    if (!front) {
        fill_face_rect(img, v, b, face, kBoardBack);
        return;
    }
    fill_face_rect(img, v, b, face, kBoardFace);
    face_rect rects[kGlyphMaxRects];
    const int n = glyph_board_rects(b.digits.c_str(), rects);
    for (int i = 0; i < n; ++i) {
        fill_face_rect(img, v, b, rects[i], kInk);
    }
}

// Light falling off linearly from the left edge to the right edge.
void apply_uneven_light(cv::Mat& img, double amount) {
    const double a = std::clamp(amount, 0.0, 1.0);
    const int cols = img.cols;
    for (int r = 0; r < img.rows; ++r) {
        uint8_t* p = img.ptr<uint8_t>(r);
        for (int c = 0; c < cols; ++c) {
            const double gain = 1.0 - a * (cols > 1 ? static_cast<double>(c) / (cols - 1) : 0.0);
            for (int k = 0; k < 3; ++k) {
                p[3 * c + k] = cv::saturate_cast<uint8_t>(p[3 * c + k] * gain);
            }
        }
    }
}

}  // namespace

double camera_focal(int width) {
    return kCameraFocal320 * width / 320.0;
}

namespace {

view make_view(double cam_x, double cam_y, double cam_heading_deg, int width, int height) {
    const double h = cam_heading_deg * kPi / 180.0;
    // Principal point in pixel-centre coordinates, the frame's middle.
    return view{cam_x,
                cam_y,
                std::cos(h),
                std::sin(h),
                camera_focal(width),
                (width - 1) / 2.0,
                (height - 1) / 2.0};
}

cv::Mat draw_scene(const std::vector<camera_board>& boards, const view& v, int width, int height,
                   const camera_room& room) {
    cv::Mat img(height, width, CV_8UC3, cv::Scalar::all(room.wall_grey));
    // The camera looks level, so the floor meets the walls at the middle row.
    const int horizon = height / 2;
    img.rowRange(horizon, height).setTo(cv::Scalar::all(room.floor_grey));

    // Far boards first, so nearer ones cover them.
    std::vector<std::pair<double, size_t>> order;
    order.reserve(boards.size());
    for (size_t i = 0; i < boards.size(); ++i) {
        const double dx = boards[i].x - v.cam_x;
        const double dy = boards[i].y - v.cam_y;
        order.emplace_back(dx * dx + dy * dy, i);
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& o : order) {
        draw_board(img, v, boards[o.second]);
    }
    return img;
}

void degrade(cv::Mat& img, const camera_options& opt) {
    if (opt.uneven_light > 0.0)
        apply_uneven_light(img, opt.uneven_light);
    if (opt.blur > 0.0)
        cv::GaussianBlur(img, img, cv::Size(0, 0), opt.blur);
    if (opt.noise > 0.0) {
        cv::RNG rng(opt.seed);
        cv::Mat n(img.rows, img.cols, CV_16SC3);
        rng.fill(n, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(opt.noise));
        cv::Mat sum;
        img.convertTo(sum, CV_16SC3);
        sum += n;
        sum.convertTo(img, CV_8UC3);
    }
}

// Where a point of the board face lands in the frame; false when it lies
// behind the near plane.
bool face_pixel(const view& v, const camera_board& b, double s, double z, cv::Point2f* out) {
    const double phi = b.facing_deg * kPi / 180.0;
    const cam_point p = to_camera(v, b.x - s * std::sin(phi), b.y + s * std::cos(phi), z);
    if (p.fwd < kNearPlane)
        return false;
    *out = cv::Point2f(static_cast<float>(v.cu - v.focal * p.left / p.fwd),
                       static_cast<float>(v.cv - v.focal * p.up / p.fwd));
    return true;
}

// The printed page in place of the face: white paper as the board face's
// grey, black print as the ink's.
void draw_page(cv::Mat& img, const view& v, const camera_board& b, const cv::Mat& page) {
    const double s[4] = {-b.width / 2.0, b.width / 2.0, b.width / 2.0, -b.width / 2.0};
    const double z[4] = {b.height / 2.0, b.height / 2.0, -b.height / 2.0, -b.height / 2.0};
    cv::Point2f dst[4];
    for (int i = 0; i < 4; ++i) {
        if (!face_pixel(v, b, s[i], z[i], &dst[i]))
            return;
    }
    cv::Mat grey;
    if (page.channels() == 1) {
        grey = page;
    } else {
        cv::cvtColor(page, grey, page.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    }
    // Reduced first to about twice the pixels it covers, so each frame pixel
    // averages the print under it, as a camera's pixel does.
    const double span = std::max(cv::norm(dst[1] - dst[0]), cv::norm(dst[2] - dst[3]));
    const double scale = std::min(1.0, 2.0 * span / grey.cols);
    cv::Mat small;
    cv::resize(grey, small, cv::Size(), scale, scale, cv::INTER_AREA);
    const float c = static_cast<float>(small.cols) - 0.5f;
    const float r = static_cast<float>(small.rows) - 0.5f;
    const cv::Point2f src[4] = {{-0.5f, -0.5f}, {c, -0.5f}, {c, r}, {-0.5f, r}};
    const cv::Mat h = cv::getPerspectiveTransform(src, dst);
    cv::Mat warped, mask;
    cv::warpPerspective(small, warped, h, img.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpPerspective(cv::Mat(small.size(), CV_8UC1, cv::Scalar(255)), mask, h, img.size(),
                        cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
    for (int y = 0; y < img.rows; ++y) {
        const uint8_t* m = mask.ptr<uint8_t>(y);
        const uint8_t* p = warped.ptr<uint8_t>(y);
        uint8_t* out = img.ptr<uint8_t>(y);
        for (int x = 0; x < img.cols; ++x) {
            if (m[x] == 0)
                continue;
            const uint8_t g = cv::saturate_cast<uint8_t>(kInk + (kBoardFace - kInk) * p[x] / 255.0);
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = g;
        }
    }
}

}  // namespace

cv::Mat camera_render(const std::vector<camera_board>& boards, double cam_x, double cam_y,
                      double cam_heading_deg, int width, int height, const camera_options& opt,
                      const camera_room& room) {
    if (width < 1 || height < 1)
        return cv::Mat();
    const view v = make_view(cam_x, cam_y, cam_heading_deg, width, height);
    cv::Mat img = draw_scene(boards, v, width, height, room);
    degrade(img, opt);
    return img;
}

cv::Mat camera_render_page(const camera_board& board, const cv::Mat& page, double cam_x,
                           double cam_y, double cam_heading_deg, int width, int height,
                           const camera_options& opt, const camera_room& room) {
    if (width < 1 || height < 1)
        return cv::Mat();
    const view v = make_view(cam_x, cam_y, cam_heading_deg, width, height);
    camera_board blank = board;
    blank.digits.clear();
    cv::Mat img = draw_scene({blank}, v, width, height, room);
    const double phi = board.facing_deg * kPi / 180.0;
    const bool front =
        (v.cam_x - board.x) * std::cos(phi) + (v.cam_y - board.y) * std::sin(phi) > 0.0;
    if (front && !page.empty())
        draw_page(img, v, board, page);
    degrade(img, opt);
    return img;
}
