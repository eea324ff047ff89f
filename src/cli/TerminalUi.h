#pragma once
// The Ui service on a terminal: messages go to stderr, questions are asked on
// the terminal, or answered Yes/OK by --yes; without a terminal the safe
// answer (No/Cancel) is taken and said.
#include "shell/Ui.h"

#include <map>

namespace hx::cli {

class TerminalUi : public shell::Ui {
public:
    explicit TerminalUi(bool assumeYes);

    shell::Answer message(const std::string& text, const std::string& title,
                          const shell::MessageOptions& options) override;
    std::optional<std::string> input(const std::string& prompt, const std::string& title,
                                     const std::string& defaultText) override;
    std::optional<std::string> chooseFolder(const std::string& title, const std::string& start) override;
    std::optional<std::string> openFile(const std::string& title, const std::string& filter,
                                        const std::string& start) override;
    std::optional<std::string> saveFile(const std::string& title, const std::string& filter,
                                        const std::string& start) override;
    void setCaption(const std::string& control, const std::string& text) override;
    std::string caption(const std::string& control) const override;
    void setEnabled(const std::string&, bool) override {}
    void setVisible(const std::string&, bool) override {}
    void status(const std::string& text) override;
    void progress(double fraction, const std::string& text) override;
    void yield() override {}
    bool stopRequested() const override;
    void clearStop() override;

private:
    bool assumeYes_;
    bool interactive_;
    std::map<std::string, std::string> captions_;
};

// Installs the Ctrl-C handler that sets the stop flag.
void InstallStopHandler();

}  // namespace hx::cli
