#include "platform/DesktopThumbnails.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/DesktopApps.h"

namespace hx::platform {

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> dataFolders() {
    std::vector<fs::path> out;
    const char* home = std::getenv("XDG_DATA_HOME");
    if (home && *home) out.emplace_back(home);
    else if (const char* h = std::getenv("HOME")) out.emplace_back(fs::path(h) / ".local" / "share");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream list(dirs && *dirs ? dirs : "/usr/local/share:/usr/share");
    for (std::string d; std::getline(list, d, ':');)
        if (!d.empty()) out.emplace_back(d);
    return out;
}

// A program named by TryExec: a path, or a name looked up on PATH.
bool installed(const std::string& program) {
    if (program.empty()) return true;
    if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::stringstream list(path ? path : "/usr/bin:/bin");
    for (std::string d; std::getline(list, d, ':');)
        if (!d.empty() && ::access((fs::path(d) / program).c_str(), X_OK) == 0) return true;
    return false;
}

struct Entry {
    std::string tryExec, exec, mimeTypes;
};

Entry readEntry(const fs::path& file) {
    Entry e;
    std::ifstream in(file);
    bool inGroup = false;
    std::string line;
    // An entry is a few lines; anything longer is not read past 200.
    for (int n = 0; n < 200 && std::getline(in, line); ++n) {
        if (!line.empty() && line[0] == '[') {
            inGroup = line.rfind("[Thumbnailer Entry]", 0) == 0;
            continue;
        }
        if (!inGroup) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "TryExec") e.tryExec = value;
        else if (key == "Exec") e.exec = value;
        else if (key == "MimeType") e.mimeTypes = value;
    }
    return e;
}

bool listsType(const std::string& types, const std::string& mimeType) {
    std::stringstream list(types);
    for (std::string t; std::getline(list, t, ';');)
        if (t == mimeType) return true;
    return false;
}

std::string fileUri(const fs::path& file) {
    static const char* hex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : fs::absolute(file).string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') uri += static_cast<char>(c);
        else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// The Exec line split into words (double quotes keep blanks), with the
// field codes filled in: %i the path, %u its URI, %o the output, %s the size.
std::vector<std::string> commandLine(const std::string& exec, const fs::path& in, const fs::path& out, int size) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else if (c == '%' && i + 1 < exec.size()) {
            const char code = exec[++i];
            if (code == 'i') word += in.string();
            else if (code == 'u') word += fileUri(in);
            else if (code == 'o') word += out.string();
            else if (code == 's') word += std::to_string(size);
            else if (code == '%') word += '%';
            any = true;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) words.push_back(word);
    return words;
}

}  // namespace

std::string DesktopMimeType(const fs::path& file) { return QueryXdgMime({"filetype", file.string()}); }

std::string ThumbnailerFor(const std::string& mimeType, std::string* entry) {
    if (mimeType.empty()) return {};
    for (const fs::path& folder : dataFolders()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder / "thumbnailers", ec), end; !ec && it != end && files.size() < 1000;
             it.increment(ec))
            if (it->path().extension() == ".thumbnailer") files.push_back(it->path());
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            const Entry e = readEntry(f);
            if (e.exec.empty() || !listsType(e.mimeTypes, mimeType) || !installed(e.tryExec)) continue;
            if (entry) *entry = f.filename().string();
            return e.exec;
        }
    }
    return {};
}

DesktopThumb MakeDesktopThumb(const fs::path& file, const fs::path& workFolder, int size, int timeoutMs,
                              const std::function<void()>& waitStep) {
    DesktopThumb thumb;
    const std::string exec = ThumbnailerFor(DesktopMimeType(file), &thumb.thumbnailer);
    if (exec.empty()) return thumb;
    thumb.outcome = DesktopThumbOutcome::Failed;
    std::error_code ec;
    fs::create_directories(workFolder, ec);
    const fs::path out = workFolder / (file.filename().string() + ".png");
    fs::remove(out, ec);
    const auto argv = commandLine(exec, file, out, size);
    if (argv.empty()) return thumb;
    const ChildResult r = RunChild(argv, "", timeoutMs, waitStep);
    if (r.finished && r.exitCode == 0 && fs::file_size(out, ec) > 0 && !ec) {
        thumb.outcome = DesktopThumbOutcome::Made;
        thumb.picture = out;
    } else {
        fs::remove(out, ec);
    }
    return thumb;
}

}  // namespace hx::platform
