#include "bench/tools/lzx_encoder.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <stdexcept>

namespace lzx_test {
namespace {

constexpr int kPositionSlots[] = {30, 32, 34, 36, 38, 42, 50};
constexpr std::uint32_t kMaxMatch = 257;

struct SlotTables {
    std::uint8_t extraBits[52];
    std::uint32_t base[51];
    SlotTables() {
        std::uint8_t step = 0;
        for (int i = 0; i < 52; i += 2) {
            extraBits[i] = extraBits[i + 1] = step;
            if (i != 0 && step < 17) ++step;
        }
        base[0] = 0;
        for (int i = 0; i < 50; ++i) base[i + 1] = base[i] + (1u << extraBits[i]);
    }
};
const SlotTables kSlots;

using BitWriter = LzxBitWriter;

// Code lengths of at most maxLength bits from symbol counts. Fewer than two
// used symbols get a partner so that the code is complete; no used symbol
// gives the empty tree.
std::vector<std::uint8_t> buildLengths(std::vector<std::uint32_t> counts, int maxLength) {
    const int n = static_cast<int>(counts.size());
    std::vector<std::uint8_t> lengths(n, 0);
    int used = 0;
    for (auto c : counts) used += c != 0;
    if (used == 0) return lengths;
    if (used == 1) {
        for (int s = 0; s < n; ++s) {
            if (counts[s] == 0) {
                counts[s] = 1;
                break;
            }
        }
    }
    for (;;) {
        struct Node {
            std::uint64_t weight;
            int index;
        };
        auto greater = [](const Node& a, const Node& b) {
            return a.weight != b.weight ? a.weight > b.weight : a.index > b.index;
        };
        std::priority_queue<Node, std::vector<Node>, decltype(greater)> queue(greater);
        std::vector<int> parent(2 * n, -1);
        for (int s = 0; s < n; ++s) {
            if (counts[s]) queue.push({counts[s], s});
        }
        int next = n;
        while (queue.size() > 1) {
            Node a = queue.top();
            queue.pop();
            Node b = queue.top();
            queue.pop();
            parent[a.index] = next;
            parent[b.index] = next;
            queue.push({a.weight + b.weight, next++});
        }
        int longest = 0;
        for (int s = 0; s < n; ++s) {
            if (!counts[s]) continue;
            int depth = 0;
            for (int p = parent[s]; p != -1; p = parent[p]) ++depth;
            lengths[s] = static_cast<std::uint8_t>(depth);
            longest = std::max(longest, depth);
        }
        if (longest <= maxLength) return lengths;
        for (auto& c : counts) {
            if (c) c = (c + 1) / 2;
        }
    }
}

std::vector<std::uint32_t> canonicalCodes(const std::vector<std::uint8_t>& lengths) {
    std::uint32_t count[17] = {};
    for (auto l : lengths) ++count[l];
    std::uint32_t next[17] = {};
    std::uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        code = (code + (len > 1 ? count[len - 1] : 0)) << 1;
        next[len] = code;
    }
    std::vector<std::uint32_t> codes(lengths.size(), 0);
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    }
    return codes;
}

struct Tree {
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint32_t> codes;
    void put(BitWriter& w, int symbol) const {
        if (lengths[symbol] == 0) throw std::logic_error("lzx encoder: symbol without a code");
        w.put(codes[symbol], lengths[symbol]);
    }
};

Tree makeTree(const std::vector<std::uint32_t>& counts, int maxLength) {
    Tree t;
    t.lengths = buildLengths(counts, maxLength);
    t.codes = canonicalCodes(t.lengths);
    return t;
}

// Sends lengths[first..last) as pretree-coded differences from previous[].
void writeLengths(BitWriter& w, const std::uint8_t* lengths, std::uint8_t* previous, int first, int last) {
    struct Item {
        int symbol;
        int extraBits;
        std::uint32_t extra;
        int second;  // the difference after a symbol 19, else -1
    };
    std::vector<Item> items;
    int i = first;
    while (i < last) {
        int run = 1;
        while (i + run < last && lengths[i + run] == lengths[i]) ++run;
        if (lengths[i] == 0 && run >= 20) {
            run = std::min(run, 51);
            items.push_back({18, 5, static_cast<std::uint32_t>(run - 20), -1});
        } else if (lengths[i] == 0 && run >= 4) {
            run = std::min(run, 19);
            items.push_back({17, 4, static_cast<std::uint32_t>(run - 4), -1});
        } else if (run >= 4) {
            run = std::min(run, 5);
            items.push_back({19, 1, static_cast<std::uint32_t>(run - 4), (previous[i] + 17 - lengths[i]) % 17});
        } else {
            run = 1;
            items.push_back({(previous[i] + 17 - lengths[i]) % 17, 0, 0, -1});
        }
        i += run;
    }
    std::vector<std::uint32_t> counts(20, 0);
    for (const auto& item : items) {
        ++counts[item.symbol];
        if (item.second >= 0) ++counts[item.second];
    }
    const Tree pretree = makeTree(counts, 15);
    for (int s = 0; s < 20; ++s) w.put(pretree.lengths[s], 4);
    for (const auto& item : items) {
        pretree.put(w, item.symbol);
        if (item.extraBits) w.put(item.extra, item.extraBits);
        if (item.second >= 0) pretree.put(w, item.second);
    }
    std::memcpy(previous + first, lengths + first, static_cast<std::size_t>(last - first));
}

struct Token {
    std::uint32_t length;  // 0: a literal
    std::uint32_t value;   // the literal, or the match's offset
    int slot;
};

int slotOf(std::uint32_t offset) {
    const std::uint32_t formatted = offset + 2;
    int slot = 3;
    while (slot < 50 && kSlots.base[slot + 1] <= formatted) ++slot;
    return slot;
}

class Encoder {
public:
    Encoder(const std::string& data, const EncodeOptions& options)
        : data_(data), options_(options), windowSize_(1u << options.windowBits),
          mainElements_(256 + 8 * kPositionSlots[options.windowBits - 15]), writer_(nullptr) {
        if (options.windowBits < 15 || options.windowBits > 21 || options.frameSize == 0) {
            throw std::invalid_argument("lzx encoder: bad options");
        }
        head_.assign(1u << 16, -1);
        chain_.assign(windowSize_, -1);
    }

    std::vector<Frame> run() {
        const std::uint32_t total = static_cast<std::uint32_t>(data_.size());
        frames_.push_back({std::string(), 0});
        writer_.setOutput(&frames_.back().data);
        if (options_.translationSize != 0) {
            writer_.put(1, 1);
            writer_.put(static_cast<std::uint32_t>(options_.translationSize) >> 16, 16);
            writer_.put(static_cast<std::uint32_t>(options_.translationSize) & 0xFFFF, 16);
        } else {
            writer_.put(0, 1);
        }
        std::vector<BlockPlan> plan = options_.blocks;
        if (plan.empty()) plan.push_back({BlockKind::Verbatim, 1u << 20});
        std::size_t planIndex = 0;
        std::uint32_t position = 0;
        while (position < total) {
            BlockPlan block = plan[planIndex++ % plan.size()];
            block.length = std::min(block.length, total - position);
            if (block.kind == BlockKind::Uncompressed) {
                uncompressedBlock(position, block.length);
            } else {
                compressedBlock(position, block.length, block.kind == BlockKind::Aligned);
            }
            position += block.length;
        }
        writer_.align(false);
        frames_.back().outputSize = position - frameStart_;
        if (frames_.back().outputSize == 0) frames_.pop_back();
        return frames_;
    }

private:
    // Before the byte at position: closes the frame that ends there.
    void frameBoundary(std::uint32_t position) {
        if (position == frameStart_ || position - frameStart_ < options_.frameSize) return;
        writer_.align(false);
        frames_.back().outputSize = position - frameStart_;
        frameStart_ = position;
        frames_.push_back({std::string(), 0});
        writer_.setOutput(&frames_.back().data);
    }

    void blockHeader(BlockKind kind, std::uint32_t length) {
        writer_.put(static_cast<std::uint32_t>(kind), 3);
        writer_.put(length >> 8, 16);
        writer_.put(length & 0xFF, 8);
    }

    void insertHash(std::uint32_t p) {
        if (p + 2 >= data_.size()) return;
        const std::uint32_t h = hashAt(p);
        chain_[p & (windowSize_ - 1)] = head_[h];
        head_[h] = static_cast<std::int64_t>(p);
    }
    std::uint32_t hashAt(std::uint32_t p) const {
        const auto* d = reinterpret_cast<const std::uint8_t*>(data_.data()) + p;
        return ((d[0] << 8) ^ (d[1] << 4) ^ d[2] ^ (d[0] >> 3) * 0x9E37u) & 0xFFFF;
    }
    std::uint32_t matchLength(std::uint32_t p, std::uint32_t offset, std::uint32_t limit) const {
        if (offset == 0 || offset > p) return 0;
        std::uint32_t n = 0;
        while (n < limit && data_[p + n] == data_[p - offset + n]) ++n;
        return n;
    }

    std::vector<Token> tokenize(std::uint32_t start, std::uint32_t length) {
        std::vector<Token> tokens;
        const std::uint32_t end = start + length;
        const std::uint32_t maxOffset = windowSize_ - 3;
        std::uint32_t p = start;
        while (p < end) {
            const std::uint32_t frameEnd = (p / options_.frameSize + 1) * options_.frameSize;
            const std::uint32_t limit = std::min({kMaxMatch, end - p, frameEnd - p});
            std::uint32_t bestLength = 0, bestOffset = 0;
            if (options_.useMatches && limit >= 2) {
                const std::uint32_t repeats[3] = {r_[0], r_[1], r_[2]};
                for (std::uint32_t offset : repeats) {
                    if (offset > maxOffset) continue;
                    const std::uint32_t n = matchLength(p, offset, limit);
                    if (n > bestLength) {
                        bestLength = n;
                        bestOffset = offset;
                    }
                }
                if (limit >= 3 && p + 2 < data_.size()) {
                    std::int64_t candidate = head_[hashAt(p)];
                    for (int depth = 0; candidate >= 0 && depth < options_.chainDepth; ++depth) {
                        const std::uint32_t offset = p - static_cast<std::uint32_t>(candidate);
                        if (offset > maxOffset) break;
                        const std::uint32_t n = matchLength(p, offset, limit);
                        if (n > bestLength + 1) {
                            bestLength = n;
                            bestOffset = offset;
                        }
                        const std::int64_t next = chain_[static_cast<std::uint32_t>(candidate) & (windowSize_ - 1)];
                        if (next >= candidate) break;
                        candidate = next;
                    }
                }
            }
            if (bestLength >= 3 || (bestLength == 2 && (bestOffset == r_[0] || bestOffset == r_[1] || bestOffset == r_[2]))) {
                tokens.push_back({bestLength, bestOffset, offsetSlot(bestOffset)});
                for (std::uint32_t i = 0; i < bestLength; ++i) insertHash(p + i);
                p += bestLength;
            } else {
                tokens.push_back({0, static_cast<std::uint8_t>(data_[p]), 0});
                insertHash(p);
                ++p;
            }
        }
        return tokens;
    }

    // The slot that codes offset, updating the repeated offsets as the
    // decoder will.
    int offsetSlot(std::uint32_t offset) {
        if (offset == r_[0]) return 0;
        if (offset == r_[1]) {
            std::swap(r_[0], r_[1]);
            return 1;
        }
        if (offset == r_[2]) {
            std::swap(r_[0], r_[2]);
            return 2;
        }
        r_[2] = r_[1];
        r_[1] = r_[0];
        r_[0] = offset;
        return slotOf(offset);
    }

    void compressedBlock(std::uint32_t start, std::uint32_t length, bool aligned) {
        const std::vector<Token> tokens = tokenize(start, length);
        std::vector<std::uint32_t> mainCounts(mainElements_, 0), lengthCounts(249, 0), alignedCounts(8, 1);
        for (const Token& t : tokens) {
            if (t.length == 0) {
                ++mainCounts[t.value];
                continue;
            }
            const std::uint32_t header = std::min<std::uint32_t>(t.length - 2, 7);
            ++mainCounts[256 + t.slot * 8 + header];
            if (header == 7) ++lengthCounts[t.length - 9];
            if (aligned && t.slot >= 3 && kSlots.extraBits[t.slot] >= 3) {
                ++alignedCounts[(t.value + 2 - kSlots.base[t.slot]) & 7];
            }
        }
        const Tree mainTree = makeTree(mainCounts, 16);
        const Tree lengthTree = makeTree(lengthCounts, 16);
        const Tree alignedTree = makeTree(alignedCounts, 7);

        frameBoundary(start);
        blockStart();
        blockHeader(aligned ? BlockKind::Aligned : BlockKind::Verbatim, length);
        if (aligned) {
            for (int s = 0; s < 8; ++s) writer_.put(alignedTree.lengths[s], 3);
        }
        std::vector<std::uint8_t> mainLengths(656, 0);
        std::copy(mainTree.lengths.begin(), mainTree.lengths.end(), mainLengths.begin());
        writeLengths(writer_, mainLengths.data(), previousMain_, 0, 256);
        writeLengths(writer_, mainLengths.data(), previousMain_, 256, mainElements_);
        std::vector<std::uint8_t> lengthLengths(250, 0);
        std::copy(lengthTree.lengths.begin(), lengthTree.lengths.end(), lengthLengths.begin());
        writeLengths(writer_, lengthLengths.data(), previousLength_, 0, 249);

        std::uint32_t p = start;
        for (const Token& t : tokens) {
            frameBoundary(p);
            if (t.length == 0) {
                mainTree.put(writer_, static_cast<int>(t.value));
                ++p;
                continue;
            }
            const std::uint32_t header = std::min<std::uint32_t>(t.length - 2, 7);
            mainTree.put(writer_, static_cast<int>(256 + t.slot * 8 + header));
            if (header == 7) lengthTree.put(writer_, static_cast<int>(t.length - 9));
            if (t.slot >= 3) {
                const int e = kSlots.extraBits[t.slot];
                const std::uint32_t extra = t.value + 2 - kSlots.base[t.slot];
                if (aligned && e >= 3) {
                    if (e > 3) writer_.put(extra >> 3, e - 3);
                    alignedTree.put(writer_, static_cast<int>(extra & 7));
                } else if (e > 0) {
                    writer_.put(extra, e);
                }
            }
            p += t.length;
        }
    }

    void uncompressedBlock(std::uint32_t start, std::uint32_t length) {
        frameBoundary(start);
        blockStart();
        blockHeader(BlockKind::Uncompressed, length);
        writer_.align(true);
        std::string& out = frames_.back().data;
        for (std::uint32_t r : r_) {
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(r >> (8 * i)));
        }
        for (std::uint32_t i = 0; i < length; ++i) {
            frameBoundary(start + i);
            frames_.back().data.push_back(data_[start + i]);
            insertHash(start + i);
        }
        lastUncompressedOdd_ = (length & 1u) != 0;
        lastWasUncompressed_ = true;
    }

    // An odd uncompressed block is followed by a padding byte, taken by the
    // decoder when it reads the next block's header: in the same frame if
    // the block ended inside it, else at the start of the next frame.
    void blockStart() {
        if (lastWasUncompressed_ && lastUncompressedOdd_) frames_.back().data.push_back('\0');
        lastWasUncompressed_ = false;
        lastUncompressedOdd_ = false;
    }

    const std::string& data_;
    const EncodeOptions& options_;
    const std::uint32_t windowSize_;
    const int mainElements_;
    BitWriter writer_;
    std::vector<Frame> frames_;
    std::uint32_t frameStart_ = 0;
    std::uint32_t r_[3] = {1, 1, 1};
    std::uint8_t previousMain_[656] = {};
    std::uint8_t previousLength_[250] = {};
    std::vector<std::int64_t> head_;
    std::vector<std::int64_t> chain_;
    bool lastWasUncompressed_ = false;
    bool lastUncompressedOdd_ = false;
};

}  // namespace

std::string translateCalls(const std::string& input, std::int32_t translationSize, std::uint32_t frameSize) {
    std::string out = input;
    if (translationSize == 0) return out;
    auto* bytes = reinterpret_cast<std::uint8_t*>(&out[0]);
    std::uint32_t frame = 0;
    for (std::size_t start = 0; start < out.size() && frame < 32768; start += frameSize, ++frame) {
        const std::size_t length = std::min<std::size_t>(frameSize, out.size() - start);
        if (length <= 6) continue;
        std::int32_t current = static_cast<std::int32_t>(start);
        for (std::size_t i = start; i + 10 < start + length;) {
            if (bytes[i++] != 0xE8) {
                ++current;
                continue;
            }
            std::int32_t relative;
            std::memcpy(&relative, bytes + i, 4);
            if (relative >= -current && relative < translationSize) {
                const std::int32_t absolute =
                    relative < translationSize - current ? relative + current : relative - translationSize;
                std::memcpy(bytes + i, &absolute, 4);
            }
            i += 4;
            current += 5;
        }
    }
    return out;
}

void LzxBitWriter::put(std::uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
        word_ = static_cast<std::uint16_t>(word_ << 1 | ((value >> i) & 1u));
        if (++used_ == 16) emit();
    }
}

void LzxBitWriter::align(bool force) {
    if (used_ == 0 && !force) return;
    put(0, 16 - used_);
}

void LzxBitWriter::emit() {
    out_->push_back(static_cast<char>(word_ & 0xFF));
    out_->push_back(static_cast<char>(word_ >> 8));
    word_ = 0;
    used_ = 0;
}

std::vector<Frame> encode(const std::string& input, const EncodeOptions& options) {
    const std::string translated =
        options.pretranslate ? translateCalls(input, options.translationSize, options.frameSize) : input;
    Encoder encoder(translated, options);
    return encoder.run();
}

}  // namespace lzx_test
