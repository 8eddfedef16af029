// The status window on a real X server (Xvfb, started and stopped by the test): the window
// appears borderless and centred with the X class "TfkwUpdLoaderStatus", its pixels are the
// logo and texts (a screenshot is taken and kept under the build folder), and after an error
// a click on "Detalhes" grows the window and shows the log, and "Fechar" ends a modal display.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

// After <cstdio> and <cstddef>: the header uses FILE and size_t without including them.
#include <jpeglib.h>

#include "common/LauncherBaseTestSupport.h"
#include "launcher/LauncherRunTestSupport.h"
#include "launcher/ukwUpdLoaderStatus.h"
#include "platform/Process.h"
#include "platform/ui/UserInterface.h"

// Last: Xlib defines macros (None, Bool, Status) that other headers use as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

namespace fs = std::filesystem;

// An Xvfb server on a display number nobody uses, stopped when the object goes away; it also
// ends by itself once its last client is gone, so a test program that dies leaves no server.
class Xvfb {
public:
    Xvfb() {
        if (!fs::exists("/usr/bin/Xvfb")) return;
        for (int n = 90 + int(::getpid() % 50); n < 400 && display_ == nullptr; n += 7) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
                continue;
            name_ = ":" + std::to_string(n);
            plat::ProcessOptions o;
            o.output = plat::ProcessOutput::Null;
            pid_ = plat::StartProcess(
                       "/usr/bin/Xvfb",
                       {name_, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-terminate"}, o)
                       .pid;
            kwtest::Eventually(
                [&] {
                    display_ = XOpenDisplay(name_.c_str());
                    return display_ != nullptr || ::kill(pid_, 0) != 0;
                },
                std::chrono::milliseconds(8000));
            if (display_ == nullptr) Stop();
        }
    }
    ~Xvfb() {
        if (display_ != nullptr) XCloseDisplay(display_);
        Stop();
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    Display* display() const { return display_; }
    const std::string& name() const { return name_; }

private:
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        kwtest::Eventually([&] { return ::kill(pid_, 0) != 0; }, std::chrono::milliseconds(5000));
        pid_ = 0;
    }

    std::string name_;
    int pid_ = 0;
    Display* display_ = nullptr;
};

// One server for the whole test program: the user interface opens its display once per
// process and keeps it, so the server must outlive every test of this program.
Xvfb& Server() {
    static Xvfb server;
    return server;
}

// Points the user interface at the test server; false when there is none.
bool UseServer() {
    Xvfb& x = Server();
    if (x.display() == nullptr) return false;
    unsetenv("KW_HEADLESS");
    setenv("DISPLAY", x.name().c_str(), 1);
    plat::ui::InitializeApplication();
    return true;
}

struct Shot {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

Shot Capture(Display* d, Window w) {
    XWindowAttributes a;
    XGetWindowAttributes(d, w, &a);
    Shot s;
    XImage* img = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (img == nullptr) return s;
    s.width = a.width;
    s.height = a.height;
    s.rgb.resize(size_t(a.width) * a.height * 3);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const unsigned long p = XGetPixel(img, x, y);
            uint8_t* o = &s.rgb[(size_t(y) * a.width + x) * 3];
            o[0] = uint8_t((p & img->red_mask) >> 16);
            o[1] = uint8_t((p & img->green_mask) >> 8);
            o[2] = uint8_t(p & img->blue_mask);
        }
    XDestroyImage(img);
    return s;
}

void SaveJpeg(const Shot& s, const fs::path& path) {
    fs::create_directories(path.parent_path());
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(s.width);
    c.image_height = JDIMENSION(s.height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(s.At(0, int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// Distinct colours in a rectangle of the shot.
size_t Colours(const Shot& s, int x0, int y0, int x1, int y1) {
    std::set<uint32_t> seen;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = s.At(x, y);
            seen.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
        }
    return seen.size();
}

// Pixels of a rectangle much darker than the white the window is painted on (text, lines).
int DarkPixels(const Shot& s, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = s.At(x, y);
            if (p[0] + p[1] + p[2] < 3 * 128) ++n;
        }
    return n;
}

// Pixels of a rectangle in the white the window's frame is filled with.
int BackgroundPixels(const Shot& s, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = s.At(x, y);
            if (p[0] == 255 && p[1] == 255 && p[2] == 255) ++n;
        }
    return n;
}

// Whether the shot is of the window painted at the given size: a window the server has
// mapped but the program has not yet drawn is black, and black passes for dark pixels, so
// every wait for text first waits for the white background to cover most of the window.
bool Painted(const Shot& s, int width, int height) {
    return s.width == width && s.height == height &&
           BackgroundPixels(s, 0, 0, width, height) > width * height / 2;
}

// Processes the window's events until the predicate holds. The limit is a bound against
// hanging, not a speed goal: on a machine busy building, drawing can take seconds.
bool PumpUntil(Display* d, const std::function<bool()>& pred) {
    return kwtest::Eventually(
        [&] {
            plat::ui::ProcessMessages();
            XSync(d, False);
            plat::ui::ProcessMessages();
            return pred();
        },
        std::chrono::milliseconds(20000));
}

void Click(Display* d, Window w, int x, int y) {
    for (int type : {ButtonPress, ButtonRelease}) {
        XEvent ev{};
        ev.xbutton.type = type;
        ev.xbutton.display = d;
        ev.xbutton.window = w;
        ev.xbutton.root = DefaultRootWindow(d);
        ev.xbutton.subwindow = None;
        ev.xbutton.time = CurrentTime;
        ev.xbutton.x = x;
        ev.xbutton.y = y;
        Window child;
        XTranslateCoordinates(d, w, ev.xbutton.root, x, y, &ev.xbutton.x_root, &ev.xbutton.y_root, &child);
        ev.xbutton.same_screen = True;
        ev.xbutton.button = Button1;
        ev.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        XSendEvent(d, w, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &ev);
    }
    XFlush(d);
}

TEST(StatusWindowOnX, AppearsWithItsClassAndShowsTheLogOnDetails) {
    KW_REQUIRE_PEER(UseServer(), "Xvfb (package xvfb)");
    Display* d = Server().display();
    ASSERT_EQ(plat::ui::CurrentBackend(), plat::ui::BackendKind::Fltk);

    kwtest::PrivateMarkers markers;
    kwtest::LauncherFolder pasta("QOR.exe");
    TfkwUpdLoaderStatus s;
    s.DefinaTarefa("Carregando o sistema");
    s.DefinaVersao("Versão do loader: 4.1.0.0");
    s.Show();
    Window w = 0;
    ASSERT_TRUE(PumpUntil(d, [&] {
        w = Window(s.Vista().NativeHandle());
        XWindowAttributes a;
        return w != 0 && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
    }));

    // A top-level window of the class the launcher looks for.
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    bool topLevel = false;
    for (unsigned int i = 0; i < count; ++i)
        topLevel = topLevel || children[i] == w;
    if (children) XFree(children);
    EXPECT_TRUE(topLevel);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(d, w, &hint));
    EXPECT_STREQ(hint.res_class, "TfkwUpdLoaderStatus");
    XFree(hint.res_name);
    XFree(hint.res_class);

    // 448 x 265, centred on the 1024 x 768 screen, without decorations.
    XWindowAttributes a;
    XGetWindowAttributes(d, w, &a);
    EXPECT_EQ(a.width, 448);
    EXPECT_EQ(a.height, 265);
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
    EXPECT_EQ(rx, (1024 - 448) / 2);
    EXPECT_EQ(ry, (768 - 265) / 2);
    const Atom motif = XInternAtom(d, "_MOTIF_WM_HINTS", True);
    ASSERT_NE(motif, None);
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    ASSERT_EQ(
        XGetWindowProperty(d, w, motif, 0, 5, False, AnyPropertyType, &type, &format, &items, &after, &data),
        Success);
    ASSERT_NE(data, nullptr);
    ASSERT_GE(items, 3u);
    const auto* hints = reinterpret_cast<const unsigned long*>(data);
    EXPECT_TRUE(hints[0] & 2);  // decorations given...
    EXPECT_EQ(hints[2], 0u);    // ...and none
    XFree(data);

    // The screenshot: the logo's name in its blue, the black frame, the texts.
    Shot shot;
    ASSERT_TRUE(PumpUntil(d, [&] {
        shot = Capture(d, w);
        return Painted(shot, 448, 265) && DarkPixels(shot, 100, 15, 350, 95) > 500 &&
               DarkPixels(shot, 5, 110, 441, 141) > 20 && DarkPixels(shot, 20, 240, 200, 253) > 10;
    }));
    SaveJpeg(shot, fs::path(KW_BINARY_DIR) / "test-output" / "status-window.jpg");
    EXPECT_GT(Colours(shot, 0, 0, shot.width, shot.height), 20u);
    const uint8_t* frame = shot.At(0, 0);
    EXPECT_LT(frame[0] + frame[1] + frame[2], 3 * 40);
    int blue = 0;
    for (int y = 15; y < 95; ++y)
        for (int xx = 100; xx < 350; ++xx) {
            const uint8_t* p = shot.At(xx, y);
            if (p[2] > p[0] + 40) ++blue;
        }
    EXPECT_GT(blue, 500);
    EXPECT_GT(DarkPixels(shot, 5, 110, 441, 141), 20);   // the task line
    EXPECT_GT(DarkPixels(shot, 20, 240, 200, 253), 10);  // the version line

    // After an error: the details button shows the log below.
    s.MostreErro("10/12/2026 13:00:00 : INICIO - Execute...\r\n10/12/2026 13:00:01 :  - Erro: falhou\r\n");
    ASSERT_TRUE(PumpUntil(d, [&] { return true; }));
    Click(d, w, 146 + 37, 209 + 11);
    ASSERT_TRUE(PumpUntil(d, [&] {
        XWindowAttributes now;
        XGetWindowAttributes(d, w, &now);
        return now.height == 395;
    })) << "the click on Detalhes did not grow the window";
    EXPECT_EQ(s.Formulario().Find("pbDetalhes").caption, "Detalhes <<");
    Shot expanded;
    ASSERT_TRUE(PumpUntil(d, [&] {
        expanded = Capture(d, w);
        return Painted(expanded, 448, 395) && BackgroundPixels(expanded, 8, 268, 400, 362) > 392 * 94 / 2 &&
               DarkPixels(expanded, 8, 268, 400, 362) > 100 && DarkPixels(expanded, 342, 369, 440, 389) > 10;
    })) << "no log text in the memo";
    SaveJpeg(expanded, fs::path(KW_BINARY_DIR) / "test-output" / "status-window-details.jpg");
    EXPECT_GT(DarkPixels(expanded, 342, 369, 440, 389), 10);  // "Salvar..." below the memo

    // A modal display ends with "Fechar"; the window is still there for its owner to free.
    Click(d, w, 226 + 38, 209 + 11);
    s.ShowModal();
    EXPECT_FALSE(s.Visible());
    s.DefinaTarefa("ainda existe");
}

// The trap the waits above avoid, made to happen every time: the window is mapped, but the
// program has not yet processed the server's Expose, so nothing is drawn and the shot is
// black, which passes a count of dark pixels. Only once the background is there is it taken
// for the painted window.
TEST(StatusWindowOnX, AWindowNotYetDrawnIsNotTakenForADrawnOne) {
    KW_REQUIRE_PEER(UseServer(), "Xvfb (package xvfb)");
    Display* d = Server().display();
    ASSERT_EQ(plat::ui::CurrentBackend(), plat::ui::BackendKind::Fltk);

    kwtest::PrivateMarkers markers;
    kwtest::LauncherFolder pasta("QOR.exe");
    TfkwUpdLoaderStatus s;
    s.DefinaTarefa("Carregando o sistema");
    s.Show();
    const Window w = Window(s.Vista().NativeHandle());
    ASSERT_NE(w, 0u);
    // Our own connection only: the window's program processes no event meanwhile.
    ASSERT_TRUE(kwtest::Eventually([&] {
        XWindowAttributes a;
        XSync(d, False);
        return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
    }));
    const Shot early = Capture(d, w);
    ASSERT_EQ(early.width, 448);
    EXPECT_GT(DarkPixels(early, 100, 15, 350, 95), 500) << "the unpainted window is not dark here";
    EXPECT_FALSE(Painted(early, 448, 265));
    Shot shot;
    EXPECT_TRUE(PumpUntil(d, [&] {
        shot = Capture(d, w);
        return Painted(shot, 448, 265);
    }));
    s.Hide();
}

TEST(StatusWindowOnX, OldLookAnimatesAndGrowsItsLabelsLeftwards) {
    KW_REQUIRE_PEER(UseServer(), "Xvfb (package xvfb)");
    Display* d = Server().display();
    ASSERT_EQ(plat::ui::CurrentBackend(), plat::ui::BackendKind::Fltk);

    kwtest::LauncherFolder pasta("Qor2.exe");
    TfkwUpdLoaderStatus s;
    s.DefinaTarefa("Verificando se o sistema está atualizado");
    s.DefinaVersao("Versão do loader: 4.1.0.0");
    s.Show();
    Window w = 0;
    ASSERT_TRUE(PumpUntil(d, [&] {
        w = Window(s.Vista().NativeHandle());
        XWindowAttributes a;
        return w != 0 && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
    }));
    Shot antes;
    ASSERT_TRUE(PumpUntil(d, [&] {
        antes = Capture(d, w);
        return Painted(antes, 448, 265) && DarkPixels(antes, 60, 15, 390, 95) > 300 &&
               DarkPixels(antes, 300, 117, 400, 131) > 20;
    }));
    SaveJpeg(antes, fs::path(KW_BINARY_DIR) / "test-output" / "status-window-old-look.jpg");
    // The version text is wider than its design-time 33 pixels and keeps its right edge at
    // 440: it reaches far to the left of 407.
    EXPECT_GT(DarkPixels(antes, 300, 117, 400, 131), 20);
    EXPECT_EQ(DarkPixels(antes, 441, 117, 447, 131), 0);
    // "Verificador", right-aligned at 440.
    EXPECT_GT(DarkPixels(antes, 340, 99, 440, 116) + Colours(antes, 340, 99, 440, 116), 10u);

    // The animation moves while messages are processed.
    auto barra = [](const Shot& sh) {
        std::vector<uint8_t> b;
        for (int y = 180; y < 187; ++y)
            for (int xx = 58; xx < 388; ++xx)
                b.insert(b.end(), sh.At(xx, y), sh.At(xx, y) + 3);
        return b;
    };
    const auto primeira = barra(antes);
    EXPECT_TRUE(PumpUntil(d, [&] { return barra(Capture(d, w)) != primeira; }))
        << "the animation stands still";

    // An error stops it and turns the task line red.
    s.MostreErro("erro\r\n");
    Shot erro;
    ASSERT_TRUE(PumpUntil(d, [&] {
        erro = Capture(d, w);
        int red = 0;
        for (int y = 147; y < 178; ++y)
            for (int xx = 5; xx < 441; ++xx) {
                const uint8_t* p = erro.At(xx, y);
                if (p[0] > 150 && p[1] < 80 && p[2] < 80) ++red;
            }
        return red > 20;
    })) << "the task line is not red";
    // The last frame may still be on its way to the screen: wait until two shots agree, then
    // the bar must stay as it is while messages go on being processed.
    auto parada = barra(erro);
    ASSERT_TRUE(PumpUntil(d, [&] {
        const auto agora = barra(Capture(d, w));
        const bool igual = agora == parada;
        parada = agora;
        return igual;
    }));
    for (int i = 0; i < 10; ++i) {
        plat::ui::ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(barra(Capture(d, w)), parada);
}

}  // namespace
