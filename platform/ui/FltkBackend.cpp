// platform/ui/FltkBackend.cpp: the user interface on an X display, through FLTK 1.3.
//
// A Form becomes one borderless double-buffered window whose X class is the form's class
// name, centred on the screen when first shown. One canvas widget paints the drawn controls
// (shapes, labels, images, progress bars, animations); buttons and memos are real FLTK
// widgets on top of it, as the original's windowed controls sit on top of its drawn ones.
// Drawing order on the canvas: shapes that fill the form, then images, then the rest in
// declaration order, so a logo never hides the texts laid over it.
//
// Texts from the program may hold '@', which FLTK labels read as symbol codes: the canvas
// draws with symbols off, and texts given to FLTK labels and message boxes get their '@'
// doubled. Everything here runs on the main thread.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "platform/ui/Backend.h"

namespace plat::ui::detail {

namespace {

constexpr double kAnimationStep = 0.05;  // seconds between animation frames

// Points at the original's 96 dots per inch.
int Pixels(int points) {
    return (points * 96 + 36) / 72;
}

Fl_Font FaceOf(const Font& f) {
    return f.bold ? FL_HELVETICA_BOLD : FL_HELVETICA;
}

Fl_Color ToFl(Color c) {
    return fl_rgb_color(c.r, c.g, c.b);
}

// A text for an FLTK label: '@' doubled so it is never read as a symbol code.
std::string LabelText(std::string_view text) {
    std::string out;
    for (char ch : PlainLines(text)) {
        out += ch;
        if (ch == '@') out += '@';
    }
    return out;
}

Fl_Align AlignOf(const Control& c) {
    Fl_Align a = FL_ALIGN_INSIDE | FL_ALIGN_CLIP;
    if (c.align == HAlign::Left) a |= FL_ALIGN_LEFT;
    if (c.align == HAlign::Right) a |= FL_ALIGN_RIGHT;
    if (c.layout == VAlign::Top) a |= FL_ALIGN_TOP;
    if (c.layout == VAlign::Bottom) a |= FL_ALIGN_BOTTOM;
    return a;
}

class FltkView;

class Canvas final : public Fl_Widget {
public:
    Canvas(FltkView& view, int w, int h) : Fl_Widget(0, 0, w, h), view_(view) {}
    void draw() override;

private:
    FltkView& view_;
};

class FormWindow final : public Fl_Double_Window {
public:
    FormWindow(int w, int h) : Fl_Double_Window(w, h) {}
    int handle(int event) override;
};

class FltkView final : public FormView {
public:
    explicit FltkView(Form& form) : form_(form) {
        window_ = std::make_unique<FormWindow>(form_.width, form_.height);
        window_->border(0);
        xclass_ = form_.className;
        window_->xclass(xclass_.c_str());
        caption_ = LabelText(form_.caption);
        window_->label(caption_.c_str());
        window_->color(ToFl(form_.color));
        window_->callback(&FltkView::WindowClosed, this);
        window_->begin();
        canvas_ = new Canvas(*this, form_.width, form_.height);  // owned by the window
        for (const auto& c : form_.controls) {
            if (c.kind == ControlKind::Button) {
                auto& b = buttons_[c.name];
                b.view = this;
                b.name = c.name;
                b.widget = new Fl_Button(c.left, c.top, c.width, c.height);  // owned by the window
                b.widget->box(FL_FLAT_BOX);
                b.widget->down_box(FL_THIN_DOWN_BOX);
                b.widget->visible_focus(0);
                b.widget->callback(&FltkView::ButtonClicked, &b);
            } else if (c.kind == ControlKind::Memo) {
                auto& m = memos_[c.name];
                m.buffer = std::make_unique<Fl_Text_Buffer>();
                m.widget = new Fl_Text_Display(c.left, c.top, c.width, c.height);  // owned by the window
                m.widget->buffer(m.buffer.get());
                m.widget->box(FL_DOWN_BOX);
                m.widget->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
            }
        }
        window_->end();
        Sync();
    }

    ~FltkView() override {
        Fl::remove_timeout(&FltkView::AnimationTick, this);
        if (window_) window_->hide();
        window_.reset();  // deletes the widgets, which still point at the buffers below
    }

    void Show() override {
        if (!placed_) {
            placed_ = true;
            window_->position((Fl::w() - form_.width) / 2, (Fl::h() - form_.height) / 2);
        }
        window_->show();
        Fl::flush();
    }

    void Hide() override { window_->hide(); }
    bool Visible() const override { return window_->shown() && window_->visible(); }

    void Changed() override { Sync(); }

    void ShowModal() override {
        if (Terminated()) return;
        endModal_ = false;
        window_->set_modal();
        Show();
        while (!endModal_ && !Terminated() && window_->shown()) {
            Fl::wait(0.1);
            RunMessageHandlers();
        }
        window_->set_non_modal();
        window_->hide();
    }

    void EndModal() override { endModal_ = true; }

    unsigned long NativeHandle() const override {
        return window_->shown() ? static_cast<unsigned long>(fl_xid(window_.get())) : 0UL;
    }

    void Draw() {
        fl_color(ToFl(form_.color));
        fl_rectf(0, 0, form_.width, form_.height);
        for (const auto& c : form_.controls)
            if (c.visible && c.fillsForm) DrawControl(c);
        for (const auto& c : form_.controls)
            if (c.visible && !c.fillsForm && c.kind == ControlKind::Image) DrawControl(c);
        for (const auto& c : form_.controls)
            if (c.visible && !c.fillsForm && c.kind != ControlKind::Image) DrawControl(c);
    }

    bool Modal() const { return window_->modal(); }

private:
    struct ButtonWidget {
        FltkView* view = nullptr;
        std::string name;
        Fl_Button* widget = nullptr;
        std::string label, tip;
    };
    struct MemoWidget {
        std::unique_ptr<Fl_Text_Buffer> buffer;
        Fl_Text_Display* widget = nullptr;
        std::string text;
    };

    static void ButtonClicked(Fl_Widget*, void* data) {
        auto* b = static_cast<ButtonWidget*>(data);
        if (b->view->OnClick) b->view->OnClick(b->name);
    }

    static void WindowClosed(Fl_Widget*, void* data) {
        // A borderless window has no close box; the window manager may still ask. Only a
        // modal display ends; the window's owner decides when it goes away.
        auto* v = static_cast<FltkView*>(data);
        if (v->window_->modal()) v->EndModal();
    }

    static void AnimationTick(void* data) {
        auto* v = static_cast<FltkView*>(data);
        ++v->phase_;
        v->canvas_->redraw();
        if (v->AnyAnimationRunning()) {
            Fl::repeat_timeout(kAnimationStep, &FltkView::AnimationTick, data);
        } else {
            v->animating_ = false;
        }
    }

    bool AnyAnimationRunning() const {
        for (const auto& c : form_.controls)
            if (c.kind == ControlKind::Animation && c.visible && c.running && !c.caption.empty()) return true;
        return false;
    }

    void Sync() {
        if (window_->w() != form_.width || window_->h() != form_.height)
            window_->size(form_.width, form_.height);
        canvas_->resize(0, 0, form_.width, form_.height);
        for (const auto& c : form_.controls) {
            if (auto it = buttons_.find(c.name); it != buttons_.end()) {
                auto& b = it->second;
                b.widget->resize(c.left, c.top, c.width, c.height);
                const std::string label = LabelText(c.caption);
                if (label != b.label) {
                    b.label = label;
                    b.widget->copy_label(b.label.c_str());
                }
                if (c.hint != b.tip) {
                    b.tip = c.hint;  // FLTK keeps the pointer: the string lives in this object
                    b.widget->tooltip(b.tip.empty() ? nullptr : b.tip.c_str());
                }
                b.widget->labelfont(FaceOf(c.font));
                b.widget->labelsize(Pixels(c.font.points));
                b.widget->labelcolor(ToFl(c.font.color));
                b.widget->color(ToFl(form_.color));
                if (c.visible) {
                    b.widget->show();
                } else {
                    b.widget->hide();
                }
            } else if (auto mt = memos_.find(c.name); mt != memos_.end()) {
                auto& m = mt->second;
                m.widget->resize(c.left, c.top, c.width, c.height);
                const std::string text = PlainLines(c.text);
                if (text != m.text) {
                    m.text = text;
                    m.buffer->text(m.text.c_str());
                }
                m.widget->textfont(FaceOf(c.font));
                m.widget->textsize(Pixels(c.font.points));
                if (c.visible && c.height > 0) {
                    m.widget->show();
                } else {
                    m.widget->hide();
                }
            }
        }
        if (!animating_ && AnyAnimationRunning()) {
            animating_ = true;
            Fl::add_timeout(kAnimationStep, &FltkView::AnimationTick, this);
        }
        window_->redraw();
    }

    Fl_RGB_Image* ImageOf(const std::shared_ptr<const Picture>& p) {
        auto& slot = images_[p.get()];
        if (!slot || slot->picture != p) {
            slot = std::make_unique<CachedImage>();
            slot->picture = p;  // keeps the pixels alive: FLTK's image only points at them
            slot->image = std::make_unique<Fl_RGB_Image>(p->rgb.data(), p->width, p->height, 3);
        }
        return slot->image.get();
    }

    void DrawControl(const Control& c) {
        switch (c.kind) {
            case ControlKind::Shape:
                fl_color(ToFl(c.brush));
                fl_rectf(c.left, c.top, c.width, c.height);
                fl_color(ToFl(c.pen));
                fl_rect(c.left, c.top, c.width, c.height);
                break;
            case ControlKind::Label: {
                if (!c.transparent) {
                    fl_color(ToFl(form_.color));
                    fl_rectf(c.left, c.top, c.width, c.height);
                }
                fl_font(FaceOf(c.font), Pixels(c.font.points));
                fl_color(ToFl(c.font.color));
                const std::string text = PlainLines(c.caption);
                int x = c.left, w = c.width, h = c.height;
                if (c.autoSize) {
                    int tw = 0, th = 0;
                    fl_measure(text.c_str(), tw, th, 0);
                    w = tw;
                    h = std::max(th, c.height);
                    if (c.align == HAlign::Right) x = c.left + c.width - tw;
                }
                fl_draw(text.c_str(), x, c.top, w, h, AlignOf(c), nullptr, 0);
                break;
            }
            case ControlKind::Image:
                if (c.picture && c.picture->width > 0 && c.picture->height > 0 &&
                    c.picture->rgb.size() >= size_t(c.picture->width) * size_t(c.picture->height) * 3) {
                    fl_push_clip(c.left, c.top, c.width, c.height);
                    ImageOf(c.picture)->draw(c.left, c.top);
                    fl_pop_clip();
                }
                break;
            case ControlKind::ProgressBar: {
                fl_color(fl_rgb_color(230, 230, 230));
                fl_rectf(c.left, c.top, c.width, c.height);
                const int range = c.maximum - c.minimum;
                int pos = c.position - c.minimum;
                if (pos < 0) pos = 0;
                if (pos > range) pos = range;
                const int filled = range > 0 ? (c.width - 2) * pos / range : 0;
                fl_color(fl_rgb_color(6, 176, 37));
                if (filled > 0) fl_rectf(c.left + 1, c.top + 1, filled, c.height - 2);
                fl_color(fl_rgb_color(188, 188, 188));
                fl_rect(c.left, c.top, c.width, c.height);
                break;
            }
            case ControlKind::Animation: {
                fl_color(ToFl(form_.color));
                fl_rectf(c.left, c.top, c.width, c.height);
                if (c.running && !c.caption.empty()) {
                    // A block sweeping from left to right, entering and leaving smoothly.
                    const int block = c.width / 5;
                    const int span = c.width + block;
                    const int x = c.left - block + (phase_ * 6) % span;
                    fl_push_clip(c.left, c.top, c.width, c.height);
                    for (int i = 0; i < block; ++i) {
                        const int shade = 255 - (255 - 40) * (block - std::abs(2 * i - block)) / block;
                        fl_color(fl_rgb_color(uint8_t(shade), uint8_t(std::min(255, shade + 40)), 255));
                        fl_yxline(x + i, c.top, c.top + c.height - 1);
                    }
                    fl_pop_clip();
                }
                break;
            }
            case ControlKind::Button:
            case ControlKind::Memo:
                break;  // real widgets
        }
    }

    Form& form_;
    std::map<std::string, MemoWidget> memos_;  // declared before the window: outlives its widgets
    struct CachedImage {
        std::shared_ptr<const Picture> picture;
        std::unique_ptr<Fl_RGB_Image> image;
    };
    std::map<const Picture*, std::unique_ptr<CachedImage>> images_;
    std::unique_ptr<FormWindow> window_;
    Canvas* canvas_ = nullptr;
    std::map<std::string, ButtonWidget> buttons_;
    std::string xclass_, caption_;
    bool placed_ = false;
    bool endModal_ = false;
    bool animating_ = false;
    int phase_ = 0;

    friend class Canvas;
};

void Canvas::draw() {
    view_.Draw();
}

int FormWindow::handle(int event) {
    // The original's borderless form has no cancel button: Escape closes nothing.
    if (event == FL_SHORTCUT && Fl::event_key() == FL_Escape) return 1;
    return Fl_Double_Window::handle(event);
}

class FltkBackend final : public Backend {
public:
    BackendKind Kind() const override { return BackendKind::Fltk; }

    void HandlePendingEvents() override { Fl::check(); }

    void MessageBox(const std::string& text, const std::string& title, MessageKind kind) override {
        if (Terminated()) return;
        const std::string body = LabelText(text);
        fl_message_title(title.c_str());
        const char* oldClose = fl_close;
        fl_close = "OK";
        if (kind == MessageKind::Error) {
            fl_alert("%s", body.c_str());
        } else {
            fl_message("%s", body.c_str());
        }
        fl_close = oldClose;
    }

    std::optional<std::string> ChooseSaveFile(const SaveDialogOptions& options) override {
        if (Terminated()) return std::nullopt;
        Fl_Native_File_Chooser chooser;
        chooser.type(Fl_Native_File_Chooser::BROWSE_SAVE_FILE);
        chooser.options(Fl_Native_File_Chooser::SAVEAS_CONFIRM | Fl_Native_File_Chooser::NEW_FOLDER);
        chooser.title(options.title.c_str());
        std::string filter;
        for (const auto& [description, pattern] : options.filters) {
            if (!filter.empty()) filter += '\n';
            // "*.*" means every file on the original platform; here a name need not have a dot.
            filter += description + '\t' + (pattern == "*.*" ? std::string("*") : pattern);
        }
        chooser.filter(filter.c_str());
        chooser.preset_file(options.fileName.c_str());
        if (chooser.show() != 0) return std::nullopt;
        std::string chosen = chooser.filename();
        if (chosen.empty()) return std::nullopt;
        const size_t slash = chosen.rfind('/');
        const std::string base = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
        if (!options.defaultExtension.empty() && base.find('.') == std::string::npos)
            chosen += "." + options.defaultExtension;
        return chosen;
    }

    std::unique_ptr<FormView> CreateView(Form& form) override { return std::make_unique<FltkView>(form); }
};

}  // namespace

std::unique_ptr<Backend> CreateFltkBackend(std::string& why) {
    const char* name = std::getenv("DISPLAY");
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        // FLTK would end the program when it cannot open the display itself; ask first.
        why = std::string("cannot open display \"") + (name ? name : "") + "\"";
        return nullptr;
    }
    fl_open_display(display);
    Fl::visual(FL_RGB);
    return std::make_unique<FltkBackend>();
}

}  // namespace plat::ui::detail
