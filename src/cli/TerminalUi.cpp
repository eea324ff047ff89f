#include "cli/TerminalUi.h"

#include "platform/Terminal.h"

#include <csignal>
#include <iostream>

namespace hx::cli {

namespace {
volatile std::sig_atomic_t gStop = 0;
void onSigint(int) { gStop = 1; }

shell::Answer safeAnswer(shell::Buttons b) {
    switch (b) {
        case shell::Buttons::OK: return shell::Answer::OK;
        case shell::Buttons::YesNo: return shell::Answer::No;
        case shell::Buttons::AbortRetryIgnore: return shell::Answer::Abort;
        default: return shell::Answer::Cancel;
    }
}

shell::Answer yesAnswer(shell::Buttons b) {
    switch (b) {
        case shell::Buttons::YesNo:
        case shell::Buttons::YesNoCancel: return shell::Answer::Yes;
        case shell::Buttons::RetryCancel: return shell::Answer::Retry;
        case shell::Buttons::AbortRetryIgnore: return shell::Answer::Ignore;
        default: return shell::Answer::OK;
    }
}
}  // namespace

void InstallStopHandler() { std::signal(SIGINT, onSigint); }

TerminalUi::TerminalUi(bool assumeYes) : assumeYes_(assumeYes), interactive_(platform::IsTerminal(platform::StandardStream::Input)) {}

shell::Answer TerminalUi::message(const std::string& text, const std::string& title,
                                  const shell::MessageOptions& options) {
    std::cerr << (title.empty() ? "" : "[" + title + "] ") << text << "\n";
    if (options.buttons == shell::Buttons::OK) return shell::Answer::OK;
    if (assumeYes_) {
        std::cerr << "  -> answered by --yes\n";
        return yesAnswer(options.buttons);
    }
    if (!interactive_) {
        std::cerr << "  -> no terminal to ask: taking the safe answer (use --yes to agree)\n";
        return safeAnswer(options.buttons);
    }
    for (;;) {
        switch (options.buttons) {
            case shell::Buttons::YesNo: std::cerr << "  [y]es/[n]o? "; break;
            case shell::Buttons::YesNoCancel: std::cerr << "  [y]es/[n]o/[c]ancel? "; break;
            case shell::Buttons::OKCancel: std::cerr << "  [o]k/[c]ancel? "; break;
            case shell::Buttons::RetryCancel: std::cerr << "  [r]etry/[c]ancel? "; break;
            case shell::Buttons::AbortRetryIgnore: std::cerr << "  [a]bort/[r]etry/[i]gnore? "; break;
            default: break;
        }
        std::string line;
        if (!std::getline(std::cin, line)) return safeAnswer(options.buttons);
        char c = line.empty() ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        switch (c) {
            case 'y': return shell::Answer::Yes;
            case 'n': return shell::Answer::No;
            case 'c': return shell::Answer::Cancel;
            case 'o': return shell::Answer::OK;
            case 'r': return shell::Answer::Retry;
            case 'a': return shell::Answer::Abort;
            case 'i': return shell::Answer::Ignore;
            default: break;
        }
    }
}

std::optional<std::string> TerminalUi::input(const std::string& prompt, const std::string& title,
                                             const std::string& defaultText) {
    std::cerr << (title.empty() ? "" : "[" + title + "] ") << prompt << " ";
    if (!interactive_) {
        std::cerr << "\n  -> no terminal to ask: cancelled\n";
        return std::nullopt;
    }
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line.empty() ? defaultText : line;
}

std::optional<std::string> TerminalUi::chooseFolder(const std::string& title, const std::string& start) {
    return input(title, "", start);
}
std::optional<std::string> TerminalUi::openFile(const std::string& title, const std::string&,
                                                const std::string& start) {
    return input(title, "", start);
}
std::optional<std::string> TerminalUi::saveFile(const std::string& title, const std::string&,
                                                const std::string& start) {
    return input(title, "", start);
}

void TerminalUi::setCaption(const std::string& control, const std::string& text) { captions_[control] = text; }
std::string TerminalUi::caption(const std::string& control) const {
    auto it = captions_.find(control);
    return it == captions_.end() ? std::string() : it->second;
}

void TerminalUi::status(const std::string& text) {
    if (!text.empty()) std::cerr << text << "\n";
}

void TerminalUi::progress(double fraction, const std::string& text) {
    // One line that updates itself, on a terminal only: a pipe or a log gets none.
    static const bool terminal = platform::IsTerminal(platform::StandardStream::Error);
    if (!terminal) return;
    if (fraction >= 0)
        std::cerr << "\r" << static_cast<int>(fraction * 100) << "% " << text << "\033[K" << std::flush;
    else if (!text.empty())
        std::cerr << "\r" << text << "\033[K" << std::flush;
}

bool TerminalUi::stopRequested() const { return gStop != 0; }
void TerminalUi::clearStop() { gStop = 0; }

}  // namespace hx::cli
