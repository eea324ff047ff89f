#pragma once
// A Ui that hands everything to another one: a command part that wants its
// own progress, status or stop (a phase of a longer command, a window of its
// own) overrides only those.
#include "shell/Ui.h"

namespace hx::shell {

class ForwardingUi : public Ui {
public:
    explicit ForwardingUi(Ui& base) : base_(base) {}

    Answer message(const std::string& t, const std::string& title, const MessageOptions& o) override {
        return base_.message(t, title, o);
    }
    std::optional<std::string> input(const std::string& p, const std::string& t, const std::string& d) override {
        return base_.input(p, t, d);
    }
    std::optional<std::string> chooseFolder(const std::string& t, const std::string& s) override {
        return base_.chooseFolder(t, s);
    }
    std::optional<std::string> openFile(const std::string& t, const std::string& f, const std::string& s) override {
        return base_.openFile(t, f, s);
    }
    std::optional<std::string> saveFile(const std::string& t, const std::string& f, const std::string& s) override {
        return base_.saveFile(t, f, s);
    }
    void setCaption(const std::string& c, const std::string& t) override { base_.setCaption(c, t); }
    std::string caption(const std::string& c) const override { return base_.caption(c); }
    void setEnabled(const std::string& c, bool on) override { base_.setEnabled(c, on); }
    void setVisible(const std::string& c, bool on) override { base_.setVisible(c, on); }
    void status(const std::string& t) override { base_.status(t); }
    void progress(double f, const std::string& t) override { base_.progress(f, t); }
    void yield() override { base_.yield(); }
    bool servesWhileReading() const override { return base_.servesWhileReading(); }
    bool stopRequested() const override { return base_.stopRequested(); }
    void clearStop() override { base_.clearStop(); }
    void fileFound(const std::string& name) override { base_.fileFound(name); }

protected:
    Ui& base_;
};

}  // namespace hx::shell
