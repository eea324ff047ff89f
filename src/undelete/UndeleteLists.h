#pragma once
// What the window shows of an undelete: the rows of List1 (files still
// listed) and List2 (deleted files), the info lines of one entry, and the
// listing handed on to a carving scan of the same medium.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/ListedNames.h"
#include "filesystems/UndeleteEntry.h"

namespace hx::undelete {

struct UndeleteLists {
    std::vector<std::string> list1;  // "Listed on %0", blank, then rows
    std::vector<std::string> list2;  // "Deleted on %0", blank, then rows
};

// "  (partial)", "  (rebuilt from pieces, confirmed)" or "  (confirmed)" after a
// deleted file's name; empty for a plain one.
std::string RecoveryMark(const filesystems::UndeleteEntry& e);
// The same as a plain note ("rebuilt from pieces, confirmed"); empty when there is nothing to say.
std::string RecoveryNote(const filesystems::UndeleteEntry& e);
// Rows begin with the entry's number (index + 1) and a blank. Folders are
// not shown; deleted entries (all of NTFS, "?" names and files of deleted
// folders elsewhere) go to List2 unless their name contains ".tmp"; the rest
// (those too) to List1. `allDeleted` is set for NTFS listings. Estimates must
// already be in ListSize/Overwritten.
UndeleteLists BuildUndeleteLists(const std::string& drive, const std::vector<filesystems::UndeleteEntry>& entries,
                                 bool allDeleted);
// The entry's name with the folders it lies in, as "DCIM\100CANON\IMG_0001.JPG";
// the bare name for a file in the root.
std::string EntryPathText(const filesystems::UndeleteEntry& e);
// The same as the user reads paths here: "DCIM/100CANON/IMG_0001.JPG".
std::string ShownEntryPath(const filesystems::UndeleteEntry& e);
// The text after the number: recoverable percentage and path, or the path
// and "Recovery: impossible" for a deleted entry; the path for a listed one.
std::string UndeleteRowText(const filesystems::UndeleteEntry& e, bool deleted);
// The entry index of a row (its leading number − 1), or -1 for the header,
// spacer and anything without a number.
long RowEntryIndex(const std::string& row);

// Lines of the info panel for one entry (ShowEntryInfo).
std::vector<std::string> EntryInfoLines(const std::string& drive, const std::vector<filesystems::UndeleteEntry>& entries,
                                        std::size_t index, bool deleted);

// The listing as the carving scan wants it: files with data on the medium
// (no folders, no NTFS resident data) by first cluster, numbered as the file
// system numbers its clusters (FAT/exFAT: 2 is the first of the data area;
// NTFS: the LCN).
// `oneRun(i)` says whether entry i's bytes lie in one run of clusters from its
// first one: a file in pieces is left out, so that the scan never puts a
// listed name (or cuts to a listed size) on bytes that are not that file's.
scan::ListedNames ToListedNames(const std::vector<filesystems::UndeleteEntry>& entries,
                                const std::function<bool(std::size_t)>& oneRun = {});

}  // namespace hx::undelete
