// The decoding loop every compressed method shares, and the table that gives
// each method its ring, its length offset and its decoding operations.
#include "formats/lzh/lzh_member_decoder.h"

#include <cstring>
#include <memory>
#include <new>

#include "formats/lzh/lzh_decoder_state.h"

namespace {

using lzh::DecoderState;

struct MethodEntry;
// Decodes a whole member through a ring of ringCapacity bytes.
using DecodingLoop = LzhDecodeResult (*)(const MethodEntry&, DecoderState&, std::uint8_t* ring,
                                         LzhSink&, std::uint32_t unpackedSize);

struct MethodEntry {
    LzhMethod method;
    // The window: a match reaches at most this far back.
    std::uint32_t ringSize;
    // The ring the loop works in; the block family's is larger than its
    // window (with kRingSlack bytes after it), the others' is the window.
    std::uint32_t ringCapacity;
    // A symbol c of 256 or more is a match of c - lengthOffset bytes.
    unsigned lengthOffset;
    int np;
    int pbit;
    DecodingLoop loop;
    void (*start)(DecoderState&, std::uint8_t* ring);
    unsigned (*decodeChar)(DecoderState&);
    unsigned (*decodePosition)(DecoderState&);
};

LzhDecodeResult ringLoop(const MethodEntry& entry, DecoderState& state, std::uint8_t* ring,
                         LzhSink& output, std::uint32_t unpackedSize);

LzhDecodeResult blockLoop(const MethodEntry& entry, DecoderState& state, std::uint8_t* ring,
                          LzhSink& output, std::uint32_t unpackedSize) {
    return lzh::runBlockMethod(state, ring, entry.ringCapacity, output, unpackedSize);
}

void noStart(DecoderState&, std::uint8_t*) {}
void startLh3(DecoderState& s, std::uint8_t*) { lzh::startLh3(s); }
void startLh1(DecoderState& s, std::uint8_t*) { lzh::startLh1(s); }
void startLh2(DecoderState& s, std::uint8_t*) { lzh::startLh2(s); }
void startLzs(DecoderState& s, std::uint8_t*) { lzh::startLzs(s); }

constexpr std::uint32_t kBlockRing = lzh::kBlockRingCapacity;
constexpr unsigned kBlockOffset = lzh::kMatchLengthOffset;

const MethodEntry kMethods[] = {
    {LzhMethod::Lzs, 2048, 2048, 254, 0, 0, ringLoop, startLzs, lzh::lzsDecodeChar,
     lzh::lzsDecodePosition},
    {LzhMethod::Lz5, 4096, 4096, 253, 0, 0, ringLoop, lzh::startLz5, lzh::lz5DecodeChar,
     lzh::lz5DecodePosition},
    {LzhMethod::Lh1, 4096, 4096, 253, 64, 0, ringLoop, startLh1, lzh::adaptiveDecodeChar,
     lzh::lh1DecodePosition},
    {LzhMethod::Lh2, 8192, 8192, 253, 0, 0, ringLoop, startLh2, lzh::adaptiveDecodeChar,
     lzh::lh2DecodePosition},
    {LzhMethod::Lh3, 8192, 8192, 253, 128, 0, ringLoop, startLh3, lzh::lh3DecodeChar,
     lzh::lh3DecodePosition},
    {LzhMethod::Lh4, 4096, kBlockRing, kBlockOffset, 14, 4, blockLoop, noStart, nullptr, nullptr},
    {LzhMethod::Lh5, 8192, kBlockRing, kBlockOffset, 14, 4, blockLoop, noStart, nullptr, nullptr},
    {LzhMethod::Lh6, 32768, kBlockRing, kBlockOffset, 16, 5, blockLoop, noStart, nullptr, nullptr},
    {LzhMethod::Lh7, 65536, kBlockRing, kBlockOffset, 17, 5, blockLoop, noStart, nullptr, nullptr},
    {LzhMethod::Arj, 26624, kBlockRing, kBlockOffset, 17, 5, blockLoop, noStart, nullptr, nullptr},
};
static_assert(lzh::kBlockRingCapacity >= 65536 + 256 + lzh::kRingSlack,
              "the block ring must exceed the largest window by a match and its overrun");

struct MethodId {
    char id[6];
    LzhMethod method;
};
const MethodId kMethodIds[] = {
    {"-lh0-", LzhMethod::Stored}, {"-lz4-", LzhMethod::Stored}, {"-lzs-", LzhMethod::Lzs},
    {"-lz5-", LzhMethod::Lz5},    {"-lh1-", LzhMethod::Lh1},    {"-lh2-", LzhMethod::Lh2},
    {"-lh3-", LzhMethod::Lh3},    {"-lh4-", LzhMethod::Lh4},    {"-lh5-", LzhMethod::Lh5},
    {"-lh6-", LzhMethod::Lh6},    {"-lh7-", LzhMethod::Lh7},
};

constexpr std::size_t kStoredChunk = 32768;

// The state and the ring outlive the member, so that an archive of many small
// members pays for them once: a fresh ring of the largest window filled with
// spaces cost more than decoding a typical small member.
constexpr std::uint32_t kWorkspaceRing = lzh::kBlockRingCapacity + lzh::kRingSlack;
struct Workspace {
    DecoderState state;
    std::uint8_t ring[kWorkspaceRing];
    // ring[dirtyEnd ..] still holds the spaces it was filled with.
    std::uint32_t dirtyEnd = 0;
};

// One per thread, made on first use; null when there is no memory for it.
Workspace* workspace() {
    thread_local std::unique_ptr<Workspace> kept;
    if (!kept) {
        kept.reset(new (std::nothrow) Workspace());
        if (kept) std::memset(kept->ring, ' ', kWorkspaceRing);
    }
    return kept.get();
}

LzhDecodeResult copyStored(std::FILE* input, std::uint32_t packedSize, LzhSink& output) {
    std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kStoredChunk]);
    if (!chunk) return LzhDecodeResult::OutOfMemory;
    // 0xFFFFFFFF: the member runs to the end of the input.
    const bool toEnd = packedSize == 0xFFFFFFFFu;
    std::uint32_t left = packedSize;
    while (toEnd || left > 0) {
        const std::size_t want = (!toEnd && left < kStoredChunk) ? left : kStoredChunk;
        const std::size_t got = std::fread(chunk.get(), 1, want, input);
        if (got > 0 && !output.write(chunk.get(), got)) return LzhDecodeResult::WriteFailed;
        if (!toEnd) left -= static_cast<std::uint32_t>(got);
        if (got < want) return toEnd ? LzhDecodeResult::Done : LzhDecodeResult::InputEnded;
    }
    return LzhDecodeResult::Done;
}

// Ring, state and the loop: literals go into the ring, matches copy from
// d + 1 bytes back, and the ring is written out each time it fills.
class RingDecoder {
public:
    RingDecoder(const MethodEntry& entry, DecoderState& state, std::uint8_t* ringBuffer, LzhSink& sink)
        : m(entry), s(state), ring(ringBuffer), output(sink) {}

    LzhDecodeResult run(std::uint32_t unpackedSize) {
        const std::uint32_t ringSize = m.ringSize;
        std::uint32_t pos = 0;
        std::uint64_t done = 0;
        LzhDecodeResult result = LzhDecodeResult::Done;
        while (done < unpackedSize) {
            s.ringPos = pos;
            const unsigned c = m.decodeChar(s);
            if (s.corrupt || s.bits.ranOut()) {
                result = s.corrupt ? LzhDecodeResult::CorruptData : LzhDecodeResult::InputEnded;
                break;
            }
            if (c < 256) {
                ring[pos++] = static_cast<std::uint8_t>(c);
                ++done;
                if (pos == ringSize) {
                    if (!output.write(ring, ringSize)) return LzhDecodeResult::WriteFailed;
                    pos = 0;
                }
                continue;
            }
            const std::uint32_t length = c - m.lengthOffset;
            s.produced = done;
            const std::uint32_t distance = m.decodePosition(s);
            if (s.corrupt || s.bits.ranOut()) {
                result = s.corrupt ? LzhDecodeResult::CorruptData : LzhDecodeResult::InputEnded;
                break;
            }
            if (distance >= ringSize) {
                result = LzhDecodeResult::CorruptData;
                break;
            }
            // The member never grows past its stated size, even when its
            // last match is longer than what is left.
            std::uint32_t left = length;
            if (unpackedSize - done < left) left = static_cast<std::uint32_t>(unpackedSize - done);
            done += left;
            std::uint32_t from = pos >= distance + 1 ? pos - distance - 1 : pos + ringSize - distance - 1;
            while (left > 0) {
                std::uint32_t run = left;
                if (ringSize - pos < run) run = ringSize - pos;
                if (ringSize - from < run) run = ringSize - from;
                if (distance + 1 >= run) {
                    std::memmove(ring + pos, ring + from, run);
                } else {
                    // Overlapping: each byte may be one this match just wrote.
                    for (std::uint32_t i = 0; i < run; ++i) ring[pos + i] = ring[from + i];
                }
                pos += run;
                from += run;
                left -= run;
                if (from == ringSize) from = 0;
                if (pos == ringSize) {
                    if (!output.write(ring, ringSize)) return LzhDecodeResult::WriteFailed;
                    pos = 0;
                }
            }
        }
        if (pos > 0 && !output.write(ring, pos)) return LzhDecodeResult::WriteFailed;
        return result;
    }

private:
    const MethodEntry& m;
    DecoderState& s;
    std::uint8_t* ring;
    LzhSink& output;
};

LzhDecodeResult ringLoop(const MethodEntry& entry, DecoderState& state, std::uint8_t* ring,
                         LzhSink& output, std::uint32_t unpackedSize) {
    return RingDecoder(entry, state, ring, output).run(unpackedSize);
}

}  // namespace

bool lzhMethodForId(const char* id, LzhMethod* method) {
    for (const MethodId& known : kMethodIds) {
        if (std::memcmp(known.id, id, 5) == 0) {
            *method = known.method;
            return true;
        }
    }
    return false;
}

LzhDecodeResult decodeLzhMember(LzhMethod method, std::FILE* input, std::uint32_t packedSize,
                                LzhSink& output, std::uint32_t unpackedSize) {
    if (method == LzhMethod::Stored) return copyStored(input, packedSize, output);
    const MethodEntry* entry = nullptr;
    for (const MethodEntry& known : kMethods) {
        if (known.method == method) entry = &known;
    }
    if (entry == nullptr) return LzhDecodeResult::CorruptData;
    if (unpackedSize == 0) return LzhDecodeResult::Done;

    Workspace* work = workspace();
    if (work == nullptr) return LzhDecodeResult::OutOfMemory;
    DecoderState& state = work->state;
    std::uint8_t* const ring = work->ring;
    const bool largerRing = entry->ringCapacity > entry->ringSize;
    if (largerRing) {
        // The window before the first byte is the ring's last ringSize bytes
        // (spaces); members write from the front, so a small member leaves
        // them as they were and the next needs no fill.
        const std::uint32_t windowStart = entry->ringCapacity - entry->ringSize;
        if (work->dirtyEnd > windowStart) {
            std::memset(ring + windowStart, ' ', work->dirtyEnd - windowStart);
            work->dirtyEnd = windowStart;
        }
    } else {
        std::memset(ring, ' ', entry->ringSize);
        if (work->dirtyEnd < entry->ringSize) work->dirtyEnd = entry->ringSize;
    }
    state.reset();
    state.ringSize = entry->ringSize;
    state.np = entry->np;
    state.pbit = entry->pbit;
    state.bits.start(input, packedSize);
    entry->start(state, ring);
    const LzhDecodeResult result = entry->loop(*entry, state, ring, output, unpackedSize);
    // The block loop writes the ring from its front, up to 7 bytes past the
    // last match; once it has gone round, all of it.
    if (result == LzhDecodeResult::WriteFailed) {
        work->dirtyEnd = kWorkspaceRing;
    } else if (largerRing) {
        const std::uint64_t reach = state.produced + 8;
        const std::uint32_t written = reach < kWorkspaceRing ? static_cast<std::uint32_t>(reach) : kWorkspaceRing;
        if (work->dirtyEnd < written) work->dirtyEnd = written;
    }
    return result;
}