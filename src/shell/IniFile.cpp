#include "shell/IniFile.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/Processes.h"

namespace hx::shell {

namespace fs = std::filesystem;

namespace {

std::string trim(const std::string& s) {
    auto a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// QSettings writes key characters outside [A-Za-z0-9_-./] as %XX (or %UXXXX).
std::string encodeKeyPart(const std::string& key) {
    std::string out;
    for (unsigned char c : key) {
        if (std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == '/') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string decodeKeyPart(const std::string& key) {
    std::string out;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 2 < key.size() && std::isxdigit(static_cast<unsigned char>(key[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(key[i + 2]))) {
            out += static_cast<char>(std::stoi(key.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += key[i];
        }
    }
    return out;
}

}  // namespace

std::string IniFile::EncodeValue(const std::string& value) {
    std::string body;
    bool quote = !value.empty() && (value.front() == ' ' || value.back() == ' ' || value.front() == '\t' ||
                                    value.back() == '\t');
    bool afterHex = false;  // a hex digit right after "\xNN" would join the number
    for (unsigned char c : value) {
        if (afterHex && std::isxdigit(c)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%x", c);
            body += buf;
            continue;
        }
        afterHex = false;
        switch (c) {
            case '\\': body += "\\\\"; break;
            case '"': body += "\\\""; quote = true; break;
            case '\n': body += "\\n"; break;
            case '\r': body += "\\r"; break;
            case '\t': body += "\\t"; break;
            case ',': case ';': case '=': body += static_cast<char>(c); quote = true; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%x", c);
                    body += buf;
                    afterHex = true;
                } else {
                    body += static_cast<char>(c);
                }
        }
    }
    if (!value.empty() && value.front() == '@') body = "@" + body;  // QSettings reserves a leading @
    return quote ? "\"" + body + "\"" : body;
}

std::string IniFile::DecodeValue(const std::string& raw) {
    std::string in = trim(raw);
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c == '\\' && i + 1 < in.size()) {
            char e = in[++i];
            switch (e) {
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'x': {
                    std::size_t j = i + 1;
                    int v = 0;
                    while (j < in.size() && j < i + 5 && std::isxdigit(static_cast<unsigned char>(in[j])))
                        v = v * 16 + std::stoi(std::string(1, in[j++]), nullptr, 16);
                    out += static_cast<char>(v);
                    i = j - 1;
                    break;
                }
                default: out += e;
            }
            continue;
        }
        out += c;
    }
    if (out.rfind("@@", 0) == 0) out.erase(0, 1);
    return out;
}

bool IniFile::load(const fs::path& file) {
    raw_.clear();
    std::error_code ec;
    if (!fs::exists(file, ec)) return true;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    parse(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    return true;
}

void IniFile::parse(const std::string& text) {
    raw_.clear();
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[' && t.back() == ']') {
            section = decodeKeyPart(t.substr(1, t.size() - 2));
            if (section == "General") section.clear();
            continue;
        }
        auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        std::string key = decodeKeyPart(trim(t.substr(0, eq)));
        for (auto& c : key)
            if (c == '\\') c = '/';
        if (!section.empty()) key = section + "/" + key;
        raw_[key] = trim(t.substr(eq + 1));
    }
}

bool IniFile::save(const fs::path& file) const {
    std::error_code ec;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections;
    for (auto& [key, raw] : raw_) {
        auto slash = key.find('/');
        std::string section = slash == std::string::npos ? "General" : key.substr(0, slash);
        std::string rest = slash == std::string::npos ? key : key.substr(slash + 1);
        for (auto& c : rest)
            if (c == '/') c = '\\';
        sections[section].push_back({rest, raw});
    }
    std::ostringstream out;
    bool first = true;
    auto writeSection = [&](const std::string& name) {
        auto it = sections.find(name);
        if (it == sections.end()) return;
        if (!first) out << "\n";
        first = false;
        out << "[" << encodeKeyPart(name) << "]\n";
        for (auto& [k, v] : it->second) {
            std::string key = encodeKeyPart(k);
            for (std::size_t p = 0; (p = key.find("%5C", p)) != std::string::npos;) key.replace(p, 3, "\\");
            out << key << "=" << v << "\n";
        }
    };
    writeSection("General");
    for (auto& [name, entries] : sections)
        if (name != "General") writeSection(name);
    const fs::path temp = file.string() + ".tmp" + std::to_string(platform::OwnProcessId());
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f << out.str();
        if (!f.flush()) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, file, ec);
    if (!ec) return true;
    fs::remove(temp, ec);
    return false;
}

std::optional<std::string> IniFile::value(const std::string& key) const {
    auto it = raw_.find(key);
    if (it == raw_.end()) return std::nullopt;
    return DecodeValue(it->second);
}

void IniFile::setValue(const std::string& key, const std::string& value) { raw_[key] = EncodeValue(value); }

bool IniFile::remove(const std::string& key) {
    bool any = false;
    for (auto it = raw_.begin(); it != raw_.end();) {
        if (it->first == key || it->first.rfind(key + "/", 0) == 0) {
            it = raw_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

std::vector<std::string> IniFile::keys() const {
    std::vector<std::string> k;
    for (auto& [key, raw] : raw_) k.push_back(key);
    return k;
}

}  // namespace hx::shell
