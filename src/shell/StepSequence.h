#pragma once
// Start-up and exit as a list of named steps. A step that fails (returns
// Failed or throws) is skipped and the rest still run; a step that returns
// Quit ends the run (the user chose to close the program). The window and
// the command line take the engine's steps and insert their own by name.
#include <functional>
#include <string>
#include <vector>

namespace hx::shell {

enum class StepResult { Done, Failed, Quit };

inline StepResult Ok(bool done) { return done ? StepResult::Done : StepResult::Failed; }

class StepSequence {
public:
    using Step = std::function<StepResult()>;
    struct Outcome {
        std::string name;
        StepResult result;
        std::string error;  // what a throwing step said
    };

    StepSequence& add(std::string name, Step step);
    // False when `existing` is not in the list.
    bool insertBefore(const std::string& existing, std::string name, Step step);
    bool insertAfter(const std::string& existing, std::string name, Step step);
    bool replace(const std::string& name, Step step);
    bool remove(const std::string& name);
    std::vector<std::string> names() const;

    // Runs the steps in order. False when a step asked to quit.
    bool run();
    const std::vector<Outcome>& outcomes() const { return outcomes_; }

private:
    struct Entry {
        std::string name;
        Step step;
    };
    std::vector<Entry>::iterator find(const std::string& name);
    std::vector<Entry> steps_;
    std::vector<Outcome> outcomes_;
};

}  // namespace hx::shell
