// kestrel-utilite: the service and monitoring utility. No arguments besides
// --help and --version, which work without a display.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "app/App.h"
#include "app/QtPrompt.h"

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: kestrel-utilite              start the arc-protection service and monitoring utility\n"
    "       kestrel-utilite --help | -h  this text\n"
    "       kestrel-utilite --version    the version\n"
    "The utility is a window program: it needs a display (X11 or Wayland).\n"
    "Without one: xvfb-run kestrel-utilite, or QT_QPA_PLATFORM=offscreen.\n"
    "Serial ports: kestrel-cfg ports lists the COMn -> device mapping, and\n"
    "kestrel-cfg port COMn PATH sets it (e.g. a USB adapter /dev/ttyUSB0).\n";

// Before QApplication: without a display Qt would abort the process with a
// signal instead of saying what is missing.
bool HaveDisplay()
{
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    const auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("kestrel-utilite %s\n", KESTREL_VERSION);
            return 0;
        }
    }
    if (!HaveDisplay()) {
        std::fputs("kestrel-utilite: needs a display (DISPLAY or WAYLAND_DISPLAY is not set); "
                   "without one run it under Xvfb: xvfb-run kestrel-utilite\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KestrelUtilite"));
    // Qt's own buttons, file dialogs and text-field menus speak Russian too.
    kestrel::InstallRussianTranslations(app);
    try {
        return kestrel::RunUtility();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("KestrelUtilite"), QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("KestrelUtilite"), QStringLiteral("Неизвестная ошибка"));
    }
    return 0;
}
