#pragma once
// Save All and Save As of found files (CmdSaveAll_Click, CmdSaveAs_Click):
// the chosen files leave the cache for a folder of the user's choice, never
// one on the medium they were recovered from. A file is moved whole or stays
// in the cache; a name that exists in the target is never replaced without
// the user's word.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "output/SaveTarget.h"
#include "platform/FileMove.h"
#include "shell/Ui.h"

namespace hx::output {

struct SaveRequest {
    std::filesystem::path cacheFolder;
    std::vector<std::string> names;       // the found files, row for row (FoundNames)
    ScannedSource scanned;                // from "Searched.dat"
    std::filesystem::path saveFolder;     // where the chooser starts
    std::filesystem::path saveAsFolder;   // where Save As of one file starts
    std::string productName = "Harvestrix";
    // Given on the command line: taken instead of the chooser, once; a folder
    // on the scanned medium is refused rather than asked for again.
    std::filesystem::path presetFolder;
    // A file of the same name already in the target folder: asked about, or
    // (chosen beforehand, as the command line does) kept beside the saved one
    // or replaced by it.
    enum class SameName { Ask, KeepBoth, Replace } sameName = SameName::Ask;
    // Files saved into a folder go to YYYY/YYYY-MM-DD/ by the day each was
    // taken, Undated/TYPE/ for the rest (output/DateLayout).
    bool byDate = false;
    // A motion photo's clip is also written beside it, as NAME.mp4.
    bool clipsBeside = false;
};

struct SaveOutcome {
    bool cancelled = false;                        // a chooser or question ended the command
    std::vector<std::size_t> moved;                // rows whose file left the cache
    std::vector<std::filesystem::path> targets;    // where each of them went
    int skipped = 0;                               // kept in the cache (by choice or failure)
    bool stopped = false;                          // a failure that ends the save (full, read-only)
};

class SaveCommand {
public:
    SaveCommand(shell::Ui& ui, SaveRequest request);

    // Every found file of nonzero length, in row order.
    SaveOutcome SaveAll();
    // The selected rows: one file through the save dialog, several into a chosen folder.
    SaveOutcome SaveAs(const std::vector<std::size_t>& rows);

    // The folder chooser with the source-disk rule; false on cancel.
    bool ChooseSaveFolder(const std::string& title);
    void WarnSourceDisk();

    const std::filesystem::path& saveFolder() const { return req_.saveFolder; }
    const std::filesystem::path& saveAsFolder() const { return req_.saveAsFolder; }

private:
    // Moves `row` to `target`; asks when the name exists. False when the save must end.
    bool moveRow(std::size_t row, const std::filesystem::path& target, SaveOutcome& out);
    // Where a file wanted at `wanted` goes, asking when a file of its name is
    // there; none when the user skips it.
    std::optional<std::filesystem::path> targetFor(const std::filesystem::path& wanted, bool& replace, SaveOutcome& out);
    // Moves the cached file into place; `target` becomes where it landed.
    platform::MoveResult moveInto(const std::filesystem::path& source, std::filesystem::path& target, bool replace);
    // Moves the rows into the save folder in the order given, until one failure ends the save.
    void moveRows(const std::vector<std::size_t>& rows, SaveOutcome& out);
    // The clip of the motion photo saved at `photo`, written beside it; nothing for another file.
    void writeClipBeside(const std::filesystem::path& photo);
    bool askSameNames(const std::filesystem::path& folder, const std::vector<std::size_t>& rows);
    std::string title(int id, const char* text) const;

    shell::Ui& ui_;
    SaveRequest req_;
};

// The name a file is saved under when the user types `typed` in the save
// dialog for a found file with extension `foundExtension` (".jpg"): no
// extension gets it appended, another extension is replaced by it.
std::filesystem::path SaveAsName(const std::filesystem::path& typed, const std::string& foundExtension);

}  // namespace hx::output
