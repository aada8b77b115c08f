// Sparse members: a file stored as the pieces that hold data, with a map of
// where each piece lies in the file and the file's real size; everything
// between the pieces is a hole that reads as zeros. The map travels in one of
// three places: in the old GNU header and its extension blocks, in pax
// records ("GNU.sparse.*", layouts 0.0 and 0.1), or as decimal lines at the
// head of the member's data (layout 1.0). Nothing here reads the archive;
// the reader hands in header blocks, records and map text, and one writer
// puts the stored pieces where the map says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class MemberOutput;

namespace tar {

struct SparseSegment {
    std::uint64_t offset;
    std::uint64_t length;
};

class SparseMap {
public:
    // More pieces than this is damage or abuse (real maps hold a few
    // thousand at most); it bounds the map's memory at 4 MiB.
    static constexpr std::size_t kMaxSegments = 1 << 18;

    // False when the map is full.
    bool add(std::uint64_t offset, std::uint64_t length);
    void setRealSize(std::uint64_t size);
    // True when the pieces are in order, do not overlap, end within the real
    // size (where one is given) and their lengths add up to dataSize, the
    // bytes stored in the archive.
    bool fits(std::uint64_t dataSize) const;
    // The real size, or where the last piece ends when none was given.
    std::uint64_t realSize() const;
    const std::vector<SparseSegment>& segments() const { return segments_; }
    std::size_t count() const { return segments_.size(); }

private:
    std::vector<SparseSegment> segments_;
    bool hasRealSize_ = false;
    std::uint64_t realSize_ = 0;
};

// The old GNU layout: the header holds four entries of offset and length
// (12 octal bytes each) and a flag saying that an extension block of 21 more
// entries follows; each extension block has such a flag of its own.
constexpr std::size_t kOldGnuHeaderEntries = 386, kOldGnuHeaderCount = 4;
constexpr std::size_t kOldGnuHeaderExtended = 482;
constexpr std::size_t kOldGnuRealSizeOffset = 483, kOldGnuRealSizeLength = 12;
constexpr std::size_t kOldGnuExtensionCount = 21, kOldGnuExtensionExtended = 504;

// Adds the entries of an entry area (count entries of 24 bytes) up to the
// first empty one. False when an entry is negative or the map is full.
bool addOldGnuEntries(const unsigned char* entries, std::size_t count, SparseMap& map);

// What the "GNU.sparse.*" pax records say about the entry that follows.
struct PaxSparse {
    static constexpr std::size_t kNameCapacity = 1024;
    bool present = false;
    bool broken = false;     // a malformed record: the member cannot be rebuilt
    bool mapInData = false;  // layout 1.0: the map heads the data
    bool hasName = false;
    bool nameTooLong = false;
    char name[kNameCapacity] = {};  // UTF-8, as the format stores it
    bool hasCount = false;
    std::uint64_t count = 0;
    bool offsetPending = false;
    std::uint64_t pendingOffset = 0;
    SparseMap map;

    // False when the map read from records disagrees with its stated count.
    bool complete() const;
};

// Takes one record whose key starts with "GNU.sparse."; key and value are
// the record's bytes without the prefix and the newline.
void takeSparseRecord(const char* key, std::size_t keyLength, const char* value, std::size_t valueLength,
                      PaxSparse& sparse);

// Reads the 1.0 map from the head of a member's data, a block at a time:
// the number of pieces, then each piece's offset and length, one decimal
// number per line, padded with zeros to a whole block.
class SparseMapText {
public:
    enum class State { NeedMore, Done, Broken };
    explicit SparseMapText(SparseMap& map) : map_(map) {}
    State feed(const unsigned char* data, std::size_t length);

private:
    bool takeNumber();

    SparseMap& map_;
    State state_ = State::NeedMore;
    bool inNumber_ = false;
    std::uint64_t number_ = 0;
    std::uint64_t expected_ = 0;  // numbers still to come once the count is known
    bool haveCount_ = false;
    bool haveOffset_ = false;
    std::uint64_t offset_ = 0;
};

// Writes a sparse member's stored bytes, given in archive order, where its
// (checked) map puts them. Holes are skipped, so the file system keeps them
// as holes where it can; finish() moves on to the real size, which the
// output's close then gives the file.
class SparseWriter {
public:
    SparseWriter(const SparseMap& map, MemberOutput& output) : map_(map), output_(output) {}
    bool write(const void* data, std::size_t count);
    bool finish();

private:
    const SparseMap& map_;
    MemberOutput& output_;
    std::size_t segment_ = 0;
    std::uint64_t segmentDone_ = 0;
    std::uint64_t position_ = 0;
};

}  // namespace tar
