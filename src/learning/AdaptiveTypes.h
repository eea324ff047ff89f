#pragma once
// The learned types in the learned-type folder as the type list shows them
// and as scan-table rows: a learned variant is matched like any built-in row
// and is tried before them.
#include <filesystem>
#include <string>
#include <vector>

#include "formats/SignatureTable.h"
#include "shell/Ui.h"

namespace hx::learning {

struct LearnedVariant {
    std::string type;         // "abc"
    int slot = 0;
    std::string displayName;  // 10 characters
    double reliability = 0;   // hits × 100 / samples
    std::size_t head = 0, body = 0, tail = 0, tailBody = 0;  // pattern lengths
    int samples = 0;
};

// Every variant worth offering: a head of at least 4 bytes and at least 5 hits.
std::vector<LearnedVariant> ListLearnedVariants(const std::filesystem::path& folder);

// The rows of the checked variants ("abc", slot), the more specific before
// the ones they extend.
formats::SignatureTable LearnedRows(const std::filesystem::path& folder, const std::vector<LearnedVariant>& checked);

// The scan table of a selection: the checked learned rows first, then the
// built-in rows of `builtInSelection`, each part in scan order.
formats::SignatureTable TableWithLearned(const std::filesystem::path& folder, const std::vector<LearnedVariant>& checked,
                                const std::string& builtInSelection);

// Moves the learned files of `types` to the trash after asking "Remove from
// the scan list to the Trash / the Adaptive type(s): ...?". Returns how many went.
int RemoveAdaptiveTypes(shell::Ui& ui, const std::filesystem::path& folder, const std::vector<std::string>& types);

}  // namespace hx::learning
