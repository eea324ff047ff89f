#pragma once
// A Ui that shows nothing and answers every question with OK/Cancel: for
// scans that run without anyone watching (benchmarks, fuzzing, batch runs).
#include "shell/Ui.h"

namespace hx::shell {

class QuietUi : public Ui {
public:
    std::vector<std::string> shown;  // texts of the messages, in order

    Answer message(const std::string& text, const std::string&, const MessageOptions&) override {
        shown.push_back(text);
        return Answer::OK;
    }
    std::optional<std::string> input(const std::string&, const std::string&, const std::string&) override { return {}; }
    std::optional<std::string> chooseFolder(const std::string&, const std::string&) override { return {}; }
    std::optional<std::string> openFile(const std::string&, const std::string&, const std::string&) override { return {}; }
    std::optional<std::string> saveFile(const std::string&, const std::string&, const std::string&) override { return {}; }
    void setCaption(const std::string&, const std::string&) override {}
    std::string caption(const std::string&) const override { return {}; }
    void setEnabled(const std::string&, bool) override {}
    void setVisible(const std::string&, bool) override {}
    void status(const std::string&) override {}
    void progress(double, const std::string&) override {}
    void yield() override {}
    bool stopRequested() const override { return false; }
    void clearStop() override {}
};

}  // namespace hx::shell
