// Self-checking tests of the game record: USI move text, the board's state bytes, SFEN and USI
// positions, push and pop, repetition, the declaration rule. Exits non-zero when a check fails.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "velkorant/board.hpp"
#include "velkorant/errors.hpp"
#include "velkorant/game.hpp"

#include "check.hpp"

using namespace velkorant;

namespace {

using check::record;
using check::show;

// Runs f: true when it throws E with `part` in the message.
template <class E>
bool fails_with(const std::function<void()>& f, std::string_view part) {
    try {
        f();
        std::printf("  no failure\n");
    } catch (const E& e) {
        if (e.message().find(part) != std::string::npos) return true;
        std::printf("  got %s\n", e.what());
    } catch (const Error& e) {
        std::printf("  got another failure: %s\n", e.what());
    }
    return false;
}

std::uint8_t at(int column, int row) { return static_cast<std::uint8_t>(row * 11 + column); }

// The square invariants of the record: each index in at most one kind set and square_kinds
// naming it, at most one colour, colour and a real kind only where occupied.
bool sound(const Board& b) {
    for (unsigned i = 0; i < kBits; ++i) {
        int sets = 0;
        Kind found = Kind::None;
        for (int k = 0; k < kKinds; ++k)
            if (b.piece_boards[k].test(i)) ++sets, found = static_cast<Kind>(k);
        const bool black = b.color_boards[0].test(i), white = b.color_boards[1].test(i);
        if (sets > 1 || b.square_kinds[i] != found || (black && white)) return false;
        if (!b.occupied.test(i) && (black || white || number(found) > 0)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// USI move text.

void test_usi_moves() {
    const Color B = Color::Black, W = Color::White;
    struct Case {
        Move move;
        Color side;
        const char* usi;
    };
    const Case cases[] = {
        {Move::base_constructor(at(3, 3), at(3, 4), 0, 0), B, "7g7f"},
        {Move::base_constructor(at(2, 2), at(8, 8), 1, 0), B, "8h2b+"},
        {Move::base_constructor(Piece{B, Kind::Pawn}.code(), at(5, 5), 0, 1), B, "P*5e"},
        {Move::base_constructor(Piece{W, Kind::Bichop}.code(), at(9, 9), 0, 1), W, "B*1a"},
        {Move::base_constructor(Piece{W, Kind::Gold}.code(), at(1, 1), 0, 1), W, "G*9i"},
        {Move::base_constructor(at(1, 1), at(9, 9), 0, 0), W, "9i1a"},
        {Move::base_constructor(at(9, 7), at(9, 8), 1, 0), B, "1c1b+"},
    };
    for (const Case& c : cases) {
        CHECK_EQ(c.move.usi(), std::string(c.usi));
        CHECK_EQ(Move::from_usi(c.usi, c.side).word, c.move.word);
    }

    // Moves with no USI form name their own move text.
    const Move no_usi[] = {
        Move::base_constructor(0, at(5, 5), 0, 0),        // from a wall square
        Move::base_constructor(at(5, 5), 120, 0, 0),      // to a wall square
        Move::base_constructor(at(5, 5), 125, 0, 0),      // past the grid
        Move::base_constructor(0, at(5, 5), 0, 1),        // a drop of kind None
        Move::base_constructor(1, at(5, 5), 0, 1),        // a King drop
        Move::base_constructor(64 + 14, at(5, 5), 0, 1),  // a promoted drop
        Move::base_constructor(8, at(5, 5), 1, 1),        // a promoting drop
    };
    for (const Move& m : no_usi) {
        std::string expected = m.to_string();
        expected += "` has no USI form";
        CHECK(fails_with<ValueError>([&] { (void)m.usi(); }, expected));
    }

    const char* not_usi[] = {"",      "7g7",  "7g7f++", "7g7f=", "0a1a", "7j7f",  "7g7",  "K*5e",
                             "+P*5e", "p*5e", "P*5e+",  "7G7F",  "P*0e", "7g 7f", "7g7f "};
    for (const char* text : not_usi)
        CHECK(fails_with<ValueError>([&] { Move::from_usi(text, B); },
                                     "not a USI move: `" + std::string(text) + "`"));
    CHECK(fails_with<ValueError>([] { Move::from_usi("P*5e", Color::None); }, "not None"));

    // Every move generated along random playouts reads back as the same word.
    std::mt19937 rng(7);
    MoveList moves;
    int checked = 0;
    for (int game = 0; game < 20; ++game) {
        Board b;
        b.startpos();
        Color side = B;
        for (int ply = 0; ply < 150 && !is_finished(b).first; ++ply) {
            search_moves(b, side, moves);
            if (moves.size() == 0) break;
            for (std::size_t i = 0; i < moves.size(); ++i, ++checked)
                if (Move::from_usi(moves[i].usi(), side).word != moves[i].word) CHECK(false);
            execute_move(b, moves[rng() % moves.size()]);
            side = opponent(side);
        }
    }
    CHECK(checked > 10000);
}

// ---------------------------------------------------------------------------------------------
// Board::remove and the board's state bytes.

void test_remove() {
    Board b;
    b.deploy(at(5, 5), Kind::Gold, Color::White);
    b.deploy(0, Kind::King, Color::Black);
    for (std::uint8_t index : {at(5, 5), std::uint8_t{0}, std::uint8_t{3}, std::uint8_t{127}}) {
        b.remove(index);
        CHECK(b.kind_at(index) == Kind::None && b.owner_at(index) == Color::None);
        CHECK(b.piece_boards[0].test(index));
    }
    CHECK(sound(b));
    for (int index : {128, 200, 255}) {
        const std::string before = b.state();
        CHECK(fails_with<IndexError>(
            [&] { b.remove(static_cast<std::uint8_t>(index)); },
            std::to_string(index) + " is past the bit sets: an index lies in 0..127"));
        CHECK(b.state() == before);
    }
}

// A board with every odd corner the square writes allow, and a reassigned hand table.
Board odd_board(std::mt19937& rng) {
    Board b;
    if (rng() % 2) b.startpos();
    const Color colors[] = {Color::Black, Color::White, Color::None, Color::ColorNumber};
    for (int n = 0; n < 40; ++n) {
        const auto index = static_cast<std::uint8_t>(rng() % 128);
        switch (rng() % 4) {
            case 0: b.drop(index); break;
            case 1: b.remove(index); break;
            default: b.deploy(index, static_cast<Kind>(rng() % 17), colors[rng() % 4]); break;
        }
    }
    for (std::size_t s = 0; s < kHandSlots; ++s) {
        b.hand.counts[s] = static_cast<std::uint8_t>(rng());
        if (rng() % 4 == 0)
            b.hand.pieces[s] = Piece{colors[rng() % 4], static_cast<Kind>(rng() % 15)};
    }
    return b;
}

bool same_record(const Board& a, const Board& b) {
    for (std::size_t s = 0; s < kHandSlots; ++s)
        if (a.hand.pieces[s].owner != b.hand.pieces[s].owner ||
            a.hand.pieces[s].piece_type != b.hand.pieces[s].piece_type)
            return false;
    return a.hand.counts == b.hand.counts && a.occupied == b.occupied &&
           a.color_boards == b.color_boards && a.piece_boards == b.piece_boards &&
           a.square_kinds == b.square_kinds;
}

void test_board_state() {
    std::mt19937 rng(11);
    for (int n = 0; n < 300; ++n) {
        const Board b = odd_board(rng);
        const std::string state = b.state();
        const Board back = Board::from_state(state);
        CHECK(same_record(b, back));
        CHECK(back.state() == state);
    }

    CHECK(fails_with<ValueError>([] { Board::from_state(""); }, "board tag"));
    CHECK(fails_with<TypeError>([] { Board::from_state("G\x01"); }, "Game state"));
    std::string state = Board().state();
    state[1] = 9;
    CHECK(fails_with<ValueError>([&] { Board::from_state(state); }, "format version 9"));

    // Truncations, extensions, flipped bits and random bytes: a ValueError or a sound board that
    // writes back the same bytes, never a crash.
    std::string valid = odd_board(rng).state();
    int refused = 0, accepted = 0;
    const auto probe = [&](const std::string& bytes) {
        try {
            const Board b = Board::from_state(bytes);
            ++accepted;
            if (!sound(b) || b.state() != bytes) CHECK(false);
        } catch (const ValueError&) {
            ++refused;
        } catch (const TypeError&) {
            ++refused;
        }
    };
    for (std::size_t n = 0; n < valid.size(); ++n) probe(valid.substr(0, n));
    probe(valid + "x");
    for (int n = 0; n < 3000; ++n) {
        std::string bytes = valid;
        bytes[rng() % bytes.size()] ^= static_cast<char>(1 << rng() % 8);
        probe(bytes);
        std::string noise(rng() % 2 ? valid.size() : rng() % 200, '\0');
        for (char& c : noise) c = static_cast<char>(rng());
        if (rng() % 2 && !noise.empty()) noise[0] = 'B', noise[1 % noise.size()] = 1;
        probe(noise);
    }
    CHECK(refused > 0 && accepted > 0);
}

// ---------------------------------------------------------------------------------------------
// The game record.

const char* const kStart = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1";

// The position of an SFEN without its move number: what a repetition compares.
std::string position_of(const std::string& sfen) { return sfen.substr(0, sfen.rfind(' ')); }

void test_sfen() {
    const char* canonical[] = {
        kStart,
        "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 2",
        "ln1g3+Rl/1ks1g4/1pppp3p/p4pp2/9/P1P2PP2/1P1PP3P/1BKS1s3/LNG2G1NL w BPsnp 123456789",
        "8k/9/9/9/9/9/9/9/K8 b 2R2B4G4S4N4L18P 1",
        "4k4/9/9/9/9/9/9/9/4K4 w 2r2b4g4s4n4l18p 9223372036854775807",
    };
    for (const char* sfen : canonical) CHECK_EQ(Game(sfen).sfen(), std::string(sfen));
    CHECK_EQ(Game().sfen(), std::string(kStart));
    CHECK_EQ(Game("8k/9/9/9/9/9/9/9/K8 b pP2s 1").sfen(),
             std::string("8k/9/9/9/9/9/9/9/K8 b P2sp 1"));

    struct Bad {
        const char* sfen;
        const char* message;
    };
    const Bad bad[] = {
        {"", "1 fields where an SFEN has 4"},
        {"9/9/9/9/9/9/9/9/9 b -", "3 fields"},
        {"9/9/9/9/9/9/9/9/9  b - 1", "more than 4 fields"},
        {"9/9/9/9/9/9/9/9 b - 1", "8 rows, not 9"},
        {"9/9/9/9/9/9/9/9/9/9 b - 1", "more than 9 rows"},
        {"9/9/8/9/9/9/9/9/9 b - 1", "row 3 (rank c) has 8 squares"},
        {"9/9/9/5k4/9/9/9/9/9 b - 1", "row 4 (rank d) has 10 squares, not 9"},
        {"9/9/9/9/9/9/9/9/8kk b - 1", "row 9 (rank i) has more than 9 squares"},
        {"9/9/9/9/x8/9/9/9/9 b - 1", "unknown piece letter 'x'"},
        {"9/9/9/9/+K8/9/9/9/9 b - 1", "'+K': a king does not promote"},
        {"9/9/9/9/8+/9/9/9/9 b - 1", "'+' is not followed by a piece letter"},
        {"9/9/9/9/9/9/9/9/9 x - 1", "the side to move is \"x\""},
        {"9/9/9/9/9/9/9/9/9 b  1", "the hand is empty"},
        {"9/9/9/9/9/9/9/9/9 b X 1", "unknown piece letter 'X'"},
        {"9/9/9/9/9/9/9/9/9 b 0P 1", "a count of 0"},
        {"9/9/9/9/9/9/9/9/9 b 3 1", "a count without a piece letter"},
        {"9/9/9/9/9/9/9/9/9 b 19P 1", "19 P, more than the game's 18"},
        {"9/9/9/9/9/9/9/9/9 b PGP 1", "P is named twice"},
        {"9/9/9/9/9/9/9/9/9 b K 1", "a king is never held in hand"},
        {"9/9/9/9/9/9/9/9/9 b - 0", "the move number is 0"},
        {"9/9/9/9/9/9/9/9/9 b - 1x", "is not a positive integer"},
        {"9/9/9/9/9/9/9/9/9 b - 9223372036854775808", "is too large"},
        {"rr7/9/9/9/9/9/9/9/9 b r 1", "3 pieces of kind Rook"},
        {"ppppppppp/ppppppppp/p8/9/9/9/9/9/9 b - 1", "19 pieces of kind Pawn"},
        {"kk7/9/9/9/9/9/9/9/9 b - 1", "2 kings of White"},
    };
    for (const Bad& b : bad)
        record(fails_with<ValueError>([&] { Game g(b.sfen); }, b.message), b.sfen, __LINE__);
    // Positions that cannot arise in play are still positions: a stranded pawn, two pawns in a
    // column. Not one where the side not to move is in check: play cannot go on from it.
    for (const char* odd : {"P8/9/9/9/9/9/9/9/9 b - 1", "9/9/p8/p8/9/9/9/9/9 b - 1"})
        CHECK_EQ(Game(odd).sfen(), std::string(odd));
    CHECK(fails_with<ValueError>([] { Game g("4k4/9/9/9/4R4/9/9/9/4K4 b - 1"); }, "not to move (White) is in check"));
}

void test_from_board() {
    Board start;
    start.startpos();
    start.hand.pieces.fill(Piece{Color::White, Kind::Gold});
    const Game g = Game::from_board(start, Color::White, 7);
    CHECK_EQ(g.sfen(),
             std::string("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 7"));
    CHECK(g.board().hand.pieces[1].owner == Color::Black &&
          g.board().hand.pieces[1].piece_type == Kind::Gold);

    struct Bad {
        std::function<void(Board&)> change;
        Color turn;
        std::int64_t ply;
        const char* message;
    };
    const Bad bad[] = {
        {[](Board& b) { b.deploy(0, Kind::Pawn, Color::Black); }, Color::Black, 1,
         "a piece on index 0 (column 0, row 0), off the 9x9 board"},
        {[](Board& b) { b.deploy(125, Kind::Pawn, Color::Black); }, Color::Black, 1,
         "a piece on index 125, off"},
        {[](Board& b) { b.deploy(60, Kind::None, Color::Black); }, Color::Black, 1,
         "kind None at index 60 (column 5, row 5, USI 5e)"},
        {[](Board& b) { b.deploy(50, Kind::Gold, Color::ColorNumber); }, Color::Black, 1,
         "neither side at index 50 (column 6, row 4, USI 4f)"},
        {[](Board& b) { b.deploy(60, Kind::ProPawn, Color::White); }, Color::Black, 1,
         "19 pieces of kind Pawn"},
        {[](Board& b) { b.hand.add_piece(Color::White, Kind::Rook); }, Color::Black, 1,
         "3 pieces of kind Rook"},
        {[](Board& b) { b.deploy(60, Kind::King, Color::Black); }, Color::Black, 1,
         "2 kings of Black"},
        {[](Board& b) { b.hand.add_piece(Color::Black, Kind::King); }, Color::Black, 1,
         "a king in Black's hand"},
        {[](Board&) {}, Color::ColorNumber, 1, "Black or White, not ColorNumber"},
        {[](Board&) {}, Color::Black, 0, "the move number is 1 or more, not 0"},
    };
    for (const Bad& b : bad) {
        Board board;
        board.startpos();
        b.change(board);
        CHECK(fails_with<ValueError>([&] { Game::from_board(board, b.turn, b.ply); }, b.message));
    }
}

void test_usi_positions() {
    CHECK_EQ(Game().usi(), std::string("startpos"));
    CHECK_EQ(Game(kStart).usi(), std::string("startpos"));
    const std::string later =
        "sfen lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 3";
    CHECK_EQ(Game::from_usi(later).usi(), later);
    const std::string played = "startpos moves 7g7f 3c3d 8h2b+ 3a2b B*4e";
    const Game g = Game::from_usi("position " + played);
    CHECK_EQ(g.usi(), played);
    CHECK_EQ(g.sfen(),
             std::string("lnsgkg1nl/1r5s1/pppppp1pp/6p2/5B3/2P6/PP1PPPPPP/7R1/LNSGKGSNL w b 6"));
    CHECK_EQ(Game::from_usi(later + " moves 7g7f").usi(), later + " moves 7g7f");
    CHECK_EQ(Game::from_usi("startpos moves").usi(), std::string("startpos"));

    struct Bad {
        const char* position;
        const char* message;
    };
    const Bad bad[] = {
        {"", "got nothing"},
        {"position", "got nothing"},
        {"startpos 7g7f", "unknown word \"7g7f\""},
        {"begin", "unknown word \"begin\""},
        {"sfen 9/9/9/9/9/9/9/9/9 b -", "ends before the 4 fields"},
        {"sfen 9/9/9/9/9/9/9/9/9 b - x", "bad SFEN"},
        {"startpos moves 7g7f 7g7f",
         "move 1 (7g7f, counted from 0) is illegal: no piece on the source square"},
        {"startpos moves 7g7f 3c3d 2g2f 7x", "move 3 (7x, counted from 0) is not a USI move"},
    };
    for (const Bad& b : bad)
        CHECK(fails_with<ValueError>([&] { Game::from_usi(b.position); }, b.message));
}

void test_push_refusals() {
    struct Bad {
        const char* sfen;
        const char* usi;
        const char* message;
    };
    const Bad bad[] = {
        {kStart, "7g7e", "move 7g7e is illegal: not a move of the piece"},
        {kStart, "3c3d", "not a move of the side to move"},
        {kStart, "P*5e", "no such piece in hand"},
        {kStart, "7g7f+", "promotes outside the promotion zone"},
        {"4k4/9/9/9/9/9/9/9/4K4 b G 1", "G*5a", "drops onto a square that is not empty"},
        {"4k4/9/9/9/9/9/9/4P4/4K4 b P 1", "P*5e", "a second pawn of the side in the column"},
        {"4k4/9/9/9/9/9/9/9/4K4 b P 1", "P*1a", "strands the piece"},
        {"4k4/P8/9/9/9/9/9/9/4K4 b - 1", "9b9a", "strands the piece"},
        {"4k4/9/9/9/4r4/9/9/4G4/4K4 b - 1", "5h4h", "leaves the king in check"},
        {"kl7/1s7/G8/9/9/9/9/9/4K4 b P 1", "P*9b", "mates with a pawn drop"},
        {"4k4/9/9/9/9/9/9/9/4K4 b - 1", "5i5i", "not a move of the piece"},
    };
    for (const Bad& b : bad) {
        Game g(b.sfen);
        CHECK(fails_with<ValueError>([&] { g.push_usi(b.usi); }, b.message));
        CHECK_EQ(g.sfen(), std::string(b.sfen));
    }
    Game g;
    CHECK(fails_with<IndexError>([&] { g.pop(); }, "pop from an empty history"));
    CHECK(fails_with<ValueError>([&] { g.push(Move::base_constructor(0, 0, 0, 0)); },
                                 "move 0`0` is illegal"));
    CHECK(fails_with<ValueError>([&] { (void)g.perft(-1); }, "not -1"));
}

// Truncated, flipped or random bytes: refused, or a sound game whose own state reads back the
// same.
void fuzz_game_state(const std::string& state, std::mt19937& rng) {
    CHECK(fails_with<TypeError>([&] { Game::from_state(Board().state()); },
                                "a Board state is not a Game state"));
    int refused = 0;
    for (int n = 0; n < 400; ++n) {
        std::string bytes = n < 100 ? state.substr(0, rng() % state.size()) : state;
        if (n >= 100) bytes[rng() % bytes.size()] ^= static_cast<char>(1 << rng() % 8);
        if (n >= 300)
            for (std::size_t i = 2; i < bytes.size(); ++i) bytes[i] = static_cast<char>(rng());
        try {
            const Game back = Game::from_state(bytes);
            if (!sound(back.board()) || Game::from_state(back.state()).state() != back.state())
                CHECK(false);
        } catch (const ValueError&) {
            ++refused;
        } catch (const TypeError&) {
            ++refused;
        }
    }
    CHECK(refused > 100);
}

// Random games: each push recorded, then undone one by one, every earlier step coming back.
void test_push_pop() {
    std::mt19937 rng(3);
    for (int game = 0; game < 12; ++game) {
        Game g(game % 2 ? kStart : "4k4/9/9/9/9/9/9/9/4K4 b 2G 1");
        std::vector<std::string> states{g.board().state()}, sfens{g.sfen()};
        std::vector<int> counts{g.repetition_count()};
        MoveList moves;
        for (int ply = 0; ply < 160; ++ply) {
            g.legal_moves(moves);
            if (moves.size() == 0) break;
            const Move m = moves[rng() % moves.size()];
            g.push(m);
            CHECK(Game::from_usi(g.usi()).sfen() == g.sfen());
            states.push_back(g.board().state());
            sfens.push_back(g.sfen());
            int seen = 0;
            for (std::size_t i = sfens.size() % 2 ? 0 : 1; i < sfens.size(); i += 2)
                seen += position_of(sfens[i]) == position_of(sfens.back());
            counts.push_back(g.repetition_count());
            if (counts.back() != seen) CHECK_EQ(counts.back(), seen);
            const Game again(g.sfen());
            if (again.sfen() != g.sfen() || again.position_key() != g.position_key()) CHECK(false);
        }
        const std::string state = g.state();
        CHECK(Game::from_state(state).state() == state);
        if (game == 0) fuzz_game_state(state, rng);
        while (!g.history().empty()) {
            g.pop();
            states.pop_back(), sfens.pop_back(), counts.pop_back();
            if (g.board().state() != states.back() || g.sfen() != sfens.back() ||
                g.repetition_count() != counts.back())
                CHECK(false);
        }
    }
}

void test_outcomes() {
    // Both rooks shuffle: the start position's fourth occurrence is a draw.
    Game g;
    const char* shuffle[] = {"2h1h", "8b9b", "1h2h", "9b8b"};
    for (int n = 0; n < 12; ++n) {
        CHECK(!g.outcome());
        g.push_usi(shuffle[n % 4]);
    }
    CHECK_EQ(g.repetition_count(), 4);
    CHECK(g.outcome() && g.outcome()->winner == Color::None && g.outcome()->reason == "repetition");

    // Black's rook checks with every move while White's king steps back and forth: Black loses.
    Game p("7k1/9/9/9/9/9/9/9/K7R b - 1");
    const char* checks[] = {"1i2i", "2a1a", "2i1i", "1a2a"};
    for (int n = 0; n < 12; ++n) {
        CHECK(!p.outcome());
        p.push_usi(checks[n % 4]);
        CHECK_EQ(p.is_check(), n % 2 == 0);
    }
    CHECK(p.outcome() && p.outcome()->winner == Color::White &&
          p.outcome()->reason == "perpetual_check");

    const Game mate("8k/8G/8P/9/9/9/9/9/K8 w - 1"), stuck("8k/6S2/7G1/9/9/9/9/9/K8 w - 1");
    CHECK(mate.is_check() && mate.outcome()->winner == Color::Black &&
          mate.outcome()->reason == "checkmate");
    CHECK(!stuck.is_check() && stuck.outcome()->winner == Color::Black &&
          stuck.outcome()->reason == "no_legal_moves");
    CHECK(!Game("9/9/9/9/9/9/9/9/9 b - 1").is_check());
}

void test_declaration() {
    // Black's king on 5b with ten pieces worth 18 in the zone, and the hand making up the rest.
    const std::string zone = "LNSG1GSNL/1R2K2B1/9/9/9/9/9/9/4k4 b ";
    struct Case {
        std::string sfen;
        bool can;
    };
    const Case cases[] = {
        {zone + "RB 1", true},                                  // 28 points
        {zone + "R2G2S 1", false},                              // 27 points
        {"LNSG1GSN1/1R2K2B1/9/9/9/9/9/9/4k4 b RBL 1", false},   // nine pieces in the zone
        {"LNSG1GSNL/1R5B1/4K4/9/9/9/9/9/4k4 b RB 1", true},     // the king on the zone's edge
        {"LNSG1GSNL/1R5B1/9/4K4/9/9/9/9/4k4 b RB 1", false},    // the king outside the zone
        {"LNSG1GSNL/1R2K2B1/4g4/9/9/9/9/9/4k4 b RB 1", false},  // in check from the gold on 5c
        {"LNSG1GSNL/1R5B1/9/9/9/9/9/9/4k4 b RB 1", false},      // no king
        {"4K4/9/9/9/9/9/9/1b2k2r1/lnsg1gsnl w r2g2s 1", true},  // White needs 27
        {"4K4/9/9/9/9/9/9/1b2k2r1/lnsg1gsnl w r2gs 1", false},  // 26
    };
    for (const Case& c : cases) record(Game(c.sfen).can_declare() == c.can, c.sfen, __LINE__);
}

}  // namespace

int main() {
    test_usi_moves();
    test_remove();
    test_board_state();
    test_sfen();
    test_from_board();
    test_usi_positions();
    test_push_refusals();
    test_push_pop();
    test_outcomes();
    test_declaration();
    return check::finish();
}
