#include "velkorant/features.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <type_traits>

#include "velkorant/attacks.hpp"
#include "velkorant/cloned.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/parallel.hpp"

namespace velkorant {
namespace {

constexpr std::size_t kKindPlanes = 14;
constexpr std::size_t kPlanesPerSide = 2 * kKindPlanes + 3;  // kinds, their attacks, 1..3 attackers
constexpr std::size_t kHandPlanesPerSide = 28;
constexpr std::size_t kCheckPlane = 2 * kHandPlanesPerSide;
constexpr int kNoSquare = -1;

// The plane square of each board index seen from Black: USI file 10 - column, rank 10 - row.
constexpr std::array<int, kSquares> make_plane_squares() {
    std::array<int, kSquares> table{};
    for (unsigned i = 0; i < kSquares; ++i) {
        const unsigned row = i / 11, column = i % 11;
        table[i] = (row >= 1 && row <= 9 && column >= 1 && column <= 9)
                       ? static_cast<int>((9 - column) * 9 + (9 - row))
                       : kNoSquare;
    }
    return table;
}
constexpr std::array<int, kSquares> kPlaneSquare = make_plane_squares();

// The plane of each kind among the 14 kind planes: pawn, lance, knight, silver, bishop, rook,
// gold, king, then the promoted pawn, lance, knight, silver, the horse and the dragon.
constexpr std::array<std::uint8_t, kKinds> kKindPlane = {
    0, /*King*/ 7, /*Gold*/ 6, /*Rook*/ 5, /*Bichop*/ 4, /*Silver*/ 3, /*Knight*/ 2, /*Lance*/ 1, /*Pawn*/ 0,
    /*Dragon*/ 13, /*Horse*/ 12, /*ProSilver*/ 11, /*ProKnight*/ 10, /*ProLance*/ 9, /*ProPawn*/ 8,
};

// The hand planes of a side, in order: the kind, its first plane, the most planes it fills.
struct HandPlanes {
    Kind kind;
    std::uint8_t first;
    std::uint8_t most;
};
constexpr HandPlanes kHandPlanes[] = {
    {Kind::Pawn, 0, 8},     {Kind::Lance, 8, 4},    {Kind::Knight, 12, 4}, {Kind::Silver, 16, 4},
    {Kind::Gold, 20, 4},    {Kind::Bichop, 24, 2},  {Kind::Rook, 26, 2},
};

// The class of a drop of each kind (20 + its place among pawn, lance, knight, silver, bishop,
// rook, gold: not the order of the hand planes), -1 for the kinds that are never dropped.
constexpr std::array<int, kKinds> kDropClass = {-1, -1, 26, 25, 24, 23, 22, 21, 20, -1, -1, -1, -1, -1, -1};

enum MoveClass : int { Up, UpLeft, UpRight, Left, Right, Down, DownLeft, DownRight, Up2Left, Up2Right };
constexpr int kPromotingClasses = 10;

// The label of a board move that does not promote, by its squares as the mover sees them (a
// square as a plane indexes it, turned for White). Files count leftwards and ranks downwards
// from the mover's side: "up" is towards rank 1 as the mover sees the board.
struct BoardLabels {
    std::array<std::array<std::int16_t, kPlaneSquares>, kPlaneSquares> of{};
    constexpr BoardLabels() {
        for (int from = 0; from < 81; ++from) {
            for (int to = 0; to < 81; ++to) {
                const int dx = from / 9 - to / 9;  // > 0: the move goes to a lower file, rightwards
                const int dy = to % 9 - from % 9;  // < 0: the move goes up
                int cls;
                if (dy < 0 && dx == 0) cls = Up;
                else if (dy == -2 && dx == -1) cls = Up2Left;
                else if (dy == -2 && dx == 1) cls = Up2Right;
                else if (dy < 0 && dx < 0) cls = UpLeft;
                else if (dy < 0) cls = UpRight;
                else if (dy == 0 && dx < 0) cls = Left;
                else if (dy == 0) cls = Right;
                else if (dx == 0) cls = Down;
                else if (dx < 0) cls = DownLeft;
                else cls = DownRight;
                of[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)] = static_cast<std::int16_t>(cls * 81 + to);
            }
        }
    }
};
constexpr BoardLabels kBoardLabels{};

// Planes of bytes are written a column at a time from a set of squares. Index i of a set is
// bit 127 - i and square (column c, row r) index 11 r + c, so shifted right by 28 - c a column's
// rows 9..1 sit at bits 0, 11, ..., 88. A multiply gathers those nine bits into nine adjacent
// ones at bit 100 and up, without carries (every pair of a set bit and a term of the
// multiplier lands on a bit of its own): rows 9..1 for Black's view, 1..9 for White's.
constexpr u128 kColumnRows = [] {
    u128 m = 0;
    for (int k = 0; k < 9; ++k) m |= static_cast<u128>(1) << (11 * k);
    return m;
}();
constexpr u128 gatherer(bool white) {
    u128 m = 0;
    for (int k = 0; k < 9; ++k) m |= static_cast<u128>(1) << (white ? 108 - 12 * k : 100 - 10 * k);
    return m;
}
constexpr u128 kGather[2] = {gatherer(false), gatherer(true)};
// Byte i of kSpread[b] is bit i of b.
constexpr std::array<std::uint64_t, 256> kSpread = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned i = 0; i < 8; ++i) table[b] |= static_cast<std::uint64_t>(b >> i & 1) << (8 * i);
    return table;
}();

// Every byte of a plane, 1 on the squares of `set` and 0 elsewhere, from the mover's view.
void write_plane_bytes(u128 set, bool white, std::uint8_t* plane) {
    for (unsigned column = 1; column <= 9; ++column) {
        const u128 rows = (set >> (28 - column)) & kColumnRows;
        const auto bits = static_cast<unsigned>((rows * kGather[white]) >> 100) & 0x1ff;
        std::uint8_t* const out = plane + (white ? column - 1 : 9 - column) * 9;
        const std::uint64_t spread = kSpread[bits & 0xff];
        std::memcpy(out, &spread, 8);
        out[8] = static_cast<std::uint8_t>(bits >> 8);
    }
}

// The plane square of each board index as the side to move sees it: [0] for Black, [1] for
// White (the board turned); 0 off the playing area, where nothing is ever looked up.
constexpr auto kSeen = [] {
    std::array<std::array<std::uint8_t, kSquares>, 2> table{};
    for (unsigned i = 0; i < kSquares; ++i) {
        if (kPlaneSquare[i] == kNoSquare) continue;
        table[0][i] = static_cast<std::uint8_t>(kPlaneSquare[i]);
        table[1][i] = static_cast<std::uint8_t>(80 - kPlaneSquare[i]);
    }
    return table;
}();

// Calls f(i) for every member i of a set, in no particular order (lowest bit first: cheaper
// than for_each_index's ascending order).
template <class F>
inline void for_each_member(u128 set, F&& f) {
    for (auto word = static_cast<std::uint64_t>(set >> 64); word; word &= word - 1)
        f(63u - static_cast<unsigned>(std::countr_zero(word)));
    for (auto word = static_cast<std::uint64_t>(set); word; word &= word - 1)
        f(127u - static_cast<unsigned>(std::countr_zero(word)));
}

// What the 62 board planes of a position show, as sets of squares in the board's layout: for
// the side to move ([0]) and the other side ([1]), where each kind stands, the squares each kind
// attacks, and those with at least one, two and three attackers; and whether the side to move is
// in check.
struct BoardSets {
    u128 of[2][kPlanesPerSide];
    bool in_check;
};

// Calls f(std::integral_constant<Kind, k>) for each kind k, in order.
template <Kind... kinds, class F>
[[gnu::always_inline]] inline void for_kinds(F&& f) {
    (f(std::integral_constant<Kind, kinds>{}), ...);
}

// on_piece(seat, plane, square) is called for every piece of the playing area, `plane` its kind
// plane among the first kKindPlanes of its side's (seat 0: the side to move).
template <class OnPiece>
[[gnu::always_inline]] inline BoardSets board_sets(const Board& board, Color turn, OnPiece&& on_piece) {
    BoardSets sets;
    const int us = turn == Color::White ? 1 : 0;
    const u128 occupied = (board.color_boards[0] | board.color_boards[1]).to_u128();
    u128 attacked_by_them = 0;
    for (int side = 0; side < 2; ++side) {
        const std::size_t seat = side == us ? 0 : 1;
        u128* const planes = sets.of[seat];
        const u128 own = board.color_boards[side].to_u128() & kPlaying;
        for (int kind = 1; kind < kKinds; ++kind) {
            planes[kKindPlane[static_cast<std::size_t>(kind)]] = board.piece_boards[static_cast<std::size_t>(kind)].to_u128() & own;
            planes[kKindPlanes + kKindPlane[static_cast<std::size_t>(kind)]] = 0;
        }
        // The pawns' attacks at once: each attacks the square in front of it, a different one for
        // each (a step North, towards the higher indices and the lower bits, for Black).
        const u128 pawns = board.piece_boards[number(Kind::Pawn)].to_u128() & own;
        u128 one = (side == 0 ? pawns >> North : pawns << North) & kPlaying, two = 0, three = 0;
        planes[kKindPlanes + kKindPlane[number(Kind::Pawn)]] = one;
        for_each_member(pawns, [&](unsigned from) { on_piece(seat, kKindPlane[number(Kind::Pawn)], from); });
        // The other kinds one at a time, each loop knowing its kind's attacks (one loop over all
        // the squares, choosing them piece by piece, mispredicted that choice).
        const auto each_of = [&](auto kind_constant) {
            constexpr Kind kind = decltype(kind_constant)::value;
            const std::size_t plane = kKindPlane[number(kind)];
            const u128 pieces = board.piece_boards[number(kind)].to_u128() & own;
            if (!pieces) return;
            u128 all = 0;
            for_each_member(pieces, [&](unsigned from) {
                on_piece(seat, plane, from);
                const u128 targets = attacks(side, kind, from, occupied);
                all |= targets;
                three |= two & targets;
                two |= one & targets;
                one |= targets;
            });
            planes[kKindPlanes + plane] = all;
        };
        for_kinds<Kind::King, Kind::Gold, Kind::Silver, Kind::Knight, Kind::Lance, Kind::Bichop, Kind::Rook, Kind::ProPawn,
                  Kind::ProLance, Kind::ProKnight, Kind::ProSilver, Kind::Horse, Kind::Dragon>(each_of);
        planes[2 * kKindPlanes] = one;
        planes[2 * kKindPlanes + 1] = two;
        planes[2 * kKindPlanes + 2] = three;
        if (side != us) attacked_by_them = one;
    }
    // In check: a king of the side to move stands on a square the other side attacks.
    sets.in_check = sets.of[0][kKindPlane[number(Kind::King)]] & attacked_by_them;
    return sets;
}

// How many planes of a hand set are filled: as many as the pieces held, up to the most it has.
inline unsigned held_planes(const Board& board, Color side, const HandPlanes& h) {
    return std::min<unsigned>(board.hand.counts[Hand::raw_slot(side, h.kind)], h.most);
}

// The hand planes of the side to move then of the other, and the check plane: all 0 or all 1.
// Over planes of zeros (`zeroed`) only the ones are written.
template <bool zeroed, class T>
[[gnu::always_inline]] inline void write_hand_planes(const Board& board, Color turn, bool in_check, T* planes2) {
    const auto fill = [](T* plane, bool one) {
        if (!zeroed || one) std::fill_n(plane, kPlaneSquares, T(one));
    };
    for (int seat = 0; seat < 2; ++seat) {
        const Color side = seat == 0 ? turn : opponent(turn);
        T* const hand = planes2 + seat * kHandPlanesPerSide * kPlaneSquares;
        for (const HandPlanes& h : kHandPlanes) {
            const unsigned held = held_planes(board, side, h);
            for (unsigned k = 0; k < (zeroed ? held : h.most); ++k) fill(hand + (h.first + k) * kPlaneSquares, k < held);
        }
    }
    fill(planes2 + kCheckPlane * kPlaneSquares, in_check);
}

#if VELKORANT_WIDE_BYTES
// The plane square's bit of the set, for each plane square from the mover's view: [0] Black,
// [1] White (the board turned), 128 bytes each for two 64-byte lookups (the rest unused).
constexpr auto kPlaneBits = [] {
    std::array<std::array<std::uint8_t, 128>, 2> table{};
    for (unsigned i = 0; i < kSquares; ++i) {
        if (kPlaneSquare[i] == kNoSquare) continue;
        table[0][static_cast<std::size_t>(kPlaneSquare[i])] = static_cast<std::uint8_t>(127 - i);
        table[1][static_cast<std::size_t>(80 - kPlaneSquare[i])] = static_cast<std::uint8_t>(127 - i);
    }
    return table;
}();

// Each bit of the set becomes a byte (0 or 1), in the set's order; two byte permutes over those
// 128 bytes put them in the plane's order.
struct WidePlane {
    __m512i first, rest, ones;
    VELKORANT_WIDE_BYTES_TARGET void operator()(u128 set, std::uint8_t* plane) const {
        const __m512i low = _mm512_maskz_mov_epi8(static_cast<std::uint64_t>(set), ones);
        const __m512i high = _mm512_maskz_mov_epi8(static_cast<std::uint64_t>(set >> 64), ones);
        _mm512_storeu_si512(plane, _mm512_permutex2var_epi8(low, first, high));
        _mm512_mask_storeu_epi8(plane + 64, (std::uint64_t{1} << (kPlaneSquares - 64)) - 1,
                                _mm512_permutex2var_epi8(low, rest, high));
    }
};

// Every byte of both plane sets, each board plane written whole.
VELKORANT_WIDE_BYTES_TARGET void write_bytes_wide(const Board& board, Color turn, std::uint8_t* planes) {
    const std::uint8_t* const order = kPlaneBits[turn == Color::White ? 1 : 0].data();
    const WidePlane write{_mm512_loadu_si512(order), _mm512_loadu_si512(order + 64), _mm512_set1_epi8(1)};
    const BoardSets sets = board_sets(board, turn, [](std::size_t, std::size_t, unsigned) {});
    for (std::size_t seat = 0; seat < 2; ++seat)
        for (std::size_t plane = 0; plane < kPlanesPerSide; ++plane)
            write(sets.of[seat][plane], planes + (seat * kPlanesPerSide + plane) * kPlaneSquares);
    write_hand_planes<false>(board, turn, sets.in_check, planes + kFeatures1Floats);
}
#endif

// Both plane sets as values of type T (1 where a plane is set, 0 elsewhere): over planes of
// zeros, the squares of the pieces marked as they are met, then those of the other sets.
template <class T>
void write_planes(const Board& board, Color turn, T* planes1, T* planes2) {
    std::fill_n(planes1, kFeatures1Floats, T(0));
    std::fill_n(planes2, kFeatures2Floats, T(0));
    const bool white = turn == Color::White;
    const std::uint8_t* const seen = kSeen[white ? 1 : 0].data();
    const BoardSets sets = board_sets(board, turn, [&](std::size_t seat, std::size_t plane, unsigned square) {
        planes1[(seat * kPlanesPerSide + plane) * kPlaneSquares + seen[square]] = T(1);
    });
    for (std::size_t seat = 0; seat < 2; ++seat)
        for (std::size_t plane = kKindPlanes; plane < kPlanesPerSide; ++plane) {
            const u128 set = sets.of[seat][plane];
            if (!set) continue;
            T* const out = planes1 + (seat * kPlanesPerSide + plane) * kPlaneSquares;
            if constexpr (std::is_same_v<T, std::uint8_t>) write_plane_bytes(set, white, out);
            else for_each_member(set, [&](unsigned square) { out[seen[square]] = T(1); });
        }
    write_hand_planes<true>(board, turn, sets.in_check, planes2);
}

}  // namespace

void write_features(const Board& board, Color turn, float* planes1, float* planes2) {
    write_planes(board, turn, planes1, planes2);
}

void write_features_bytes(const Board& board, Color turn, std::uint8_t* planes) {
#if VELKORANT_WIDE_BYTES
    if (wide_bytes()) return write_bytes_wide(board, turn, planes);
#endif
    write_features_bytes_portable(board, turn, planes);
}

void write_features_bytes_portable(const Board& board, Color turn, std::uint8_t* planes) {
    write_planes(board, turn, planes, planes + kFeatures1Floats);
}

int move_label(Move move, Color turn) {
    const bool white = turn == Color::White;
    const auto seen = [white](int square) { return white ? 80 - square : square; };
    const int to = move.to() < kSquares ? kPlaneSquare[move.to()] : kNoSquare;
    if (to == kNoSquare) throw ValueError("move " + move.to_string() + " has no label: its destination is off the board");
    if (move.is_drop()) {
        const Piece piece = move.get_piece();
        const int drop = kDropClass[number(piece.piece_type)];
        if (drop < 0 || move.is_promote())
            throw ValueError("move " + move.to_string() + " has no label: no such piece is dropped");
        return drop * static_cast<int>(kPlaneSquares) + seen(to);
    }
    const int from = move.from() < kSquares ? kPlaneSquare[move.from()] : kNoSquare;
    if (from == kNoSquare || from == to)
        throw ValueError("move " + move.to_string() + " has no label: it does not go from one square to another");
    return kBoardLabels.of[seen(from)][seen(to)] + (move.is_promote() ? kPromotingClasses * static_cast<int>(kPlaneSquares) : 0);
}

void legal_move_labels(const MoveList& moves, Color turn, std::uint16_t* out) {
    const bool white = turn == Color::White;
    const auto seen = [white](unsigned index) { return static_cast<std::size_t>(white ? 80 - kPlaneSquare[index] : kPlaneSquare[index]); };
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const Move move = moves[i];
        const std::size_t to = seen(move.to());
        int label;
        if (move.is_drop())
            label = kDropClass[number(move.get_piece().piece_type)] * static_cast<int>(kPlaneSquares) + static_cast<int>(to);
        else
            label = kBoardLabels.of[seen(move.from())][to] + (move.is_promote() ? kPromotingClasses * static_cast<int>(kPlaneSquares) : 0);
        out[i] = static_cast<std::uint16_t>(label);
    }
}

std::vector<std::int64_t> legal_labels(const Board& board, Color turn) {
    MoveList moves;
    legal_moves(board, turn, moves);
    std::vector<std::int64_t> labels(moves.size());
    for (std::size_t i = 0; i < moves.size(); ++i) labels[i] = move_label(moves[i], turn);
    return labels;
}

void write_features_batch(std::span<const Position> positions, float* planes1, float* planes2, unsigned threads,
                          Checkpoint& checkpoint) {
    parallel_for(positions.size(), threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            write_features(positions[i].board, positions[i].turn, planes1 + i * kFeatures1Floats,
                           planes2 + i * kFeatures2Floats);
    });
}

void move_labels_batch(std::span<const Position> positions, std::span<const Move> moves, std::int64_t* out,
                       unsigned threads, Checkpoint& checkpoint, std::size_t first) {
    if (moves.size() != positions.size()) throw ValueError("one move a position is needed");
    parallel_for(positions.size(), threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            if (!is_legal(positions[i].board, positions[i].turn, moves[i]))
                throw ValueError("move " + std::to_string(first + i) + " (" + moves[i].to_string() +
                                 ") is not a legal move of the side to move");
            out[i] = move_label(moves[i], positions[i].turn);
        }
    });
}

}  // namespace velkorant
