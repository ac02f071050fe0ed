// A desktop for the dialog tests: a private Xvfb server (started with -displayfd, so no display number is
// guessed, and -noreset, so the keyboard map a test sets survives its clients), xdotool typing real key
// events through XTEST, a listener that counts the display's named bells, a clipboard owner, and window
// screenshots saved as PNG files in the build tree.
#pragma once

#include "qv_child_process.h"
#include "qv_test_paths.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace desktop {

using namespace std::chrono_literals;

inline bool OnPath(const std::string& program) {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
    std::stringstream parts(path);
    std::string dir;
    while (std::getline(parts, dir, ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

// Polls `condition` every 10 ms until it holds or `limit` passes.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class Xvfb {
public:
    // Starts the server; false with the reason when it cannot run here.
    bool Start(std::string* reason) {
        for (const char* tool : {"Xvfb", "xdotool"}) {
            if (!OnPath(tool)) {
                *reason = std::string(tool) + " is not installed (scripts/install-deps.sh installs it)";
                return false;
            }
        }
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
                   "1024x768x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) {
            *reason = "Xvfb did not start";
            return false;
        }
        name_ = ":" + number;
        return true;
    }
    ~Xvfb() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            WaitChild(pid_, 10s);
        }
    }
    const std::string& Name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

struct ToolResult {
    int code = -1;
    std::string out;
};

// Runs a tool of the X desktop (xdotool, setxkbmap) on the display; output in a temporary file.
inline ToolResult RunTool(const std::string& display, std::vector<std::string> args) {
    std::filesystem::path out = std::filesystem::temp_directory_path() / ("qv-xtool-" + std::to_string(getpid()));
    std::string program = args[0];
    std::string path = "/usr/bin/" + program;
    if (access(path.c_str(), X_OK) != 0) path = program;
    args[0] = path;
    ToolResult r;
    r.code = WaitChild(StartChild(args, out, "", {"DISPLAY=" + display}), 30s);
    FILE* f = std::fopen(out.c_str(), "r");
    if (f != nullptr) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) r.out.append(buffer, n);
        std::fclose(f);
    }
    std::filesystem::remove(out);
    return r;
}

// Counts the XKB bells of the display by name, from the moment it is made.
class BellCounter {
public:
    explicit BellCounter(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
        int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        if (display_ == nullptr || !XkbQueryExtension(display_, &opcode, &event_, &error, &major, &minor)) return;
        XkbSelectEvents(display_, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
        XSync(display_, False);
    }
    ~BellCounter() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    // Bells of the name rung so far (after a round trip to the server).
    int Count(const std::string& name) {
        Drain();
        int n = 0;
        for (const auto& b : bells_) n += b == name;
        return n;
    }
    int Total() {
        Drain();
        return static_cast<int>(bells_.size());
    }

private:
    void Drain() {
        if (display_ == nullptr) return;
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != event_) continue;
            auto& xkb = reinterpret_cast<XkbEvent&>(event);
            if (xkb.any.xkb_type != XkbBellNotify) continue;
            char* name = xkb.bell.name != None ? XGetAtomName(display_, xkb.bell.name) : nullptr;
            bells_.push_back(name != nullptr ? name : "");
            if (name != nullptr) XFree(name);
        }
    }
    Display* display_;
    int event_ = 0;
    std::vector<std::string> bells_;
};

// Owns the CLIPBOARD selection with a text until destroyed (answers UTF8_STRING, STRING and TARGETS).
class ClipboardOwner {
public:
    ClipboardOwner(const std::string& display, const std::string& text) : text_(text) {
        display_ = XOpenDisplay(display.c_str());
        if (display_ == nullptr) return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        clipboard_ = XInternAtom(display_, "CLIPBOARD", False);
        XSetSelectionOwner(display_, clipboard_, window_, CurrentTime);
        XSync(display_, False);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ClipboardOwner() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool Owns() const { return display_ != nullptr; }

private:
    void Serve() {
        Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        Atom targets = XInternAtom(display_, "TARGETS", False);
        pollfd p{ConnectionNumber(display_), POLLIN, 0};
        while (!stop_) {
            if (XPending(display_) == 0) {
                poll(&p, 1, 20);
                continue;
            }
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != SelectionRequest) continue;
            XSelectionRequestEvent& request = event.xselectionrequest;
            XSelectionEvent reply{};
            reply.type = SelectionNotify;
            reply.requestor = request.requestor;
            reply.selection = request.selection;
            reply.target = request.target;
            reply.time = request.time;
            reply.property = request.property != None ? request.property : request.target;
            if (request.target == targets) {
                Atom offered[] = {targets, utf8, XA_STRING};
                XChangeProperty(display_, request.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(offered), 3);
            } else if (request.target == utf8 || request.target == XA_STRING) {
                XChangeProperty(display_, request.requestor, reply.property, request.target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(text_.data()), static_cast<int>(text_.size()));
            } else {
                reply.property = None;
            }
            XSendEvent(display_, request.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
            XFlush(display_);
        }
    }
    Display* display_ = nullptr;
    Window window_ = 0;
    Atom clipboard_ = 0;
    std::string text_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The text of the CLIPBOARD selection as UTF8_STRING; empty when nobody offers one within 5 s.
inline std::string ReadClipboard(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return {};
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom property = XInternAtom(display, "QV_CLIPBOARD_TEXT", False);
    XConvertSelection(display, clipboard, utf8, property, window, CurrentTime);
    XFlush(display);
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (XPending(display) == 0) {
            std::this_thread::sleep_for(10ms);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != SelectionNotify) continue;
        if (event.xselection.property != None) {
            Atom type = 0;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(display, window, property, 0, 1 << 16, False, AnyPropertyType, &type, &format, &count,
                               &after, &data);
            if (data != nullptr) {
                text.assign(reinterpret_cast<char*>(data), count);
                XFree(data);
            }
        }
        break;
    }
    XCloseDisplay(display);
    return text;
}

// Saves the window's picture as a PNG in build/tests/qvpwdctl-screenshots and returns its path ("" on failure).
inline std::string SaveScreenshot(const std::string& displayName, unsigned long window, const std::string& name) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return {};
    XWindowAttributes attributes{};
    std::string saved;
    if (XGetWindowAttributes(display, window, &attributes) != 0) {
        XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                                  static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
        if (image != nullptr) {
            GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, attributes.width, attributes.height);
            guchar* pixels = gdk_pixbuf_get_pixels(picture);
            int stride = gdk_pixbuf_get_rowstride(picture);
            for (int y = 0; y < attributes.height; ++y) {
                for (int x = 0; x < attributes.width; ++x) {
                    unsigned long p = XGetPixel(image, x, y);
                    guchar* out = pixels + y * stride + x * 3;
                    out[0] = static_cast<guchar>((p >> 16) & 0xFF);
                    out[1] = static_cast<guchar>((p >> 8) & 0xFF);
                    out[2] = static_cast<guchar>(p & 0xFF);
                }
            }
            std::filesystem::path folder = BuildTree() + "/tests/qvpwdctl-screenshots";
            std::filesystem::create_directories(folder);
            std::string path = (folder / (name + ".png")).string();
            if (gdk_pixbuf_save(picture, path.c_str(), "png", nullptr, nullptr)) saved = path;
            g_object_unref(picture);
            XDestroyImage(image);
        }
    }
    XCloseDisplay(display);
    return saved;
}

}  // namespace desktop
