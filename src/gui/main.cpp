#include <QApplication>

#include "gui/AppStyle.h"
#include "gui/frmRecover.h"

int main(int argc, char** argv) {
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
