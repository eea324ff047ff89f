#include "scan/Scanner.h"

#include "filesystems/FileSystemTypes.h"
#include "media/FileDamage.h"
#include "media/ReadFailure.h"
#include "scan/ScanState.h"
#include "formats/Formats.h"
#include "formats/SignatureTable.h"

#include <fstream>

namespace hx::scan {
namespace detail {

std::size_t Scanner::blockUnits() const {
    // Blocks of a few megabytes stay in the CPU cache between the read and the
    // look at the same bytes: 1.4 times faster on a photo card than 66 MB blocks.
    // A twentieth of the medium at most: on a small one the memory at hand
    // does not matter, and is not asked for.
    std::uint64_t units = geo_.totalUnits / 20;
    if (units > 2 * 1048576ull / unitSize_) {
        const double k = std::clamp(platform::AvailableMemoryMB() / 10, 0.0, 2.0);
        units = std::min<std::uint64_t>(units, (static_cast<std::uint64_t>(k) + 2) * 1048576ull / unitSize_);
    }
    if ((ctx_.record.DriveType != media::DriveKind::CDRom && geo_.sectorsPerCluster == 1) || ctx_.options.unattended) units /= 4;
    units = std::max<std::uint64_t>(units, 1);
    while (units * unitSize_ < kWindow) ++units;
    return static_cast<std::size_t>(units);
}

void Scanner::buildSecondTable(const std::string& selected) {
    secondTable_.clear();
    if (!fixedDisk_ || ctx_.options.deepScan || ctx_.listed.empty()) return;
    std::string listedExts;
    for (const auto& e : ctx_.listed) listedExts += extensionOf(e.name) + "|";
    for (auto& row : formats::BuildSignatureTable(formats::EveryTypeSelection())) {
        const std::string ext = shell::ToLower(row.Extension);
        if (selected.find(ext) != std::string::npos) continue;
        if (listedExts.find(ext + "|") == std::string::npos) continue;
        secondTable_.push_back(row);
    }
    formats::OrderForScan(secondTable_);
    secondMatcher_.build(secondTable_);
}

void Scanner::setUp() {
    unitSize_ = geo_.unitBytes();
    fixedDisk_ = ctx_.record.DriveType == media::DriveKind::Fixed;
    unitsPerBlock_ = blockUnits();
    ctx_.unitSize = unitSize_;
    ctx_.unitsPerBlock = unitsPerBlock_;
    ctx_.totalUnits = geo_.totalUnits;
    endUnit_ = geo_.endUnit();
    matcher_.build(ctx_.table);
    budgetMB_ = platform::FreeMegabytes(ctx_.cacheFolder.string()) - kSpaceReserveMB;
    // Only a listing asks which extensions the table holds.
    const std::string extensions = ctx_.listed.empty() ? std::string() : formats::TableExtensions(ctx_.table);
    buildSecondTable(extensions);
    startOrResume();
    const filesystems::FileSystemType* type = filesystems::CataloguedType(ctx_.record);
    listing_.emplace(ctx_.listed, type && type->listedByName, extensions, ctx_.cacheFolder, geo_);
    listing_->advance(unit_, endUnit_);
    reader_ = std::make_unique<BlockReader>(ctx_.drive, geo_, unitsPerBlock_, kWindow, ctx_.options.damaged);
    reader_->guardFor(ui_);
    // Found files wait to be written for at most a few blocks: memory stays
    // bounded by the block size. On a medium of a megabyte or less there is
    // too little to read for a writer's thread to pay for itself.
    const bool tinyMedium = geo_.totalUnits * unitSize_ <= (1u << 20);
    // A damaged medium may end the program at any read: what was found is
    // written before the next read, not queued.
    writer_.setPendingLimit(tinyMedium || ctx_.options.damaged ? 0 : 4 * unitsPerBlock_ * unitSize_);
    previousSector_.assign(512, 0);
    // The formats known by their structure where no signature matches, each
    // counted in the first of its rows chosen that begins as its start says.
    for (std::size_t i = 0; i < ctx_.table.size(); ++i) {
        const formats::Format* format = formats::FormatOf(ctx_.table[i].Extension);
        if (!format || shell::ToLower(ctx_.table[i].Extension) != format->extensions.front()) continue;
        if (format->ending == formats::Ending::Jpeg) jpegInTable_ = true;
        if (!format->start.test) continue;
        const bool counted = std::any_of(structural_.begin(), structural_.end(),
                                         [format](const StructuralRow& r) { return r.format == format; });
        const std::string prefix = formats::HexToBytes(format->start.rowPrefix);
        if (!counted && ctx_.table[i].Signature1.compare(0, prefix.size(), prefix) == 0)
            structural_.push_back({format, static_cast<int>(i)});
    }
    lookEmbedded_ = ctx_.options.deepScan && jpegInTable_ && embedded_.open(ctx_.drive, geo_.bytesPerSector, reader_->damage().unreadable());
}

void Scanner::startOrResume() {
    const bool resuming = ctx_.resumeUnit > geo_.rootCluster && ctx_.resumeUnit < endUnit_ && ctx_.resumeDrive == ctx_.drive;
    startUnit_ = resuming ? ctx_.resumeUnit : geo_.rootCluster;
    unit_ = startUnit_;
    if (!resuming && ctx_.options.addToFound) {
        counter_ = static_cast<long>(ctx_.found.size()) - 1;
        for (const FoundFile& f : ctx_.found) earlierNames_.insert(f.name);
    } else if (!resuming) {
        ctx_.found.clear();
        ctx_.List3.clear();
        ctx_.emptyUnits = 0;
        ctx_.found.reserve(100);
    } else {
        counter_ = static_cast<long>(ctx_.found.size()) - 1;
        forgetDamageFrom(geo_.byteOf(startUnit_));
        if (ctx_.lastFileOpen) reopenLastFile();
    }
    // What an earlier run of a resumed scan saw blank is not known: those units are read again if need be.
    ctx_.blank.reset(geo_.rootCluster, geo_.totalUnits);
    if (!resuming) {
        ctx_.unreadable.clear();
        ctx_.unreadableSectors = 0;
    }
    ctx_.lastFileOpen = false;
    ctx_.resumeDrive = ctx_.drive;
}

bool Scanner::findFreeRun(std::uint64_t from) {
    // Units are mapped to the medium's clusters; a run ends at the first used cluster.
    auto used = [this](std::uint64_t u) { return ctx_.clusterInUse(geo_.clusterOf(u)); };
    std::uint64_t u = from;
    while (u < endUnit_ && used(u)) ++u;
    if (u >= endUnit_) return false;
    std::uint64_t e = u;
    while (e < endUnit_ && !used(e)) ++e;
    if (u != unit_) {
        unit_ = u;
        reader_->seek(u);
    }
    runEnd_ = e;
    return true;
}


void Scanner::showProgress(bool force) {
    const auto now = std::chrono::steady_clock::now();
    // The first report after a second, so that any scan longer than two
    // seconds shows where it is; then every three seconds.
    const auto interval = lastProgress_ == started_ ? std::chrono::seconds(1) : std::chrono::seconds(3);
    if (!force && now - lastProgress_ < interval) return;
    lastProgress_ = now;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double done = static_cast<double>(unit_ - startUnit_);
    const double perSecond = elapsed > 0 ? done / elapsed : 0;
    const double toGo = perSecond > 0 ? static_cast<double>(endUnit_ - unit_) / perSecond : 0;
    const double mbps = elapsed > 0 ? done * static_cast<double>(unitSize_) / kMB / elapsed : 0;
    const double doneMB = done * static_cast<double>(unitSize_) / kMB;
    const double totalMB = static_cast<double>(endUnit_ - startUnit_) * static_cast<double>(unitSize_) / kMB;
    const std::string text = FormatStr(LoadStr(1492, "Elapsed: %0 & to go: %1 seconds %2 MB/s"),
                                       {formatFixed(elapsed, 0), formatFixed(toGo, 0), formatFixed(mbps, 1)}) +
                             "  " + FormatStr(LoadStr(0, "%0 of %1 MB"), {formatFixed(doneMB, 0), formatFixed(totalMB, 0)});
    const double total = static_cast<double>(endUnit_ - geo_.rootCluster);
    ui_.progress(total > 0 ? static_cast<double>(unit_ - geo_.rootCluster) / total : 0, text);
}

void Scanner::reportFinished() {
    for (long n : writer_.takeFinished())
        if (n >= 0 && static_cast<std::size_t>(n) < ctx_.found.size()) ui_.fileFound(ctx_.found[n].name);
}

void Scanner::examineBlock(std::size_t units) {
    const std::size_t sectorBytes = std::min<std::size_t>(geo_.bytesPerSector, 512);
    const std::uint8_t* block = reader_->data();
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint8_t* p = block + i * unitSize_;
        if (counter_ < 0 && ctx_.found.empty()) {
            if (std::memcmp(p, previousSector_.data(), sectorBytes) == 0) ++ctx_.emptyUnits;
            std::memcpy(previousSector_.data(), p, sectorBytes);
        }
        bool blank = false;
        int row = matcher_.match(p, &blank);
        if (blank) ctx_.blank.mark(unit_);
        // Formats known by their structure where no signature matches (a JPEG
        // that opens with a comment, a compound document the row misses).
        if (row < 0) row = structuralRow(p);
        // A thumbnail inside the open picture's EXIF block is not a new file.
        if (row >= 0 && file_.open && !file_.complete && file_.rule->insideStructure()) row = -1;
        if (row >= 0 && unit_ >= searchedFrom_) {
            // Found the first time round: it ends the file open, and is not found again.
            if (file_.open) file_.complete = true;
            row = -1;
        }
        if (row >= 0) {
            finishFile();
            if (outOfSpace_) break;
            emitEmbedded();
            startFile(ctx_.table[row], p);
            appendUnit(p);
        } else {
            if (unit_ >= listing_->next().unit) listing_->advance(unit_, endUnit_);
            if (file_.open && !file_.complete) {
                if (!secondTable_.empty() && secondMatcher_.match(p) >= 0) file_.complete = true;
                else appendUnit(p);
            }
        }
        if (lookEmbedded_) lookForEmbedded(p, i);
        ++unit_;
    }
    flushPending();  // the block buffer is about to be reused
    if (file_.repeatAt) {
        std::memcpy(file_.repeatPiece.data(), file_.repeatAt, file_.repeatPiece.size());
        file_.repeatAt = nullptr;
    }
    if (writer_.failedFile() >= 0) outOfSpace_ = true;
}

int Scanner::structuralRow(const std::uint8_t* unit) const {
    for (const StructuralRow& r : structural_) {
        if (r.format->start.notInsideHolders && openFileHoldsPictures()) continue;
        if (r.format->start.test(unit, kWindow)) return r.row;
    }
    return -1;
}

bool Scanner::openFileHoldsPictures() const {
    if (!file_.open || file_.complete) return false;
    const formats::Format* format = file_.format;
    return format && (format->family != formats::Family::Photo || format->ending == formats::Ending::TiffRaw);
}

void Scanner::lookForEmbedded(const std::uint8_t* unit, std::size_t index) {
    // Inside a picture being copied, a JPEG start is its thumbnail or preview.
    const bool insidePicture = file_.open && !file_.complete && file_.format && file_.format->has(formats::kReadsExif);
    if (insidePicture) return;
    const std::uint64_t at = reader_->offset() + index * unitSize_;
    // What a picture that ended in this unit holds (a second picture, say) is part of it.
    if (file_.endsInUnit == unit_) embeddedEnd_ = std::max(embeddedEnd_, at + file_.endsAfter);
    for (std::uint64_t start : embedded_.candidates(unit, static_cast<std::size_t>(unitSize_), at, 0, unitSize_, jpegInTable_)) {
        if (start < embeddedEnd_) continue;
        std::vector<formats::PhotoPart> parts;
        const std::uint64_t length = embedded_.measure(start, &parts);
        if (length == 0) continue;
        embeddedQueue_.push_back({{start, length, std::move(parts)}, unit_});
        embeddedEnd_ = start + length;
    }
}

void Scanner::emitEmbedded() {
    for (const QueuedPicture& q : embeddedQueue_) {
        if (outOfSpace_) break;
        ++counter_;
        const std::string name = FoundFileName(counter_, ".jpg");
        writer_.create(counter_, ctx_.cacheFolder / name);
        if (writer_.hasSource()) {
            appendFromMedium(q.picture.offset, static_cast<std::size_t>(q.picture.length));
        } else {
            const auto bytes = embedded_.read(q.picture);
            writer_.appendCopy(bytes.data(), bytes.size());
        }
        writer_.close();
        madeNames_.insert(name);
        if (ctx_.found.size() <= static_cast<std::size_t>(counter_)) ctx_.found.resize(counter_ + 1);
        const std::string description = LoadStr(0, "JPEG inside other data");
        FoundFile& found = ctx_.found[counter_];
        found = FoundFile{};
        found.name = name;
        found.extension = ".jpg";
        found.description = description;
        found.startUnit = q.unit;
        found.size = q.picture.length;
        found.parts = q.picture.parts;
        if (counter_ < 32760) ctx_.List3.push_back(FoundEntryText(counter_, description));
        keepWithinReserve(q.picture.length);
    }
    embeddedQueue_.clear();
}

ScanOutcome Scanner::unreadable() {
    const int error = reader_ ? reader_->error() : 0;
    ui_.message(error ? media::ReadFailureText(ctx_.drive, error) : LoadStr(562, "Cannot read the disk."),
                LoadStr(561, "Scan disk ") + ctx_.drive, {shell::Buttons::OK, shell::Icon::Exclamation});
    setLastCluster("0");
    return ScanOutcome::Unreadable;
}

std::optional<ScanOutcome> Scanner::openSource() {
    if (!reader_->open(startUnit_)) {
        closeAsWritten();
        return unreadable();
    }
    // Found files are copied from an image inside the kernel; a device is
    // not read twice: its bytes are handed over from the block.
    if (!ctx_.options.damaged) writer_.openSource(ctx_.drive, ctx_.geometry.bytesPerSector);
    return std::nullopt;
}

std::optional<ScanOutcome> Scanner::scanBlocks(bool& stopped) {
    // What is scanned, at once; the speed and the time left follow after a second.
    const double totalMB = static_cast<double>(endUnit_ - startUnit_) * static_cast<double>(unitSize_) / kMB;
    ui_.progress(0, FormatStr(LoadStr(0, "Scanning %0 (%1 MB)..."), {ctx_.drive, formatFixed(totalMB, 0)}));
    const bool smart = ctx_.options.smartScan && static_cast<bool>(ctx_.clusterInUse);
    runEnd_ = endUnit_;
    if (smart && !findFreeRun(unit_)) unit_ = endUnit_;
    while (unit_ < endUnit_) {
        std::size_t want = unitsPerBlock_;
        if (smart) {
            if (unit_ >= runEnd_ && !findFreeRun(unit_)) break;
            want = static_cast<std::size_t>(std::min<std::uint64_t>(want, runEnd_ - unit_));
        }
        if (endUnit_ - unit_ < want) {
            want = static_cast<std::size_t>(endUnit_ - unit_);
            setLastCluster("0");
        }
        const std::size_t got = reader_->read(unit_, want);
        if (reader_->unreadable()) {
            closeAsWritten();
            reader_->close();
            return unreadable();
        }
        const bool cancelled = reader_->cancelled();
        if (got == 0 && !reader_->gone() && !cancelled) break;
        ctx_.megabytesRead += static_cast<double>(got * unitSize_) / kMB;
        if (got > 0) examineBlock(got);
        ctx_.resumeUnit = unit_;
        // The medium stopped answering: what was found so far is kept, and the
        // scan may go on from here when it is back.
        if (reader_->gone()) {
            gone_ = true;
            break;
        }
        if (outOfSpace_) break;
        showProgress(false);
        reportFinished();
        ui_.yield();
        if (cancelled || ui_.stopRequested()) {
            stopped = true;
            break;
        }
        // A short read: the rest of the medium is not there.
        if (reader_->shortRead() && !ctx_.options.damaged) break;
    }
    return std::nullopt;
}

void Scanner::settleWrites(bool stopped) {
    ui_.status(LoadStr(337, "Flushing, wait..."));
    // A file whose end was reached is finished at a stop too: a resume goes
    // on with the units after the stop, which belong to no file yet.
    if (file_.open && (file_.complete || !stopped) && !outOfSpace_) {
        finishFile();
    } else if (file_.open) {
        ctx_.lastFileOpen = true;
        file_.open = false;
        closeAsWritten();
    }
    // Pictures found inside the file left open at a stop are looked for again
    // only if the scan starts anew: the resumed file must stay the last one.
    if (!ctx_.lastFileOpen && !outOfSpace_) emitEmbedded();
    // The last files are written and checked while the window stays answered.
    constexpr std::chrono::milliseconds kAnswerEvery(15);
    while (!writer_.waitFor(kAnswerEvery)) ui_.yield();
    while (!later_.waitFor(kAnswerEvery)) ui_.yield();
    const long failed = writer_.failedFile();
    applyLaterChecks(failed);
    if (failed >= 0) {
        // The first file the cache disk could not hold whole, and those after
        // it, are made again when the scan resumes.
        outOfSpace_ = true;
        ctx_.lastFileOpen = false;
        if (failed <= counter_) {
            std::error_code ec;
            for (long i = failed; i <= counter_; ++i) fs::remove(ctx_.cacheFolder / ctx_.found[i].name, ec);
            unit_ = ctx_.found[failed].startUnit;
            counter_ = failed - 1;
            // List entries start with the file's number.
            auto undone = [failed](const std::string& e) { return std::strtol(e.c_str(), nullptr, 10) >= failed; };
            auto& entries = ctx_.List3;
            entries.erase(std::remove_if(entries.begin(), entries.end(), undone), entries.end());
        }
    }
    noteDamage();
    reader_->close();
    setLastCluster("0");
    const bool reachedEnd = unit_ >= endUnit_;
    ctx_.resumeUnit = (reachedEnd || ctx_.options.damaged) ? 0 : unit_;
    if (ctx_.resumeUnit == 0) ctx_.lastFileOpen = false;
    ctx_.found.resize(counter_ + 1);  // up to the last found file
    reportFinished();  // those of the last blocks
}

void Scanner::patchFinds(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    // A carved find is the medium's bytes from its start; where it holds the
    // zeros that stood for these sectors, they are put in.
    for (std::size_t n = 0; n < ctx_.found.size() && n <= static_cast<std::size_t>(counter_); ++n) {
        const FoundFile& f = ctx_.found[n];
        const std::uint64_t start = geo_.byteOf(f.startUnit);
        if (f.earlier || offset < start || offset + size > start + f.size) continue;
        std::fstream file(ctx_.cacheFolder / f.name, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<char> now(size);
        file.seekg(static_cast<std::streamoff>(offset - start));
        if (!file.read(now.data(), static_cast<std::streamsize>(size))) continue;
        if (std::any_of(now.begin(), now.end(), [](char c) { return c != 0; })) continue;
        file.seekp(static_cast<std::streamoff>(offset - start));
        file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    }
}

void Scanner::forgetDamageFrom(std::uint64_t byte) {
    // What failed from there on (the card stopping, often) is read again now.
    const std::uint64_t sector = byte / geo_.bytesPerSector;
    ctx_.unreadable.erase(ctx_.unreadable.lower_bound(sector), ctx_.unreadable.end());
    if (!ctx_.unreadable.empty()) {
        auto last = std::prev(ctx_.unreadable.end());
        last->second = std::min(last->second, sector - last->first);
    }
    ctx_.unreadableSectors = 0;
    for (const auto& [first, count] : ctx_.unreadable) ctx_.unreadableSectors += count;
    for (FoundFile& f : ctx_.found)
        if (f.unreadableSectors > 0 && geo_.byteOf(f.startUnit) + f.firstUnreadable >= byte) f.unreadableSectors = 0;
}

void Scanner::noteDamage() {
    const media::SalvagingReader& damage = reader_->damage();
    if (damage.unreadableSectors() == 0) return;
    // The areas skipped over after failures, read again now that the rest is safe.
    reader_->retrySkipped([this](std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
        patchFinds(offset, bytes, size);
    });
    if (damage.unreadableSectors() == 0) return;
    for (std::uint64_t s = 0; s < std::min<std::uint64_t>(ctx_.found.size(), counter_ + 1); ++s) {
        FoundFile& f = ctx_.found[s];
        if (f.earlier || f.size == 0) continue;
        const std::uint64_t start = geo_.byteOf(f.startUnit);
        // A find of the part before a resume keeps what was said of it then.
        const std::uint64_t unreadable = damage.unreadableIn(start, f.size);
        if (unreadable == 0) continue;
        f.unreadableSectors = unreadable;
        f.firstUnreadable = std::max(damage.firstUnreadableIn(start, f.size) * damage.sectorBytes(), start) - start;
    }
    for (const auto& [first, count] : damage.unreadable()) ctx_.unreadable[first] = count;
    ctx_.unreadableSectors = 0;
    for (const auto& [first, count] : ctx_.unreadable) ctx_.unreadableSectors += count;
    ctx_.unreadableList = ctx_.cacheFolder / kUnreadableFile;
    std::ofstream list(ctx_.unreadableList, std::ios::trunc);
    list << "# Sectors (of " << damage.sectorBytes() << " bytes) of " << ctx_.drive
         << " that could not be read; found files hold zeros there.\n";
    for (const auto& [first, count] : ctx_.unreadable)
        for (std::uint64_t s = first; s < first + count; ++s) list << s << "\n";
}

ScanOutcome Scanner::report(bool stopped) {
    ctx_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double rate = ctx_.seconds > 0 ? ctx_.megabytesRead / ctx_.seconds : 0;
    const double readMB = static_cast<double>(unit_ - geo_.rootCluster) * static_cast<double>(unitSize_) / kMB;
    const double totalMB = static_cast<double>(endUnit_ - geo_.rootCluster) * static_cast<double>(unitSize_) / kMB;
    // A card that stopped answering did not finish: the end's line says how far the scan got.
    ctx_.finishedText =
        gone_ ? FormatStr(LoadStr(0, "Stopped after %0 of %1 MB: %2 no longer answers."),
                          {formatFixed(readMB, 0), formatFixed(totalMB, 0), ctx_.drive})
              : FormatStr(LoadStr(1494, "Finished: %0 seconds. Average: %1 MB/sec"),
                          {formatFixed(ctx_.seconds, 0), formatFixed(rate, 1)});
    if (ctx_.unreadableSectors > 0)
        ctx_.damageText = FormatStr(LoadStr(0, "%0 sectors could not be read; they are listed in %1."),
                                    {std::to_string(ctx_.unreadableSectors), ctx_.unreadableList.string()});
    ui_.status(ctx_.damageText.empty() ? ctx_.finishedText : ctx_.finishedText + " " + ctx_.damageText);
    if (gone_) {
        ui_.message(media::NoLongerAnswersText(ctx_.drive) +
                        "\n" +
                        FormatStr(LoadStr(0, "The scan read %0 of %1 MB and found %2 files, which are kept."),
                                  {formatFixed(readMB, 0), formatFixed(totalMB, 0), std::to_string(ctx_.found.size())}) +
                        "\n" + LoadStr(0, "Put the card back and scan it again: the scan goes on from where it stopped."),
                    LoadStr(38, "Scan") + " " + ctx_.drive, {shell::Buttons::OK, shell::Icon::Exclamation});
        return ScanOutcome::MediumGone;
    }
    if (ctx_.unreadableSectors * ctx_.geometry.bytesPerSector > kAdviseImageBytes)
        ui_.message(FormatStr(LoadStr(0, "%0 sectors of %1 could not be read: the card is failing."),
                              {std::to_string(ctx_.unreadableSectors), ctx_.drive}) +
                        "\n" + LoadStr(0, "Make an image of it first (Backup), while it still reads, and scan the image."),
                    LoadStr(38, "Scan") + " " + ctx_.drive, {shell::Buttons::OK, shell::Icon::Exclamation});
    if (outOfSpace_) {
        ui_.message(LoadStr(587, "Ran out of free disk space while scanning. Execution aborted.") + "\n" +
                        FormatStr(LoadStr(588, "Please resume scanning after freeing space on the target disk: %0"),
                                  {ctx_.cacheFolder.string()}),
                    LoadStr(589, "Out of disk space"), {shell::Buttons::OK, shell::Icon::Exclamation});
        return ScanOutcome::OutOfSpace;
    }
    if (ctx_.found.empty() && !stopped) {
        const std::string title = LoadStr(592, "Scan") + " " + ctx_.drive;
        if (static_cast<double>(ctx_.emptyUnits) > 0.9 * static_cast<double>(geo_.totalUnits))
            ui_.message(LoadStr(590, "Not any data retrievable.") + "\n" +
                            FormatStr(LoadStr(1410, "Disk %0 is wiped and entirely empty!"), {ctx_.drive}),
                        title, {shell::Buttons::OK, shell::Icon::Information});
        else
            ui_.message(LoadStr(593, "Data found but no recoverable files.") + "\n" +
                            LoadStr(594, "Adjust the file types and/or use DeepScan."),
                        title, {shell::Buttons::OK, shell::Icon::Information});
    }
    return stopped ? ScanOutcome::Stopped : ScanOutcome::Finished;
}

ScanOutcome Scanner::run(const FinishFinds& finish) {
    if (ctx_.settings) shell::SaveSetting(*ctx_.settings, shell::kLastDrive, ctx_.drive);
    setLastCluster("33");
    started_ = lastProgress_ = std::chrono::steady_clock::now();
    if (!PlanGeometry(ctx_.record, ctx_.drive, ctx_.imageFolder, ctx_.options.deepScan, ui_, geo_)) return unreadable();
    ctx_.geometry = geo_;
    setUp();
    if (auto failed = openSource()) return *failed;
    bool stopped = false;
    if (auto failed = scanBlocks(stopped)) return *failed;
    // A stop asked for while the last block was read comes too late: the scan
    // is whole, and its last file is finished rather than left for a resume
    // that would never come.
    if (stopped && unit_ >= endUnit_) stopped = false;
    if (!stopped && !gone_ && !outOfSpace_) rescanSkipped();
    settleWrites(stopped || gone_);
    if (finish && !stopped && !gone_ && !outOfSpace_ && !ctx_.lastFileOpen) finish(ctx_);
    return report(stopped);
}

}  // namespace detail

ScanOutcome ScanDisk(ScanContext& ctx, const FinishFinds& finish) {
    detail::Scanner scanner(ctx);
    return scanner.run(finish);
}

}  // namespace hx::scan
