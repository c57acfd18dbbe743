#include "velkorant/features.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <string>

#include "velkorant/attacks.hpp"
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

void fill_plane(float* plane) { std::fill_n(plane, kPlaneSquares, 1.0f); }

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

// Ones on the squares of `set` (board indices) in a zeroed plane.
inline void set_squares(float* plane, u128 set, const std::uint8_t* seen) {
    for_each_member(set, [&](unsigned index) { plane[seen[index]] = 1.0f; });
}

}  // namespace

void write_features(const Board& board, Color turn, float* planes1, float* planes2) {
    std::fill_n(planes1, kFeatures1Floats, 0.0f);
    std::fill_n(planes2, kFeatures2Floats, 0.0f);
    const bool white = turn == Color::White;
    const std::uint8_t* const seen = kSeen[white ? 1 : 0].data();
    const u128 occupied = (board.color_boards[0] | board.color_boards[1]).to_u128();
    bool checked = false;
    for (int side = 0; side < 2; ++side) {
        const bool mover = side == (white ? 1 : 0);
        float* const planes = planes1 + (mover ? 0 : kPlanesPerSide) * kPlaneSquares;
        float* const attack_planes = planes + kKindPlanes * kPlaneSquares;
        // The squares attacked at least once, twice and three times, counted a piece at a time.
        u128 once = 0, twice = 0, thrice = 0;
        for_each_member(board.color_boards[side].to_u128() & kPlaying, [&](unsigned from) {
            const Kind kind = board.square_kinds[from];
            const std::size_t plane = kKindPlane[number(kind)];
            planes[plane * kPlaneSquares + seen[from]] = 1.0f;
            const u128 targets = attacks(side, kind, from, occupied);
            set_squares(attack_planes + plane * kPlaneSquares, targets, seen);
            thrice |= twice & targets;
            twice |= once & targets;
            once |= targets;
        });
        float* const counts = planes + 2 * kKindPlanes * kPlaneSquares;
        set_squares(counts, once, seen);
        set_squares(counts + kPlaneSquares, twice, seen);
        set_squares(counts + 2 * kPlaneSquares, thrice, seen);
        // The side to move is in check when the other side attacks its king.
        if (!mover) checked = (once & (board.piece_boards[number(Kind::King)] & board.color_boards[1 - side]).to_u128()) != 0;
        float* const hand = planes2 + (mover ? 0 : kHandPlanesPerSide) * kPlaneSquares;
        for (const HandPlanes& h : kHandPlanes) {
            const unsigned held = std::min<unsigned>(board.hand.counts[Hand::raw_slot(static_cast<Color>(side), h.kind)], h.most);
            for (unsigned k = 0; k < held; ++k) fill_plane(hand + (h.first + k) * kPlaneSquares);
        }
    }
    if (checked) fill_plane(planes2 + kCheckPlane * kPlaneSquares);
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
    // Files count leftwards and ranks downwards from the mover's side: "up" is towards rank 1
    // as the mover sees the board.
    const int from_seen = seen(from), to_seen = seen(to);
    const int dx = from_seen / 9 - to_seen / 9;  // > 0: the move goes to a lower file, rightwards
    const int dy = to_seen % 9 - from_seen % 9;  // < 0: the move goes up
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
    if (move.is_promote()) cls += kPromotingClasses;
    return cls * static_cast<int>(kPlaneSquares) + to_seen;
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
