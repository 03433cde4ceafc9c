#include "sim/camera/camera.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Grey levels (B = G = R) of the scene. The ink is far darker than anything
// else, so a per-image threshold always separates it, whichever side of the
// threshold the walls and the floor fall on.
constexpr double kWallGrey = 150.0;
constexpr double kFloorGrey = 118.0;
constexpr double kBoardFace = 228.0;
constexpr double kBoardBack = 135.0;
constexpr double kInk = 32.0;

// Glyph proportions, as fractions of the digit cell. Vertical strokes are 12
// of 55 pixels wide and bars 12 of 98 pixels high at the nominal size, so the
// quarter-height probe rows cross the side strokes well clear of the bars, the
// centre column meets each bar, and the counters stay narrower than the
// smallest box the labelling accepts.
constexpr double kStrokeWidth = 0.22;  // of the cell width
constexpr double kBarHeight = 0.12;    // of the cell height
// The 1 is a solid bar: every probe meets ink, which is what tells it from an
// 8. It stays wider than two thirds of a digit, so the labelling's size window
// still takes it as a candidate.
constexpr double kOneWidth = 0.8;
// Blank between two digits, of the cell width: wide enough that the blur and
// the threshold never bridge the two figures into one contour.
constexpr double kDigitGap = 0.4;

// Closest a drawn point may come to the camera plane, cm.
constexpr double kNearPlane = 1.0;
// Sub-pixel bits for the polygon fill.
constexpr int kShift = 4;

enum : unsigned {
    SEG_TOP = 1u << 0,
    SEG_UPPER_LEFT = 1u << 1,
    SEG_UPPER_RIGHT = 1u << 2,
    SEG_MIDDLE = 1u << 3,
    SEG_LOWER_LEFT = 1u << 4,
    SEG_LOWER_RIGHT = 1u << 5,
    SEG_BOTTOM = 1u << 6,
    SEG_SOLID_BAR = 1u << 7,
};

// 7 with its upper-left stroke, 6 and 9 with both bars, 1 as the solid bar.
constexpr unsigned kGlyphs[10] = {
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_LOWER_LEFT | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_SOLID_BAR,
    SEG_TOP | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_LEFT | SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_RIGHT,
    SEG_TOP | SEG_UPPER_LEFT | SEG_MIDDLE | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_LEFT | SEG_MIDDLE | SEG_LOWER_LEFT | SEG_LOWER_RIGHT | SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_LOWER_RIGHT,
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_LEFT | SEG_LOWER_RIGHT |
        SEG_BOTTOM,
    SEG_TOP | SEG_UPPER_LEFT | SEG_UPPER_RIGHT | SEG_MIDDLE | SEG_LOWER_RIGHT | SEG_BOTTOM,
};

// A rectangle on a board face: s across the face (to the viewer's right), z up,
// both cm from the face centre.
struct face_rect {
    double s0, s1, z0, z1;
};

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

// The glyph rectangles of one digit whose cell has its top-left corner at
// (left, top) on the face.
int glyph_rects(int digit, double left, double top, face_rect* out) {
    const double w = kCameraDigitWidth;
    const double h = kCameraDigitHeight;
    const double sw = kStrokeWidth * w;
    const double bh = kBarHeight * h;
    const double mid = h / 2.0;
    const unsigned segs = kGlyphs[digit];
    int n = 0;
    // y measured downwards from the cell's top edge; z = top - y.
    auto add = [&](double x0, double x1, double y0, double y1) {
        out[n++] = face_rect{left + x0, left + x1, top - y1, top - y0};
    };
    if (segs & SEG_SOLID_BAR) {
        const double bw = kOneWidth * w;
        add((w - bw) / 2.0, (w + bw) / 2.0, 0.0, h);
        return n;
    }
    // Bars run the full cell width and strokes reach into the bars, so the
    // segments overlap at every joint and each figure is one connected blob.
    if (segs & SEG_TOP)
        add(0.0, w, 0.0, bh);
    if (segs & SEG_MIDDLE)
        add(0.0, w, mid - bh / 2.0, mid + bh / 2.0);
    if (segs & SEG_BOTTOM)
        add(0.0, w, h - bh, h);
    if (segs & SEG_UPPER_LEFT)
        add(0.0, sw, 0.0, mid + bh / 2.0);
    if (segs & SEG_UPPER_RIGHT)
        add(w - sw, w, 0.0, mid + bh / 2.0);
    if (segs & SEG_LOWER_LEFT)
        add(0.0, sw, mid - bh / 2.0, h);
    if (segs & SEG_LOWER_RIGHT)
        add(w - sw, w, mid - bh / 2.0, h);
    return n;
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
    int count = 0;
    for (char c : b.digits) {
        if (c >= '0' && c <= '9')
            ++count;
    }
    if (count == 0)
        return;
    const double pitch = kCameraDigitWidth * (1.0 + kDigitGap);
    const double total = count * kCameraDigitWidth + (count - 1) * kDigitGap * kCameraDigitWidth;
    double left = -total / 2.0;
    for (char c : b.digits) {
        if (c < '0' || c > '9')
            continue;
        face_rect rects[8];
        const int n = glyph_rects(c - '0', left, kCameraDigitHeight / 2.0, rects);
        for (int i = 0; i < n; ++i) {
            fill_face_rect(img, v, b, rects[i], kInk);
        }
        left += pitch;
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

cv::Mat camera_render(const std::vector<camera_board>& boards, double cam_x, double cam_y,
                      double cam_heading_deg, int width, int height, const camera_options& opt) {
    if (width < 1 || height < 1)
        return cv::Mat();
    const double h = cam_heading_deg * kPi / 180.0;
    // Principal point in pixel-centre coordinates, the frame's middle.
    const view v{cam_x,
                 cam_y,
                 std::cos(h),
                 std::sin(h),
                 camera_focal(width),
                 (width - 1) / 2.0,
                 (height - 1) / 2.0};

    cv::Mat img(height, width, CV_8UC3, cv::Scalar(kWallGrey, kWallGrey, kWallGrey));
    // The camera looks level, so the floor meets the walls at the middle row.
    const int horizon = height / 2;
    img.rowRange(horizon, height).setTo(cv::Scalar(kFloorGrey, kFloorGrey, kFloorGrey));

    // Far boards first, so nearer ones cover them.
    std::vector<std::pair<double, size_t>> order;
    order.reserve(boards.size());
    for (size_t i = 0; i < boards.size(); ++i) {
        const double dx = boards[i].x - cam_x;
        const double dy = boards[i].y - cam_y;
        order.emplace_back(dx * dx + dy * dy, i);
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& o : order) {
        draw_board(img, v, boards[o.second]);
    }

    if (opt.uneven_light > 0.0)
        apply_uneven_light(img, opt.uneven_light);
    if (opt.blur > 0.0)
        cv::GaussianBlur(img, img, cv::Size(0, 0), opt.blur);
    if (opt.noise > 0.0) {
        cv::RNG rng(opt.seed);
        cv::Mat n(height, width, CV_16SC3);
        rng.fill(n, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(opt.noise));
        cv::Mat sum;
        img.convertTo(sum, CV_16SC3);
        sum += n;
        sum.convertTo(img, CV_8UC3);
    }
    return img;
}
