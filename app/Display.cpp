#include "app/Display.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Connects as the toolkit's X11 plugin does, so a server that refuses us (for
// want of authorisation, say) counts as unreachable too. The library is the
// plugin's own; without it the toolkit has no X11 either, and says so itself.
bool X11Answers(const std::string& display) {
    void* xcb = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (!xcb) return true;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool answers = true;
    if (connect && hasError && disconnect) {
        void* connection = connect(display.c_str(), nullptr);
        answers = hasError(connection) == 0;
        disconnect(connection);  // also frees a connection in error
    }
    ::dlclose(xcb);
    return answers;
}

std::string WaylandSocket(const std::string& display) {
    const std::string name = display.empty() ? "wayland-0" : display;
    return name.front() == '/' ? name : Env("XDG_RUNTIME_DIR") + "/" + name;
}

bool WaylandAnswers(const std::string& display) {
    const std::string path = WaylandSocket(display);
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // no socket for us: not the display's fault
    const bool answers =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

}  // namespace

std::string DisplayProblem(const char* program) {
    const std::string x11 = Env("DISPLAY");
    const std::string wayland = Env("WAYLAND_DISPLAY");
    // Without a choice the toolkit takes X11, and Wayland first when a
    // Wayland display is named; an explicit list is tried in its order.
    bool tryX11 = true;
    bool tryWayland = !wayland.empty();
    if (const std::string platforms = Env("QT_QPA_PLATFORM"); !platforms.empty()) {
        tryX11 = tryWayland = false;
        std::string_view rest = platforms;
        while (!rest.empty()) {
            const std::string_view entry = rest.substr(0, rest.find(';'));
            rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
            const std::string_view name = entry.substr(0, entry.find(':'));
            if (name == "xcb")
                tryX11 = true;
            else if (name.substr(0, 7) == "wayland")
                tryWayland = true;
            else if (!name.empty())
                return {};  // offscreen, a framebuffer, ...: nothing here to check
        }
    }
    if (tryWayland && WaylandAnswers(wayland)) return {};
    if (tryX11 && !x11.empty() && X11Answers(x11)) return {};

    const std::string x11Part =
        x11.empty() ? "DISPLAY is not set" : "cannot open the X display " + x11;
    const std::string waylandPart = "cannot reach the Wayland display " + WaylandSocket(wayland);
    const std::string what = !tryWayland ? (x11.empty() ? "no display: " + x11Part : x11Part)
                             : tryX11    ? waylandPart + ", and " + x11Part
                                         : waylandPart;
    return what + "; start " + program + " from a desktop session, or without one as `xvfb-run " +
           program + "`";
}

void AnswerHelpOrVersion(QCommandLineParser& parser, int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments)) return;
    const QStringList asked = parser.optionNames();
    const char* const answered[] = {"h", "help", "v", "version"};
    if (std::none_of(std::begin(answered), std::end(answered),
                     [&](const char* name) { return asked.contains(QLatin1String(name)); }))
        return;
    // What the toolkit says of the session as its application object starts
    // (Qt 6.8 of a locale that is not UTF-8, for one) has no place in the answer.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const QCoreApplication app(argc, argv);
    parser.process(app);  // prints the answer and exits
}
