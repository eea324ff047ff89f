#include "shell/WorkingFolders.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "shell/Strings.h"
#include "shell/Text.h"

namespace hx::shell {

namespace fs = std::filesystem;

namespace {


std::string slashed(const fs::path& p) {
    std::string s = p.lexically_normal().string();
    if (s.empty()) return s;
    if (s.back() != '/') s += '/';
    return s;
}

std::string reduceDoubleSlashes(std::string s) {
    for (std::size_t p; (p = s.find("//")) != std::string::npos;) s.erase(p, 1);
    return s;
}

std::string expandHome(const std::string& path, const fs::path& home) {
    if (path == "~") return home.string();
    if (path.rfind("~/", 0) == 0) {
        std::string rest = path.substr(2);
        rest.erase(0, rest.find_first_not_of('/'));
        return (home / rest).string();
    }
    return path;
}

bool samePath(const std::string& a, const std::string& b) {
    return !a.empty() && !b.empty() && slashed(a) == slashed(b);
}

// The folder an unplugged medium takes with it, or empty.
fs::path mediaMount(const fs::path& path) {
    std::vector<std::string> parts;
    for (const auto& part : path.lexically_normal()) {
        const std::string s = part.string();
        if (!s.empty() && s != "/") parts.push_back(s);
    }
    fs::path mount = "/";
    std::size_t depth = 0;
    const char* user = std::getenv("USER");
    if (parts.size() >= 2 && parts[0] == "media")
        depth = parts.size() >= 3 && user && parts[1] == user ? 3 : 2;  // /media/USER/NAME or /media/NAME
    else if (parts.size() >= 4 && parts[0] == "run" && parts[1] == "media")
        depth = 4;
    else if (parts.size() >= 2 && parts[0] == "mnt")
        depth = 2;
    if (depth == 0) return {};
    for (std::size_t i = 0; i < depth; ++i) mount /= parts[i];
    return mount;
}

// The folder that holds the last component containing "QXCache", or empty.
fs::path cacheLocation(const fs::path& path) {
    fs::path location, walked;
    for (const auto& part : path.lexically_normal()) {
        if (part.string().find("QXCache") != std::string::npos) location = walked;
        walked /= part;
    }
    return location;
}

void makeWritable(const fs::path& p, bool folder) {
    std::error_code ec;
    fs::permissions(p, folder ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::add | fs::perm_options::nofollow, ec);
}

// Deletes the contents of a real folder, depth first, never following links.
void removeContents(const fs::path& folder, int depth) {
    std::error_code ec;
    makeWritable(folder, true);
    if (depth > 512) return;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    for (const auto& e : entries) {
        const auto st = fs::symlink_status(e.path(), ec);
        if (fs::is_directory(st)) {
            removeContents(e.path(), depth + 1);
            fs::remove(e.path(), ec);
        } else {
            if (!fs::is_symlink(st)) makeWritable(e.path(), false);
            fs::remove(e.path(), ec);
        }
    }
}

int deleteFilesIn(const fs::path& folder) {
    int count = 0;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(fs::symlink_status(folder, ec))) return 0;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto st = fs::symlink_status(it->path(), ec);
        if (!fs::is_directory(st)) files.push_back(it->path());
    }
    for (const auto& f : files) {
        if (!fs::is_symlink(fs::symlink_status(f, ec))) makeWritable(f, false);
        if (fs::remove(f, ec)) ++count;
    }
    return count;
}

void deleteThumbsDb(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (ToLower(it->path().filename().string()) == "thumbs.db") fs::remove(it->path(), ec);
}

bool makeFolder(const fs::path& p) {
    std::error_code ec;
    if (p.empty()) return false;
    fs::create_directories(p, ec);
    return fs::is_directory(p, ec);
}

}  // namespace

bool DriveReady(const fs::path& path) {
    if (path.empty() || !path.is_absolute()) return false;
    std::error_code ec;
    fs::path location = cacheLocation(path);
    if (location.empty()) location = mediaMount(path);
    if (location.empty()) return true;  // the root file system
    return fs::is_directory(location, ec);
}

fs::path DriveRoot(const fs::path& path, const fs::path& home) {
    if (fs::path m = mediaMount(path); !m.empty()) return slashed(m);
    const std::string p = slashed(path), h = slashed(home);
    if (!h.empty() && p.rfind(h, 0) == 0) return h;
    if (fs::path l = cacheLocation(path); !l.empty()) return slashed(l);
    return slashed(path);
}

bool HoldsFiles(const fs::path& folder) {
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) return false;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) return true;
    return false;
}

fs::path MakeLongPath(const std::string& path, const fs::path& home) {
    std::error_code ec;
    fs::path p = fs::absolute(expandHome(path, home), ec);
    if (ec) return {};
    p = p.lexically_normal();
    // Level by level, so a level that exists as a file stops us.
    fs::path built;
    for (const auto& part : p) {
        built /= part;
        if (part.empty() || part == "/") continue;
        if (!fs::is_directory(built, ec)) {
            fs::create_directory(built, ec);
            if (!fs::is_directory(built, ec)) return {};
        }
    }
    return slashed(p);
}

void MakeDirNames(WorkingState& state) {
    std::string p = expandHome(state.tCache, state.homeFolder);
    if (!p.empty() && (!fs::path(p).is_absolute() || !DriveReady(p))) p.clear();
    if (p.empty()) p = slashed(state.tempPath) + "QXCache/";
    p = reduceDoubleSlashes(p);
    if (p.back() != '/') p += '/';
    if (p.find("QXCache") == std::string::npos) p += "QXCache/";
    p = reduceDoubleSlashes(p);
    fs::path made = MakeLongPath(p, state.homeFolder);
    state.tCache = made.empty() ? slashed(p) : made.string();

    const std::string cache = state.tCache;
    state.cache = cache;
    state.thumbs = cache + "Thumbs/";
    state.browseThumbs = state.thumbs.string() + "Browse/";
    state.temp = cache + "Temp/";
    state.conv = cache + "Conv/";
    state.picture = slashed(state.programFolder) + "QXRecdt/";

    const std::string save = state.save.empty() ? std::string() : slashed(state.save);
    if (save.size() < 4 || save.rfind(cache, 0) == 0)
        state.save = DriveRoot(cache, state.homeFolder).string() + "Recovered/";
    else
        state.save = save;
    for (fs::path* f : {&state.browse, &state.saveAs, &state.image})
        *f = f->empty() ? state.save : fs::path(slashed(*f));
    state.activeThumbs = samePath(state.browse.string(), cache) ? state.thumbs : state.browseThumbs;

    for (const fs::path& f : {state.cache, state.thumbs, state.conv}) deleteThumbsDb(f);
}

void DropUnavailableCache(WorkingState& state, Ui& ui) {
    const std::string p = expandHome(state.tCache, state.homeFolder);
    if (p.empty() || !fs::path(p).is_absolute() || DriveReady(p)) return;
    ui.message(FormatStr(LoadStr(1446, "Last used cache %0 not available."), {state.tCache}) + "\n" +
                   LoadStr(752, "A new cache will be made."),
               LoadStr(753, "Harvestrix Cache"), {Buttons::OK, Icon::Information});
    state.tCache.clear();
}

void GetActiveTempCache(WorkingState& state, Ui& ui, bool ask) {
    std::string* slots[3] = {&state.tCache, &state.oCache, &state.o2Cache};
    auto usable = [&](const std::string& p) {
        return HoldsFiles(expandHome(p, state.homeFolder)) && p.find("QXCache") != std::string::npos;
    };
    // An empty current cache gives way to a remembered one with files.
    if (!HoldsFiles(state.tCache)) {
        for (int i = 1; i < 3; ++i)
            if (usable(*slots[i])) {
                std::swap(state.tCache, *slots[i]);
                return;
            }
    }
    if (!ask) return;
    std::vector<int> others;
    for (int i = 1; i < 3; ++i)
        if (usable(*slots[i]) && !samePath(*slots[i], state.tCache)) others.push_back(i);
    for (std::size_t k = 0; k < others.size(); ++k) {
        std::string list;
        for (std::size_t j = k; j < others.size(); ++j)
            list += (j > k ? " " + LoadStr(1712, "and") + " " : std::string()) + *slots[others[j]];
        const std::string text = LoadStr(1453, "Also present is the previously used cache:") + "\n" +
                                 LoadStr(1805, "Cache=  ") + list + "\n\n" +
                                 LoadStr(849, "Do you want to use the current cache?");
        if (ui.message(text, LoadStr(753, "Harvestrix Cache"), {Buttons::YesNo, Icon::Question}) == Answer::Yes)
            break;
        std::swap(state.tCache, *slots[others[k]]);
    }
}

bool EnsureCacheFolders(WorkingState& state, Ui& ui) {
    DropUnavailableCache(state, ui);
    std::error_code ec;
    MakeDirNames(state);
    const std::string fallbacks[] = {slashed(state.programFolder) + "QXCache/",
                                     slashed(fs::temp_directory_path(ec)) + "QXCache/"};
    for (const auto& fallback : fallbacks) {
        if (makeFolder(state.cache)) break;
        MakeLongPath(fallback, state.homeFolder);
        state.tCache = fallback;
        MakeDirNames(state);
    }
    if (!makeFolder(state.cache)) return false;
    for (const fs::path& f : {state.thumbs, state.conv, state.browseThumbs, state.temp}) makeFolder(f);
    if (!makeFolder(state.save)) {
        state.save = DriveRoot(state.cache, state.homeFolder).string() + "Recovered/";
        makeFolder(state.save);
    }
    makeFolder(state.image);
    for (const fs::path& f : {state.cache, state.conv, state.thumbs}) makeWritable(f, true);
    return true;
}

bool SettleCache(WorkingState& state, Ui& ui, bool explicitCache) {
    // Said before MakeDirNames quietly replaces a cache whose drive is gone.
    DropUnavailableCache(state, ui);
    MakeDirNames(state);
    if (!explicitCache) GetActiveTempCache(state, ui);
    return EnsureCacheFolders(state, ui);
}

void ApplyCacheSwitch(WorkingState& state, const std::string& folder) {
    std::string f = folder;
    f.erase(0, f.find_first_not_of(" \t\""));
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t' || f.back() == '"')) f.pop_back();
    if (f.empty()) return;
    std::error_code ec;
    std::string target = slashed(fs::absolute(expandHome(f, state.homeFolder), ec));
    if (target.find("QXCache") == std::string::npos) target += "QXCache/";
    if (samePath(target, state.tCache)) return;
    MakeLongPath(target, state.homeFolder);  // the folder given is made, as the user asked for it
    if (HoldsFiles(expandHome(state.tCache, state.homeFolder))) {
        state.o2Cache = state.oCache;
        state.oCache = state.tCache;
    }
    state.tCache = target;
}

int EmptyCache(WorkingState& state) {
    if (state.cache.string().find("QXCache") == std::string::npos) return 0;
    int count = 0;
    for (const fs::path& f : {state.thumbs, state.browseThumbs, state.temp, state.conv, state.cache})
        count += deleteFilesIn(f);
    if (state.store) SaveSetting(*state.store, kCacheBytes, "8191");
    return count;
}

bool DeleteTree(const fs::path& folder) {
    const std::string given = folder.string();
    if (given.empty() || given.find('/') == std::string::npos) return false;
    std::error_code ec;
    // The folder itself must be a real folder, not a link to one.
    if (!fs::is_directory(fs::symlink_status(folder.has_filename() ? folder : folder.parent_path(), ec))) return false;
    fs::path real = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) return false;
    const std::string r = real.string();
    if (!ContainsNoCase(r, "QXCache") && !ContainsNoCase(r, "Harvestrix") && !ContainsNoCase(r, "Morvenick"))
        return false;
    if (real == real.root_path()) return false;
    if (const char* home = std::getenv("HOME"); home && *home &&
        fs::weakly_canonical(fs::path(home), ec) == real)
        return false;
    removeContents(real, 0);
    fs::remove(real, ec);
    return !fs::exists(fs::symlink_status(real, ec));
}

void DelProgramTrees(const fs::path& programFolder) {
    std::error_code ec;
    if (!fs::is_directory(programFolder, ec)) return;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(programFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = ToLower(it->path().filename().string());
        if (!it->is_directory(ec) && (name.rfind("temp", 0) == 0 || name == "version.txt")) files.push_back(it->path());
    }
    for (const auto& f : files) fs::remove(f, ec);
    // Names are matched without case: the Windows program wrote QXRecdt and QXRecDT alike.
    auto findNoCase = [&](const fs::path& parent, const std::string& name) -> fs::path {
        std::error_code e;
        for (fs::directory_iterator it(parent, e), end; !e && it != end; it.increment(e))
            if (ToLower(it->path().filename().string()) == ToLower(name)) return it->path();
        return {};
    };
    for (const char* name : {"bin", "QXRecDT"})
        if (fs::path p = findNoCase(programFolder, name); !p.empty()) DeleteTree(p);
    if (fs::path manual = findNoCase(programFolder, "Manual"); !manual.empty()) {
        for (const char* name : {"English", "Deutsch", "Nederlands"})
            if (fs::path p = findNoCase(manual, name); !p.empty()) DeleteTree(p);
        DeleteTree(manual);
    }
}

}  // namespace hx::shell
