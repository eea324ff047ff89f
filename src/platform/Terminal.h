#pragma once
// Whether the program talks to a person at a terminal.
namespace hx::platform {

enum class StandardStream { Input, Error };

bool IsTerminal(StandardStream stream);

}  // namespace hx::platform
