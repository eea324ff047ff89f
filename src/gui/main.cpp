#include <QApplication>
#include <cstdio>
#include <string>

#include "gui/AppStyle.h"
#include "gui/frmRecover.h"

int main(int argc, char** argv) {
    // Answered before any window or display is needed.
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--version") {
            std::printf("harvestrix %s\n", HX_VERSION);
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::printf("%s", hx::shell::WindowUsage().c_str());
            return 0;
        }
    }
    QApplication app(argc, argv);
    app.setApplicationName("Harvestrix");
    app.setOrganizationName("Morvenick");
    app.setDesktopFileName("harvestrix");
    hx::gui::ApplyAppStyle(app);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    auto options = hx::shell::ParseWindowOptions(args);
    options.singleInstance = true;
    hx::gui::frmRecover window(options);
    window.Form_Load();
    if (window.hasExited()) return 0;
    window.show();
    return app.exec();
}
