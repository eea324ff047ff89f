#pragma once
// Recover everything in one step: the deleted files that the file system
// still names are restored with their names and folders, the free space is
// carved for what no entry names any more (the whole medium when no file
// system can be read), live files are copied too when asked, each distinct
// content is kept once, and a report says what came back from where.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "scan/Fingerprint.h"
#include "shell/Ui.h"

namespace hx::output {

struct RecoverRequest {
    std::string source;                // drive id or image
    std::filesystem::path target;      // DIR: everything goes below it
    std::string selection = "all";     // the carving scan's types; "all": every type of the type list
    bool includePresent = false;       // copy the live files too
    // Where the files go below the target: by capture date (YYYY/YYYY-MM-DD/,
    // Undated/TYPE/ for those without one), or where they were found (the
    // card's folders for listed files, Found/TYPE/ for carved ones).
    enum class Layout { Date, Found } layout = Layout::Date;
};

struct RecoveredFile {
    std::filesystem::path path;  // below the target
    std::string origin;          // "undeleted", "carved" or "copied"
    std::uint64_t size = 0;
    std::string type;            // extension without the dot, lower case
    std::string date;            // EXIF date of exposure, "YYYY-MM-DD HH:MM:SS"
    std::string camera;          // maker and model
    bool whole = true;           // decoded to its end (pictures) or restored whole
    bool nameGuessed = false;    // the lost first letter of its name, or of a folder's, was rebuilt
    std::string note;            // what the user should know of it ("rebuilt from pieces, unverified: ...")
    std::string original;        // its path on the medium, when a file system named it ("\\DCIM\\IMG_0001.JPG")
    std::string foundAt;         // where on the medium: "cluster 1234", "MFT record 56", "sector 7890"
    bool rebuilt = false;        // undeleted from pieces that its own structure confirmed
};

struct NotRecovered {
    std::string name;
    std::string folder;
    std::string reason;
};

struct RecoverReport {
    std::string medium;
    std::string fileSystem;      // empty when none could be read
    std::vector<RecoveredFile> files;
    std::vector<NotRecovered> notRecovered;
    std::vector<std::string> notes;  // what the user should know (half-read file system, full target, stop)
    int duplicates = 0;              // carved copies of files already recovered, dropped
    bool stopped = false;
    double seconds = 0;
};

struct Inspection;  // what one read of a written file tells

class RecoverCommand {
public:
    RecoverCommand(shell::Ui& ui, RecoverRequest request);
    // Runs the phases; nothing when the target is refused (on the source, not writable).
    std::optional<RecoverReport> run();

private:
    void restoreListed(RecoverReport& report, bool& fileSystemRead);
    void carve(RecoverReport& report, bool smart);
    // Moves each file to its place by date, and takes away the folders that emptied.
    void layOutByDate(RecoverReport& report);
    // False when the file's content was kept before (it is then a duplicate).
    // A carved JPEG was ended by the scan's own marker walk: it is not walked again.
    bool keepOnce(const std::filesystem::path& file, Inspection& seen, bool carved);

    shell::Ui& ui_;
    RecoverRequest req_;
    // (size, two hashes of the bytes) -> where the kept copy is
    std::map<scan::ContentKey, std::filesystem::path> seen_;
    scan::ContentKey lastKey_;
};

// DIR/report.json and DIR/report.html; false when they cannot be written.
bool WriteRecoverReport(const RecoverReport& report, const std::filesystem::path& target);

}  // namespace hx::output
