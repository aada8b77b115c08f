#include "formats/stream/bzip2_parallel.h"

#include <bzlib.h>
#include <sys/types.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr std::uint64_t kBlockSignature = 0x314159265359ULL;
constexpr std::uint64_t kEndSignature = 0x177245385090ULL;
constexpr std::uint64_t kSignatureMask = (1ULL << 48) - 1;
constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kWorkerOutputLimit = 4 << 20;
constexpr std::size_t kScratchSize = 64 * 1024;

bool startsStream(const unsigned char* data, std::size_t size) {
    return size >= 4 && data[0] == 'B' && data[1] == 'Z' && data[2] == 'h' && data[3] >= '1' && data[3] <= '9';
}

// The most bits one valid block can take at a level: every symbol at the
// longest code length (20 bits), with room for the largest selector list
// and code tables. Past it no block can still be going on.
std::uint64_t longestBlockBits(int level) { return static_cast<std::uint64_t>(level) * 2000000 + 400000; }

// A signature ending in byte j at shift k (0-7) holds bytes j-2 and j-1
// whole; this table holds the 16 pairs that can start a check.
struct SignatureFilter {
    bool pair[65536] = {};
    SignatureFilter() {
        for (std::uint64_t signature : {kBlockSignature, kEndSignature}) {
            for (int k = 0; k < 8; ++k) pair[((signature << k) >> 8) & 0xFFFF] = true;
        }
    }
};
const SignatureFilter kFilter;

// Appends bits to a byte vector, most significant bit first.
struct BitWriter {
    std::vector<unsigned char>& bytes;
    unsigned used = 8;  // bits filled in the last byte
    void put(std::uint64_t value, int count) {
        while (count-- > 0) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            if ((value >> count) & 1) bytes.back() |= static_cast<unsigned char>(0x80 >> used);
            ++used;
        }
    }
};

enum class EntryKind { Block, StreamEnd, Broken };

// One planned step of the decode, in file order. Blocks go to the workers:
// input is written before the hand-over and only read after it; output,
// verified and tooLarge belong to the worker until done is set under the
// shared mutex.
struct Entry {
    EntryKind kind = EntryKind::Broken;
    std::uint32_t storedCrc = 0;      // the block's CRC, or the stream's
    bool lastStream = false;          // StreamEnd: no stream follows
    std::uint64_t nextStreamByte = 0; // StreamEnd: where the next stream starts
    std::vector<unsigned char> input;
    std::vector<char> output;
    bool verified = false;
    bool tooLarge = false;
    bool done = false;
};

// Decodes one block made into a stream of its own. verified: libbz2 ended
// the stream exactly at the end of the input, so the block's CRC held and
// the block ended where the next signature began.
void decodeBlock(Entry& entry) {
    bz_stream bz;
    std::memset(&bz, 0, sizeof bz);
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return;
    bz.next_in = reinterpret_cast<char*>(entry.input.data());
    bz.avail_in = static_cast<unsigned>(entry.input.size());
    std::vector<char>& out = entry.output;
    out.resize(std::min<std::size_t>(entry.input.size() * 4 + 65536, kWorkerOutputLimit));
    std::size_t produced = 0;
    for (;;) {
        bz.next_out = out.data() + produced;
        bz.avail_out = static_cast<unsigned>(out.size() - produced);
        const int rc = BZ2_bzDecompress(&bz);
        produced = out.size() - bz.avail_out;
        if (rc == BZ_STREAM_END) {
            entry.verified = bz.avail_in == 0;
            break;
        }
        if (rc != BZ_OK || bz.avail_out > 0) break;  // damaged, or the input ran out
        if (out.size() < kWorkerOutputLimit) {
            out.resize(std::min(out.size() * 2, kWorkerOutputLimit));
        } else {
            // Too much to hold: keep checking the block, drop its bytes.
            entry.tooLarge = true;
            produced = 0;
        }
    }
    BZ2_bzDecompressEnd(&bz);
    if (entry.tooLarge) produced = 0;
    out.resize(produced);
    out.shrink_to_fit();
}

std::uint32_t rotateLeft(std::uint32_t value) { return (value << 1) | (value >> 31); }

}  // namespace

struct Bzip2ParallelDecoder::State {
    std::FILE* file;
    unsigned workers;

    // The input window: bytes [windowBase, windowBase + window.size()).
    std::vector<unsigned char> window;
    std::uint64_t windowBase = 0;
    bool inputEnded = false;
    bool readError = false;

    // Planning: the bit where the next entry starts, in a stream of level.
    std::uint64_t planBit = 0;
    int planLevel = 9;
    bool planDone = true;
    std::deque<std::shared_ptr<Entry>> entries;
    unsigned blocksPlanned = 0;

    // The stream being delivered.
    std::uint64_t streamStartByte = 0;
    std::uint32_t combinedCrc = 0;
    std::uint64_t deliveredInStream = 0;

    // What read() copies from next: a verified block's bytes, or libbz2
    // decoding in this thread (a large verified block, or the plain decode).
    std::shared_ptr<Entry> current;
    std::size_t currentPos = 0;
    enum class Decoding { None, LargeBlock, Plain } decoding = Decoding::None;
    bz_stream bz;
    std::uint64_t plainPos = 0;    // next input byte of the plain decode
    std::uint64_t skipLeft = 0;    // bytes of the plain decode already delivered
    std::vector<char> scratch;

    bool started = false;
    bool ended = false;
    bool failed = false;

    std::mutex mutex;
    std::condition_variable workWanted;
    std::condition_variable workDone;
    std::deque<std::shared_ptr<Entry>> queue;
    bool stopping = false;
    std::vector<std::thread> threads;

    State(std::FILE* input, unsigned workerCount) : file(input), workers(workerCount) {
        std::memset(&bz, 0, sizeof bz);
    }

    ~State() {
        endDecoding();
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
            queue.clear();
        }
        workWanted.notify_all();
        for (std::thread& thread : threads) thread.join();
    }

    void work() {
        for (;;) {
            std::shared_ptr<Entry> entry;
            {
                std::unique_lock<std::mutex> lock(mutex);
                workWanted.wait(lock, [this] { return stopping || !queue.empty(); });
                if (stopping) return;
                entry = queue.front();
                queue.pop_front();
            }
            decodeBlock(*entry);
            {
                std::lock_guard<std::mutex> lock(mutex);
                entry->done = true;
            }
            workDone.notify_all();
        }
    }

    // --- input ---------------------------------------------------------

    std::uint64_t windowEnd() const { return windowBase + window.size(); }

    // Reads until the window reaches byte end or the file ends.
    void ensure(std::uint64_t end) {
        while (windowEnd() < end && !inputEnded) {
            const std::size_t held = window.size();
            window.resize(held + kReadChunk);
            const std::size_t got = std::fread(window.data() + held, 1, kReadChunk, file);
            window.resize(held + got);
            if (got == 0) {
                inputEnded = true;
                if (std::ferror(file)) readError = true;
            }
        }
    }

    // Forgets the bytes before byte keep once enough have piled up.
    void dropBefore(std::uint64_t keep) {
        if (keep <= windowBase || keep - windowBase < kReadChunk) return;
        const std::size_t drop = static_cast<std::size_t>(std::min(keep, windowEnd()) - windowBase);
        window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(drop));
        windowBase += drop;
    }

    // count (at most 57) bits from bit position at; the caller has ensured them.
    std::uint64_t bitsAt(std::uint64_t at, int count) const {
        std::uint64_t value = 0;
        const std::uint64_t first = at / 8;
        const int lead = static_cast<int>(at % 8);
        const int bytes = (lead + count + 7) / 8;
        for (int i = 0; i < bytes; ++i) value = (value << 8) | window[static_cast<std::size_t>(first - windowBase) + i];
        return (value >> (bytes * 8 - lead - count)) & ((1ULL << count) - 1);
    }

    bool haveBits(std::uint64_t at, int count) {
        ensure((at + count + 7) / 8);
        return at + count <= windowEnd() * 8;
    }

    // The first block or end signature starting in [from, limit]; false when
    // the input ends or the limit passes first.
    bool findSignature(std::uint64_t from, std::uint64_t limit, std::uint64_t& found) {
        std::uint64_t j = (from + 47) / 8;  // the byte a signature at from ends in
        for (;;) {
            if (8 * (j + 1) - 55 > limit) return false;
            ensure(j + 1);
            if (j >= windowEnd()) return false;
            const std::uint64_t end = std::min(windowEnd(), (limit + 55) / 8 + 1);
            const unsigned char* bytes = window.data();
            for (; j < end; ++j) {
                const std::size_t i = static_cast<std::size_t>(j - windowBase);  // j - 2 is in the window
                if (!kFilter.pair[(bytes[i - 2] << 8) | bytes[i - 1]]) continue;
                std::uint64_t held = 0;
                for (std::uint64_t b = j - 6; b <= j; ++b) {
                    held = (held << 8) | (b >= windowBase ? bytes[b - windowBase] : 0);
                }
                for (int k = 7; k >= 0; --k) {
                    const std::uint64_t field = (held >> k) & kSignatureMask;
                    const std::uint64_t at = 8 * (j + 1) - 48 - static_cast<std::uint64_t>(k);
                    if ((field == kBlockSignature || field == kEndSignature) && at >= from && at <= limit) {
                        found = at;
                        return true;
                    }
                }
            }
        }
    }

    // --- planning ------------------------------------------------------

    void startStream(std::uint64_t byte) {
        streamStartByte = byte;
        combinedCrc = 0;
        deliveredInStream = 0;
    }

    // Plans the stream starting at byte, when one starts there.
    bool planStream(std::uint64_t byte) {
        ensure(byte + 4);
        if (byte < windowBase || !startsStream(window.data() + (byte - windowBase), windowEnd() - byte)) return false;
        planLevel = window[static_cast<std::size_t>(byte - windowBase) + 3] - '0';
        planBit = byte * 8 + 32;
        planDone = workers == 0;
        return true;
    }

    void addEntry(const std::shared_ptr<Entry>& entry) {
        entries.push_back(entry);
        if (entry->kind != EntryKind::Block) return;
        ++blocksPlanned;
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(entry);
        }
        workWanted.notify_one();
    }

    // The block at planBit, up to the next signature, as a stream of its own.
    void planBlock(std::uint64_t end) {
        std::shared_ptr<Entry> entry = std::make_shared<Entry>();
        entry->kind = EntryKind::Block;
        entry->storedCrc = static_cast<std::uint32_t>(bitsAt(planBit + 48, 32));
        std::vector<unsigned char>& in = entry->input;
        const std::uint64_t bits = end - planBit;
        in.reserve(static_cast<std::size_t>(bits / 8 + 16));
        in.insert(in.end(), {'B', 'Z', 'h', static_cast<unsigned char>('0' + planLevel)});
        const unsigned char* from = window.data() + (planBit / 8 - windowBase);
        const unsigned shift = planBit % 8;
        const std::size_t whole = static_cast<std::size_t>(bits / 8);
        if (shift == 0) {
            in.insert(in.end(), from, from + whole);
        } else {
            for (std::size_t i = 0; i < whole; ++i) {
                in.push_back(static_cast<unsigned char>((from[i] << shift) | (from[i + 1] >> (8 - shift))));
            }
        }
        BitWriter writer{in};
        const int rest = static_cast<int>(bits % 8);
        if (rest > 0) writer.put(bitsAt(planBit + whole * 8, rest), rest);
        writer.put(kEndSignature, 48);
        writer.put(entry->storedCrc, 32);
        planBit = end;
        addEntry(entry);
    }

    void planOne() {
        std::shared_ptr<Entry> entry = std::make_shared<Entry>();
        dropBefore(planBit / 8);
        if (haveBits(planBit, 80) && bitsAt(planBit, 48) == kBlockSignature) {
            std::uint64_t next = 0;
            if (findSignature(planBit + 48, planBit + longestBlockBits(planLevel), next)) {
                planBlock(next);
                return;
            }
        } else if (haveBits(planBit, 80) && bitsAt(planBit, 48) == kEndSignature) {
            entry->kind = EntryKind::StreamEnd;
            entry->storedCrc = static_cast<std::uint32_t>(bitsAt(planBit + 48, 32));
            entry->nextStreamByte = (planBit + 80 + 7) / 8;
            entry->lastStream = !planStream(entry->nextStreamByte);
            planDone = entry->lastStream;
            addEntry(entry);
            return;
        }
        // Not a block that can be told apart from the next one: the plain
        // decode will say what is wrong here.
        entry->kind = EntryKind::Broken;
        planDone = true;
        addEntry(entry);
    }

    void plan() {
        while (!planDone && blocksPlanned < 2 * workers && entries.size() < 8 * workers) planOne();
    }

    void dropPlan() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.clear();
        }
        entries.clear();
        blocksPlanned = 0;
        planDone = true;
    }

    // --- delivery ------------------------------------------------------

    void endDecoding() {
        if (decoding != Decoding::None) BZ2_bzDecompressEnd(&bz);
        decoding = Decoding::None;
    }

    bool beginDecoding(Decoding kind) {
        std::memset(&bz, 0, sizeof bz);
        if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return false;
        decoding = kind;
        return true;
    }

    // Back to the start of the current stream for the plain decode, which
    // skips what the blocks before the trouble already delivered.
    void startPlain() {
        dropPlan();
        current.reset();
        std::clearerr(file);
        if (fseeko(file, static_cast<off_t>(streamStartByte), SEEK_SET) != 0 || !beginDecoding(Decoding::Plain)) {
            failed = true;
            return;
        }
        window.clear();
        windowBase = streamStartByte;
        inputEnded = false;
        plainPos = streamStartByte;
        skipLeft = deliveredInStream;
    }

    // Takes the next entry in file order; false when nothing more comes.
    void advance() {
        plan();
        if (entries.empty()) {
            ended = true;
            return;
        }
        const std::shared_ptr<Entry> entry = entries.front();
        if (entry->kind == EntryKind::Broken) {
            startPlain();
            return;
        }
        if (entry->kind == EntryKind::StreamEnd) {
            entries.pop_front();
            if (entry->storedCrc != combinedCrc) {
                failed = true;
            } else if (entry->lastStream) {
                ended = true;
            } else {
                startStream(entry->nextStreamByte);
            }
            return;
        }
        {
            std::unique_lock<std::mutex> lock(mutex);
            workDone.wait(lock, [&entry] { return entry->done; });
        }
        if (!entry->verified) {
            startPlain();
            return;
        }
        entries.pop_front();
        --blocksPlanned;
        combinedCrc = rotateLeft(combinedCrc) ^ entry->storedCrc;
        current = entry;
        currentPos = 0;
        if (entry->tooLarge) {
            if (!beginDecoding(Decoding::LargeBlock)) {
                failed = true;
                return;
            }
            bz.next_in = reinterpret_cast<char*>(entry->input.data());
            bz.avail_in = static_cast<unsigned>(entry->input.size());
        }
        plan();
    }

    // One step of the large block's decode into out; the block was verified.
    std::size_t decodeLargeBlock(char* out, std::size_t room) {
        bz.next_out = out;
        bz.avail_out = static_cast<unsigned>(std::min<std::size_t>(room, UINT_MAX));
        const int rc = BZ2_bzDecompress(&bz);
        const std::size_t made = static_cast<unsigned>(std::min<std::size_t>(room, UINT_MAX)) - bz.avail_out;
        deliveredInStream += made;
        if (rc == BZ_STREAM_END) {
            endDecoding();
            current.reset();
        } else if (rc != BZ_OK || (made == 0 && bz.avail_in == 0)) {
            endDecoding();
            failed = true;
        }
        return made;
    }

    // One step of the plain decode into out (or the scratch area while
    // skipping), as the one-after-another decode does it.
    std::size_t decodePlain(char* out, std::size_t room) {
        if (bz.avail_in == 0 && !inputEnded) {
            dropBefore(plainPos);
            ensure(plainPos + 1);
        }
        if (bz.avail_in == 0) {
            bz.next_in = reinterpret_cast<char*>(window.data() + (plainPos - windowBase));
            bz.avail_in = static_cast<unsigned>(std::min<std::uint64_t>(windowEnd() - plainPos, UINT_MAX));
        }
        const bool skipping = skipLeft > 0;
        if (skipping) {
            scratch.resize(kScratchSize);
            out = scratch.data();
            room = static_cast<std::size_t>(std::min<std::uint64_t>(skipLeft, kScratchSize));
        }
        room = std::min<std::size_t>(room, UINT_MAX);
        bz.next_out = out;
        bz.avail_out = static_cast<unsigned>(room);
        const unsigned inputBefore = bz.avail_in;
        int rc = BZ2_bzDecompress(&bz);
        plainPos += inputBefore - bz.avail_in;
        std::size_t made = room - bz.avail_out;
        if (skipping) {
            skipLeft -= made;
            made = 0;
        }
        deliveredInStream += made;
        // The library returns only for want of input or of room; a call
        // that used neither would repeat forever. Room left but no input
        // left to give: cut short.
        if (rc == BZ_OK && room - bz.avail_out == 0 && bz.avail_in == inputBefore && bz.avail_in > 0) rc = BZ_DATA_ERROR;
        if (rc == BZ_OK && bz.avail_in == 0 && inputEnded && bz.avail_out > 0) rc = BZ_UNEXPECTED_EOF;
        if (rc == BZ_STREAM_END) {
            endDecoding();
            if (skipLeft > 0) {
                failed = true;  // cannot happen: the skipped bytes were decoded before
            } else if (planStream(plainPos)) {
                startStream(plainPos);
                if (workers == 0 && !beginDecoding(Decoding::Plain)) failed = true;
            } else {
                ended = true;
            }
        } else if (rc != BZ_OK) {
            endDecoding();
            failed = true;
        }
        return made;
    }
};

Bzip2ParallelDecoder::Bzip2ParallelDecoder(std::FILE* file, unsigned workers)
    : state_(new State(file, workers)) {
    State& s = *state_;
    if (fseeko(file, 0, SEEK_SET) != 0 || !s.planStream(0)) {
        s.ended = true;
        return;
    }
    s.started = true;
    s.startStream(0);
    if (workers == 0) {
        s.plainPos = 0;
        if (!s.beginDecoding(State::Decoding::Plain)) s.failed = true;
        return;
    }
    for (unsigned i = 0; i < workers; ++i) {
        try {
            s.threads.emplace_back([&s] { s.work(); });
        } catch (const std::system_error&) {
            break;  // fewer workers; none at all: the plain decode
        }
    }
    s.workers = static_cast<unsigned>(s.threads.size());
    if (s.workers == 0) {
        s.planDone = true;
        if (!s.beginDecoding(State::Decoding::Plain)) s.failed = true;
    }
}

Bzip2ParallelDecoder::~Bzip2ParallelDecoder() = default;

unsigned Bzip2ParallelDecoder::defaultWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

bool Bzip2ParallelDecoder::started() const { return state_->started; }

bool Bzip2ParallelDecoder::failed() const { return state_->failed; }

std::size_t Bzip2ParallelDecoder::read(void* buffer, std::size_t count) {
    State& s = *state_;
    char* out = static_cast<char*>(buffer);
    std::size_t produced = 0;
    while (produced < count && !s.failed && !s.ended) {
        std::size_t made = 0;
        if (s.decoding == State::Decoding::Plain) {
            made = s.decodePlain(out + produced, count - produced);
        } else if (s.decoding == State::Decoding::LargeBlock) {
            made = s.decodeLargeBlock(out + produced, count - produced);
        } else if (s.current) {
            const std::vector<char>& held = s.current->output;
            made = std::min(count - produced, held.size() - s.currentPos);
            std::memcpy(out + produced, held.data() + s.currentPos, made);
            s.currentPos += made;
            s.deliveredInStream += made;
            if (s.currentPos == held.size()) s.current.reset();
        } else {
            s.advance();
        }
        produced += made;
    }
    if (s.ended && s.readError) {
        s.ended = false;
        s.failed = true;
    }
    return produced;
}
