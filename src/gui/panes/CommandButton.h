#pragma once
// The window's command buttons: named as the commands know them, and
// eliding the middle of a long caption (a drive path) instead of pushing
// the others away.
#include <QPushButton>

namespace hx::gui {

QPushButton* MakeCommandButton(const char* name, QWidget* parent, bool primary = false);

}  // namespace hx::gui
