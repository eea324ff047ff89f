#include "learning/AdaptiveLearning.h"

#include <algorithm>
#include <sstream>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "platform/RawFile.h"
#include "shell/Strings.h"
#include "shell/Text.h"
#include "utilities/FileSearch.h"

namespace hx::learning {

namespace fs = std::filesystem;

std::string CommonPrefix(const std::string& sample, const std::string& stored) {
    if (sample.compare(0, stored.size(), stored) == 0) return stored;
    std::size_t n = 0;
    while (n < sample.size() && n < stored.size() && sample[n] == stored[n]) ++n;
    return stored.substr(0, n);
}

std::string LongestCommonSubstring(const std::string& a, const std::string& b, int& start) {
    if (a.empty() || b.empty()) return {};
    // Run lengths ending at (row over b, column over a), one row kept at a time.
    std::vector<std::uint16_t> previous(a.size() + 1, 0), current(a.size() + 1, 0);
    std::size_t best = 0, bestEnd = 0;
    for (std::size_t i = 1; i <= b.size(); ++i) {
        for (std::size_t j = 1; j <= a.size(); ++j) {
            current[j] = a[j - 1] == b[i - 1] ? static_cast<std::uint16_t>(previous[j - 1] + 1) : 0;
            // Ties: the run that ends first in `a` (found first scanning a).
            if (current[j] > best || (current[j] == best && best > 0 && j < bestEnd)) {
                best = current[j];
                bestEnd = j;
            }
        }
        std::swap(previous, current);
    }
    if (best == 0) return {};
    start = static_cast<int>(bestEnd - best + 1);
    return a.substr(bestEnd - best, best);
}

std::string AlignedCommonRun(const std::string& a, const std::string& b, int& start) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t best = 0, bestStart = 0, run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        run = a[i] == b[i] ? run + 1 : 0;
        if (run > best) {
            best = run;
            bestStart = i + 1 - run;
        }
    }
    if (best == 0) {
        ++start;
        return {};
    }
    start = static_cast<int>(bestStart + 1);
    return a.substr(bestStart, best);
}

std::pair<int, int> FindSizeField(const std::string& block, std::uint64_t length) {
    std::pair<int, int> found{0, 0};
    auto word = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(block[at]) |
                                          (static_cast<std::uint8_t>(block[at + 1]) << 8));
    };
    for (std::size_t o = 0; o + 3 < block.size() && o < 1022 && found.first == 0; o += 2) {
        const std::int64_t lo = word(o);
        const std::int64_t hi = static_cast<std::int16_t>(word(o + 2));  // the high word is signed
        const auto L = static_cast<std::int64_t>(length), Lo = L - static_cast<std::int64_t>(o);
        if (hi * 65536 + lo == L || hi * 65536 + lo == Lo) {
            found = {static_cast<int>(o), 2};
            continue;
        }
        const std::int64_t swapped = static_cast<std::int16_t>(word(o)) * 65536 + word(o + 2);
        if (swapped == L || swapped == Lo) found = {static_cast<int>(o), 1};
    }
    return found;
}

namespace {

bool uniform(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [&](char c) { return c == s[0]; });
}

// Learning of one run: the record of the type at hand stays in memory while
// its samples come, and is written when another type comes or at the end.
class Learner {
public:
    Learner(const fs::path& folder, const LearnOptions& o) : folder_(folder), options_(o) {}

    void sample(const fs::path& path, std::size_t index, std::size_t logStep);
    void finish() { save(); }
    // ".abc#0 Analized: 57 reliability: 98.25%" for the slot last counted; empty before.
    std::string statusLine() const {
        const auto k = static_cast<std::size_t>(std::clamp<int>(record_.CurrentSlot, 0, kAdaptiveSlots - 1));
        if (record_.Extension.empty() || record_.Samples[k] == 0) return {};
        char reliability[32];
        std::snprintf(reliability, sizeof reliability, "%05.2f",
                      record_.Hits[k] * 100.0 / record_.Samples[k]);
        return record_.Extension + "#" + std::to_string(k) + " " + shell::LoadStr(317, "Analized:") + " " +
               std::to_string(record_.Samples[k]) + " " + shell::LoadStr(318, "reliability:") + " " + reliability +
               "%";
    }
    LearnResult result;

private:
    void save() {
        if (!record_.Extension.empty() || !type_.empty()) SaveAdaptiveRecord(folder_, LearnedFileName(type_), record_);
    }
    int chooseSlot(const std::string& head);
    void initialise(int k, const std::string& ext, const std::string& head, const std::string& block,
                    const std::string& tail);
    void refineBody(int k, const std::string& block);

    fs::path folder_;
    LearnOptions options_;
    std::string type_;  // "abc": whose record is in memory
    AdaptiveTypeRecord record_;
};

int Learner::chooseSlot(const std::string& head) {
    auto& r = record_;
    if (r.CurrentSlot < 0 || r.CurrentSlot >= kAdaptiveSlots) r.CurrentSlot = 0;
    if (r.HeadPattern[static_cast<std::size_t>(r.CurrentSlot)].size() < 4) r.HeadPattern[static_cast<std::size_t>(r.CurrentSlot)].clear();
    std::size_t best = 0;
    int chosen = 0;
    std::int64_t minHits = 1000000;
    for (int k = 0; k < kAdaptiveSlots; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (r.HeadPattern[i].empty()) {
            return k;  // a free slot is taken at once
        }
        if (r.Hits[i] <= minHits) {
            minHits = r.Hits[i];
            r.CurrentSlot = static_cast<std::int16_t>(k);
        }
        const std::size_t shared = CommonPrefix(head, r.HeadPattern[i]).size();
        if (shared >= best) {
            best = shared;
            chosen = k;
        }
    }
    if (best == 0) {
        // All six in use and none shares a byte: the least-used one starts again.
        r.Extension.clear();
        return r.CurrentSlot;
    }
    return chosen;
}

void Learner::initialise(int k, const std::string& ext, const std::string& head, const std::string& block,
                         const std::string& tail) {
    auto& r = record_;
    const auto i = static_cast<std::size_t>(k);
    r.Extension = ext;
    r.DisplayName = AdaptiveDisplayName(ext);
    r.HeadPattern[i] = head;
    r.BodyPattern[i] = block;
    r.TailPattern[i] = tail;
    r.TailBody[i] = tail;
    r.Hits[i] = -1;
    r.SizeOffset[i] = 0;
    r.SizeKind[i] = 0;
    r.Samples[i] = 0;
    r.TailStart[i] = 1;
}

void Learner::refineBody(int k, const std::string& block) {
    auto& r = record_;
    const auto i = static_cast<std::size_t>(k);
    if (block.find(r.BodyPattern[i]) != std::string::npos) return;
    int start = 0;
    const std::size_t from = std::min(r.HeadPattern[i].size(), block.size());
    r.BodyPattern[i] = LongestCommonSubstring(block.substr(from), r.BodyPattern[i], start);
}

void Learner::sample(const fs::path& path, std::size_t index, std::size_t logStep) {
    const std::string name = path.filename().string();
    const std::string full = path.string();
    if (name.empty() || full.find("R#") != std::string::npos || shell::ContainsNoCase(full, ".dat") ||
        shell::ContainsNoCase(full, "temp"))
        return;
    const std::size_t firstDot = name.find('.');
    if (firstDot == std::string::npos || firstDot < 2) return;
    const std::string ext = shell::ToLower(name.substr(name.rfind('.')));
    if (ext.size() < 2 || ext.find_first_of("_./\\", 1) != std::string::npos) return;

    platform::RawFile f;
    if (!f.open(path, platform::RawFile::Mode::Read)) return;
    const std::uint64_t length = f.size();
    if (length < 1024) return;
    std::string block(1024, '\0'), last(16, '\0');
    if (f.readAt(0, block.data(), block.size()) != block.size() ||
        f.readAt(length - 16, last.data(), last.size()) != last.size())
        return;
    const std::string head = block.substr(0, 16);
    if (uniform(head)) return;
    const std::string tail(last.rbegin(), last.rend());

    const std::string type = ext.substr(1);
    if (std::find(result.types.begin(), result.types.end(), type) == result.types.end()) result.types.push_back(type);
    if (type != type_) {
        if (!type_.empty()) save();
        type_ = type;
        record_ = LoadAdaptiveRecord(folder_, LearnedFileName(type));
    }
    auto& r = record_;
    int k = chooseSlot(head);
    auto i = static_cast<std::size_t>(k);
    if (r.Extension != ext || r.HeadPattern[i].empty()) initialise(k, ext, head, block, tail);
    const AdaptiveTypeRecord backup = r;
    if (r.SizeOffset[i] == 0 && r.Hits[i] < 10) {
        const auto [offset, kind] = FindSizeField(block, length);
        r.SizeOffset[i] = static_cast<std::int16_t>(offset);
        r.SizeKind[i] = static_cast<std::int16_t>(kind);
    }
    const std::string before = r.HeadPattern[i];
    r.HeadPattern[i] = CommonPrefix(head, r.HeadPattern[i]);
    if (r.HeadPattern[i].size() < 4) {
        r = backup;
        return;
    }
    if (r.HeadPattern[i] == before) {
        refineBody(k, block);
    } else {
        // The head got shorter: a slot with that very head whose body this sample has takes it.
        for (int j = 0; j < kAdaptiveSlots; ++j) {
            const auto jj = static_cast<std::size_t>(j);
            if (j == k) continue;
            if (r.HeadPattern[jj] == r.HeadPattern[i] && block.find(r.BodyPattern[jj]) != std::string::npos) {
                r.HeadPattern[i] = before;  // the chosen slot stays as it was
                k = j;
                i = jj;
                refineBody(k, block);
                break;
            }
            if (!r.HeadPattern[jj].empty()) r.Hits[i] -= 10;
        }
    }
    r.TailPattern[i] = CommonPrefix(tail, r.TailPattern[i]);
    if (tail.find(r.TailBody[i]) == std::string::npos) {
        int start = std::max(1, r.TailStart[i]);
        const std::string piece = tail.substr(std::min<std::size_t>(static_cast<std::size_t>(start - 1), tail.size()),
                                              r.TailBody[i].size());
        r.TailBody[i] = AlignedCommonRun(piece, r.TailBody[i], start);
        r.TailStart[i] = start;
    }
    if (r.HeadPattern[i].size() >= 4) {
        r.Hits[i] = std::max(0, r.Hits[i] + 1);
        ++r.Samples[i];
        r.CurrentSlot = static_cast<std::int16_t>(k);
        ++result.samples;
        if (logStep > 0 && index % logStep == 0) LogSample(folder_, type, head, block);
    }
}

}  // namespace

void CleanLearnedType(const fs::path& folder, const std::string& type, bool automatic) {
    AdaptiveTypeRecord r = LoadAdaptiveRecord(folder, LearnedFileName(type));
    if (r.Extension.empty()) return;
    for (std::size_t k = 0; k < kAdaptiveSlots; ++k) {
        const bool valid = r.HeadPattern[k].size() >= 4 && r.Hits[k] / (r.Samples[k] + 0.0001) >= 0.5 &&
                           (r.Hits[k] >= 5 || automatic);
        if (!valid) r.HeadPattern[k].clear();
    }
    for (std::size_t k = 0; k < kAdaptiveSlots; ++k) {
        if (r.HeadPattern[k].size() < 4) continue;
        for (std::size_t j = 0; j < kAdaptiveSlots; ++j) {
            if (j == k || r.HeadPattern[j].size() < 4 || r.Hits[k] <= 10) continue;
            if (r.Samples[j] > 0 && static_cast<double>(r.Hits[j]) / r.Samples[j] <= 0.75) {
                r.HeadPattern[j].clear();
                continue;
            }
            const bool extends = r.HeadPattern[k].compare(0, r.HeadPattern[j].size(), r.HeadPattern[j]) == 0;
            const bool comparable = r.HeadPattern[k] == r.HeadPattern[j] ||
                                    (r.HeadPattern[k].size() > 5 && r.HeadPattern[j].size() > 5);
            int start = 0;
            if (r.Hits[j] > 10 && extends && comparable &&
                !LongestCommonSubstring(r.BodyPattern[k], r.BodyPattern[j], start).empty()) {
                r.HeadPattern[k] = CommonPrefix(r.HeadPattern[k], r.HeadPattern[j]);
                r.BodyPattern[k] = LongestCommonSubstring(r.BodyPattern[k], r.BodyPattern[j], start);
                r.TailPattern[k] = CommonPrefix(r.TailPattern[k], r.TailPattern[j]);
                r.TailBody[k] = AlignedCommonRun(r.TailBody[k], r.TailBody[j], start);
                r.Hits[k] += r.Hits[j];
                r.Samples[k] += r.Samples[j];
                r.HeadPattern[j].clear();
                r.Hits[j] = 0;
            }
        }
    }
    SaveAdaptiveRecord(folder, LearnedFileName(type), r);
}

LearnResult LearnFromFiles(const fs::path& folder, const std::vector<fs::path>& files, const LearnOptions& options) {
    Learner learner(folder, options);
    const std::size_t n = files.size();
    if (n == 0) return {};
    // One sample in every step + 1 files: about 200 during a scan, at most about 30,000 otherwise.
    std::size_t step = 0;
    if (options.automatic) step = static_cast<std::size_t>(std::lround(static_cast<double>(n) / 200.0));
    else
        while (n / (step + 1) > 30000) ++step;
    std::mt19937 pick(options.shuffle);
    const std::size_t first = step > 0 ? pick() % step : 0;
    const std::size_t logStep = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(n / 99.0)));
    const auto started = std::chrono::steady_clock::now();
    for (std::size_t i = first; i < n; i += step + 1) {
        learner.sample(files[i], i, logStep);
        if (options.automatic && std::chrono::steady_clock::now() - started > std::chrono::seconds(30)) break;
        if (options.progress && !options.progress(i + 1, n, learner.statusLine())) break;
    }
    learner.finish();
    for (const auto& type : learner.result.types) CleanLearnedType(folder, type, options.automatic);
    return learner.result;
}

std::vector<fs::path> GatherFolder(const fs::path& folder, std::chrono::steady_clock::time_point until) {
    std::vector<fs::path> files;
    std::error_code ec;
    const bool timed = until != std::chrono::steady_clock::time_point{};
    std::size_t seen = 0;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator() && files.size() < 2000000; it.increment(ec)) {
        if (it->is_regular_file(ec)) files.push_back(it->path());
        if (timed && ++seen % 256 == 0 && std::chrono::steady_clock::now() > until) break;
    }
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

// A sample found is kept when its type is asked for, and it lies in none of
// the program's caches or a temporary folder.
bool wantedSample(const fs::path& p, const std::vector<std::string>& types, bool any) {
    const std::string s = p.string();
    if (s.find("QXCache") != std::string::npos || shell::ContainsNoCase(s, "temp")) return false;
    const std::string ext = shell::ToLower(p.extension().string());
    if (ext.size() < 2) return false;
    return any || std::find(types.begin(), types.end(), ext.substr(1)) != types.end();
}

}  // namespace

std::vector<fs::path> GatherTypes(const std::vector<fs::path>& roots, const std::vector<std::string>& types,
                                  std::chrono::steady_clock::time_point until) {
    const bool any = std::find(types.begin(), types.end(), "*") != types.end();
    std::vector<fs::path> files;
    for (const auto& root : roots)
        for (const auto& p : GatherFolder(root, until))
            if (wantedSample(p, types, any)) files.push_back(p);
    return files;
}

std::vector<fs::path> SearchTypes(const std::vector<std::string>& types, const std::string& disks, shell::Ui& ui) {
    const bool any = std::find(types.begin(), types.end(), "*") != types.end();
    std::vector<fs::path> files;
    std::set<std::string> seen;
    for (const std::string& type : types) {
        if (any && type != "*") continue;
        const utilities::SearchResult found = utilities::Zoekfiles(type == "*" ? "*" : "*." + type, disks, ui);
        for (const std::string& line : found.lines)
            if (wantedSample(line, types, any) && seen.insert(line).second) files.emplace_back(line);
        if (found.stopped) break;
    }
    return files;
}

LearnAnswer ReadLearnAnswer(std::string text) {
    LearnAnswer answer;
    for (char& c : text)
        if (c == ',' || c == '.') c = ' ';
    std::istringstream words(text);
    for (std::string w; words >> w;) {
        if (w.find('/') != std::string::npos) answer.disks += w + " ";
        else answer.types.push_back(shell::ToLower(w));
    }
    return answer;
}

}  // namespace hx::learning
