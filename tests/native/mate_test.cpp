// Mate in one in mating nets: random positions with the attacker's pieces crowded round the
// defending king, where mates and near-mates are common, held to every check played out. The
// quick proofs that no mate exists must never turn a mate away.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <utility>

#include "velkorant/attacks.hpp"
#include "velkorant/checks.hpp"
#include "velkorant/legal.hpp"

#include "check.hpp"

using namespace velkorant;

namespace {

using check::group;
using check::show;

// A king of `defender` somewhere, a few of its pieces and up to eight of the attacker's within
// `reach` rows and columns of it, the attacker's king (most of the time) anywhere, and random
// hands, the attacker's fuller. With `kings_close` the attacker's king stands near the other
// one too and the defender holds a pawn, whose drop between a checker and its king may check
// the attacker's king in turn (and be illegal if it mates it).
Board mating_net(std::mt19937_64& rng, Color defender, int reach, bool kings_close = false) {
    Board board;
    const auto free_square = [&](int row, int column) {
        return row >= 1 && row <= 9 && column >= 1 && column <= 9 &&
               board.kind_at(static_cast<std::uint8_t>(11 * row + column)) == Kind::None;
    };
    // Half the time the king stands in the attacker's promotion zone (Black moves towards
    // higher rows) and the attacker's pieces are mostly those that promote stepping: silvers,
    // knights, lances, pawns.
    const bool promoting = rng() % 2;
    const int zone_row = defender == Color::White ? 7 : 1;
    const int king_row = promoting ? zone_row + static_cast<int>(rng() % 3) : 1 + static_cast<int>(rng() % 9);
    const int king_column = 1 + static_cast<int>(rng() % 9);
    board.deploy(static_cast<std::uint8_t>(11 * king_row + king_column), Kind::King, defender);
    const auto near = [&](Kind kind, Color color) {
        for (int tries = 0; tries < 20; ++tries) {
            const int row = king_row + static_cast<int>(rng() % (2 * reach + 1)) - reach;
            const int column = king_column + static_cast<int>(rng() % (2 * reach + 1)) - reach;
            if (free_square(row, column)) return board.deploy(static_cast<std::uint8_t>(11 * row + column), kind, color);
        }
    };
    const Color attacker = opponent(defender);
    const auto any_kind = [&] { return static_cast<Kind>(2 + rng() % 13); };
    const auto stepping = [&] { return static_cast<Kind>(number(Kind::Silver) + rng() % 4); };
    for (int n = static_cast<int>(rng() % 4); n > 0; --n) near(any_kind(), defender);
    for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n) near(promoting && rng() % 4 ? stepping() : any_kind(), attacker);
    if (kings_close) {
        near(Kind::King, attacker);
    } else if (rng() % 8) {
        for (;;) {
            const int row = 1 + static_cast<int>(rng() % 9), column = 1 + static_cast<int>(rng() % 9);
            if (free_square(row, column)) {
                board.deploy(static_cast<std::uint8_t>(11 * row + column), Kind::King, attacker);
                break;
            }
        }
    }
    for (std::size_t slot = 0; slot < kHandSlots; ++slot) {
        const bool attackers = (slot / 8 == 0) == (attacker == Color::Black);
        if (slot % 8 != 0 && rng() % (attackers ? 2 : 4) == 0) board.hand.counts[slot] = 1;
        if (kings_close && !attackers) board.hand.counts[slot] = slot % 8 == number(Kind::Pawn) - 1;
    }
    return board;
}

// Mate in one of `side` against the played-out ways, the first few differences printed;
// `mates` counts the mates played out.
void held_to_played(const Board& board, Color side, int& mates, int& mismatches) {
    const auto word = [](std::optional<Move> m) { return m ? int{m->word} : -1; };
    const std::optional<Move> played = mate_in_one_played(board, side);
    mates += played.has_value();
    if (word(mate_in_one(board, side)) != word(played) && ++mismatches <= 3)
        std::printf("  differs: %s, %s to move\n", board.placement().c_str(), side == Color::Black ? "Black" : "White");
}

void test_mating_nets() {
    group = "mate in one in mating nets";
    std::mt19937_64 rng(1212);
    int positions = 0, checked = 0, mates = 0, mismatches = 0;
    for (int i = 0; i < 200000; ++i) {
        const Color defender = rng() % 2 ? Color::Black : Color::White;
        const Board board = mating_net(rng, defender, 1 + static_cast<int>(rng() % 3));
        const Color side = opponent(defender);
        // The defender in check (an odd position, left to the listed ways): a few of those.
        if (in_check(board, defender) && (rng() % 8 || ++checked == 0)) continue;
        ++positions;
        held_to_played(board, side, mates, mismatches);
    }
    CHECK_EQ(mismatches, 0);
    CHECK(mates > 5000);
    CHECK(checked > 10000);
    std::printf("  compared %d positions (%d with the defender in check), %d mates in one\n", positions, checked, mates);
}

// The kings close together, the defender with only a pawn in hand: mate in one, and the checks
// of the walk that also looks for a mate, against the played-out ways.
void test_kings_close() {
    group = "mate in one and checks with the kings close";
    std::mt19937_64 rng(2424);
    int positions = 0, mates = 0, mismatches = 0;
    const auto word = [](std::optional<Move> m) { return m ? int{m->word} : -1; };
    MoveList walked, listed;
    for (int i = 0; i < 100000; ++i) {
        const Color defender = rng() % 2 ? Color::Black : Color::White;
        const Board board = mating_net(rng, defender, 2, true);
        const Color side = opponent(defender);
        if (in_check(board, defender) || in_check(board, side)) continue;
        ++positions;
        const std::optional<Move> played = mate_in_one_played(board, side);
        mates += played.has_value();
        check_moves_listed(board, side, listed);
        const std::optional<Move> found = mate_or_checks(board, side, walked);
        // The walk stops at the mate: the checks it lists are those up to it.
        const std::size_t upto = found ? walked.size() : listed.size();
        bool same = word(mate_in_one(board, side)) == word(played) && word(found) == word(played) &&
                    walked.size() == upto && upto <= listed.size();
        for (std::size_t k = 0; same && k < upto; ++k) same = walked[k].word == listed[k].word;
        if (!same && ++mismatches <= 3)
            std::printf("  differs: %s, %s to move\n", board.placement().c_str(), side == Color::Black ? "Black" : "White");
    }
    CHECK_EQ(mismatches, 0);
    CHECK(mates > 2000);
    std::printf("  compared %d positions, %d mates in one\n", positions, mates);
}

// A slider of the attacker's behind one of its own pieces on a line through the defending king
// in a mating net: the piece between may mate by uncovering it, the others only from where
// they land. Mate in one against the played-out ways.
void test_uncovering() {
    group = "mate in one with a slider behind the attacker's own piece";
    std::mt19937_64 rng(3636);
    int positions = 0, mates = 0, mismatches = 0;
    for (int i = 0; i < 200000; ++i) {
        const Color defender = rng() % 2 ? Color::Black : Color::White;
        Board board = mating_net(rng, defender, 1 + static_cast<int>(rng() % 2));
        const Color side = opponent(defender);
        const int king = static_cast<int>(lowest_index(board.piece_boards[number(Kind::King)].to_u128() &
                                                       board.color_boards[byte_of(defender)].to_u128()));
        const int dr = static_cast<int>(rng() % 3) - 1, dc = dr ? static_cast<int>(rng() % 3) - 1 : rng() % 2 ? 1 : -1;
        const int between = 1 + static_cast<int>(rng() % 2), behind = between + 1 + static_cast<int>(rng() % 3);
        const auto at = [&](int n) { return std::pair{king / 11 + n * dr, king % 11 + n * dc}; };
        const auto [br, bc] = at(between);
        const auto [sr, sc] = at(behind);
        if (sr < 1 || sr > 9 || sc < 1 || sc > 9) continue;
        const auto put = [&](int row, int column, Kind kind) {
            const auto s = static_cast<std::uint8_t>(11 * row + column);
            if (board.kind_at(s) == Kind::None) board.deploy(s, kind, side);
        };
        put(br, bc, static_cast<Kind>(2 + rng() % 13));
        put(sr, sc, dr && dc ? (rng() % 2 ? Kind::Bichop : Kind::Horse) : (rng() % 2 ? Kind::Rook : Kind::Dragon));
        if (in_check(board, defender)) continue;
        ++positions;
        held_to_played(board, side, mates, mismatches);
    }
    CHECK_EQ(mismatches, 0);
    CHECK(mates > 3000);
    std::printf("  compared %d positions, %d mates in one\n", positions, mates);
}

}  // namespace

int main() {
    test_mating_nets();
    test_kings_close();
    test_uncovering();
    return check::finish();
}
