// scripts/make-logos.cpp: draws the status window's two logos and writes them as JPEG files.
//
// The logos are the product's name on a plain white background, drawn with a small stroke
// font of our own (each letter a few line segments and arcs, rendered as round-capped strokes
// with anti-aliasing from their distance to each pixel) and encoded by libjpeg. The pictures
// are 446 x 263 pixels, the size of the window's logo area less its bottom frame line; the
// name stays in the top 100 pixels, where the window lays no text or bar over the logo.
//
// Not part of the build: the generated files are committed under common/res/.
//   g++ -std=c++20 -O2 scripts/make-logos.cpp -ljpeg -o /tmp/make-logos
//   /tmp/make-logos common/res
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// After <cstdio> and <cstddef>: the header uses FILE and size_t without including them.
#include <jpeglib.h>

namespace {

constexpr int kWidth = 446;
constexpr int kHeight = 263;
constexpr double kPi = 3.14159265358979323846;

struct Point {
    double x, y;  // glyph units: baseline y = 0, cap height y = 1, y grows upwards
};
using Stroke = std::vector<Point>;

struct Glyph {
    double advance;
    std::vector<Stroke> strokes;
};

Stroke Arc(double cx, double cy, double rx, double ry, double fromDeg, double toDeg) {
    Stroke s;
    const int steps = 48;
    for (int i = 0; i <= steps; ++i) {
        const double a = (fromDeg + (toDeg - fromDeg) * i / steps) * kPi / 180.0;
        s.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
    }
    return s;
}

std::map<char, Glyph> Font() {
    std::map<char, Glyph> f;
    f['O'] = {0.92, {Arc(0.42, 0.5, 0.42, 0.5, 0, 360)}};
    f['Q'] = {0.92, {Arc(0.42, 0.5, 0.42, 0.5, 0, 360), {{0.52, 0.22}, {0.86, -0.10}}}};
    {
        Stroke bowl = {{0.0, 1.0}, {0.36, 1.0}};
        const Stroke arc = Arc(0.36, 0.75, 0.25, 0.25, 90, -90);
        bowl.insert(bowl.end(), arc.begin(), arc.end());
        bowl.push_back({0.0, 0.5});
        f['R'] = {0.72, {{{0.0, 0.0}, {0.0, 1.0}}, bowl, {{0.32, 0.5}, {0.64, 0.0}}}};
    }
    f['L'] = {0.62, {{{0.0, 1.0}, {0.0, 0.0}, {0.55, 0.0}}}};
    f['k'] = {0.56, {{{0.0, 0.0}, {0.0, 1.05}}, {{0.48, 0.64}, {0.0, 0.24}}, {{0.17, 0.38}, {0.50, 0.0}}}};
    f['w'] = {0.80, {{{0.0, 0.64}, {0.18, 0.0}, {0.37, 0.52}, {0.56, 0.0}, {0.74, 0.64}}}};
    f['o'] = {0.68, {Arc(0.32, 0.32, 0.32, 0.32, 0, 360)}};
    f['a'] = {0.68, {Arc(0.30, 0.32, 0.30, 0.32, 0, 360), {{0.60, 0.64}, {0.60, 0.0}}}};
    f['d'] = {0.68, {Arc(0.30, 0.32, 0.30, 0.32, 0, 360), {{0.60, 1.05}, {0.60, 0.0}}}};
    {
        Stroke e = {{0.02, 0.32}, {0.62, 0.32}};
        const Stroke arc = Arc(0.32, 0.32, 0.30, 0.32, 0, 318);
        e.insert(e.end(), arc.begin(), arc.end());
        f['e'] = {0.68, {e}};
    }
    {
        Stroke r = Arc(0.34, 0.30, 0.34, 0.32, 180, 90);
        r.push_back({0.44, 0.62});
        f['r'] = {0.48, {{{0.0, 0.64}, {0.0, 0.0}}, r}};
    }
    return f;
}

double SegmentDistance(double px, double py, Point a, Point b) {
    const double vx = b.x - a.x, vy = b.y - a.y;
    const double wx = px - a.x, wy = py - a.y;
    const double len2 = vx * vx + vy * vy;
    double t = len2 > 0 ? (wx * vx + wy * vy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double dx = px - (a.x + t * vx), dy = py - (a.y + t * vy);
    return std::sqrt(dx * dx + dy * dy);
}

struct Rgb {
    double r, g, b;
};

struct Canvas {
    std::vector<Rgb> pixels = std::vector<Rgb>(size_t(kWidth) * kHeight, Rgb{255, 255, 255});

    // Draws the text centred horizontally with its baseline at `baseline` pixels from the
    // top, capitals `capHeight` pixels high, strokes `weight` cap heights wide.
    void Text(const std::string& text, double capHeight, double baseline, double weight, Rgb ink) {
        const auto font = Font();
        const double spacing = 0.20;
        double width = 0;
        for (char ch : text)
            width += font.at(ch).advance + spacing;
        width -= spacing;
        // Segments in pixel coordinates.
        std::vector<std::pair<Point, Point>> segments;
        double penX = (kWidth - width * capHeight) / 2.0;
        for (char ch : text) {
            const Glyph& g = font.at(ch);
            for (const auto& stroke : g.strokes)
                for (size_t i = 0; i + 1 < stroke.size(); ++i)
                    segments.push_back(
                        {{penX + stroke[i].x * capHeight, baseline - stroke[i].y * capHeight},
                         {penX + stroke[i + 1].x * capHeight, baseline - stroke[i + 1].y * capHeight}});
            penX += (g.advance + spacing) * capHeight;
        }
        const double half = weight * capHeight / 2.0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                double d = 1e9;
                for (const auto& [a, b] : segments)
                    d = std::min(d, SegmentDistance(x + 0.5, y + 0.5, a, b));
                const double cover = std::clamp(half + 0.5 - d, 0.0, 1.0);
                if (cover <= 0) continue;
                Rgb& p = pixels[size_t(y) * kWidth + x];
                p.r = p.r * (1 - cover) + ink.r * cover;
                p.g = p.g * (1 - cover) + ink.g * cover;
                p.b = p.b * (1 - cover) + ink.b * cover;
            }
        }
    }

    void Write(const std::string& path) const {
        FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            std::perror(path.c_str());
            std::exit(1);
        }
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr jerr{};
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, out);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 92, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<JSAMPLE> row(size_t(kWidth) * 3);
        while (cinfo.next_scanline < cinfo.image_height) {
            for (int x = 0; x < kWidth; ++x) {
                const Rgb& p = pixels[size_t(cinfo.next_scanline) * kWidth + x];
                row[size_t(x) * 3 + 0] = JSAMPLE(std::lround(p.r));
                row[size_t(x) * 3 + 1] = JSAMPLE(std::lround(p.g));
                row[size_t(x) * 3 + 2] = JSAMPLE(std::lround(p.b));
            }
            JSAMPROW rows[1] = {row.data()};
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::fclose(out);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    {
        // The new look: the product's name in dark slate blue.
        Canvas c;
        c.Text("QOR", 58, 84, 0.15, {43, 76, 126});
        c.Write(folder + "/logo_novostyleqor.jpg");
    }
    {
        // The old look: the launcher's name in the teal of the window's title text.
        Canvas c;
        c.Text("kwLoader", 46, 78, 0.14, {64, 128, 128});
        c.Write(folder + "/logo_projeto.jpg");
    }
    return 0;
}
