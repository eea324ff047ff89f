#include "learning/AdaptiveTypes.h"

#include <algorithm>

#include "platform/Trash.h"
#include "learning/AdaptiveRecord.h"
#include "shell/Strings.h"
#include "shell/Text.h"

namespace hx::learning {

namespace fs = std::filesystem;

namespace {

// "QX_abc.dat" -> "abc"; empty for other files.
std::string typeOfFile(const std::string& name) {
    if (name.find("QX_") == std::string::npos || name.size() < 8) return {};
    std::string type = name.substr(name.find('_') + 1);
    if (type.size() > 4 && type.compare(type.size() - 4, 4, ".dat") == 0) type.resize(type.size() - 4);
    return shell::ToLower(type);
}

std::vector<std::string> learnedTypes(const fs::path& folder) {
    std::vector<std::string> types;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (const std::string t = typeOfFile(e.path().filename().string()); !t.empty()) types.push_back(t);
    std::sort(types.begin(), types.end());
    return types;
}

}  // namespace

std::vector<LearnedVariant> ListLearnedVariants(const fs::path& folder) {
    std::vector<LearnedVariant> out;
    for (const auto& type : learnedTypes(folder)) {
        const AdaptiveTypeRecord r = LoadAdaptiveRecord(folder, LearnedFileName(type));
        for (int k = 0; k < kAdaptiveSlots; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (r.HeadPattern[i].size() < 4 || r.Hits[i] < 5) continue;
            LearnedVariant v;
            v.type = type;
            v.slot = k;
            v.displayName = r.DisplayName;
            v.reliability = r.Samples[i] > 0 ? r.Hits[i] * 100.0 / r.Samples[i] : 0;
            v.head = r.HeadPattern[i].size();
            v.body = r.BodyPattern[i].size();
            v.tail = r.TailPattern[i].size();
            v.tailBody = r.TailBody[i].size();
            v.samples = r.Samples[i];
            out.push_back(v);
        }
    }
    return out;
}

formats::SignatureTable LearnedRows(const fs::path& folder, const std::vector<LearnedVariant>& checked) {
    formats::SignatureTable rows;
    for (const auto& type : learnedTypes(folder)) {
        const AdaptiveTypeRecord r = LoadAdaptiveRecord(folder, LearnedFileName(type));
        for (int k = 0; k < kAdaptiveSlots; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (r.HeadPattern[i].size() < 4) continue;
            const bool wanted = std::any_of(checked.begin(), checked.end(), [&](const LearnedVariant& v) {
                return v.slot == k && v.type == shell::ToLower(r.Extension.size() > 1 ? r.Extension.substr(1) : "");
            });
            if (!wanted) continue;
            formats::SignatureRow row;
            row.Extension = r.Extension;
            row.DisplayName = r.DisplayName;
            row.Description = formats::Described(r.DisplayName);
            row.Signature1 = r.HeadPattern[i];
            row.Signature2 = r.BodyPattern[i];
            row.Aux1 = r.SizeOffset[i];
            row.Aux2 = r.SizeKind[i];
            rows.push_back(std::move(row));
        }
    }
    formats::OrderForScan(rows);
    return rows;
}

formats::SignatureTable TableWithLearned(const fs::path& folder, const std::vector<LearnedVariant>& checked,
                                const std::string& builtInSelection) {
    formats::SignatureTable table = LearnedRows(folder, checked);
    formats::SignatureTable builtIn = formats::BuildSignatureTable(builtInSelection);
    formats::OrderForScan(builtIn);
    for (auto& row : builtIn)
        if (!row.Signature1.empty()) table.push_back(std::move(row));
    return table;
}

int RemoveAdaptiveTypes(shell::Ui& ui, const fs::path& folder, const std::vector<std::string>& types) {
    if (types.empty()) return 0;
    std::string listed;
    for (const auto& t : types) listed += " " + t;
    std::string question = shell::LoadStr(444, "Remove from the scan list to the Trash  ") + "\n" +
                           shell::LoadStr(445, "the Adaptive type(s):") + listed + "?";
    if (types.size() == 1)
        if (const auto at = question.find("(s)"); at != std::string::npos) question.erase(at, 3);
    if (ui.message(question, shell::LoadStr(42, "QX Adaptive"), {shell::Buttons::YesNo, shell::Icon::Question}) !=
        shell::Answer::Yes)
        return 0;
    int removed = 0;
    for (auto it = types.rbegin(); it != types.rend(); ++it) {
        const fs::path file = folder / LearnedFileName(*it);
        std::error_code ec;
        if (fs::exists(file, ec) && platform::MoveToTrash(file)) ++removed;
    }
    return removed;
}

}  // namespace hx::learning
