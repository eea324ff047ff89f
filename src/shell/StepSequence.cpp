#include "shell/StepSequence.h"

#include <algorithm>
#include <exception>

namespace hx::shell {

StepSequence& StepSequence::add(std::string name, Step step) {
    steps_.push_back({std::move(name), std::move(step)});
    return *this;
}

std::vector<StepSequence::Entry>::iterator StepSequence::find(const std::string& name) {
    return std::find_if(steps_.begin(), steps_.end(), [&](const Entry& e) { return e.name == name; });
}

bool StepSequence::insertBefore(const std::string& existing, std::string name, Step step) {
    auto it = find(existing);
    if (it == steps_.end()) return false;
    steps_.insert(it, {std::move(name), std::move(step)});
    return true;
}

bool StepSequence::insertAfter(const std::string& existing, std::string name, Step step) {
    auto it = find(existing);
    if (it == steps_.end()) return false;
    steps_.insert(it + 1, {std::move(name), std::move(step)});
    return true;
}

bool StepSequence::replace(const std::string& name, Step step) {
    auto it = find(name);
    if (it == steps_.end()) return false;
    it->step = std::move(step);
    return true;
}

bool StepSequence::remove(const std::string& name) {
    auto it = find(name);
    if (it == steps_.end()) return false;
    steps_.erase(it);
    return true;
}

std::vector<std::string> StepSequence::names() const {
    std::vector<std::string> n;
    for (const auto& e : steps_) n.push_back(e.name);
    return n;
}

bool StepSequence::run() {
    outcomes_.clear();
    for (const auto& e : steps_) {
        Outcome o{e.name, StepResult::Failed, {}};
        try {
            o.result = e.step ? e.step() : StepResult::Failed;
        } catch (const std::exception& ex) {
            o.error = ex.what();
        } catch (...) {
            o.error = "unknown error";
        }
        outcomes_.push_back(o);
        if (o.result == StepResult::Quit) return false;
    }
    return true;
}

}  // namespace hx::shell
