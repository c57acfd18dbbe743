#include "velkorant/dfpn.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <deque>
#include <new>
#ifdef __linux__
#include <sys/mman.h>
#endif
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <unordered_map>

#include "velkorant/checks.hpp"
#include "velkorant/legal.hpp"

namespace velkorant {
namespace {

// A proof number or disproof number of kInf means the question is settled; working numbers stay
// at most kMax however many children add up.
constexpr std::uint32_t kInf = 0x7fffffff;
constexpr std::uint32_t kMax = kInf - 1;
// The line a disproof depends on: kAnyLine when it holds whatever line led to the position, else
// the ply of the earliest position of the current line it relies on (-1: the depth limit).
constexpr int kAnyLine = INT_MAX;
// The plies of the line searched first.
constexpr int kFirstDepth = 31;

// The threshold a child is searched to, the runner-up's number being `second`: half as much
// again, so that two children of close numbers are not searched in turn one node at a time.
std::uint64_t above(std::uint32_t second) {
    return std::uint64_t{second} + second / 2 + 1;
}

std::uint32_t add(std::uint32_t a, std::uint32_t b) {
    if (a == kInf || b == kInf) return kInf;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{a} + b, kMax));
}

// Zobrist keys of the search's own: one per piece on a square, and for White to move. The hands
// are kept apart from the key (Hands), so that a position can be compared with another of the
// same placement whose hands differ.
struct Keys {
    std::uint64_t squares[kBits][2][kKinds];
    std::uint64_t white_to_move;
};

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
}

const Keys& keys() {
    static const std::unique_ptr<Keys> table = [] {
        auto k = std::make_unique<Keys>();
        std::uint64_t state = 0x6d617465;
        auto next = [&] { return mix(state += 0x9e3779b97f4a7c15); };
        for (auto& square : k->squares)
            for (auto& side : square)
                for (auto& key : side) key = next();
        k->white_to_move = next();
        return k;
    }();
    return *table;
}

// The pieces in hand of both sides, a byte a kind: Black's eight slots in of[0], White's in of[1].
struct Hands {
    std::uint64_t of[2] = {0, 0};

    std::uint8_t count(std::size_t slot) const { return static_cast<std::uint8_t>(of[slot / 8] >> (8 * (slot % 8))); }
    void change(std::size_t slot, int by) {
        of[slot / 8] += static_cast<std::uint64_t>(static_cast<std::int64_t>(by)) << (8 * (slot % 8));
    }
};

Hands hands_of(const Board& board) {
    Hands h;
    for (std::size_t slot = 0; slot < kHandSlots; ++slot)
        h.of[slot / 8] |= std::uint64_t{board.hand.counts[slot]} << (8 * (slot % 8));
    return h;
}

// The hands as one number for the table. When each kind's pieces, on the board and in both
// hands, fit its field, each side's counts are packed into 32 bits, a field a kind (king 2 bits,
// gold 3, rook 2, bishop 2, silver 3, knight 3, lance 3, pawn 5) with a spare bit above it, so that
// comparing two hands count by count is one subtraction a side; pieces are never made or lost, so
// a search from such a position stays within the fields. Otherwise (a position with more pieces
// of a kind than a set holds) the number is a hash that only tells hands apart.
class HandCode {
public:
    explicit HandCode(const Board& root) {
        std::array<unsigned, 8> total{};
        root.occupied.for_each_square([&](std::uint8_t s) { ++total[number(unpromoted(root.square_kinds[s])) - 1]; });
        for (std::size_t slot = 0; slot < kHandSlots; ++slot) total[slot % 8] += root.hand.counts[slot];
        for (std::size_t kind = 0; kind < 8; ++kind)
            if (total[kind] >= (1u << kWidth[kind])) packed_ = false;
    }

    bool packed() const { return packed_; }

    std::uint64_t of(const Hands& hands) const {
        if (!packed_) return mix(hands.of[0] ^ mix(hands.of[1] + 0x51ed27));
        std::uint64_t code = 0;
        for (std::size_t slot = 0; slot < kHandSlots; ++slot) code += std::uint64_t{hands.count(slot)} << shift(slot);
        return code;
    }

    // The number of `after`, which has one piece more (`by` 1) or less (-1) in hand slot `slot`
    // than the hands of `code`.
    std::uint64_t changed(std::uint64_t code, const Hands& after, std::size_t slot, int by) const {
        if (!packed_) return of(after);
        return by > 0 ? code + (std::uint64_t{1} << shift(slot)) : code - (std::uint64_t{1} << shift(slot));
    }

    // `a` is at least as good for the attacker (side `attacker`) as `b`: the attacker holds at
    // least as many of every kind, the defender at most as many. A mate with the hands of `b` is
    // a mate with those of `a` (the attacker need not use its extra pieces, the defender has no
    // reply it lacked), and a failure with the hands of `a` is one with those of `b`. Only packed
    // hands are compared; hashed ones are never taken as better.
    bool better_for_attacker(std::uint64_t a, std::uint64_t b, int attacker) const {
        if (!packed_) return false;
        const unsigned mine = 32 * static_cast<unsigned>(attacker), theirs = 32 - mine;
        return covers(static_cast<std::uint32_t>(a >> mine), static_cast<std::uint32_t>(b >> mine)) &&
               covers(static_cast<std::uint32_t>(b >> theirs), static_cast<std::uint32_t>(a >> theirs));
    }

private:
    static constexpr unsigned kShift[8] = {0, 3, 7, 10, 13, 17, 21, 25};
    static constexpr unsigned kWidth[8] = {2, 3, 2, 2, 3, 3, 3, 5};
    static constexpr std::uint32_t kSpare = [] {
        std::uint32_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= std::uint32_t{1} << (kShift[i] + kWidth[i]);
        return bits;
    }();
    static_assert(kShift[7] + kWidth[7] < 32);

    static unsigned shift(std::size_t slot) { return 32 * static_cast<unsigned>(slot / 8) + kShift[slot % 8]; }

    // Every count of `a` at least that of `b`: each field of `a` lifted by its spare bit, which a
    // count of `b` larger than `a`'s borrows.
    static bool covers(std::uint32_t a, std::uint32_t b) { return (((a | kSpare) - b) & kSpare) == kSpare; }

    bool packed_ = true;
};

// A position of the search: the key of its placement and side to move, both hands, and their
// number (HandCode).
struct Position {
    std::uint64_t key = 0;
    Hands hands;
    std::uint64_t code = 0;

    // One number for the whole position, hands included, for the line's repetitions. Never 0.
    std::uint64_t full() const {
        const std::uint64_t z = key ^ mix(code ^ 0xa4d1c3b5e17f2d63);
        return z ? z : 1;
    }
};

// The key of a position's placement and side to move. Never 0 (an empty slot).
std::uint64_t key_of(const Board& board, Color turn) {
    const Keys& k = keys();
    std::uint64_t key = turn == Color::White ? k.white_to_move : 0;
    board.occupied.for_each_square([&](std::uint8_t s) {
        key ^= k.squares[s][board.color_boards[0].test(s) ? 0 : 1][number(board.square_kinds[s])];
    });
    return key ? key : 1;
}

Position position_of(const Board& board, Color turn, const HandCode& code) {
    const Hands hands = hands_of(board);
    return Position{key_of(board, turn), hands, code.of(hands)};
}

// The position `move` leads to from `board` (position `at`, the side to move changing), found
// from the squares and the hand slot the move changes: what position_of gives for it.
Position position_after(const Board& board, const Position& at, Move move, Color turn, const HandCode& code) {
    const auto played = [&] {
        Board after = board;
        play_legal(after, move);
        return position_of(after, turn, code);
    };
    if (at.key == 1) return played();  // perhaps a 0 made 1: no changes to apply
    const Keys& k = keys();
    Position next = at;
    std::uint64_t key = at.key ^ k.white_to_move;
    const unsigned to = move.to();
    if (move.is_drop()) {
        const Piece piece = move.get_piece();
        const int side = byte_of(piece.owner);
        const std::size_t slot = 8 * static_cast<std::size_t>(side) + number(piece.piece_type) - 1;
        next.hands.change(slot, -1);
        next.code = code.changed(at.code, next.hands, slot, -1);
        key ^= k.squares[to][side][number(piece.piece_type)];
    } else {
        const unsigned from = move.from();
        const Kind kind = board.square_kinds[from];
        const int side = board.color_boards[0].test(from) ? 0 : 1;
        key ^= k.squares[from][side][number(kind)] ^ k.squares[to][side][number(move.is_promote() ? promoted(kind) : kind)];
        if (board.occupied.test(to)) {
            const Kind taken = board.square_kinds[to];
            const std::size_t slot = 8 * static_cast<std::size_t>(side) + number(unpromoted(taken)) - 1;
            if (at.hands.count(slot) == 255) return played();
            key ^= k.squares[to][side ^ 1][number(taken)];
            next.hands.change(slot, 1);
            next.code = code.changed(at.code, next.hands, slot, 1);
        }
    }
    next.key = key ? key : 1;
    return next;
}

// The attacker's moves at an OR node: its legal moves that give check, in legal_moves order.
void attacker_checks(const Board& board, Color side, MoveList& out) {
    out.clear();
    check_moves(board, side, out);
}

// What the table knows of a position: its numbers, the length of the mate when proved (moves
// until checkmate), and how many nodes it cost, which decides what gives way when a bucket is
// full. A disproof that relies on the line that led to the position carries a hash of that whole
// line (`line`, 0 for any line) and holds only when the position is reached by the same line
// again, as the search does each time it comes back to a position it left unfinished. Entries
// are found by the placement's key (`key`) and the hands; a settled entry of the same placement
// also answers for hands it settles (see better_for_attacker).
struct Entry {
    std::uint64_t hands = 0;  // their HandCode number
    std::uint64_t line = 0;
    std::uint32_t pn = 1, dn = 1;
    std::uint32_t work = 0;
    std::uint16_t length = 0;
};

// Memory that reads as zeros, owned. The system hands it out page by page as it is first
// written, so a short search does not pay for a whole table; on Linux, when `huge`, in pages of
// 2 MB where the system allows, which a long search fills with far fewer faults. Only the pages
// written count against the machine's memory: the rest is address space.
class ZeroedMemory {
public:
    ZeroedMemory() = default;
    explicit ZeroedMemory(std::size_t bytes, bool huge = true) {
#ifdef __linux__
        const std::size_t page = huge ? std::size_t{2} << 20 : std::size_t{4096};
        size_ = (bytes + page - 1) / page * page;
        void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        // A hint, refused or not: the pages stay small. The first 2 MB stay small anyway, so a
        // short search touching a few entries does not wait for a whole large page to be zeroed.
        if (huge && size_ > page) madvise(static_cast<char*>(p) + page, size_ - page, MADV_HUGEPAGE);
        data_ = p;
#else
        (void)huge;
        data_ = std::calloc(bytes, 1);
        if (!data_) throw std::bad_alloc();
#endif
    }
    ZeroedMemory(ZeroedMemory&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    ZeroedMemory& operator=(ZeroedMemory&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    ~ZeroedMemory() {
        if (!data_) return;
#ifdef __linux__
        munmap(data_, size_);
#else
        std::free(data_);
#endif
    }
    void* data() const { return data_; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

// The table is zeroed memory taken as buckets: every way empty (key 0).
static_assert(std::is_trivially_copyable_v<Entry> && std::is_trivially_destructible_v<Entry>);

// The table starts small and doubles whenever a position finds its bucket full, up to its size
// in memory; only then does an entry give way. A short search so touches little memory. The
// whole size is taken as address space at the start and the table grows in place, so it never
// holds more than its size, not even while it doubles.
class Table {
public:
    // `code` numbers the hands, `attacker` is the attacker's side.
    Table(std::size_t memory_mb, const HandCode& code, int attacker) : code_(code), attacker_(attacker) {
        const std::size_t bytes = std::max<std::size_t>(memory_mb, 1) << 20;
        while (most_ * 2 * sizeof(Bucket) <= bytes) most_ *= 2;
        memory_ = ZeroedMemory(most_ * sizeof(Bucket));
        buckets_ = static_cast<Bucket*>(memory_.data());
        mask_ = std::min(most_, kFirstBuckets) - 1;
    }

    // The entry of the position (placement key `key`, hands numbered `hands`), else one of the
    // same placement that settles it for any line: a mate with hands no better for the attacker,
    // or a failure with hands no worse.
    const Entry* find(std::uint64_t key, std::uint64_t hands) const {
        const Bucket& bucket = buckets_[key & mask_];
        const Entry* exact = nullptr;
        // The ways holding the position, found at once: most often none or one.
        unsigned matching = 0;
        for (std::size_t i = 0; i < kWays; ++i) matching |= static_cast<unsigned>(bucket.keys[i] == key) << i;
        for (; matching; matching &= matching - 1) {
            const Entry& e = bucket.entries[std::countr_zero(matching)];
            if (!e.line && ((e.pn == 0 && code_.better_for_attacker(hands, e.hands, attacker_)) ||
                            (e.dn == 0 && code_.better_for_attacker(e.hands, hands, attacker_))))
                return &e;
            if (e.hands == hands) exact = &e;
        }
        return exact;
    }

    // `length` is at most a line's plies, within 16 bits.
    void store(std::uint64_t key, std::uint64_t hands, std::uint32_t pn, std::uint32_t dn, std::uint32_t length,
               std::uint64_t work, std::uint64_t line = 0) {
        std::size_t way = open_way(key, hands);
        // Growing separates positions of different placements only: a bucket full of this one's
        // hands makes room among them.
        while (way == kWays && mask_ + 1 < most_ && !only_placement_in_bucket(key)) {
            grow();
            way = open_way(key, hands);
        }
        Bucket& bucket = buckets_[key & mask_];
        if (way == kWays) {
            // Full: the entry that cost least gives way; losing it only means searching it again.
            way = 0;
            for (std::size_t i = 1; i < kWays; ++i)
                if (bucket.entries[i].work < bucket.entries[way].work) way = i;
        }
        bucket.keys[way] = key;
        bucket.entries[way] = Entry{hands, line, pn, dn, static_cast<std::uint32_t>(std::min<std::uint64_t>(work, UINT32_MAX)),
                                    static_cast<std::uint16_t>(std::min<std::uint32_t>(length, UINT16_MAX))};
    }

private:
    static constexpr std::size_t kWays = 8;
    // A bucket's keys share one cache line, so that a look-up that finds nothing reads only it,
    // and each entry lies within a line of its own, which a look-up that finds it reads besides.
    struct Bucket {
        std::uint64_t keys[kWays];  // 0: an empty way
        Entry entries[kWays];
    };
    static_assert(std::is_trivially_copyable_v<Bucket> && sizeof(Entry) == 32 && sizeof(Bucket) % 64 == 0);
    static constexpr std::size_t kFirstBuckets = std::bit_floor((std::size_t{1} << 20) / sizeof(Bucket));  // 1 MB at most

    bool only_placement_in_bucket(std::uint64_t key) const {
        const Bucket& bucket = buckets_[key & mask_];
        for (std::size_t i = 0; i < kWays; ++i)
            if (bucket.keys[i] != key) return false;
        return true;
    }

    // The way of the position in its bucket, else an empty one; kWays when the bucket is full.
    std::size_t open_way(std::uint64_t key, std::uint64_t hands) const {
        const Bucket& bucket = buckets_[key & mask_];
        for (std::size_t i = 0; i < kWays; ++i)
            if ((bucket.keys[i] == key && bucket.entries[i].hands == hands) || bucket.keys[i] == 0) return i;
        return kWays;
    }

    // Twice the buckets, in place: bucket b splits into b and b + its old count (not yet
    // written, so empty), by the key's next bit, so every entry finds room.
    void grow() {
        const std::size_t old = mask_ + 1;
        for (std::size_t b = 0; b < old; ++b) {
            Bucket& low = buckets_[b];
            Bucket& high = buckets_[b + old];
            std::size_t kept = 0, moved = 0;
            for (std::size_t i = 0; i < kWays; ++i) {
                const std::uint64_t key = low.keys[i];
                if (!key) continue;
                const Entry e = low.entries[i];
                if (key & old) {
                    high.keys[moved] = key;
                    high.entries[moved++] = e;
                } else {
                    low.keys[kept] = key;
                    low.entries[kept++] = e;
                }
            }
            for (std::size_t i = kept; i < kWays; ++i) low.keys[i] = 0;
        }
        mask_ = 2 * old - 1;
    }

    const HandCode& code_;
    int attacker_;
    std::size_t most_ = 1;  // buckets at most
    ZeroedMemory memory_;
    Bucket* buckets_ = nullptr;
    std::size_t mask_ = 0;
};


struct Value {
    std::uint32_t pn = 1, dn = 1;
    std::uint32_t length = 0;
    int line = kAnyLine;  // for a disproof: the line it depends on
};

struct Child {
    Move move;
    Position pos;
    Value value;
    // The value holds on this line only (a repetition, or a disproof that relies on the line):
    // the table is not asked about it again.
    bool local = false;
};

struct Stop {};

class Solver {
public:
    Solver(const Board& board, Color attacker, const MateLimits& limits, Checkpoint& checkpoint)
        : start_(std::chrono::steady_clock::now()), attacker_(attacker), limits_(limits), checkpoint_(checkpoint),
          code_(board), table_(limits.memory_mb, code_, byte_of(attacker)), moves_(std::make_unique<MoveList>()) {
        board_at(0) = board;
    }

    MateResult run() {
        // Lines of at most kFirstDepth plies first: checks that chase the king round the board
        // without end cannot draw the search away from a short mate. Only when that search fails
        // for its limit alone is the whole depth searched.
        const int deepest = std::max(limits_.max_depth, 1);
        MateResult result = round(std::min(kFirstDepth, deepest));
        if (result.status == MateStatus::Unknown && limited_ && !stopped_ && kFirstDepth < deepest) result = round(deepest);
        if (limits_.shortest && result.status == MateStatus::Mate) {
            // The mate found is within its line's length; a shorter one is sought with the line
            // limited to 1, 3, 5... plies, the first proved being the shortest. A limit reached
            // before that leaves the length open: unknown.
            const int found = static_cast<int>(result.moves.size());
            for (int depth = 1; depth < found; depth += 2) {
                MateResult shorter = round(depth);
                if (shorter.status == MateStatus::Mate) {
                    result = std::move(shorter);
                    break;
                }
                if (stopped_ || shorter.status == MateStatus::NoMate || !limited_) {
                    result = MateResult{};  // NoMate here would contradict the proof: trust neither
                    break;
                }
            }
        }
        result.nodes = nodes_;
        result.seconds = elapsed();
        return result;
    }

private:
    // One search with the line limited to `depth` plies. limited_ tells whether a failure came
    // from that limit alone.
    MateResult round(int depth) {
        MateResult result;
        depth_ = depth;
        limited_ = false;
        on_line_.clear();
        line_classes_.fill(0);
        const Value v = mid(0, attacker_, position_of(boards_[0], attacker_, code_), kInf, kInf);
        if (v.pn == 0) {
            std::vector<Move> line;
            if (extract(line) && is_mating_line(boards_.front(), attacker_, line) &&
                line.size() <= static_cast<std::size_t>(depth)) {
                result.status = MateStatus::Mate;
                result.moves = std::move(line);
            }
        } else if (v.dn == 0 && !stopped_) {
            if (v.line >= 0)
                result.status = MateStatus::NoMate;
            else
                limited_ = true;
        }
        return result;
    }

    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

    // Counts a node; sets stopped_ when a limit is reached.
    void count() {
        ++nodes_;
        checkpoint_.tick();
        if (limits_.max_nodes && nodes_ >= limits_.max_nodes) stopped_ = true;
        if (limits_.time_limit > 0 && (nodes_ & 255) == 1 && elapsed() >= limits_.time_limit) stopped_ = true;
    }

    // The value of a child not searched on this line: the table's, else a first guess. After a
    // check the guess is harder to prove the more replies the defender has. (A check that mates
    // is found before the checks are listed, so none of the defender's positions met here is
    // mated.)
    Value look_up(const Position& pos, const Board& board, Move move, int ply, bool after_check) {
        if (const Entry* e = known(pos, ply)) return value_of(*e);
        if (!after_check) return Value{};
        // A node's children are listed again each time the search comes back to it, and most
        // of them never enter the table: their replies, once counted, are kept here.
        const std::uint64_t full = pos.full();
        Guess& guess = static_cast<Guess*>(guesses_.data())[full & (kGuesses - 1)];
        if (guess.full != full) {
            Board child = board;
            play_legal(child, move);
            guess = Guess{full, static_cast<std::uint32_t>(
                                    std::min<std::uint64_t>(count_legal_moves(child, opponent(attacker_)), kMax))};
        }
        return Value{guess.replies, 1, 0, kAnyLine};
    }

    // The multiple-iterative-deepening step of df-pn: searches the position boards_[ply], `side`
    // to move, until its proof number reaches th_pn or its disproof number th_dn.
    Value mid(int ply, Color side, const Position at, std::uint32_t th_pn, std::uint32_t th_dn) {
        count();
        if (ply >= depth_) return Value{kInf, 0, 0, -1};
        const std::uint64_t work_before = nodes_;
        Board& next = board_at(static_cast<std::size_t>(ply) + 1);  // made here the first time the line is this deep
        const std::uint64_t here = at.full();
        lines_[static_cast<std::size_t>(ply)] = line_through(ply, here);
        const bool or_node = side == attacker_;
        const Color other = opponent(side);
        const Board& board = boards_[static_cast<std::size_t>(ply)];
        if (or_node) {
            // A check that leaves no reply proves the node at once; without one, no reply to
            // any check needs looking for below.
            if (mate_or_checks(board, side, *moves_)) {
                table_.store(slot(at.key, ply), at.code, 0, kInf, 1, 1);
                return Value{0, kInf, 1, kAnyLine};
            }
        } else {
            legal_moves(board, side, *moves_);
        }
        if (moves_->size() == 0) {
            // No check: the attacker fails whatever the line. No reply to a check: mate.
            const Value v = or_node ? Value{kInf, 0, 0, kAnyLine} : Value{0, kInf, 0, kAnyLine};
            table_.store(slot(at.key, ply), at.code, v.pn, v.dn, 0, 1);
            return v;
        }
        // The children live on one stack shared by every ply: [base, base + count).
        const std::size_t base = pool_.size(), count = moves_->size();
        pool_.resize(base + count);
        const auto children = [&] { return std::span<Child>(pool_.data() + base, count); };
        for (std::size_t i = 0; i < count; ++i) {
            Child& c = children()[i];
            c.move = (*moves_)[i];
            c.pos = position_after(board, at, c.move, other, code_);
            const std::uint64_t full = c.pos.full();
            const auto seen = line_classes_[full & (kLineClasses - 1)] ? on_line_.find(full) : on_line_.end();
            if (seen != on_line_.end()) {
                c.value = Value{kInf, 0, 0, seen->second};
                c.local = true;
            } else {
                c.value = look_up(c.pos, board, c.move, ply, or_node);
                c.local = c.value.dn == 0 && c.value.line <= ply;
            }
        }

        on_line_.emplace(here, ply);
        ++line_classes_[here & (kLineClasses - 1)];
        std::uint32_t pn = 0, dn = 0;
        for (bool first = true;; first = false) {
            if (!first)
                for (Child& c : children())
                    if (!c.local && c.value.pn && c.value.dn)
                        if (const Entry* e = known(c.pos, ply)) {
                            c.value = value_of(*e);
                            c.local = c.value.dn == 0 && c.value.line <= ply;
                        }
            // The node's numbers, the child to search and the runner-up's number.
            std::size_t best = 0;
            std::uint32_t best_n = kInf + 1u, second = kInf;
            pn = or_node ? kInf : 0;
            dn = or_node ? 0 : kInf;
            for (std::size_t i = 0; i < count; ++i) {
                const Value& v = children()[i].value;
                const std::uint32_t n = or_node ? v.pn : v.dn;
                if (n < best_n) {
                    second = best_n > kInf ? kInf : best_n;
                    best_n = n;
                    best = i;
                } else if (n < second) {
                    second = n;
                }
                if (or_node) {
                    pn = std::min(pn, v.pn);
                    dn = add(dn, v.dn);
                } else {
                    pn = add(pn, v.pn);
                    dn = std::min(dn, v.dn);
                }
            }
            if (pn == 0 || dn == 0 || pn >= th_pn || dn >= th_dn || stopped_) break;
            const Child& c = children()[best];
            std::uint32_t c_pn, c_dn;
            if (or_node) {
                c_pn = std::min<std::uint64_t>(th_pn, above(second));
                c_dn = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{th_dn} - dn + c.value.dn, kInf));
            } else {
                c_dn = std::min<std::uint64_t>(th_dn, above(second));
                c_pn = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{th_pn} - pn + c.value.pn, kInf));
            }
            next = board;
            play_legal(next, c.move);
            const Value searched = mid(ply + 1, other, c.pos, c_pn, c_dn);  // the stack may move
            Child& done = children()[best];
            done.value = searched;
            done.local = searched.dn == 0 && searched.line <= ply;
        }
        on_line_.erase(here);
        --line_classes_[here & (kLineClasses - 1)];

        Value v{pn, dn, 0, kAnyLine};
        if (pn == 0) {
            // Proved: the attacker's quickest proved check, the defender's longest proved reply.
            std::uint32_t length = or_node ? kInf : 0;
            for (const Child& c : children())
                if (c.value.pn == 0)
                    length = or_node ? std::min(length, c.value.length) : std::max(length, c.value.length);
            v.length = length + 1;
        } else if (dn == 0) {
            // Disproved: an OR node relies on every child's disproof, an AND node on its best one.
            int line = or_node ? kAnyLine : -1;
            for (const Child& c : children())
                if (c.value.dn == 0) line = or_node ? std::min(line, c.value.line) : std::max(line, c.value.line);
            v.line = line >= ply ? kAnyLine : line;
        }
        pool_.resize(base);
        if (dn == 0 && pn != 0) {
            if (v.line != kAnyLine) {
                // Holds on this line only: kept for this line.
                table_.store(slot(at.key, ply), at.code, v.pn, v.dn, static_cast<std::uint32_t>(v.line + 1),
                             nodes_ - work_before + 1, line_through(ply - 1, 0));
                return v;
            }
        }
        table_.store(slot(at.key, ply), at.code, v.pn, v.dn, v.length, nodes_ - work_before + 1);
        return v;
    }

    // The mating line of a proved root: the attacker's shortest proved check, the defender's
    // longest proved reply, down to checkmate. A position whose proof the table has lost is
    // searched again.
    bool extract(std::vector<Move>& line) {
        Color side = attacker_;
        for (int ply = 0; ply <= depth_; ++ply) {
            const std::size_t at = static_cast<std::size_t>(ply);
            lines_[at] = line_through(ply, position_of(boards_[at], side, code_).full());
            bool found = false;
            Move chosen;
            for (int attempt = 0; attempt < 2 && !found; ++attempt) {
                if (attempt) {
                    if (mid(ply, side, position_of(boards_[at], side, code_), kInf, kInf).pn != 0) return false;
                }
                const Board& board = boards_[at];
                if (side == attacker_)
                    attacker_checks(board, side, *moves_);
                else
                    legal_moves(board, side, *moves_);
                if (side != attacker_ && moves_->size() == 0) return true;  // checkmate
                std::uint32_t best = 0;
                bool complete = true;
                for (std::size_t i = 0; i < moves_->size(); ++i) {
                    Board next = board;
                    play_legal(next, (*moves_)[i]);
                    const Position after = position_of(next, opponent(side), code_);
                    const Entry* e = table_.find(slot(after.key, ply + 1), after.code);
                    std::uint32_t length = 0;
                    bool proved = e && e->pn == 0 && std::int64_t{ply} + 1 + e->length <= depth_;
                    if (proved) length = e->length;
                    if (!proved && side == attacker_ && !has_legal_move(next, opponent(side))) proved = true;
                    if (!proved) {
                        complete = complete && side == attacker_;
                        continue;
                    }
                    if (!found || (side == attacker_ ? length < best : length > best)) {
                        best = length;
                        chosen = (*moves_)[i];
                        found = true;
                    }
                }
                if (!complete) found = false;
            }
            if (!found) return false;
            line.push_back(chosen);
            board_at(at + 1) = boards_[at];
            play_legal(boards_[at + 1], chosen);
            side = opponent(side);
        }
        return false;
    }

    // The position at `ply`, the line made that deep if it was not: positions are added, never
    // moved, so those of the plies above stay where they are.
    Board& board_at(std::size_t ply) {
        while (boards_.size() <= ply) boards_.emplace_back();
        if (lines_.size() < boards_.size()) lines_.resize(boards_.size());
        return boards_[ply];
    }

    // A hash of the line from the root through the position at `ply` (key `key`; the line above
    // the root for ply -1). Never 0.
    std::uint64_t line_through(int ply, std::uint64_t key) const {
        // The depth limit is part of the line: a disproof by the limit holds for that limit only.
        if (ply < 0) return 0x9e3779b97f4a7c15 ^ (static_cast<std::uint64_t>(depth_) << 32);
        if (key == 0) return lines_[static_cast<std::size_t>(ply)];
        const std::uint64_t above = ply ? lines_[static_cast<std::size_t>(ply) - 1] : line_through(-1, 0);
        std::uint64_t z = (above ^ key) * 0xbf58476d1ce4e5b9;
        z ^= z >> 31;
        return z ? z : 1;
    }

    // The table's key of the position `key` at `ply`: in a round with a shorter line than the
    // search's own, what is known of a position holds for the plies left, so they are part of it.
    std::uint64_t slot(std::uint64_t key, int ply) const {
        if (depth_ >= std::max(limits_.max_depth, 1)) return key;
        std::uint64_t z = (key ^ static_cast<std::uint64_t>(depth_ - ply)) * 0x94d049bb133111eb;
        z ^= z >> 29;
        return z ? z : 1;
    }

    // The table's entry of a child of the position at `ply`, unless it is a disproof that holds on
    // another line than this one, or a mate too long for the depth limit.
    const Entry* known(const Position& pos, int ply) const {
        const Entry* e = table_.find(slot(pos.key, ply + 1), pos.code);
        if (e && e->line && e->line != lines_[static_cast<std::size_t>(ply)]) return nullptr;
        if (e && e->pn == 0 && std::int64_t{ply} + 1 + e->length > depth_) return nullptr;
        return e;
    }

    // An entry's value; a disproof for this line only keeps the ply it relies on in `length`.
    static Value value_of(const Entry& e) {
        if (e.line) return Value{e.pn, e.dn, 0, static_cast<int>(e.length) - 1};
        return Value{e.pn, e.dn, e.length, kAnyLine};
    }

    std::chrono::steady_clock::time_point start_;  // the whole solve is timed, the table's set-up included
    Color attacker_;
    const MateLimits& limits_;
    Checkpoint& checkpoint_;
    HandCode code_;
    Table table_;
    std::unique_ptr<MoveList> moves_;
    std::vector<Child> pool_;                       // the children of every node of the current line
    std::deque<Board> boards_;                      // the position at each ply of the deepest line so far
    std::vector<std::uint64_t> lines_;              // line_through each ply of the current line
    std::unordered_map<std::uint64_t, int> on_line_;  // the positions of the current line, by ply
    // How many positions of the current line fall in each class of keys (the key's low bits): a
    // class without any tells at once that a key is not on the line.
    static constexpr std::size_t kLineClasses = 1024;
    std::array<std::uint32_t, kLineClasses> line_classes_{};
    // The defender's replies after a check, by position (its full number, never 0), as a first
    // guess of a child not in the table: a cache of 1 MB, a newer position taking an older's
    // place, in small pages that a short search touches few of.
    struct Guess {
        std::uint64_t full;
        std::uint32_t replies;
    };
    static_assert(std::is_trivially_copyable_v<Guess>);
    static constexpr std::size_t kGuesses = std::size_t{1} << 16;
    ZeroedMemory guesses_{kGuesses * sizeof(Guess), false};
    std::uint64_t nodes_ = 0;
    bool stopped_ = false;
    int depth_ = 0;  // the plies of the line searched this round
    bool limited_ = false;
};

}  // namespace

MateResult solve_mate(const Board& board, Color attacker, const MateLimits& limits, Checkpoint& checkpoint) {
    Solver solver(board, attacker, limits, checkpoint);
    return solver.run();
}

bool is_mating_line(const Board& board, Color attacker, const std::vector<Move>& moves) {
    if (moves.size() % 2 == 0) return false;
    Board b = board;
    Color side = attacker;
    for (const Move m : moves) {
        if (!is_legal(b, side, m)) return false;
        play_legal(b, m);
        if (side == attacker && !in_check(b, opponent(attacker))) return false;
        side = opponent(side);
    }
    return in_check(b, side) && !has_legal_move(b, side);
}

}  // namespace velkorant
