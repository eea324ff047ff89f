#include "shell/MessageBoxRules.h"

#include "shell/Strings.h"

namespace hx::shell {

int SelfClosingSeconds(int style) {
    if (style <= 0) return 0;
    if (style == 1) return 10;
    return 4 + 6 * (style / 259);
}

std::string SelfClosingCaption() { return LoadStr(1323, "SelfClosing"); }

bool SelfClosingGuard::returnedAfter(double secondsShown) {
    if (secondsShown >= 1.0) return false;
    allowed_ = false;
    return true;
}

MessageOptions EffectiveOptions(const MessageOptions& asked, const SelfClosingGuard& guard) {
    MessageOptions o = asked;
    if (!guard.selfClosingAllowed()) o.selfClosingStyle = 0;
    if (asked.selfClosingStyle == 1) o.buttons = Buttons::OK;
    return o;
}

}  // namespace hx::shell
