// report.json and report.html of "Recover everything".
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "output/DateLayout.h"
#include "output/RecoverAll.h"
#include "shell/Strings.h"
#include "viewing/PictureThumbnail.h"

namespace hx::output {

namespace fs = std::filesystem;

namespace {

std::string json(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += {'\\', static_cast<char>(c)};
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out;
}

std::string html(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// A relative path as a link: each part percent-encoded where a URL needs it.
std::string href(const fs::path& p) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : p.generic_string()) {
        if (std::isalnum(c) || std::string_view("/-_.~").find(static_cast<char>(c)) != std::string_view::npos)
            out += static_cast<char>(c);
        else out += {'%', hex[c >> 4], hex[c & 15]};
    }
    return out;
}

// The day a file was taken, or "" for one without a date.
std::string dayOf(const RecoveredFile& f) { return DayOf(f.date); }

// The files in order of their days, undated last; within a day as they came.
std::vector<std::size_t> byDay(const RecoverReport& r) {
    std::vector<std::size_t> order(r.files.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const std::string da = dayOf(r.files[a]), db = dayOf(r.files[b]);
        if (da.empty() != db.empty()) return db.empty();
        return da < db;
    });
    return order;
}

std::string stateOf(const RecoveredFile& f) {
    std::string state = f.whole ? shell::LoadStr(0, "whole") : shell::LoadStr(0, "partial");
    if (f.rebuilt) state += ", " + shell::LoadStr(0, "rebuilt from pieces");
    if (f.nameGuessed) state += ", " + shell::LoadStr(0, "name guessed");
    if (!f.note.empty()) state += ", " + f.note;
    return state;
}

int count(const RecoverReport& r, const std::string& origin) {
    int n = 0;
    for (const auto& f : r.files) n += f.origin == origin;
    return n;
}

fs::path thumbnailOf(std::size_t file) { return fs::path("report-files") / ("thumb" + std::to_string(file) + ".jpg"); }

// The report's small pictures, made on every core: decoding the photos that
// carry no small copy of their own is most of the report's time.
std::vector<char> makeThumbnails(const RecoverReport& r, const fs::path& target) {
    std::vector<char> made(r.files.size(), 0);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < r.files.size(); i = next++) {
            const auto& f = r.files[i];
            made[i] = viewing::HasSmallPicture(f.type) &&
                      viewing::MakePictureThumbnail(target / f.path, target / thumbnailOf(i));
        }
    };
    const std::size_t threads = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), r.files.size());
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
    work();
    for (auto& t : helpers) t.join();
    return made;
}

}  // namespace

bool WriteRecoverReport(const RecoverReport& r, const fs::path& target) {
    std::ofstream j(target / "report.json", std::ios::trunc);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
    j << "{\"medium\":\"" << json(r.medium) << "\",\"fileSystem\":\"" << json(r.fileSystem) << "\",\"seconds\":" << seconds
      << ",\"stopped\":" << (r.stopped ? "true" : "false") << ",\"totals\":{\"undeleted\":" << count(r, "undeleted")
      << ",\"carved\":" << count(r, "carved") << ",\"copied\":" << count(r, "copied")
      << ",\"duplicatesDropped\":" << r.duplicates << ",\"notRecovered\":" << r.notRecovered.size() << "},\"files\":[";
    for (std::size_t i = 0; i < r.files.size(); ++i) {
        const auto& f = r.files[i];
        j << (i ? "," : "") << "{\"path\":\"" << json(f.path.generic_string()) << "\",\"origin\":\"" << f.origin
          << "\",\"size\":" << f.size << ",\"type\":\"" << json(f.type) << "\",\"date\":\"" << json(f.date)
          << "\",\"camera\":\"" << json(f.camera) << "\",\"whole\":" << (f.whole ? "true" : "false")
          << ",\"nameGuessed\":" << (f.nameGuessed ? "true" : "false") << ",\"rebuilt\":" << (f.rebuilt ? "true" : "false")
          << ",\"note\":\"" << json(f.note) << "\",\"original\":\"" << json(f.original) << "\",\"foundAt\":\""
          << json(f.foundAt) << "\"}";
    }
    const std::vector<std::size_t> order = byDay(r);
    j << "],\"days\":[";
    for (std::size_t k = 0; k < order.size();) {
        const std::string day = dayOf(r.files[order[k]]);
        std::size_t n = 0;
        while (k < order.size() && dayOf(r.files[order[k]]) == day) ++k, ++n;
        j << (k == n ? "" : ",") << "{\"day\":\"" << json(day) << "\",\"files\":" << n << "}";
    }
    j << "],\"notRecovered\":[";
    for (std::size_t i = 0; i < r.notRecovered.size(); ++i) {
        const auto& n = r.notRecovered[i];
        j << (i ? "," : "") << "{\"name\":\"" << json(n.name) << "\",\"folder\":\"" << json(n.folder)
          << "\",\"reason\":\"" << json(n.reason) << "\"}";
    }
    j << "],\"notes\":[";
    for (std::size_t i = 0; i < r.notes.size(); ++i) j << (i ? "," : "") << "\"" << json(r.notes[i]) << "\"";
    j << "]}\n";

    std::ofstream h(target / "report.html", std::ios::trunc);
    h << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Harvestrix: " << html(r.medium)
      << "</title>\n<style>body{font-family:sans-serif;margin:2em}td,th{padding:4px 8px;text-align:left;"
         "border-bottom:1px solid #ddd}img{max-width:120px;max-height:90px}.partial{color:#a40}.day{background:#eee}</style></head><body>\n"
      << "<h1>Recovered from " << html(r.medium) << "</h1>\n<p>" << count(r, "undeleted") << " undeleted, "
      << count(r, "carved") << " carved, " << count(r, "copied") << " copied; " << r.duplicates
      << " carved copies of these dropped; " << r.notRecovered.size() << " not recovered. File system: "
      << html(r.fileSystem.empty() ? "none readable" : r.fileSystem) << ". Time: " << seconds << " s.</p>\n";
    for (const auto& note : r.notes) h << "<p><b>" << html(note) << "</b></p>\n";
    h << "<table><tr><th></th><th>File</th><th>Origin</th><th>Size</th><th>Type</th><th>Taken</th><th>Camera</th>"
         "<th>On the medium</th><th>Found at</th><th>State</th></tr>\n";
    // The report's pictures: small copies in one folder beside it.
    const fs::path pictures = target / "report-files";
    std::error_code ec;
    fs::create_directories(pictures, ec);
    const std::vector<char> thumbnails = makeThumbnails(r, target);
    std::string day = "?";
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        const auto& f = r.files[i];
        if (dayOf(f) != day) {
            // A heading for each day, with how many files it holds.
            day = dayOf(f);
            std::size_t n = 0;
            for (std::size_t m = k; m < order.size() && dayOf(r.files[order[m]]) == day; ++m) ++n;
            h << "<tr><th colspan=\"10\" class=\"day\">" << html(day.empty() ? shell::LoadStr(0, "Without a date") : day)
              << " (" << n << ")</th></tr>\n";
        }
        h << "<tr><td>";
        if (thumbnails[i]) h << "<img src=\"" << href(thumbnailOf(i)) << "\" alt=\"\" onload=\"this.dataset.shown=1\">";
        h << "</td><td><a href=\"" << href(f.path) << "\">" << html(f.path.generic_string()) << "</a></td><td>"
          << f.origin << "</td><td>" << f.size << "</td><td>" << html(f.type) << "</td><td>"
          << html(f.date.size() > 11 ? f.date.substr(11) : f.date) << "</td><td>" << html(f.camera) << "</td><td>"
          << html(f.original) << "</td><td>" << html(f.foundAt) << "</td><td" << (f.whole ? ">" : " class=\"partial\">")
          << html(stateOf(f)) << "</td></tr>\n";
    }
    h << "</table>\n";
    if (!r.notRecovered.empty()) {
        h << "<h2>Not recovered</h2><table><tr><th>File</th><th>Folder</th><th>Why</th></tr>\n";
        for (const auto& n : r.notRecovered)
            h << "<tr><td>" << html(n.name) << "</td><td>" << html(n.folder) << "</td><td>" << html(n.reason)
              << "</td></tr>\n";
        h << "</table>\n";
    }
    h << "</body></html>\n";
    return static_cast<bool>(j) && static_cast<bool>(h);
}

}  // namespace hx::output
