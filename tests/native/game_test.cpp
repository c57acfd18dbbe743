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

using namespace velkorant;

namespace {

int passed = 0;
int failed = 0;

void record(bool ok, const std::string& what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL line %d: %s\n", line, what.c_str());
    }
}

#define CHECK(cond) record((cond), #cond, __LINE__)
#define CHECK_EQ(a, b)                                                                      \
    do {                                                                                    \
        const auto va_ = (a);                                                               \
        const auto vb_ = (b);                                                               \
        record(va_ == vb_, std::string(#a " == " #b ": ") + show(va_) + " vs " + show(vb_), \
               __LINE__);                                                                   \
    } while (0)

std::string show(const std::string& s) { return "\"" + s + "\""; }
template <class T>
std::string show(const T& v) requires std::is_integral_v<T> { return std::to_string(v); }

// What an operation did: "ok", or the failure's class and message.
std::string outcome(const std::function<void()>& f) {
    try {
        f();
        return "ok";
    } catch (const ValueError& e) {
        return std::string("ValueError: ") + e.what();
    } catch (const IndexError& e) {
        return std::string("IndexError: ") + e.what();
    } catch (const TypeError& e) {
        return std::string("TypeError: ") + e.what();
    } catch (const OverflowError& e) {
        return std::string("OverflowError: ") + e.what();
    } catch (const Panic& e) {
        return std::string("Panic: ") + e.what();
    }
}

// The failure's class and whether its message holds `part`.
bool fails_with(const std::function<void()>& f, std::string_view kind, std::string_view part) {
    const std::string what = outcome(f);
    const bool ok = what.rfind(std::string(kind) + ": ", 0) == 0 && what.find(part) != std::string::npos;
    if (!ok) std::printf("  got %s\n", what.c_str());
    return ok;
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
    struct Case { Move move; Color side; const char* usi; };
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
        Move::base_constructor(0, at(5, 5), 0, 0),              // from a wall square
        Move::base_constructor(at(5, 5), 120, 0, 0),            // to a wall square
        Move::base_constructor(at(5, 5), 125, 0, 0),            // past the grid
        Move::base_constructor(0, at(5, 5), 0, 1),              // a drop of kind None
        Move::base_constructor(1, at(5, 5), 0, 1),              // a King drop
        Move::base_constructor(64 + 14, at(5, 5), 0, 1),        // a promoted drop
        Move::base_constructor(8, at(5, 5), 1, 1),              // a promoting drop
    };
    for (const Move& m : no_usi) {
        std::string expected = m.to_string();
        expected += "` has no USI form";
        CHECK(fails_with([&] { (void)m.usi(); }, "ValueError", expected));
    }

    const char* not_usi[] = {"", "7g7", "7g7f++", "7g7f=", "0a1a", "7j7f", "7g7", "K*5e", "+P*5e",
                             "p*5e", "P*5e+", "7G7F", "P*0e", "7g 7f", "7g7f "};
    for (const char* text : not_usi)
        CHECK(fails_with([&] { Move::from_usi(text, B); }, "ValueError", "not a USI move: `" + std::string(text) + "`"));
    CHECK(fails_with([] { Move::from_usi("P*5e", Color::None); }, "ValueError", "not None"));

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
        CHECK(fails_with([&] { b.remove(static_cast<std::uint8_t>(index)); }, "IndexError",
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
        if (rng() % 4 == 0) b.hand.pieces[s] = Piece{colors[rng() % 4], static_cast<Kind>(rng() % 15)};
    }
    return b;
}

bool same_record(const Board& a, const Board& b) {
    for (std::size_t s = 0; s < kHandSlots; ++s)
        if (a.hand.pieces[s].owner != b.hand.pieces[s].owner || a.hand.pieces[s].piece_type != b.hand.pieces[s].piece_type)
            return false;
    return a.hand.counts == b.hand.counts && a.occupied == b.occupied && a.color_boards == b.color_boards &&
           a.piece_boards == b.piece_boards && a.square_kinds == b.square_kinds;
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

    CHECK(fails_with([] { Board::from_state(""); }, "ValueError", "board tag"));
    CHECK(fails_with([] { Board::from_state("G\x01"); }, "TypeError", "Game state"));
    std::string state = Board().state();
    state[1] = 9;
    CHECK(fails_with([&] { Board::from_state(state); }, "ValueError", "format version 9"));

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

}  // namespace

int main() {
    test_usi_moves();
    test_remove();
    test_board_state();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
