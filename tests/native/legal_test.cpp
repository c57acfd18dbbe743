// Self-checking tests of the full rules. Exits non-zero when any check fails.
//
// Besides hand-made cases for each rule, the fast legal layer is compared with a plain
// reference: every generated move is tried on a copy of the board, and kept when no move of the
// opponent can then take a king of the mover, when it strands no piece, and when it is not a
// checking pawn drop that leaves the defender without a kept reply.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "velkorant/checks.hpp"
#include "velkorant/errors.hpp"
#include "velkorant/legal.hpp"

#include "check.hpp"

using namespace velkorant;

namespace {

using check::group;
using check::record;
using check::show;

constexpr std::string_view kLetters = "kgrbsnlp";

Kind kind_of_letter(char lower) { return static_cast<Kind>(kLetters.find(lower) + 1); }

// A board from pieces written as "K5a" (Black king on column 5, row 1), "+r5e" (White dragon),
// and the hands as "GP" (Black) and "p" (White).
Board setup(std::string_view pieces, std::string_view black_hand = "", std::string_view white_hand = "") {
    Board board;
    std::size_t i = 0;
    while (i < pieces.size()) {
        if (pieces[i] == ' ') { ++i; continue; }
        const bool promote = pieces[i] == '+';
        if (promote) ++i;
        const char letter = pieces[i];
        const bool black = letter >= 'A' && letter <= 'Z';
        Kind kind = kind_of_letter(black ? static_cast<char>(letter - 'A' + 'a') : letter);
        if (promote) kind = promoted(kind);
        const unsigned column = static_cast<unsigned>(pieces[i + 1] - '0');
        const unsigned row = static_cast<unsigned>(pieces[i + 2] - 'a' + 1);
        board.deploy(static_cast<std::uint8_t>(row * 11 + column), kind, black ? Color::Black : Color::White);
        i += 3;
    }
    for (char ch : black_hand) board.hand.add_piece(Color::Black, kind_of_letter(static_cast<char>(ch - 'A' + 'a')));
    for (char ch : white_hand) board.hand.add_piece(Color::White, kind_of_letter(ch));
    return board;
}

// A board from the library's text form: rows 9 down to 1, columns 1 to 9, upper case Black.
Board from_text(std::string_view placement, std::string_view black_hand = "") {
    std::string pieces;
    unsigned row = 9, column = 1;
    for (std::size_t i = 0; i < placement.size(); ++i) {
        const char ch = placement[i];
        if (ch == '/') { --row; column = 1; continue; }
        if (ch >= '1' && ch <= '9') { column += static_cast<unsigned>(ch - '0'); continue; }
        if (ch == '+') { pieces += '+'; continue; }
        pieces += ch;
        pieces += static_cast<char>('0' + column++);
        pieces += static_cast<char>('a' + row - 1);
    }
    return setup(pieces, black_hand);
}

std::vector<std::uint16_t> words(const MoveList& list) { return {list.data(), list.data() + list.size()}; }

std::vector<std::uint16_t> fast_legal(const Board& board, Color side) {
    MoveList list;
    legal_moves(board, side, list);
    return words(list);
}

// ---------------------------------------------------------------------------------------------
// The reference.

int reference_mates = 0;  // pawn drops the reference refused as mates

bool reference_in_check(const Board& board, Color side) {
    const BitBoard kings = board.piece_boards[number(Kind::King)] & board.color_boards[byte_of(side)];
    MoveList replies;
    search_moves(board, opponent(side), replies);
    for (std::size_t i = 0; i < replies.size(); ++i)
        if (!replies[i].is_drop() && kings.test(replies[i].to())) return true;
    return false;
}

bool strands(const Board& board, Color side, Move move) {
    if (move.is_drop() || move.is_promote()) return false;
    const Kind kind = board.kind_at(move.from());
    if (kind == Kind::Pawn || kind == Kind::Lance) return Board::last_row[byte_of(side)].test(move.to());
    return kind == Kind::Knight && Board::last_two_rows[byte_of(side)].test(move.to());
}

std::vector<std::uint16_t> reference_legal(const Board& board, Color side) {
    std::vector<std::uint16_t> kept;
    MoveList pseudo;
    search_moves(board, side, pseudo);
    for (std::size_t i = 0; i < pseudo.size(); ++i) {
        const Move move = pseudo[i];
        if (strands(board, side, move)) continue;
        Board child = board;
        execute_move(child, move);
        if (reference_in_check(child, side)) continue;
        if (move.is_drop() && move.get_piece().piece_type == Kind::Pawn) {
            // Does the pawn now attack a king of the defender?
            const BitBoard kings = child.piece_boards[number(Kind::King)] & child.color_boards[byte_of(opponent(side))];
            MoveList onwards;
            search_moves(child, side, onwards);
            bool check = false;
            for (std::size_t j = 0; j < onwards.size(); ++j)
                check |= !onwards[j].is_drop() && onwards[j].from() == move.to() && kings.test(onwards[j].to());
            if (check && reference_legal(child, opponent(side)).empty()) {
                ++reference_mates;
                continue;
            }
        }
        kept.push_back(move.word);
    }
    return kept;
}

bool legal(const Board& board, Color side, const char* text) { return is_legal(board, side, Move::parse(text)); }

// ---------------------------------------------------------------------------------------------

void test_perft() {
    group = "perft";
    Board board;
    board.startpos();
    const std::uint64_t expected[] = {1, 30, 900, 25470, 719731, 19861490};
    for (int depth = 0; depth <= 5; ++depth) CHECK_EQ(legal_perft(board, Color::Black, depth), expected[depth]);
    // A middle game with pieces in both hands (USI lnsgkg1nl/9/p1pppps1p/6R2/9/1rP6/P2PPPP1P/9/LNSGKGSNL
    // b B3Pb2p), counted as cshogi and fairy-stockfish count it.
    Board middle = from_text("lnsgkg1nl/9/p1pppps1p/6R2/9/1rP6/P2PPPP1P/9/LNSGKGSNL", "BPPP");
    middle.hand.add_piece(Color::White, Kind::Bichop);
    middle.hand.add_pieces(Color::White, Kind::Pawn, 2);
    const std::uint64_t in_middle[] = {1, 98, 9870, 736403};
    for (int depth = 0; depth <= 3; ++depth) CHECK_EQ(legal_perft(middle, Color::Black, depth), in_middle[depth]);
}

struct Case {
    const char* what;
    const char* pieces;
    const char* black_hand;
    Color side;
    const char* move;
    bool legal;
};

void test_cases() {
    group = "rules";
    const Color B = Color::Black, W = Color::White;
    const Case cases[] = {
        {"rook pin: off the file", "K5a G5c r5h", "", B, "5c4c", false},
        {"rook pin: along the file", "K5a G5c r5h", "", B, "5c5d", true},
        {"rook pin: takes the pinner", "K5a R5c r5h", "", B, "5c5h", true},
        {"bishop pin: along the diagonal", "K5a S6b b9e", "", B, "6b7c", true},
        {"bishop pin: off the diagonal", "K5a S6b b9e", "", B, "6b6c", false},
        {"lance pin from ahead", "K5a S5c l5i", "", B, "5c4d", false},
        {"lance behind pins nothing", "K5e S5c l5a", "", B, "5c4d", true},
        {"king into a gold's step", "K5a g5c", "", B, "5a5b", false},
        {"king beside the gold", "K5a g5c", "", B, "5a4a", true},
        {"king away along the checking file", "K5b r5e", "", B, "5b5a", false},
        {"king off the checking file", "K5b r5e", "", B, "5b4a", true},
        {"king takes a guarded piece", "K5a g5b s5c", "", B, "5a5b", false},
        {"king takes an unguarded piece", "K5a g5b", "", B, "5a5b", true},
        {"check ignored", "K5a r5e G1a", "", B, "1a2a", false},
        {"check blocked", "K5a r5e G4c", "", B, "4c5c", true},
        {"checker taken", "K5a r5e R1e", "", B, "1e5e", true},
        {"double check: taking one checker", "K5a r5e b8d R1e", "", B, "1e5e", false},
        {"double check: the king steps away", "K5a r5e b8d R1e", "", B, "5a4a", true},
        {"evasion by drop", "K5a r5e", "G", B, "G*5c", true},
        {"drop beside the check", "K5a r5e", "G", B, "G*4c", false},
        {"no drop against a knight's check", "K5a n4c", "G", B, "G*5b", false},
        {"pawn to its last row", "K1a P5h", "", B, "5h5i", false},
        {"pawn promoting on its last row", "K1a P5h", "", B, "5h5i+", true},
        {"lance to its last row", "K1a L5g", "", B, "5g5i", false},
        {"lance short of its last row", "K1a L5g", "", B, "5g5h", true},
        {"knight to its last two rows", "K1a N5f", "", B, "5f4h", false},
        {"knight promoting there", "K1a N5f", "", B, "5f4h+", true},
        {"silver to its last row", "K1a S5h", "", B, "5h5i", true},
        {"White pawn to its last row", "k9i p5b", "", W, "5b5a", false},
        {"White knight to its last two rows", "k9i n5d", "", W, "5d4b", false},
        {"no king: any move", "G5c r5h", "", B, "5c4c", true},
        {"no king: pawn drop mate still refused", "G5c +R5i r9a k3i g4i +B1h R4h +P3g", "P", B, "P*3h", false},
        {"pawn drop check, not mate", "K5a k5i", "P", B, "P*5h", true},
    };
    for (const Case& c : cases) {
        const Board board = setup(c.pieces, c.black_hand);
        const bool got = is_legal(board, c.side, Move::parse(c.move));
        record(got == c.legal, std::string(c.what) + ": " + c.move, __LINE__);
        // The list and the single test agree, and both with the reference.
        const std::vector<std::uint16_t> list = fast_legal(board, c.side);
        bool listed = false;
        for (std::uint16_t w : list) listed |= w == Move::parse(c.move).word;
        record(listed == c.legal, std::string(c.what) + " (listed)", __LINE__);
        record(list == reference_legal(board, c.side), std::string(c.what) + " (reference)", __LINE__);
    }
    CHECK(in_check(setup("K5a r5e"), Color::Black));
    CHECK(!in_check(setup("K5a r5e G5c"), Color::Black));
    CHECK(!in_check(setup("G5c r5e"), Color::Black));
    CHECK(!has_king(setup("G5c k5e"), Color::Black));
    CHECK(has_king(setup("G5c k5e"), Color::White));
    // Two kings of one side: a move is refused when either is left attacked.
    CHECK(!legal(setup("K5a K9a G5c r5h"), Color::Black, "5c4c"));
    CHECK(legal(setup("K5a K9a G5c r5h"), Color::Black, "9a8a"));
}

void test_pawn_drop_mate() {
    group = "pawn drop mate";
    // From USI 2kg+R4/+B2R5/2+P6/9/9/9/4K4/9/9 b P: White's king on 3i, its gold on 4i pinned by
    // Black's dragon on 5i; the pawn on 3h is guarded by the tokin on 3g and the rook on 4h, and
    // the horse on 1h covers the escapes.
    const Board pinned = from_text("2kg+R4/+B2R5/2+P6/9/9/9/4K4/9/9", "P");
    CHECK(!legal(pinned, Color::Black, "P*3h"));
    CHECK(legal(pinned, Color::Black, "P*2h"));
    // Without the dragon the gold may take the pawn: check, not mate.
    CHECK(legal(from_text("2kg5/+B2R5/2+P6/9/9/9/4K4/9/9", "P"), Color::Black, "P*3h"));
    // Without the rook and the tokin the king takes the pawn.
    CHECK(legal(from_text("2kg+R4/+B8/9/9/9/9/4K4/9/9", "P"), Color::Black, "P*3h"));
    // A gold drop on the same square mates and is legal.
    CHECK(legal(from_text("2kg+R4/+B2R5/2+P6/9/9/9/4K4/9/9", "G"), Color::Black, "G*3h"));
}

void test_side_checks() {
    group = "sides";
    Board board;
    board.startpos();
    for (Color bad : {Color::None, Color::ColorNumber}) {
        bool refused = false;
        try {
            (void)legal_perft(board, bad, 1);
        } catch (const ValueError&) {
            refused = true;
        }
        CHECK(refused);
    }
    bool refused = false;
    try {
        (void)legal_perft(board, Color::Black, -1);
    } catch (const ValueError&) {
        refused = true;
    }
    CHECK(refused);
}

// A random position: kings (mostly one per side), pieces of every kind, pieces in hand.
Board random_position(std::mt19937_64& rng) {
    Board board;
    const auto place = [&](Kind kind, Color color) {
        for (;;) {
            const auto s = static_cast<std::uint8_t>(11 * (1 + rng() % 9) + 1 + rng() % 9);
            if (board.kind_at(s) == Kind::None) return board.deploy(s, kind, color);
        }
    };
    for (Color side : {Color::Black, Color::White}) {
        const auto r = rng() % 20;
        const int kings = r == 0 ? 0 : r == 1 ? 2 : 1;
        for (int k = 0; k < kings; ++k) place(Kind::King, side);
    }
    for (int n = static_cast<int>(rng() % 24); n > 0; --n)
        place(static_cast<Kind>(2 + rng() % 13), rng() % 2 ? Color::White : Color::Black);
    for (std::size_t slot = 0; slot < kHandSlots; ++slot)
        if (slot % 8 != 0 && rng() % 3 == 0) board.hand.counts[slot] = static_cast<std::uint8_t>(1 + rng() % 2);
    return board;
}

void test_against_reference() {
    group = "fast = reference";
    std::mt19937_64 rng(7122025);
    int positions = 0, moves = 0, checks = 0, mismatches = 0;
    std::uint64_t refused_drops = 0;
    const auto compare = [&](const Board& board, Color side) {
        ++positions;
        const std::vector<std::uint16_t> fast = fast_legal(board, side);
        const std::vector<std::uint16_t> slow = reference_legal(board, side);
        bool ok = fast == slow && legal_perft(board, side, 1) == slow.size() &&
                  count_legal_moves(board, side) == slow.size() && has_legal_move(board, side) == !slow.empty() &&
                  in_check(board, side) == (has_king(board, side) && reference_in_check(board, side));
        // is_legal on every generated word and on random words.
        MoveList pseudo;
        search_moves(board, side, pseudo);
        std::size_t next = 0;
        for (std::size_t i = 0; i < pseudo.size(); ++i) {
            const bool kept = next < slow.size() && slow[next] == pseudo[i].word;
            next += kept;
            ok &= is_legal(board, side, pseudo[i]) == kept;
            refused_drops += pseudo[i].is_drop() && !kept;
        }
        // Words close to real ones: the promote flag turned, the other side's moves, random words.
        std::vector<std::uint16_t> near;
        for (std::size_t i = 0; i < pseudo.size(); ++i) near.push_back(pseudo[i].word ^ 1u << 14);
        search_moves(board, opponent(side), pseudo);
        for (std::size_t i = 0; i < pseudo.size(); ++i) near.push_back(pseudo[i].word);
        for (int i = 0; i < 16; ++i) near.push_back(static_cast<std::uint16_t>(rng()));
        for (std::uint16_t w : near) {
            const Move word{w};
            bool listed = false;
            for (std::uint16_t w : slow) listed |= w == word.word;
            ok &= is_legal(board, side, word) == listed;
        }
        // Two plies deep now and then: the moves are played, not only listed.
        if (positions % 40 == 0) {
            std::uint64_t two = 0;
            for (std::uint16_t w : slow) {
                Board child = board;
                execute_move(child, Move{w});
                two += reference_legal(child, opponent(side)).size();
            }
            ok &= legal_perft(board, side, 2) == two;
        }
        moves += static_cast<int>(slow.size());
        checks += in_check(board, side);
        if (!ok && ++mismatches <= 3) {
            std::printf("  differs: %s, %s to move, %zu vs %zu moves\n", board.placement().c_str(),
                        side == Color::Black ? "Black" : "White", fast.size(), slow.size());
            for (std::uint16_t w : fast)
                if (std::find(slow.begin(), slow.end(), w) == slow.end()) std::printf("    only fast: %s\n", Move{w}.to_string().c_str());
            for (std::uint16_t w : slow)
                if (std::find(fast.begin(), fast.end(), w) == fast.end()) std::printf("    only reference: %s\n", Move{w}.to_string().c_str());
        }
    };
    for (int game = 0; game < 300; ++game) {
        Board board;
        if (game % 2) board.startpos();
        else board = random_position(rng);
        Color side = rng() % 2 ? Color::Black : Color::White;
        // Random legal play, comparing both sides at every ply.
        for (int ply = 0; ply < 120; ++ply) {
            compare(board, side);
            compare(board, opponent(side));
            const std::vector<std::uint16_t> list = fast_legal(board, side);
            if (list.empty()) break;
            execute_move(board, Move{list[rng() % list.size()]});
            side = opponent(side);
        }
    }
    CHECK_EQ(mismatches, 0);
    // The games must have reached checks and refused drops.
    CHECK(checks > 500);
    CHECK(refused_drops > 100);
    CHECK(reference_mates > 10);
    std::printf("  compared %d positions, %d legal moves, %d in check, %d pawn drops refused as mates\n", positions,
                moves, checks, reference_mates);
}

// The checks walked without the legal move list against those found from it, and mate in one
// against every check played out, along random play that gives check half the time.
void test_checks_walked() {
    group = "checks walked = listed";
    std::mt19937_64 rng(20261210);
    int positions = 0, checks = 0, mates = 0, mismatches = 0;
    const auto words = [](const MoveList& list) { return std::vector<std::uint16_t>(list.data(), list.data() + list.size()); };
    const auto word = [](std::optional<Move> m) { return m ? int{m->word} : -1; };
    for (int game = 0; game < 300; ++game) {
        Board board = random_position(rng);
        Color side = rng() % 2 ? Color::Black : Color::White;
        for (int ply = 0; ply < 60; ++ply) {
            MoveList listed;
            for (Color s : {side, opponent(side)}) {
                ++positions;
                MoveList walked, both;
                check_moves(board, s, walked);
                check_moves_listed(board, s, listed);
                const std::optional<Move> played = mate_in_one_played(board, s);
                const std::optional<Move> first = mate_or_checks(board, s, both);
                bool ok = words(walked) == words(listed) && word(mate_in_one(board, s)) == word(played) &&
                          word(first) == word(played) && (first || words(both) == words(listed));
                checks += static_cast<int>(listed.size());
                mates += played.has_value();
                if (!ok && ++mismatches <= 3)
                    std::printf("  differs: %s, %s to move\n", board.placement().c_str(), s == Color::Black ? "Black" : "White");
            }
            MoveList moves;
            check_moves_listed(board, side, listed);
            if (listed.size() == 0 || rng() % 2) legal_moves(board, side, moves);
            const MoveList& pick = moves.size() ? moves : listed;
            if (pick.size() == 0) break;
            execute_move(board, pick[rng() % pick.size()]);
            side = opponent(side);
        }
    }
    CHECK_EQ(mismatches, 0);
    CHECK(mates > 100);
    std::printf("  compared %d positions, %d checks, %d mates in one\n", positions, checks, mates);
}

}  // namespace

int main() {
    test_perft();
    test_cases();
    test_pawn_drop_mate();
    test_side_checks();
    test_against_reference();
    test_checks_walked();
    return check::finish();
}
