#include "formats/PhotoTail.h"

#include <algorithm>
#include <string_view>

#include "formats/PictureCheck.h"

namespace hx::formats {

namespace {

// A Samsung trailer is looked for this far after its clip.
constexpr std::size_t kMaxTrailer = 64 * 1024;

}  // namespace

void PhotoTail::start(std::vector<PhotoPart> named, std::uint64_t pictureEnd) {
    parts_ = std::move(named);
    pictureEnd_ = pictureEnd;
    at_ = pictureEnd;
    held_.clear();
    state_ = parts_.empty() ? State::Probe : State::Named;
}

void PhotoTail::finish(std::uint64_t end) {
    end_ = end;
    state_ = State::Done;
    held_.clear();
    held_.shrink_to_fit();
}

std::vector<PhotoPart> PhotoTail::parts() const {
    std::vector<PhotoPart> parts = parts_;
    if (state_ == State::Clip) parts.push_back({PartKind::Clip, clipAt_, boxes_.length()});
    return parts;
}

std::size_t PhotoTail::feed(const std::uint8_t* data, std::size_t size, bool& ends) {
    const std::uint64_t from = at_;
    std::size_t i = 0;
    while (i < size && state_ != State::Done && state_ != State::Idle) {
        std::size_t used = 0;
        switch (state_) {
            case State::Named: {
                const std::uint64_t end = parts_.back().end();
                used = static_cast<std::size_t>(std::min<std::uint64_t>(end - at_, size - i));
                if (at_ + used >= end) finish(end);
                break;
            }
            case State::Probe: used = probe(data + i, size - i); break;
            case State::Clip: used = clip(data + i, size - i); break;
            case State::Trailer: used = trailer(data + i, size - i); break;
            default: break;
        }
        i += used;
        at_ += used;
    }
    if (state_ != State::Done) return size;
    ends = true;
    // Bytes fed before that lie past the end were kept already: the file is cut there once written.
    return end_ > from ? static_cast<std::size_t>(std::min<std::uint64_t>(end_ - from, size)) : 0;
}

std::size_t PhotoTail::probe(const std::uint8_t* data, std::size_t size) {
    const std::size_t take = std::min<std::size_t>(size, 256);
    held_.insert(held_.end(), data, data + take);
    bool decided = false;
    const std::size_t clip = SamsungClipStart(held_.data(), held_.size(), decided);
    if (!decided) return take;
    if (clip == std::string_view::npos) {
        finish(pictureEnd_);
        return take;
    }
    // The clip's boxes start inside what was held: their walk begins there.
    clipAt_ = pictureEnd_ + clip;
    state_ = State::Clip;
    const std::vector<std::uint8_t> held = std::move(held_);
    held_.clear();
    const std::uint64_t at = at_;
    at_ = clipAt_;
    this->clip(held.data() + clip, held.size() - clip);
    at_ = at;
    return take;
}

std::size_t PhotoTail::clip(const std::uint8_t* data, std::size_t size) {
    if (!boxes_.feed(data, size)) return size;
    const std::uint64_t clipEnd = clipAt_ + boxes_.length();
    // The walk read up to here: the bytes after the last box, which start none.
    const std::uint64_t readTo = clipEnd + boxes_.afterSize();
    const std::size_t used = readTo > at_ ? static_cast<std::size_t>(std::min<std::uint64_t>(readTo - at_, size)) : 0;
    if (boxes_.boxes() < 2) {  // no clip after all
        finish(pictureEnd_);
        return used;
    }
    parts_.push_back({PartKind::Clip, clipAt_, boxes_.length()});
    state_ = State::Trailer;
    trailerAt_ = clipEnd;
    held_.assign(boxes_.after(), boxes_.after() + boxes_.afterSize());
    return used;
}

std::size_t PhotoTail::trailer(const std::uint8_t* data, std::size_t size) {
    const std::size_t take = std::min(size, kMaxTrailer - std::min(kMaxTrailer, held_.size()));
    held_.insert(held_.end(), data, data + take);
    if (const std::size_t length = SamsungTrailerLength(held_.data(), held_.size()); length > 0) {
        parts_.push_back({PartKind::Trailer, trailerAt_, length});
        finish(trailerAt_ + length);
    } else if (held_.size() >= kMaxTrailer) {
        finish(trailerAt_);
    }
    return take;
}

PartsCheck ReadPhotoParts(const ReadAt& read, std::uint64_t size) {
    constexpr std::size_t kPiece = 64 * 1024;
    constexpr std::size_t kHead = 256 * 1024;
    JpegEndFinder finder;
    PhotoTail tail;
    std::vector<std::uint8_t> head, piece(kPiece);
    bool ends = false;
    for (std::uint64_t at = 0; at < size && !ends && !finder.failed();) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - at));
        if (!read(at, n, piece.data())) break;
        at += n;
        if (tail.started()) {
            tail.feed(piece.data(), n, ends);
            continue;
        }
        const std::size_t picture = finder.feed(piece.data(), n);
        if (head.size() < kHead) head.insert(head.end(), piece.begin(), piece.begin() + std::min(picture, kHead - head.size()));
        if (!finder.done()) continue;
        tail.start(PartsNamedInHeaders(head.data(), head.size(), finder.length()), finder.length());
        tail.feed(piece.data() + picture, n - picture, ends);
    }
    if (!finder.done()) return {};
    return CheckPhotoParts(read, size, finder.length(), tail.parts());
}

}  // namespace hx::formats
