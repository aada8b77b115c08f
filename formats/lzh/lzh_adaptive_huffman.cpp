// lh1 and lh2: adaptive Huffman coding. The character tree (and lh2's
// position tree) changes after every symbol: the symbol's leaf and its
// ancestors gain one in frequency, and nodes move so that node numbers keep
// falling frequency order. lh1 codes positions with the fixed table A; lh2
// grows its position tree by one 64-byte group as the member grows.
#include "formats/lzh/lzh_decoder_state.h"

namespace lzh {

namespace {

constexpr int kCharRoot = 0;
constexpr unsigned kLh2Escape = 285;
constexpr int kPosGroups = 128;
constexpr std::uint32_t kGroupBytes = 64;
constexpr std::uint16_t kRebuildAt = 0x8000;
// The position root's frequency is not kept; this value keeps its first
// child from ever joining its block.
constexpr std::uint16_t kRootMark = 0xFFFF;

bool validNode(int node) { return node >= 0 && node < kTreeNodes; }

std::int16_t takeBlock(DecoderState& s) {
    AdaptiveTrees& t = s.trees;
    if (t.freeTop >= kTreeNodes) {
        s.corrupt = true;
        return 0;
    }
    return t.freeBlocks[t.freeTop++];
}

void returnBlock(DecoderState& s, std::int16_t block) {
    AdaptiveTrees& t = s.trees;
    if (t.freeTop <= 0) {
        s.corrupt = true;
        return;
    }
    t.freeBlocks[--t.freeTop] = block;
}

// Points the moved link x, now held by node, back at node.
void relink(AdaptiveTrees& t, int node) {
    const int x = t.child[node];
    if (x > 0) {
        t.parent[x] = t.parent[x - 1] = static_cast<std::int16_t>(node);
    } else {
        t.leafOf[~x] = static_cast<std::int16_t>(node);
    }
}

// p leaves the front of its block b and gains one.
void splitFromBlock(DecoderState& s, int p, int b) {
    AdaptiveTrees& t = s.trees;
    ++t.leader[b];
    ++t.freq[p];
    if (t.freq[p] == t.freq[p - 1]) {
        t.block[p] = t.block[p - 1];
    } else {
        t.block[p] = takeBlock(s);
        t.leader[t.block[p]] = static_cast<std::int16_t>(p);
    }
}

// Adds one to node p, first swapping it with the leader of its block so that
// frequencies keep falling with the node number; returns the node to
// continue with.
int increment(DecoderState& s, int p) {
    AdaptiveTrees& t = s.trees;
    const int b = t.block[p];
    const int q = t.leader[b];
    if (q != p) {
        const std::int16_t moved = t.child[p];
        t.child[p] = t.child[q];
        t.child[q] = moved;
        relink(t, p);
        relink(t, q);
        splitFromBlock(s, q, b);
        p = q;
    } else if (t.block[p + 1] == b) {
        splitFromBlock(s, p, b);
    } else {
        ++t.freq[p];
        if (t.freq[p] == t.freq[p - 1]) {
            returnBlock(s, static_cast<std::int16_t>(b));
            t.block[p] = t.block[p - 1];
        }
    }
    return t.parent[p];
}

void countUp(DecoderState& s, int leaf, int root) {
    // A consistent tree reaches the root in fewer steps than it has nodes.
    for (int steps = 0; leaf != root; ++steps) {
        if (steps > kTreeNodes || !validNode(leaf) || leaf <= root) {
            s.corrupt = true;
            return;
        }
        leaf = increment(s, leaf);
    }
}

// Rebuilds nodes first .. end-1 from their leaves with halved frequencies.
void rebuild(DecoderState& s, int first, int end) {
    AdaptiveTrees& t = s.trees;
    int j = first;
    for (int i = first; i < end; ++i) {
        if (t.leader[t.block[i]] == i) returnBlock(s, t.block[i]);
        if (t.child[i] <= 0) {
            t.freq[j] = static_cast<std::uint16_t>((t.freq[i] + 1u) / 2u);
            t.child[j] = t.child[i];
            ++j;
        }
    }
    --j;
    int i = end - 1;
    int l = end - 2;
    while (i >= first) {
        while (i >= l && j >= first) {
            t.freq[i] = t.freq[j];
            t.child[i] = t.child[j];
            --i;
            --j;
        }
        if (i < first) break;
        if (l < first) {
            s.corrupt = true;
            return;
        }
        const unsigned f = static_cast<unsigned>(t.freq[l]) + t.freq[l + 1];
        int k = first;
        while (k <= j && t.freq[k] > f) ++k;
        while (j >= k) {
            t.freq[i] = t.freq[j];
            t.child[i] = t.child[j];
            --i;
            --j;
        }
        t.freq[i] = static_cast<std::uint16_t>(f);
        t.child[i] = static_cast<std::int16_t>(l + 1);
        --i;
        l -= 2;
    }
    for (i = first; i < end; ++i) {
        relink(t, i);
        if (i > first && t.freq[i] == t.freq[i - 1]) {
            t.block[i] = t.block[i - 1];
        } else {
            t.block[i] = takeBlock(s);
            t.leader[t.block[i]] = static_cast<std::int16_t>(i);
        }
    }
}

// Follows the stream's bits from root to a leaf; returns the leaf's symbol.
int walk(DecoderState& s, int root) {
    AdaptiveTrees& t = s.trees;
    int c = t.child[root];
    unsigned window = s.bits.peek16();
    int used = 0;
    for (int steps = 0; c > 0; ++steps) {
        if (c >= kTreeNodes || steps > kTreeNodes) {
            s.corrupt = true;
            return 0;
        }
        c = ((window >> (15 - used)) & 1u) ? t.child[c - 1] : t.child[c];
        if (++used == 16) {
            s.bits.skip(16);
            window = s.bits.peek16();
            used = 0;
        }
    }
    s.bits.skip(used);
    return ~c;
}

void startCharTree(DecoderState& s, int charSymbols) {
    AdaptiveTrees& t = s.trees;
    t.charSymbols = charSymbols;
    for (int i = 0; i <= kTreeNodes; ++i) {
        t.freeBlocks[i] = static_cast<std::int16_t>(i);
        t.block[i] = 0;
    }
    for (int i = 0; i < charSymbols; ++i) {
        const int j = 2 * charSymbols - 2 - i;
        t.freq[j] = 1;
        t.child[j] = static_cast<std::int16_t>(~i);
        t.block[j] = 1;
        t.leafOf[i] = static_cast<std::int16_t>(j);
    }
    t.freeTop = 2;
    t.leader[1] = static_cast<std::int16_t>(charSymbols - 1);
    int i = 2 * charSymbols - 2;
    for (int j = charSymbols - 2; j >= 0; --j, i -= 2) {
        t.freq[j] = static_cast<std::uint16_t>(t.freq[i] + t.freq[i - 1]);
        t.child[j] = static_cast<std::int16_t>(i);
        t.parent[i] = t.parent[i - 1] = static_cast<std::int16_t>(j);
        if (t.freq[j] == t.freq[j + 1]) {
            t.block[j] = t.block[j + 1];
        } else {
            t.block[j] = takeBlock(s);
        }
        t.leader[t.block[j]] = static_cast<std::int16_t>(j);
    }
}

void countPosition(DecoderState& s, int group) {
    AdaptiveTrees& t = s.trees;
    if (t.positionCount == kRebuildAt) {
        rebuild(s, kPosRoot, t.newest + 1);
        t.positionCount = t.freq[kPosRoot];
        t.freq[kPosRoot] = kRootMark;
    }
    // While the root is the tree's only leaf nothing is counted: its
    // frequency stays 1, and the first split hands on that 1, not the number
    // of matches so far. Archives of the real archivers depend on it.
    countUp(s, t.leafOf[kPosSymbolBase + group], kPosRoot);
    ++t.positionCount;
}

// Splits the newest leaf in two: its old symbol and the new group.
void addGroup(DecoderState& s, int group) {
    AdaptiveTrees& t = s.trees;
    const int newest = t.newest;
    const int r = newest + 1;
    const int q = r + 1;
    if (q >= kTreeNodes || t.child[newest] > 0) {
        s.corrupt = true;
        return;
    }
    t.child[r] = t.child[newest];
    t.leafOf[~t.child[r]] = static_cast<std::int16_t>(r);
    t.child[q] = static_cast<std::int16_t>(~(group + kPosSymbolBase));
    t.child[newest] = static_cast<std::int16_t>(q);
    t.freq[r] = t.freq[newest];
    t.freq[q] = 0;
    t.block[r] = t.block[newest];
    if (newest == kPosRoot) {
        t.freq[kPosRoot] = kRootMark;
        ++t.leader[t.block[kPosRoot]];
    }
    t.parent[r] = t.parent[q] = static_cast<std::int16_t>(newest);
    t.block[q] = takeBlock(s);
    t.leader[t.block[q]] = static_cast<std::int16_t>(q);
    t.leafOf[kPosSymbolBase + group] = static_cast<std::int16_t>(q);
    t.newest = q;
    countPosition(s, group);
}

void setFixedTableA(DecoderState& s) {
    static const std::uint8_t kTableA[] = {1, 4, 12, 24, 48};
    setFixedLengths(s.posCode.length, 64, 3, kTableA, sizeof kTableA);
    buildCanonicalTable(s.posCode, 64, kPosTableBits, s.posCode.lookup);
}

}  // namespace

void startLh1(DecoderState& s) {
    startCharTree(s, 314);
    setFixedTableA(s);
}

void startLh2(DecoderState& s) {
    startCharTree(s, 286);
    AdaptiveTrees& t = s.trees;
    t.freq[kPosRoot] = 1;
    t.child[kPosRoot] = static_cast<std::int16_t>(~kPosSymbolBase);
    t.leafOf[kPosSymbolBase] = kPosRoot;
    t.block[kPosRoot] = takeBlock(s);
    t.leader[t.block[kPosRoot]] = kPosRoot;
    t.newest = kPosRoot;
    t.positionCount = 0;
    t.nextGroupAt = kGroupBytes;
}

unsigned adaptiveDecodeChar(DecoderState& s) {
    AdaptiveTrees& t = s.trees;
    const int symbol = walk(s, kCharRoot);
    if (s.corrupt || symbol < 0 || symbol >= t.charSymbols) {
        s.corrupt = true;
        return 0;
    }
    if (t.freq[kCharRoot] == kRebuildAt) rebuild(s, kCharRoot, 2 * t.charSymbols - 1);
    ++t.freq[kCharRoot];
    countUp(s, t.leafOf[symbol], kCharRoot);
    unsigned c = static_cast<unsigned>(symbol);
    if (t.charSymbols == 286 && c == kLh2Escape) c += s.bits.get(8);
    return c;
}

unsigned lh1DecodePosition(DecoderState& s) {
    const unsigned group = decodePosCode(s, 64);
    return group * kGroupBytes + s.bits.get(6);
}

unsigned lh2DecodePosition(DecoderState& s) {
    AdaptiveTrees& t = s.trees;
    while (s.produced > t.nextGroupAt && !s.corrupt) {
        addGroup(s, static_cast<int>(t.nextGroupAt / kGroupBytes));
        t.nextGroupAt += kGroupBytes;
        // The last group, 127, covers the ring's last 64 bytes.
        if (t.nextGroupAt >= kPosGroups * kGroupBytes) t.nextGroupAt = UINT64_MAX;
    }
    const int symbol = walk(s, kPosRoot) - kPosSymbolBase;
    if (s.corrupt || symbol < 0 || symbol >= kPosGroups) {
        s.corrupt = true;
        return 0;
    }
    countPosition(s, symbol);
    return static_cast<unsigned>(symbol) * kGroupBytes + s.bits.get(6);
}

}  // namespace lzh
