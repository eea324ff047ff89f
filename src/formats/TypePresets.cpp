#include "formats/TypePresets.h"

#include <algorithm>
#include <set>

#include "shell/Text.h"
#include "formats/Formats.h"

namespace hx::formats {

namespace {

using formats::Family;
using formats::Format;

class Types {
public:
    void add(const Format* f) {
        if (!f) return;
        for (std::string_view e : f->extensions) {
            const std::string name = shell::ToUpper(std::string(e.substr(1)));
            if (seen_.insert(name).second) names_.push_back(name);
        }
    }
    template <class Pick>
    void addWhere(Pick pick) {
        for (const Format& f : formats::Formats())
            if (pick(f)) add(&f);
    }
    std::vector<std::string> take() { return std::move(names_); }

private:
    std::set<std::string> seen_;
    std::vector<std::string> names_;
};

bool madeBy(const Format& f, const std::string& maker) {
    return std::any_of(f.makers.begin(), f.makers.end(),
                       [&](std::string_view m) { return shell::ToUpper(std::string(m)) == shell::ToUpper(maker); });
}

// What every camera writes beside its raws: JPEGs (and their THM
// thumbnails), TIFFs, and movies.
void addCameraFormats(Types& t) {
    t.addWhere([](const Format& f) { return f.has(kBesideRaws); });
}

}  // namespace

const std::vector<std::string>& CameraMakers() {
    // The makers the format rows name, in the order of the alphabet.
    static const std::vector<std::string> makers = [] {
        std::set<std::string> named;
        for (const Format& f : formats::Formats())
            for (std::string_view m : f.makers) named.emplace(m);
        return std::vector<std::string>(named.begin(), named.end());
    }();
    return makers;
}

std::vector<std::string> PresetTypes(const std::string& preset) {
    const std::string name = shell::ToUpper(preset);
    Types t;
    const auto family = [&](Family f) { t.addWhere([f](const Format& x) { return x.family == f; }); };
    if (name == "ALL PICTURE TYPES") {
        family(Family::Photo);
        family(Family::Raw);
    } else if (name == "ALL RAW TYPES") {
        t.addWhere([](const Format& f) { return f.family == Family::Raw || f.has(kConverted); });
    } else if (name == "ALL MOVIE TYPES") {
        family(Family::Movie);
    } else if (name == "ALL SOUND TYPES") {
        family(Family::Sound);
    } else if (name == "ALL DATA TYPES") {
        family(Family::Document);
        family(Family::Other);
    } else if (name == "ALL CAMERA'S") {
        t.addWhere([](const Format& f) { return !f.makers.empty(); });
        addCameraFormats(t);
    } else if (name == "UNLISTED CAMERA") {
        addCameraFormats(t);
    } else if (name == "PHONE") {
        t.addWhere([](const Format& f) { return f.has(kFromPhones); });
    } else {
        const auto& makers = CameraMakers();
        const auto maker = std::find_if(makers.begin(), makers.end(),
                                        [&](const std::string& m) { return shell::ToUpper(m) == name; });
        if (maker == makers.end()) return {};
        t.addWhere([&](const Format& f) { return madeBy(f, *maker); });
        addCameraFormats(t);
    }
    return t.take();
}

}  // namespace hx::formats
