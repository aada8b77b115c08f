#include "formats/tar/tar_sparse.h"

#include <cstring>
#include <limits>

#include "core/member_output.h"
#include "formats/tar/tar_header.h"

namespace tar {

namespace {

constexpr std::uint64_t kMaxValue = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kEntrySize = 24, kEntryFieldLength = 12;

bool keyIs(const char* key, std::size_t keyLength, const char* wanted) {
    return keyLength == std::strlen(wanted) && std::memcmp(key, wanted, keyLength) == 0;
}

}  // namespace

bool SparseMap::add(std::uint64_t offset, std::uint64_t length) {
    if (segments_.size() >= kMaxSegments) return false;
    segments_.push_back({offset, length});
    return true;
}

void SparseMap::setRealSize(std::uint64_t size) {
    hasRealSize_ = true;
    realSize_ = size;
}

bool SparseMap::fits(std::uint64_t dataSize) const {
    std::uint64_t end = 0;
    std::uint64_t stored = 0;
    for (const SparseSegment& s : segments_) {
        if (s.offset < end || s.length > kMaxValue - s.offset) return false;
        end = s.offset + s.length;
        stored += s.length;  // cannot wrap: the pieces do not overlap
    }
    return stored == dataSize && (!hasRealSize_ || end <= realSize_);
}

std::uint64_t SparseMap::realSize() const {
    if (hasRealSize_) return realSize_;
    return segments_.empty() ? 0 : segments_.back().offset + segments_.back().length;
}

bool addOldGnuEntries(const unsigned char* entries, std::size_t count, SparseMap& map) {
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* entry = entries + i * kEntrySize;
        if (entry[0] == 0) break;
        const std::int64_t offset = numericField(entry, kEntryFieldLength);
        const std::int64_t length = numericField(entry + kEntryFieldLength, kEntryFieldLength);
        if (offset < 0 || length < 0) return false;
        if (!map.add(static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(length))) return false;
    }
    return true;
}

bool PaxSparse::complete() const {
    return !offsetPending && (!hasCount || count == map.count());
}

void takeSparseRecord(const char* key, std::size_t keyLength, const char* value, std::size_t valueLength,
                      PaxSparse& sparse) {
    const char* end = value + valueLength;
    std::uint64_t number = 0;
    if (keyIs(key, keyLength, "name")) {
        sparse.hasName = true;
        // A value with a zero byte inside would name something else.
        sparse.nameTooLong =
            valueLength >= PaxSparse::kNameCapacity || std::memchr(value, '\0', valueLength) != nullptr;
        const std::size_t kept = sparse.nameTooLong ? 0 : valueLength;
        std::memcpy(sparse.name, value, kept);
        sparse.name[kept] = '\0';
        return;
    }
    if (keyIs(key, keyLength, "major") || keyIs(key, keyLength, "minor")) {
        sparse.present = true;
        if (!decimal(value, end, number)) {
            sparse.broken = true;
        } else if (keyIs(key, keyLength, "major")) {
            // Only layout 1 keeps its map in the data; another major
            // number is a layout we do not know.
            sparse.mapInData = number == 1;
            if (number != 1) sparse.broken = true;
        }
        return;
    }
    if (keyIs(key, keyLength, "map")) {
        // Layout 0.1: "offset,length,offset,length,..." in one record.
        sparse.present = true;
        const char* p = value;
        bool haveOffset = false;
        std::uint64_t offset = 0;
        while (valueLength > 0) {
            const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
            const char* stop = comma ? comma : end;
            if (!decimal(p, stop, number)) {
                sparse.broken = true;
                return;
            }
            if (haveOffset && !sparse.map.add(offset, number)) {
                sparse.broken = true;
                return;
            }
            offset = number;
            haveOffset = !haveOffset;
            if (comma == nullptr) break;
            p = comma + 1;
        }
        if (haveOffset) sparse.broken = true;
        return;
    }
    const bool isSize = keyIs(key, keyLength, "size") || keyIs(key, keyLength, "realsize");
    const bool isCount = keyIs(key, keyLength, "numblocks");
    const bool isOffset = keyIs(key, keyLength, "offset");
    const bool isLength = keyIs(key, keyLength, "numbytes");
    if (!isSize && !isCount && !isOffset && !isLength) return;
    sparse.present = true;
    if (!decimal(value, end, number)) {
        sparse.broken = true;
    } else if (isSize) {
        sparse.map.setRealSize(number);
    } else if (isCount) {
        sparse.hasCount = true;
        sparse.count = number;
    } else if (isOffset) {
        // Layout 0.0: each piece is an offset record, then a length record.
        if (sparse.offsetPending) sparse.broken = true;
        sparse.offsetPending = true;
        sparse.pendingOffset = number;
    } else {
        if (!sparse.offsetPending || !sparse.map.add(sparse.pendingOffset, number)) sparse.broken = true;
        sparse.offsetPending = false;
    }
}

bool SparseMapText::takeNumber() {
    if (!haveCount_) {
        if (number_ > SparseMap::kMaxSegments) return false;
        haveCount_ = true;
        expected_ = number_ * 2;
    } else if (!haveOffset_) {
        haveOffset_ = true;
        offset_ = number_;
        --expected_;
    } else {
        haveOffset_ = false;
        --expected_;
        if (!map_.add(offset_, number_)) return false;
    }
    if (expected_ == 0) state_ = State::Done;
    return true;
}

SparseMapText::State SparseMapText::feed(const unsigned char* data, std::size_t length) {
    for (std::size_t i = 0; i < length && state_ == State::NeedMore; ++i) {
        const unsigned char c = data[i];
        if (c >= '0' && c <= '9') {
            const unsigned digit = c - '0';
            if (number_ > (kMaxValue - digit) / 10) {
                state_ = State::Broken;
            } else {
                number_ = number_ * 10 + digit;
                inNumber_ = true;
            }
        } else if (c == '\n' && inNumber_) {
            if (!takeNumber()) state_ = State::Broken;
            number_ = 0;
            inNumber_ = false;
        } else {
            state_ = State::Broken;
        }
    }
    return state_;
}

bool SparseWriter::write(const void* data, std::size_t count) {
    const char* bytes = static_cast<const char*>(data);
    const std::vector<SparseSegment>& segments = map_.segments();
    while (count > 0) {
        while (segment_ < segments.size() && segmentDone_ == segments[segment_].length) {
            ++segment_;
            segmentDone_ = 0;
        }
        // The map was checked to cover the stored bytes exactly.
        if (segment_ == segments.size()) return false;
        const SparseSegment& s = segments[segment_];
        // In order and not overlapping: a piece never starts behind us.
        if (segmentDone_ == 0 && s.offset > position_) {
            if (!output_.skip(s.offset - position_)) return false;
            position_ = s.offset;
        }
        const std::uint64_t left = s.length - segmentDone_;
        const std::size_t now = left < count ? static_cast<std::size_t>(left) : count;
        if (!output_.write(bytes, now)) return false;
        bytes += now;
        count -= now;
        segmentDone_ += now;
        position_ += now;
    }
    return true;
}

bool SparseWriter::finish() {
    const std::uint64_t size = map_.realSize();
    return size <= position_ || output_.skip(size - position_);
}

}  // namespace tar
