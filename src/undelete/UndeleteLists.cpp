#include "undelete/UndeleteLists.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "shell/Strings.h"
#include "filesystems/fat/UndeleteFat.h"

namespace hx::undelete {

using shell::FormatStr;
using shell::LoadStr;

namespace {

bool goesToDeleted(const filesystems::UndeleteEntry& e, bool allDeleted) {
    return ((allDeleted && !(e.Attributes & filesystems::kAttrLive)) || e.isDeleted()) && e.FileName.find(".tmp") == std::string::npos &&
           e.ListName.find(".tmp") == std::string::npos;
}

}  // namespace

std::string EntryPathText(const filesystems::UndeleteEntry& e) {
    std::string path = e.FolderPath;
    const std::size_t start = path.find_first_not_of('\\');
    path = start == std::string::npos ? std::string() : path.substr(start);
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path + (e.ListName.empty() ? e.FileName : e.ListName);
}

std::string ShownEntryPath(const filesystems::UndeleteEntry& e) {
    std::string path = EntryPathText(e);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string UndeleteRowText(const filesystems::UndeleteEntry& e, bool deleted) {
    const std::string name = ShownEntryPath(e);
    if (!deleted) return name;
    if (e.ListSize == 0) return name + "  " + LoadStr(652, "Recovery: impossible");
    const std::uint64_t pct = e.Size == 0 ? 100 : std::min<std::uint64_t>(100, std::uint64_t(e.ListSize) * 100 / e.Size);
    char buf[16];
    // " 0000  ", or " 0000@ " when the first cluster is taken by another file.
    std::snprintf(buf, sizeof buf, " %04u%s", static_cast<unsigned>(pct), e.Overwritten ? "@ " : "  ");
    return buf + name + RecoveryMark(e);
}

std::string RecoveryMark(const filesystems::UndeleteEntry& e) {
    if (e.Attributes & filesystems::kAttrUnverified)
        return "  " + LoadStr(0, "(rebuilt from pieces, unverified: nothing in it can confirm them)");
    if (e.isPartial()) return "  " + LoadStr(0, "(partial)");
    if ((e.Attributes & filesystems::kAttrRebuilt) && (e.Attributes & filesystems::kAttrConfirmed))
        return "  " + LoadStr(0, "(rebuilt from pieces, confirmed)");
    if (e.Attributes & filesystems::kAttrConfirmed) return "  " + LoadStr(0, "(confirmed)");
    return {};
}

std::string RecoveryNote(const filesystems::UndeleteEntry& e) {
    std::string mark = RecoveryMark(e);
    const auto open = mark.find('('), close = mark.rfind(')');
    return open == std::string::npos || close == std::string::npos ? mark : mark.substr(open + 1, close - open - 1);
}

UndeleteLists BuildUndeleteLists(const std::string& drive, const std::vector<filesystems::UndeleteEntry>& entries,
                                 bool allDeleted) {
    UndeleteLists l;
    l.list1 = {FormatStr(LoadStr(1598, "Listed on %0"), {drive}) + " ", ""};
    l.list2 = {FormatStr(LoadStr(1489, "Deleted on %0"), {drive}) + " ", ""};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const filesystems::UndeleteEntry& e = entries[i];
        if (e.isFolder() || (e.FileName.empty() && e.ListName.empty())) continue;
        // Deleted ".tmp" files join the listed ones.
        const bool deleted = goesToDeleted(e, allDeleted);
        (deleted ? l.list2 : l.list1).push_back(std::to_string(i + 1) + " " + UndeleteRowText(e, deleted));
    }
    return l;
}

long RowEntryIndex(const std::string& row) {
    std::size_t i = 0;
    long n = 0;
    while (i < row.size() && row[i] >= '0' && row[i] <= '9' && n < 100000000) n = n * 10 + (row[i++] - '0');
    if (i == 0 || n < 1 || (i < row.size() && row[i] != ' ')) return -1;
    return n - 1;
}

std::vector<std::string> EntryInfoLines(const std::string& drive, const std::vector<filesystems::UndeleteEntry>& entries,
                                        std::size_t index, bool deleted) {
    std::vector<std::string> lines;
    if (index >= entries.size()) return lines;
    const filesystems::UndeleteEntry& e = entries[index];
    std::string path = (e.FolderPath.empty() ? "" : "/") + ShownEntryPath(e);
    if (path.size() > 25) path = "..." + path.substr(path.size() - 22);
    lines.push_back("Drive: " + drive);
    lines.push_back("File: " + path);
    if (e.isFolder()) lines.push_back("Dir:");
    lines.push_back("Attributes: " + filesystems::AttributeText(e.Attributes & 0xFF));
    lines.push_back("Date created: " + filesystems::FormatDate(e.Created));
    lines.push_back("Last modified: " + filesystems::FormatDate(e.Modified));
    if (!e.isFolder()) lines.push_back("File size: " + filesystems::GroupThousands(e.Size) + " bytes");
    if (deleted) {
        lines.push_back("Recoverable: " + filesystems::GroupThousands(e.ListSize));
        if (e.ListSize == 0) lines.push_back(LoadStr(652, "Recovery: impossible"));
        else if (e.Attributes & filesystems::kAttrUnverified)
            lines.push_back("Recovery: rebuilt from pieces by the clusters other files claim; unverified");
        else if (e.isPartial()) lines.push_back("Recovery: partial, its pieces could not be confirmed");
        else if (e.ListSize >= e.Size) lines.push_back("Recovery: probable");
        else lines.push_back("Recovery: probable partly");
        if ((e.Attributes & filesystems::kAttrRebuilt) && (e.Attributes & filesystems::kAttrConfirmed))
            lines.push_back("Rebuilt from pieces; the picture confirms them");
        if (e.Attributes & filesystems::kAttrInDeletedFolder) lines.push_back("In a deleted folder");
    }
    if (e.FirstCluster && !e.ResidentData) {
        std::string line = "First cluster: " + filesystems::GroupThousands(e.FirstCluster);
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const filesystems::UndeleteEntry& o = entries[k];
            if (k == index || o.FirstCluster != e.FirstCluster || o.ResidentData || o.isDeleted() || o.isFolder())
                continue;
            line += " =occupied " + (o.ListName.empty() ? o.FileName : o.ListName);
            lines.push_back(line);
            lines.push_back("Cross referenced");
            lines.push_back("Recovery: Might be possible");
            return lines;
        }
        lines.push_back(line);
    }
    return lines;
}

scan::ListedNames ToListedNames(const std::vector<filesystems::UndeleteEntry>& entries,
                                const std::function<bool(std::size_t)>& oneRun) {
    scan::ListedNames out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const filesystems::UndeleteEntry& e = entries[i];
        if (e.isFolder() || e.ResidentData || e.FirstCluster == 0 || e.Size == 0) continue;
        if (oneRun && !oneRun(i)) continue;
        out.push_back({e.ListName.empty() ? e.FileName : e.ListName, e.FirstCluster, e.Size});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const scan::ListedName& a, const scan::ListedName& b) { return a.firstCluster < b.firstCluster; });
    return out;
}

}  // namespace hx::undelete
