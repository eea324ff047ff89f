#pragma once
class QApplication;

namespace hx::gui {

// The look of every window of the program: Fusion with a calm palette and
// roomier controls. Called once by main() and by the GUI tests.
void ApplyAppStyle(QApplication& app);

}  // namespace hx::gui
