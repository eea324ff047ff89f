// One found file, from the unit that starts it to its last: its name from
// the listing or the camera, the units it takes, its end and its checks.
#include "scan/Scanner.h"

namespace hx::scan::detail {

void Scanner::readPictureHeader(const std::uint8_t* window) {
    // Pictures: the camera and the size of the picture from the EXIF header.
    file_.haveExif = false;
    file_.exif = {};
    const std::size_t sectorBytes = std::min<std::size_t>(geo_.bytesPerSector, kWindow);
    if (!formats::HasTrait(file_.ext, formats::kReadsExif)) return;
    if (contains(window, kWindow, "Exif") || contains(window, sectorBytes, "TTW") || contains(window, 16, "II") ||
        contains(window, 16, "MM")) {
        viewing::ReadExif("BUF", window, kWindow, file_.exif);
        file_.haveExif = true;
        file_.camera = viewing::CameraName(file_.exif.make, file_.exif.model);
        auto pos = file_.exif.model.find("DIGITAL");
        if (pos != std::string::npos) file_.exif.model = shell::Trim(file_.exif.model.erase(pos, 7));
        file_.capMB = pictureCapMB(file_.exif, file_.ext, file_.capMB);
    }
    if (!file_.exif.model.empty()) {
        file_.description = file_.exif.model;
        if (file_.ext == ".mrw") file_.description = "KM" + file_.exif.model.substr(0, 10) + " Raw";
    }
}

void Scanner::startFile(const formats::SignatureRow& row, const std::uint8_t* window) {
    ++counter_;
    file_ = OpenFile{};
    file_.open = true;
    file_.printing = ctx_.options.fingerprints;
    file_.deferring = file_.printing && ctx_.options.keepEachContentOnce && writer_.hasSource();
    file_.capMB = ctx_.options.maxMB;
    file_.ext = shell::ToLower(row.Extension);
    file_.format = formats::FormatOf(file_.ext);
    file_.description = shell::Trim(row.DisplayName);
    file_.rule = formats::EndRuleFor(file_.ext, window, geo_.bytesPerSector, row.NeedsStructure, row.Aux1, row.Aux2);

    std::string name = FoundFileName(counter_, row.Extension);
    std::uint64_t listedSize = 0;
    // Units skipped by SmartScan or a resume were never looked at; listed files there are past.
    if (listing_->next().unit < unit_) listing_->advance(unit_, endUnit_);
    if (unit_ == listing_->next().unit) {
        const ListedFile& listed = listing_->next();
        const std::string listedExt = extensionOf(listed.name);
        const bool bothJpeg = std::string(".jpg.jpe.thm").find(file_.ext) != std::string::npos &&
                              !listedExt.empty() && std::string(".jpg.jpe.thm").find(listedExt) != std::string::npos;
        if (!listed.name.empty() && (shell::ContainsNoCase(row.Extension, listedExt) || bothJpeg)) {
            if (shell::ContainsNoCase(listed.name + ".thm.jpe.jpg", row.Extension) && !madeNames_.count(listed.name))
                name = listed.name;
            listedSize = listed.size;
        }
        listing_->advance(unit_, endUnit_);
    }
    // The cache may hold files of an earlier scan (options.addToFound): none is written over.
    for (int n = 1; earlierNames_.count(name) && n < 1000; ++n) name = std::to_string(n) + "-" + FoundFileName(counter_, row.Extension);
    file_.name = name;
    readPictureHeader(window);

    writer_.create(counter_, ctx_.cacheFolder / file_.name);
    file_.inWriter = true;
    madeNames_.insert(file_.name);
    if (ctx_.found.size() <= static_cast<std::size_t>(counter_)) ctx_.found.resize(counter_ + 1);
    FoundFile& found = ctx_.found[counter_];
    found = FoundFile{};
    found.name = file_.name;
    found.extension = file_.ext;
    found.description = file_.description;
    found.startUnit = unit_;
    found.listedSize = listedSize;
}

void Scanner::writeBytes(const std::uint8_t* data, std::size_t size) {
    if (!file_.inWriter || size == 0) return;
    if (pending_ && pending_ + pendingSize_ == data) {
        pendingSize_ += size;
    } else {
        flushPending();
        pending_ = data;
        pendingSize_ = size;
    }
    file_.writtenBytes += size;
    if (!file_.printing) return;
    file_.print.add(data, size);
    if (const std::uint64_t have = file_.beginning.size(); have < kBeginningBytes) {
        file_.beginning.add(data, static_cast<std::size_t>(std::min<std::uint64_t>(size, kBeginningBytes - have)));
        // Begun unlike every kept content: no copy of one, written as it goes from here.
        if (file_.beginning.size() == kBeginningBytes && file_.deferring &&
            !ctx_.keptContents.beginsLikeOne(file_.beginning.value()))
            releaseDeferred();
    }
}

void Scanner::flushPending() {
    if (file_.inWriter && pending_ && pendingSize_ > 0) {
        const std::uint64_t offset = reader_->offset() + static_cast<std::uint64_t>(pending_ - reader_->data());
        if (file_.deferring)
            deferRange(offset, pendingSize_);
        else if (writer_.hasSource())
            appendFromMedium(offset, pendingSize_);
        else
            writer_.appendCopy(pending_, pendingSize_);
    }
    pending_ = nullptr;
    pendingSize_ = 0;
}

void Scanner::appendFromMedium(std::uint64_t offset, std::size_t size) {
    static const std::vector<std::uint8_t> zeros(64 * 1024);
    const std::uint64_t end = offset + size;
    for (std::uint64_t at = offset; at < end;) {
        bool unreadable = false;
        const std::uint64_t to = media::StretchEnd(ctx_.unreadable, ctx_.geometry.bytesPerSector, at, end, unreadable);
        for (std::uint64_t z = at; unreadable && z < to; z += zeros.size())
            writer_.appendCopy(zeros.data(), static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), to - z)));
        if (!unreadable) writer_.appendFromSource(at, static_cast<std::size_t>(to - at));
        at = to;
    }
}

// Ranges wait up to this much; a longer file is written as it goes.
constexpr std::uint64_t kMaxDeferredBytes = 64ull << 20;

void Scanner::deferRange(std::uint64_t offset, std::size_t size) {
    auto& ranges = file_.deferred;
    if (!ranges.empty() && ranges.back().first + ranges.back().second == offset)
        ranges.back().second += size;
    else
        ranges.emplace_back(offset, size);
    file_.deferredBytes += size;
    if (file_.deferredBytes > kMaxDeferredBytes) releaseDeferred();
}

void Scanner::releaseDeferred() {
    if (!file_.deferring) return;
    file_.deferring = false;
    for (const auto& [offset, size] : file_.deferred) appendFromMedium(offset, size);
    file_.deferred.clear();
    if (!file_.open && file_.inWriter) closeAsWritten();
}

void Scanner::appendUnit(const std::uint8_t* unit) {
    // A file the listing names ends at its listed size, whatever its insides
    // say: a camera's trailer after a JPEG's end marker belongs to the photo.
    if (const std::uint64_t listed = ctx_.found[counter_].listedSize; listed > 0) {
        const std::uint64_t left = listed > file_.writtenBytes ? listed - file_.writtenBytes : 0;
        const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(unitSize_, left));
        if (file_.writtenBytes + keep >= listed) file_.complete = true;
        file_.rule->listedUnit(unit, keep);
        writeBytes(unit, keep);
        file_.writtenMB += unitSize_ / kMB;
        return;
    }
    bool ends = false;
    const std::size_t keep = file_.rule->unit(unit, static_cast<std::size_t>(unitSize_), ends);
    if (ends) {
        file_.complete = true;
        file_.endsInUnit = unit_;
        file_.endsAfter = keep;
    }
    writeBytes(unit, keep);
    file_.writtenMB += unitSize_ / kMB;
    if (file_.capMB > 0 && file_.writtenMB >= file_.capMB) file_.complete = true;
    if (fixedDisk_ && file_.capMB == 0 && file_.writtenMB < 20 && !file_.complete) {
        // Runs of one repeated piece (blank or filler sectors) do not belong to a file.
        const std::uint8_t* piece = file_.repeatAt ? file_.repeatAt : file_.repeatPiece.data();
        const bool repeats = std::memcmp(unit, unit + 512, 512) == 0 && std::memcmp(unit, piece, 512) == 0;
        if (repeats) {
            file_.repeatMB += unitSize_ / kMB;
            if (file_.repeatMB >= 10) file_.complete = true;
        } else {
            file_.repeatMB = 0;
            file_.repeatAt = unit;  // copied once the block is done
        }
    }
}

void Scanner::closeAsWritten(bool keepDeferred) {
    flushPending();
    if (!file_.inWriter) return;
    if (file_.deferring) {
        if (keepDeferred) {
            if (counter_ >= 0) ctx_.found[counter_].size = file_.writtenBytes;
            return;
        }
        file_.deferring = false;  // written now, then closed below
        for (const auto& [offset, size] : file_.deferred) appendFromMedium(offset, size);
        file_.deferred.clear();
    }
    writer_.close();
    file_.inWriter = false;
    if (counter_ >= 0) ctx_.found[counter_].size = file_.writtenBytes;
}

void Scanner::dropFile(const fs::path& path) {
    file_.deferring = false;
    file_.deferred.clear();
    if (file_.inWriter) closeAsWritten();
    writer_.remove(path);
    ctx_.found.resize(counter_);
    --counter_;
}

void Scanner::dropCopy(const fs::path& path) {
    ++ctx_.duplicatesDropped;
    if (!file_.deferring) return dropFile(path);
    // Nothing of it was handed to the writer: the empty file it made goes now.
    file_.deferring = false;
    file_.deferred.clear();
    closeAsWritten();
    writer_.remove(path);
    ctx_.found.resize(counter_);
    --counter_;
}

void Scanner::nameAsCamera(const std::string& ownName) {
    // The camera's own name, made unique in the cache folder.
    writer_.wait();
    const fs::path path = ctx_.cacheFolder / file_.name;
    std::string candidate = ownName;
    std::error_code ec;
    for (int guard = 0; guard < 100000 && fs::exists(ctx_.cacheFolder / candidate, ec); ++guard) {
        const auto dash = candidate.find('-');
        long n = dash == std::string::npos ? 0 : std::strtol(candidate.substr(0, dash).c_str(), nullptr, 10);
        if (n != 0) candidate = std::to_string(n + 1) + candidate.substr(dash);
        else candidate = "1-" + candidate;
    }
    fs::rename(path, ctx_.cacheFolder / candidate, ec);
    if (!ec) {
        file_.name = candidate;
        madeNames_.insert(candidate);
    }
}

void Scanner::keepWithinReserve(std::uint64_t size) {
    // The cache disk must keep its reserve.
    const double fileMB = static_cast<double>(size) / kMB;
    if (recoveredMB_ + fileMB <= budgetMB_) {
        if ((counter_ + 1) % 1000 == 0)
            budgetMB_ = std::min(budgetMB_, platform::FreeMegabytes(ctx_.cacheFolder.string()) - kSpaceReserveMB);
    } else if (platform::FreeMegabytes(ctx_.cacheFolder.string()) < kSpaceReserveMB) {
        outOfSpace_ = true;
    }
    recoveredMB_ += fileMB;
}

void Scanner::finishFile() {
    if (!file_.open) return;
    file_.open = false;
    closeAsWritten(true);
    const fs::path path = ctx_.cacheFolder / file_.name;
    if (file_.writtenMB < ctx_.options.minMB) return dropFile(path);
    FoundFile& found = ctx_.found[counter_];
    std::uint64_t size = file_.writtenBytes;
    const formats::EndVerdict verdict = file_.rule->closed({path, size, found.listedSize, ctx_.options.minMB * kMB,
                                                   [this] {
                                                       releaseDeferred();
                                                       writer_.wait();
                                                   },
                                                   true});
    if (!verdict.keep) return dropFile(path);
    // A listed file is as long as the listing says; otherwise its own structure decides.
    const std::uint64_t end = found.listedSize > 0 ? found.listedSize : verdict.end;
    const bool cut = end > 0 && end < size;
    if (cut) size = end;
    found.printed = file_.printing && file_.print.size() == size;
    if (found.printed) {
        found.print = file_.print.value();
        found.beginning = file_.beginning.value();
    }
    if (ctx_.options.keepEachContentOnce && found.printed &&
        !ctx_.keptContents.add({size, found.print, found.beginning}))
        return dropCopy(path);
    releaseDeferred();
    if (cut) writer_.truncate(path, end);
    const formats::FileFacts& facts = file_.rule->facts();
    if (!facts.model.empty()) {
        auto raw = file_.description.find(" Raw");
        if (raw != std::string::npos) file_.description.replace(raw, 4, " " + facts.model);
    }
    if (!facts.ownName.empty() && facts.ownName != file_.name) nameAsCamera(facts.ownName);
    found.name = file_.name;
    found.size = size;
    found.damaged = verdict.damaged;
    found.faultAt = verdict.faultAt;
    found.marks = verdict.marks;
    found.parts = verdict.parts;
    found.partsMissing = verdict.missing;
    found.exifRead = file_.haveExif && !(file_.exif.rawDate.empty() && file_.camera.empty());
    found.exifDate = file_.exif.rawDate;
    found.camera = file_.camera;
    found.description = file_.description;
    if (counter_ < 32760) ctx_.List3.push_back(FoundEntryText(counter_, file_.description));
    keepWithinReserve(size);
    std::int64_t when = 0;
    if (file_.haveExif && viewing::ExifDateToTime(file_.exif.rawDate, when))
        writer_.setTime(ctx_.cacheFolder / file_.name, when);
    if (verdict.later)
        writer_.then([this, n = counter_, written = ctx_.cacheFolder / file_.name, check = verdict.later] {
            later_.add(n, written, check);
        });
    writer_.finished(counter_);
}

void Scanner::applyLaterChecks(long firstFailed) {
    for (LaterChecks::Result& r : later_.take()) {
        if (r.file < 0 || r.file > counter_ || (firstFailed >= 0 && r.file >= firstFailed)) continue;
        FoundFile& found = ctx_.found[static_cast<std::size_t>(r.file)];
        if (ctx_.cacheFolder / found.name != r.path) continue;
        const formats::EndVerdict& v = r.verdict;
        found.damaged = v.damaged;
        found.faultAt = v.faultAt;
        found.marks = v.marks;
        found.parts = v.parts;
        found.partsMissing = v.missing;
        std::error_code ec;
        if (v.end > 0 && v.end < found.size && (fs::resize_file(r.path, v.end, ec), !ec)) {
            found.size = v.end;
            found.printed = false;
        }
    }
}

void Scanner::reopenLastFile() {
    // A resumed scan continues the file that was still open at the stop.
    if (ctx_.found.empty()) return;
    counter_ = static_cast<long>(ctx_.found.size()) - 1;
    const FoundFile& last = ctx_.found[counter_];
    const fs::path path = ctx_.cacheFolder / last.name;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return;
    std::vector<std::uint8_t> head(kWindow, 0);
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, kWindow, f));
        head.resize(kWindow, 0);
        std::fclose(f);
    }
    file_ = OpenFile{};
    file_.open = true;
    file_.name = last.name;
    file_.ext = last.extension;
    file_.format = formats::FormatOf(file_.ext);
    file_.description = last.description;
    file_.writtenBytes = size;
    file_.writtenMB = static_cast<double>(size) / kMB;
    file_.capMB = ctx_.options.maxMB;
    file_.rule = formats::EndRuleFor(file_.ext, head.data(), geo_.bytesPerSector);
    file_.rule->resumedMidFile();
    file_.haveExif = viewing::ReadExif("BUF", head.data(), head.size(), file_.exif) || !file_.exif.rawDate.empty();
    file_.capMB = pictureCapMB(file_.exif, file_.ext, file_.capMB);
    writer_.reopen(counter_, path);
    file_.inWriter = true;
}


}  // namespace hx::scan::detail
