#include "platform/Terminal.h"

#include <unistd.h>

namespace hx::platform {

bool IsTerminal(StandardStream stream) {
    return ::isatty(stream == StandardStream::Input ? STDIN_FILENO : STDERR_FILENO) != 0;
}

}  // namespace hx::platform
