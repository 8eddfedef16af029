// platform/ui/Form.h: a window described as plain data, for the back ends to render.
//
// The launcher keeps its window's whole state (every control's place, text, font, colour,
// visibility) in one Form and changes only that; a back end (FLTK on a display, or the
// headless one) reads the Form and shows it. So the window's behaviour is tested on the data
// alone, and no toolkit type reaches the launcher.
//
// Coordinates are pixels of the form's client area, origin top left. Colours are RGB;
// ColorFromBGR reads the original platform's colour values (blue, green, red bytes from high
// to low). Fonts are named as the original names them and sized in points; a back end maps
// them to what it has. What must stay true: control names are unique within a form, and
// Form::SetHeight is the one way to change the height (it moves the controls anchored to the
// bottom edge and resizes those that fill the form).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plat::ui {

struct Color {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Color&) const = default;
};

constexpr Color ColorFromBGR(uint32_t value) {
    return Color{uint8_t(value & 0xFF), uint8_t((value >> 8) & 0xFF), uint8_t((value >> 16) & 0xFF)};
}

enum class ControlKind {
    Shape,        // a rectangle: brush inside, one-pixel pen frame
    Label,        // caption text
    Button,       // flat push button with caption and hint; clicks reach FormView::OnClick
    Memo,         // read-only multi-line text with a vertical scroll bar
    Image,        // a picture drawn at the control's top left, clipped to its size
    ProgressBar,  // smooth bar from minimum to maximum
    Animation,    // a drawn "working" animation named by its caption; moves while running
};

enum class HAlign { Left, Center, Right };
enum class VAlign { Top, Center, Bottom };

struct Font {
    std::string name = "MS Sans Serif";
    int points = 8;
    bool bold = false;
    Color color{};
    bool operator==(const Font&) const = default;
};

// Width x height pixels, rows from the top, 3 bytes (red, green, blue) per pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

struct Control {
    std::string name;
    ControlKind kind = ControlKind::Label;
    int left = 0, top = 0, width = 0, height = 0;
    bool visible = true;

    std::string caption;  // labels and buttons; line breaks (CR LF, LF, CR) break lines
    std::string hint;     // buttons: shown when the pointer rests on them
    Font font;
    HAlign align = HAlign::Left;
    VAlign layout = VAlign::Top;
    bool transparent = true;  // labels: the form shows through
    // Labels: the label is as wide as its text; a right-aligned one keeps its right edge,
    // the others their left edge (width and height above are the design-time size).
    bool autoSize = false;

    Color brush{255, 255, 255};  // shapes
    Color pen{0, 0, 0};

    std::string text;                              // memos
    std::shared_ptr<const Picture> picture;        // images; null draws nothing
    int position = 0, minimum = 0, maximum = 100;  // progress bars
    bool running = false;                          // animations (one without a caption shows nothing)

    bool anchorRight = false;   // keeps its distance to the right edge
    bool anchorBottom = false;  // keeps its distance to the bottom edge
    bool fillsForm = false;     // always covers the whole client area
    bool echo = false;          // the headless back end writes the caption whenever it changes
};

struct Form {
    std::string className;  // the X window class, and the name of the window's instance marker
    std::string caption;
    int width = 0, height = 0;
    Color color{240, 240, 240};
    Font font;
    std::vector<Control> controls;  // declaration order; back ends draw images first

    // The control of that name; std::out_of_range for a name the form does not have.
    Control& Find(std::string_view name);
    const Control& Find(std::string_view name) const;
    // Changes the height, moving bottom-anchored controls by the difference and resizing the
    // controls that fill the form.
    void SetHeight(int newHeight);
};

}  // namespace plat::ui
