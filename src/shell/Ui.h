#pragma once
// How commands talk to the user. The window implements it with widgets, the
// command line on the terminal, tests with scripted answers. Controls are
// named by their object names (CmdScan, lblStatus, ...).
#include <optional>
#include <string>
#include <vector>

namespace hx::shell {

enum class Buttons { OK, OKCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class Icon { None, Information, Question, Exclamation, Critical };
enum class Answer { OK, Cancel, Yes, No, Retry, Abort, Ignore };

struct MessageOptions {
    Buttons buttons = Buttons::OK;
    Icon icon = Icon::None;
    // 0: an ordinary box. Otherwise the self-closing style value: the box
    // closes by itself (see SelfClosingSeconds) and its OK button reads "SelfClosing".
    int selfClosingStyle = 0;
};

class Ui {
public:
    virtual ~Ui() = default;

    virtual Answer message(const std::string& text, const std::string& title, const MessageOptions& options = {}) = 0;
    // nullopt when cancelled.
    virtual std::optional<std::string> input(const std::string& prompt, const std::string& title,
                                             const std::string& defaultText = {}) = 0;
    // A folder path, or nullopt when cancelled.
    virtual std::optional<std::string> chooseFolder(const std::string& title, const std::string& start) = 0;
    virtual std::optional<std::string> openFile(const std::string& title, const std::string& filter,
                                                const std::string& start) = 0;
    virtual std::optional<std::string> saveFile(const std::string& title, const std::string& filter,
                                                const std::string& start) = 0;

    virtual void setCaption(const std::string& control, const std::string& text) = 0;
    virtual std::string caption(const std::string& control) const = 0;
    virtual void setEnabled(const std::string& control, bool enabled) = 0;
    virtual void setVisible(const std::string& control, bool visible) = 0;

    virtual void status(const std::string& text) = 0;
    // fraction in 0..1, or negative when unknown; text may be empty.
    virtual void progress(double fraction, const std::string& text) = 0;
    // Lets the front end serve pending input (events, Ctrl-C) during long work.
    virtual void yield() = 0;
    // The front end has input to serve even while one read of a medium waits
    // (a window): reads that may hang then run on a thread of their own, and
    // yield() is called while they wait.
    virtual bool servesWhileReading() const { return false; }
    // Set by the user's stop request (the Stop button, End, Ctrl-C).
    virtual bool stopRequested() const = 0;
    virtual void clearStop() = 0;

    // A scan finished a found file: `name` in its cache folder is whole on
    // disk now. Front ends that list finds as they come show it.
    virtual void fileFound(const std::string& name) { (void)name; }
};

}  // namespace hx::shell
