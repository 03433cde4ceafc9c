// tavi-board: a number board to print at true size, as PDF and PNG. The
// figures are the glyph the simulator's camera draws and the reader was tried
// on, at the digit size the reader's size window is centred on.
#include <cairo-pdf.h>
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/glyph.h"

namespace {

// An A3 sheet, landscape: the board and, outside its cut line, the print
// check and the advice. Sizes in cm.
constexpr double kPageWidth = 42.0;
constexpr double kPageHeight = 29.7;
constexpr double kCmPerInch = 2.54;
constexpr double kPointsPerInch = 72.0;
constexpr double kRulerLength = 10.0;
constexpr int kDefaultDpi = 150;

void usage(FILE* out) {
    std::fputs(
        "usage: tavi-board [--dpi N] DIGITS [NAME]\n"
        "Writes NAME.pdf and NAME.png (NAME defaults to board-DIGITS): a number board\n"
        "with one or two digits 0-9 on an A3 sheet, to print at 100 % (actual size).\n"
        "--dpi sets the PNG's resolution (72 to 600, default 150).\n",
        out);
}

void text_at(cairo_t* cr, double x, double y, double size, const char* text) {
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text);
}

// The whole sheet in cm units; the caller has scaled the context to its device.
void draw_sheet(cairo_t* cr, const std::string& digits) {
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    const double cx = kPageWidth / 2.0;
    const double cy = kPageHeight / 2.0;

    // Figures centred on the sheet, as on the simulator's boards.
    face_rect rects[kGlyphMaxRects];
    const int n = glyph_board_rects(digits.c_str(), rects);
    cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
    for (int i = 0; i < n; ++i) {
        cairo_rectangle(cr, cx + rects[i].s0, cy - rects[i].z1, rects[i].s1 - rects[i].s0,
                        rects[i].z1 - rects[i].z0);
    }
    // Winding fill: overlapping segments are one blob, no seams.
    cairo_fill(cr);

    // The board's edge, light and thin, so the camera never takes it for ink.
    const double left = cx - kGlyphBoardWidth / 2.0;
    const double top = cy - kGlyphBoardHeight / 2.0;
    const double bottom = cy + kGlyphBoardHeight / 2.0;
    cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
    cairo_set_line_width(cr, 0.02);
    cairo_rectangle(cr, left, top, kGlyphBoardWidth, kGlyphBoardHeight);
    cairo_stroke(cr);

    // The print check below the cut line: a bar of known length with 1 cm ticks.
    const double ry = bottom + 1.0;
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    cairo_set_line_width(cr, 0.02);
    cairo_move_to(cr, left, ry);
    cairo_line_to(cr, left + kRulerLength, ry);
    for (int i = 0; i <= static_cast<int>(kRulerLength); ++i) {
        const double tick = (i == 0 || i == static_cast<int>(kRulerLength)) ? 0.5 : 0.25;
        cairo_move_to(cr, left + i, ry - tick);
        cairo_line_to(cr, left + i, ry);
    }
    cairo_stroke(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    char line[256];
    std::snprintf(line, sizeof line,
                  "This bar must measure %.1f cm; if not, print again at 100 %% (actual size). "
                  "Digits %.2f x %.2f cm, board %.0f x %.0f cm.",
                  kRulerLength, kGlyphDigitWidth, kGlyphDigitHeight, kGlyphBoardWidth,
                  kGlyphBoardHeight);
    text_at(cr, left + kRulerLength + 0.5, ry, 0.35, line);
    text_at(cr, left, ry + 0.8, 0.35,
            "Cut along the grey line and mount the board flat and upright, its centre at the "
            "camera's height, facing the robot's path");
    text_at(cr, left, ry + 1.3, 0.35,
            "within 30 degrees of square to the camera, on a flat wall or backing. Light it "
            "evenly: no glare, no shadow across the digits. Limits: docs/vision.md.");
    std::snprintf(line, sizeof line, "tavi number board \"%s\"", digits.c_str());
    text_at(cr, left, top - 0.6, 0.35, line);
}

bool write_pdf(const std::string& path, const std::string& digits) {
    const double points = kPointsPerInch / kCmPerInch;
    cairo_surface_t* surface =
        cairo_pdf_surface_create(path.c_str(), kPageWidth * points, kPageHeight * points);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, points, points);
    draw_sheet(cr, digits);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

bool write_png(const std::string& path, const std::string& digits, int dpi) {
    const double pixels = dpi / kCmPerInch;
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(kPageWidth * pixels + 0.5),
                                   static_cast<int>(kPageHeight * pixels + 0.5));
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, pixels, pixels);
    draw_sheet(cr, digits);
    cairo_destroy(cr);
    const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

bool valid_digits(const char* s) {
    const std::size_t n = std::strlen(s);
    return (n == 1 || n == 2) && std::strspn(s, "0123456789") == n;
}

}  // namespace

int main(int argc, char** argv) {
    int dpi = kDefaultDpi;
    int i = 1;
    if (i < argc && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (i + 1 < argc && std::strcmp(argv[i], "--dpi") == 0) {
        char* end = nullptr;
        const long v = std::strtol(argv[i + 1], &end, 10);
        if (end == argv[i + 1] || *end != '\0' || v < 72 || v > 600) {
            std::fprintf(stderr, "tavi-board: --dpi needs a whole number from 72 to 600\n");
            return 2;
        }
        dpi = static_cast<int>(v);
        i += 2;
    }
    if (i >= argc || argc - i > 2 || !valid_digits(argv[i])) {
        usage(stderr);
        return 2;
    }
    const std::string digits = argv[i];
    const std::string name = argc - i == 2 ? argv[i + 1] : "board-" + digits;
    const std::string pdf = name + ".pdf";
    const std::string png = name + ".png";
    if (!write_pdf(pdf, digits)) {
        std::fprintf(stderr, "tavi-board: cannot write %s\n", pdf.c_str());
        return 1;
    }
    if (!write_png(png, digits, dpi)) {
        std::fprintf(stderr, "tavi-board: cannot write %s\n", png.c_str());
        return 1;
    }
    std::printf("%s\n%s\n", pdf.c_str(), png.c_str());
    return 0;
}
