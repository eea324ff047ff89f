#pragma once
// Rules of the program's message boxes that every front end follows.
//
// A self-closing box shows an OK button reading "SelfClosing" (id 1323) and
// closes by itself after 4 s plus 6 s for every 259 of its style value; style
// 1 is an OK-only box of 10 s. When such a box comes back within one second
// of being shown, the platform did not keep it up: the message is shown again
// as a plain box, and every later message of the run is plain.
#include <string>

#include "shell/Ui.h"

namespace hx::shell {

// Seconds until a self-closing box of this style closes; 0 for style 0 (an ordinary box).
int SelfClosingSeconds(int style);
// The OK button's caption of a self-closing box.
std::string SelfClosingCaption();

// Held by whoever shows the boxes (the window), for as long as it runs.
class SelfClosingGuard {
public:
    // True while self-closing boxes may still be used in this run.
    bool selfClosingAllowed() const { return allowed_; }
    // Called after a self-closing box returned, with the seconds it was up.
    // True when the message must be shown again as a plain box (and from now
    // on every box is plain).
    bool returnedAfter(double secondsShown);
    void reset() { allowed_ = true; }

private:
    bool allowed_ = true;
};

// The options to actually use for a message: plain once the run has fallen back.
MessageOptions EffectiveOptions(const MessageOptions& asked, const SelfClosingGuard& guard);

}  // namespace hx::shell
