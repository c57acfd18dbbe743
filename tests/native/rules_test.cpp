// Self-checking tests of the rules layer. Exits non-zero when any check fails.
//
// Besides hand-picked cases, the fast move generator and move execution are compared with
// Model, a literal and deliberately slow rendering of the rules: bit sets written one index at
// a time, squares read by testing the kind sets in order, and moves found by shifting the
// piece's one-square set and counting the members it shares with the wall and the colour sets.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "velkorant/board.hpp"
#include "velkorant/errors.hpp"

#include "check.hpp"

using namespace velkorant;

namespace {

using check::group;
using check::outcome;
using check::record;
using check::show;

Address square(int column, int row) {
    return Address{static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(row)};
}
std::uint8_t index_of(int column, int row) { return square(column, row).to_int(); }

std::vector<int> members(const BitBoard& b) {
    std::vector<int> out;
    for (std::uint8_t i : b.get_trues()) out.push_back(i);
    return out;
}
BitBoard set_of(std::initializer_list<int> indices) {
    BitBoard b;
    for (int i : indices) b.set(static_cast<std::size_t>(i), true);
    return b;
}
std::string show(const std::vector<int>& v) {
    std::string s = "{";
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
    return s + "}";
}

// ---------------------------------------------------------------------------------------------
// The literal model.

constexpr int kRow[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
constexpr int kColumn[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kCodes[15][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 0, 1, 0, 1, 1},
    {3, 0, 3, 0, 3, 0, 3, 0}, {0, 3, 0, 3, 0, 3, 0, 3}, {1, 1, 0, 1, 0, 1, 0, 1},
    {0, 2, 0, 0, 0, 0, 0, 2}, {3, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0},
    {3, 1, 3, 1, 3, 1, 3, 1}, {1, 3, 1, 3, 1, 3, 1, 3}, {1, 1, 1, 0, 1, 0, 1, 1},
    {1, 1, 1, 0, 1, 0, 1, 1}, {1, 1, 1, 0, 1, 0, 1, 1}, {1, 1, 1, 0, 1, 0, 1, 1},
};

struct Model {
    Hand hand;
    BitBoard occupied;
    std::array<BitBoard, 2> color_boards{};
    std::array<BitBoard, 15> piece_boards{};

    Model() { piece_boards[0] = !Board::wall; }

    void deploy(std::uint8_t index, Kind kind, Color color) {
        occupied.set(index, true);
        color_boards[0].set(index, color == Color::Black);
        color_boards[1].set(index, color == Color::White);
        for (int k = 0; k < 15; ++k) piece_boards[k].set(index, number(kind) == k);
    }
    void drop(std::uint8_t index) {
        occupied.set(index, false);
        color_boards[0].set(index, false);
        color_boards[1].set(index, false);
        piece_boards[0].set(index, true);
        for (int k = 1; k < 15; ++k) piece_boards[k].set(index, false);
    }
    Kind kind_at(std::uint8_t i) const {
        for (int k = 0; k < 15; ++k)
            if (piece_boards[k][i]) return static_cast<Kind>(k);
        return Kind::None;
    }
    Color owner_at(std::uint8_t i) const {
        if (!occupied[i]) return Color::None;
        return color_boards[0][i] ? Color::Black : Color::White;
    }
};

// Indexes a per-side pair of masks as an array of two would.
const BitBoard& side_mask(const std::array<BitBoard, 2>& masks, Color e) {
    const auto index = static_cast<std::size_t>(static_cast<std::int64_t>(signed_number(e)));
    if (index >= 2)
        throw Panic("index out of bounds: the len is 2 but the index is " + std::to_string(index));
    return masks[index];
}

std::vector<std::uint16_t> model_moves(const Model& b, Color color) {
    std::vector<std::uint16_t> out;
    const BitBoard own_set = color == Color::White ? b.color_boards[1] : b.color_boards[0];
    for (std::uint8_t s : own_set.get_trues()) {
        const Kind kind = b.kind_at(s);
        const Color c = b.owner_at(s);
        const int ci = c == Color::White ? 1 : 0;
        const auto& codes = kCodes[number(kind)];
        BitBoard origin;
        origin.set(s, true);
        BitBoard targets;
        bool open[8] = {true, true, true, true, true, true, true, true};
        for (int k = 1; k <= 8; ++k) {
            for (int d = 0; d < 8; ++d) {
                if (codes[d] == 0 || !open[d]) continue;
                int r = kRow[d], col = kColumn[d];
                if (c == Color::White) r = -r, col = -col;
                const int j = codes[d] == 2 ? (c == Color::White ? 1 : -1) : 0;
                const int a = 11 * (r * k + j) + col * k;
                const BitBoard n = a > 0 ? origin << static_cast<std::size_t>(a)
                                         : origin >> static_cast<std::size_t>(-a);
                if ((n & Board::wall).count_ones() != 0) {
                    open[d] = false;
                } else if ((n & b.color_boards[1 - ci]).count_ones() != 0) {
                    targets = targets | n;
                    open[d] = false;
                } else if ((n & b.color_boards[ci]).count_ones() != 0) {
                    open[d] = false;
                } else {
                    targets = targets | n;
                }
                if (codes[d] != 3) open[d] = false;
            }
        }
        targets.set(s, false);
        for (std::uint8_t t : targets.get_trues()) out.push_back(Move::base_constructor(s, t, 0, 0).word);
        if (number(kind) >= 3 && number(kind) <= 8) {
            const BitBoard zone = Board::promotion_zone[ci];
            const BitBoard may = zone[s] ? targets : targets & zone;
            for (std::uint8_t t : may.get_trues()) out.push_back(Move::base_constructor(s, t, 1, 0).word);
        }
    }
    for (const Piece& entry : b.hand.get_player_pieces(color)) {
        const Color e = entry.owner;
        const BitBoard empty = b.piece_boards[0];
        BitBoard allowed;
        switch (entry.piece_type) {
            case Kind::Gold: case Kind::Rook: case Kind::Bichop: case Kind::Silver:
                allowed = empty;
                break;
            case Kind::Knight: allowed = empty & !side_mask(Board::last_two_rows, e); break;
            case Kind::Lance: allowed = empty & !side_mask(Board::last_row, e); break;
            case Kind::Pawn: {
                const BitBoard last = side_mask(Board::last_row, e);
                BitBoard columns;
                for (std::uint8_t p : (b.piece_boards[8] & side_mask(b.color_boards, e)).get_trues())
                    columns = columns | generate_column(p % 11);
                allowed = empty & !last & !columns;
                break;
            }
            default: continue;
        }
        const auto code = static_cast<std::uint8_t>((byte_of(e) << 6) | number(entry.piece_type));
        for (std::uint8_t t : allowed.get_trues()) out.push_back(Move::base_constructor(code, t, 0, 1).word);
    }
    return out;
}

// Runs the steps in order on a copy and keeps the copy only when every step succeeded.
void model_execute(Model& b, Move m) {
    Model w = b;
    const std::uint8_t to = m.get_base(2);
    const std::uint8_t from = m.get_base(9);
    if (w.occupied[to]) {
        const Kind k = w.kind_at(to);
        const Kind captured = number(k) >= 9 ? static_cast<Kind>(number(k) - 6) : k;
        const Color owner = w.color_boards[0][to] ? Color::Black : Color::White;
        w.drop(to);
        w.hand.add_piece(owner == Color::Black ? Color::White : Color::Black, captured);
    }
    if (m.is_drop()) {
        const Piece p = Piece::from_u8(from);
        w.hand.decrease_piece(p.owner, p.piece_type);
        w.deploy(to, p.piece_type, p.owner);
    } else {
        Kind kind = w.kind_at(from);
        const Color owner = w.owner_at(from);
        w.drop(from);
        if (m.is_promote() && number(kind) >= 3 && number(kind) <= 8) kind = static_cast<Kind>(number(kind) + 6);
        w.deploy(to, kind, owner);
    }
    b = w;
}

bool same(const Board& board, const Model& model) {
    if (board.hand.counts != model.hand.counts) return false;
    for (std::size_t i = 0; i < kHandSlots; ++i)
        if (board.hand.pieces[i].code() != model.hand.pieces[i].code() ||
            board.hand.pieces[i].owner != model.hand.pieces[i].owner)
            return false;
    if (!(board.occupied == model.occupied)) return false;
    for (int c = 0; c < 2; ++c)
        if (!(board.color_boards[c] == model.color_boards[c])) return false;
    for (int k = 0; k < 15; ++k)
        if (!(board.piece_boards[k] == model.piece_boards[k])) return false;
    for (unsigned i = 0; i < kBits; ++i) {
        const auto index = static_cast<std::uint8_t>(i);
        if (board.kind_at(index) != model.kind_at(index) || board.owner_at(index) != model.owner_at(index))
            return false;
    }
    return true;
}

std::vector<std::uint16_t> fast_moves(const Board& b, Color color) {
    MoveList list;
    search_moves(b, color, list);
    return std::vector<std::uint16_t>(list.data(), list.data() + list.size());
}

std::string moves_text(const Board& b, Color color) {
    std::string text;
    for (std::uint16_t w : fast_moves(b, color)) {
        if (!text.empty()) text += ' ';
        text += Move{w}.to_string();
    }
    return text;
}

std::string first(const std::vector<std::string>& v) { return v.empty() ? "" : v.front(); }
std::string last(const std::vector<std::string>& v) { return v.empty() ? "" : v.back(); }

std::vector<std::string> move_texts(const Board& b, Color color) {
    std::vector<std::string> texts;
    for (std::uint16_t w : fast_moves(b, color)) texts.push_back(Move{w}.to_string());
    return texts;
}

Board with_pieces(std::initializer_list<std::tuple<Address, Kind, Color>> pieces) {
    Board b;
    for (const auto& [at, kind, color] : pieces) b.deploy(at.to_int(), kind, color);
    return b;
}

// ---------------------------------------------------------------------------------------------

void test_bitboard() {
    group = "bitboard";
    const BitBoard wall = BitBoard::from_words(0xfff00600c0180300, 0x600c01803007ff80);
    std::vector<int> wall_squares;
    for (int i = 0; i <= 120; ++i) {
        const int row = i / 11, column = i % 11;
        if (row == 0 || row == 10 || column == 0 || column == 10) wall_squares.push_back(i);
    }
    CHECK_EQ(members(wall), wall_squares);
    CHECK_EQ(wall.count_ones(), 40u);
    CHECK(wall == Board::wall);
    for (int i = 121; i < 128; ++i) CHECK(!wall[static_cast<std::size_t>(i)]);
    CHECK_EQ((!wall).count_ones(), 88u);
    CHECK_EQ(members(!wall).size(), std::size_t{81});

    const BitBoard last = BitBoard::from_u128(1);
    CHECK_EQ(last.count_ones(), 1u);
    CHECK(members(last).empty());
    CHECK(last[127]);
    CHECK_EQ(members(BitBoard::from_u128(static_cast<u128>(1) << 127)), std::vector<int>{0});

    const BitBoard sixty = set_of({60});
    CHECK_EQ(members(sixty << 11), std::vector<int>{49});
    CHECK_EQ(members(sixty >> 11), std::vector<int>{71});
    CHECK(!(sixty << 61).any());
    CHECK(sixty >> 67 == BitBoard::from_u128(1));
    CHECK(!(sixty >> 68).any());
    CHECK(sixty << 0 == sixty);
    CHECK(sixty >> 0 == sixty);
    CHECK(!(sixty << 128).any());
    CHECK(!(!BitBoard() >> 128).any());
    CHECK_FAILS((void)(sixty << 129), "Panic: shift must be less than the length of the bit-slice: 129 >= 128");
    CHECK_FAILS((void)(sixty >> 200), "Panic: shift must be less than the length of the bit-slice: 200 >= 128");

    // Spare indices are ordinary bits for everything but the complement and the listing.
    const BitBoard spare = set_of({121, 127});
    CHECK(members(spare).empty());
    CHECK_EQ(spare.count_ones(), 2u);
    CHECK_EQ(members(spare << 10), (std::vector<int>{111, 117}));
    CHECK_EQ((!BitBoard()).count_ones(), 128u);
    CHECK_EQ((!last).count_ones(), 128u);
    CHECK((!last)[127]);
    CHECK((!!BitBoard()) == BitBoard::from_u128(0x7f));
    CHECK((set_of({5}) & set_of({5, 6})) == set_of({5}));
    CHECK((set_of({5}) | set_of({6})) == set_of({5, 6}));

    CHECK_EQ(members(generate_column(5)), (std::vector<int>{16, 27, 38, 49, 60, 71, 82, 93, 104}));
    CHECK_EQ(members(generate_column(0)), (std::vector<int>{11, 22, 33, 44, 55, 66, 77, 88, 99}));
    CHECK(generate_column(100) == set_of({111, 122}));
    CHECK_FAILS((void)generate_column(128), "Panic: index 128 out of range: Excluded(128)");

    BitBoard b;
    CHECK_FAILS((void)b[200], "Panic: index 200 out of bounds: 128");
    CHECK_FAILS(b.set(200, true), "Panic: index 200 out of range: Excluded(128)");
    CHECK(!b.any());
    b.set(127, true);
    b.set(0, true);
    CHECK(b[0] && b[127]);
    b.set(0, false);
    CHECK(!b[0] && b[127]);
}

void test_piece() {
    group = "piece";
    const Piece none_black = Piece::from_u8(0);
    CHECK(none_black.owner == Color::Black && none_black.piece_type == Kind::None);
    CHECK(Piece::from_u8(64).owner == Color::White && Piece::from_u8(64).piece_type == Kind::None);
    CHECK(Piece::from_u8(8).owner == Color::Black && Piece::from_u8(8).piece_type == Kind::Pawn);
    CHECK(Piece::from_u8(72).owner == Color::White && Piece::from_u8(72).piece_type == Kind::Pawn);
    CHECK(Piece::from_u8(73).piece_type == Kind::Dragon);
    CHECK_EQ(Piece::from_u8(15).piece_type, Kind::None);
    CHECK_EQ(Piece::from_u8(63).piece_type, Kind::None);
    CHECK(Piece::from_u8(137).owner == Color::Black && Piece::from_u8(137).piece_type == Kind::Dragon);
    for (int k = 1; k < 15; ++k)
        for (Color c : {Color::Black, Color::White}) {
            const Piece p{c, static_cast<Kind>(k)};
            CHECK_EQ(Piece::from_u8(p.code()).code(), p.code());
        }

    CHECK_EQ(Piece(Color::White, Kind::Pawn).to_string(), "p");
    CHECK_EQ(Piece(Color::None, Kind::King).to_string(), "k");
    CHECK_EQ(Piece(Color::ColorNumber, Kind::Gold).to_string(), "g");
    CHECK_EQ(Piece(Color::Black, Kind::None).to_string(), " ");
    CHECK_EQ(Piece(Color::White, Kind::None).to_string(), " ");
    CHECK_EQ(Piece(Color::Black, Kind::Dragon).to_string(), "+R");
    CHECK_EQ(Piece(Color::White, Kind::ProPawn).to_string(), "+p");
    const char* black_text[15] = {" ", "K", "G", "R", "B", "S", "N", "L", "P", "+R", "+B", "+S", "+N", "+L", "+P"};
    for (int k = 0; k < 15; ++k) CHECK_EQ(Piece(Color::Black, static_cast<Kind>(k)).to_string(), black_text[k]);

    CHECK_EQ(Piece(Color::Black, Kind::King).debug(), "Piece { owner: Black, piece_type: King }");
    CHECK_EQ(Piece(Color::None, Kind::ProKnight).debug(), "Piece { owner: None, piece_type: ProKnight }");
    CHECK_EQ(Piece(Color::ColorNumber, Kind::None).debug(), "Piece { owner: ColorNumber, piece_type: None }");
}

void test_address() {
    group = "address";
    CHECK_EQ(square(7, 7).to_int(), 84);
    CHECK_EQ(square(7, 7).to_string(), "7g");
    CHECK_EQ(square(1, 1).to_int(), 12);
    CHECK_EQ(square(9, 9).to_int(), 108);
    CHECK_EQ(square(10, 10).to_int(), 120);
    CHECK_EQ(square(0, 0).to_int(), 0);
    CHECK_EQ(square(0, 0).to_string(), "0`");
    CHECK_EQ(square(0, 24).to_int(), 8);
    CHECK_EQ(square(255, 255).to_int(), 244);
    CHECK_EQ(square(200, 1).to_string(), "\xC3\xB8" "a");
    CHECK_EQ(square(208, 160).to_string(), std::string("\0\0", 2));
    CHECK_EQ(square(79, 31).to_string(), "\x7F\x7F");
    CHECK_EQ(square(80, 32).to_string(), "\xC2\x80\xC2\x80");
    for (int i = 0; i <= 120; ++i) CHECK_EQ(Address::from_index(static_cast<std::uint8_t>(i)).to_int(), i);
}

void test_hand() {
    group = "hand";
    Hand hand;
    CHECK_EQ("velkorant.Hand(" + hand.debug() + ")",
             "velkorant.Hand(pieces=[Piece { owner: Black, piece_type: King }, Piece { owner: Black, piece_type: Gold }, Piece { owner: Black, piece_type: Rook }, Piece { owner: Black, piece_type: Bichop }, Piece { owner: Black, piece_type: Silver }, Piece { owner: Black, piece_type: Knight }, Piece { owner: Black, piece_type: Lance }, Piece { owner: Black, piece_type: Pawn }, Piece { owner: White, piece_type: King }, Piece { owner: White, piece_type: Gold }, Piece { owner: White, piece_type: Rook }, Piece { owner: White, piece_type: Bichop }, Piece { owner: White, piece_type: Silver }, Piece { owner: White, piece_type: Knight }, Piece { owner: White, piece_type: Lance }, Piece { owner: White, piece_type: Pawn }], counts=[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0])");
    CHECK_EQ(hand.get_player_pieces(Color::Black).size, 0);

    for (int i = 0; i < 3; ++i) hand.add_piece(Color::Black, Kind::Pawn);
    CHECK_EQ(hand.counts[7], 3);
    const PlayerPieces black = hand.get_player_pieces(Color::Black);
    CHECK(black.size == 1 && black.items[0].owner == Color::Black && black.items[0].piece_type == Kind::Pawn);
    CHECK_EQ(hand.get_player_pieces(Color::White).size, 0);

    Hand white;
    white.add_piece(Color::White, Kind::King);
    CHECK_EQ(white.counts[8], 1);
    white.add_pieces(Color::White, Kind::Rook, 2);
    CHECK_EQ(white.counts[10], 2);
    white.add_piece(Color::White, Kind::Pawn);
    white.add_piece(Color::White, Kind::Gold);
    std::string listed;
    for (const Piece& p : white.get_player_pieces(Color::White)) listed += p.to_string();
    CHECK_EQ(listed, "kgrp");
    white.decrease_piece(Color::White, Kind::King);
    listed.clear();
    for (const Piece& p : white.get_player_pieces(Color::White)) listed += p.to_string();
    CHECK_EQ(listed, "grp");

    // Slots: valid pairs, pairs past the table, pairs that would land on another slot.
    CHECK_EQ(Hand::slot(Color::Black, Kind::King), std::size_t{0});
    CHECK_EQ(Hand::slot(Color::Black, Kind::Pawn), std::size_t{7});
    CHECK_EQ(Hand::slot(Color::White, Kind::King), std::size_t{8});
    CHECK_EQ(Hand::slot(Color::White, Kind::Pawn), std::size_t{15});
    CHECK_FAILS(Hand::slot(Color::None, Kind::Pawn), "Panic: index out of bounds: the len is 16 but the index is 65535");
    CHECK_FAILS(Hand::slot(Color::White, Kind::Dragon), "Panic: index out of bounds: the len is 16 but the index is 16");
    CHECK_FAILS(Hand::slot(Color::ColorNumber, Kind::King), "Panic: index out of bounds: the len is 16 but the index is 16");
    CHECK_FAILS(Hand::slot(Color::Black, Kind::None), "Panic: index out of bounds: the len is 16 but the index is 65535");
    CHECK_FAILS(Hand::slot(Color::White, Kind::None), "ValueError: no hand slot for White None");
    CHECK_FAILS(Hand::slot(Color::Black, Kind::Dragon), "ValueError: no hand slot for Black Dragon");
    CHECK_FAILS(Hand::slot(Color::None, Kind::Horse), "ValueError: no hand slot for None Horse");
    CHECK_FAILS(Hand::slot(Color::ColorNumber, Kind::None), "ValueError: no hand slot for ColorNumber None");

    // Every failure leaves the hand as it was.
    Hand h;
    h.add_pieces(Color::Black, Kind::Gold, 250);
    const auto before = h.counts;
    CHECK_FAILS(h.add_piece(Color::None, Kind::Pawn), "Panic: index out of bounds: the len is 16 but the index is 65535");
    CHECK_FAILS(h.add_piece(Color::White, Kind::Dragon), "Panic: index out of bounds: the len is 16 but the index is 16");
    CHECK_FAILS(h.add_piece(Color::White, Kind::None), "ValueError: no hand slot for White None");
    CHECK_FAILS(h.add_pieces(Color::Black, Kind::Gold, 6), "OverflowError: too many Black Gold in hand: a count holds at most 255");
    CHECK_FAILS(h.decrease_piece(Color::White, Kind::Lance), "ValueError: no White Lance in hand to take");
    CHECK_FAILS((void)h.get_player_pieces(Color::None), "Panic: index out of bounds: the len is 16 but the index is 65528");
    CHECK_FAILS((void)h.get_player_pieces(Color::ColorNumber), "Panic: index out of bounds: the len is 16 but the index is 16");
    CHECK(h.counts == before);
    h.add_pieces(Color::Black, Kind::Gold, 5);
    CHECK_EQ(h.counts[1], 255);
    h.add_pieces(Color::Black, Kind::Gold, 0);
    CHECK_EQ(h.counts[1], 255);

    // The slot comes from the formula, the listed piece from the table.
    Hand odd;
    odd.pieces.fill(Piece{Color::White, Kind::Gold});
    odd.add_piece(Color::Black, Kind::King);
    const PlayerPieces listed_odd = odd.get_player_pieces(Color::Black);
    CHECK(listed_odd.size == 1 && listed_odd.items[0].owner == Color::White &&
          listed_odd.items[0].piece_type == Kind::Gold);
}

void test_moves() {
    group = "move text";
    const Move m = Move::parse("7g7f");
    CHECK(m.from() == 84 && m.to() == 73 && !m.is_promote() && !m.is_drop());
    CHECK_EQ(m.to_string(), "7g7f");
    CHECK(m.get_from().column == 7 && m.get_from().row == 7);
    CHECK(m.get_to().column == 7 && m.get_to().row == 6);
    CHECK_EQ(m.get_base(9), m.from());
    CHECK_EQ(m.get_base(2), m.to());

    const Move p = Move::parse("7g7f+");
    CHECK(p.from() == 84 && p.to() == 73 && p.is_promote() && !p.is_drop());
    CHECK_EQ(p.to_string(), "7g7f+");
    CHECK_EQ(Move::parse("7g7fx").word, m.word);
    CHECK_EQ(Move::parse("7g7f=").to_string(), "7g7f");
    const Move b = Move::parse("8h2b+");
    CHECK(b.from() == 96 && b.to() == 24 && b.is_promote());

    const Move drop = Move::parse("P*5e");
    CHECK(drop.from() == 8 && drop.to() == 60 && drop.is_drop() && !drop.is_promote());
    CHECK(drop.get_piece().owner == Color::Black && drop.get_piece().piece_type == Kind::Pawn);
    CHECK_EQ(drop.to_string(), "P*5e");
    CHECK_EQ(Move::parse("p*5e").from(), 72);
    CHECK_EQ(Move::parse("p*5e").to_string(), "p*5e");
    CHECK_EQ(Move::parse("K*5e").from(), 1);
    CHECK_EQ(Move::parse("k*5e").from(), 65);
    CHECK_EQ(Move::parse("X*5e").from(), 64);
    CHECK_EQ(Move::parse("A*5e").from(), 0);
    CHECK_EQ(Move::parse("A*5e").to_string(), " *5e");
    CHECK(!Move::parse("P*5e+").is_promote());
    CHECK_EQ(Move::parse("1a1a").from(), 12);
    CHECK_EQ(Move::parse("1a1a").to(), 12);
    CHECK(Move::parse("9i9i").from() == 108 && Move::parse("9i9i").to() == 108);
    CHECK(Move::parse("abcd").from() == 71 && Move::parse("abcd").to() == 95);  // "5f7h"

    // Characters, not bytes, decide the drop and the promotion.
    const Move accented = Move::parse("\xC3\xA9*5e");  // é*5e: the second character is '*'
    CHECK(accented.is_drop());
    CHECK_EQ(accented.from(), 64);  // no piece letter; é is U+00E9, 233 >= 84 sets the White bit
    CHECK(Move::parse("\xC3\xA9" "7g7+").is_promote());   // fifth character '+', sixth byte
    CHECK(!Move::parse("\xC3\xA9" "1a+").is_promote());    // '+' is the fifth byte but fourth character
    CHECK(Move::parse("\xC3\xA9" "1a1+").is_promote());
    // The destination is not masked either: its eighth bit lands on the promote flag.
    CHECK(Move::parse("7g\xC3\xA9").is_promote());
    CHECK(!Move::parse("7g7f\xC3\xA9").is_promote());
    // The first character's code point modulo 256 picks the colour: U+0154 gives 0x54 = 84.
    CHECK_EQ(Move::parse("\xC5\x94*5e").from(), 64);
    CHECK_EQ(Move::parse("\xC5\x93*5e").from(), 0);

    // Without masking, a source of 128 or more runs into the destination field.
    const Move wide = Move::parse("9z1a");
    CHECK_EQ(wide.word, static_cast<std::uint16_t>(((57 - 48) + 11 * (122 - 96)) % 256 | 12 << 7));

    // Texts too short to hold a destination.
    CHECK_FAILS(Move::parse(""), "Panic: byte index 2 is out of bounds of ``");
    CHECK_FAILS(Move::parse("7"), "Panic: byte index 2 is out of bounds of `7`");
    CHECK_FAILS(Move::parse("7g"), "Panic: index out of bounds: the len is 0 but the index is 0");
    CHECK_FAILS(Move::parse("7g7"), "Panic: index out of bounds: the len is 1 but the index is 1");
    CHECK_FAILS(Move::parse("a\xC3\xA9"), "Panic: byte index 2 is not a char boundary; it is inside '\xC3\xA9' (bytes 1..3) of `a\xC3\xA9`");
    CHECK_FAILS(Move::parse("\xE2\x82\xAC" "7g"), "Panic: byte index 2 is not a char boundary; it is inside '\xE2\x82\xAC' (bytes 0..3) of `\xE2\x82\xAC" "7g`");
    const std::string long_text = "a\xC3\xA9" + std::string(300, 'x');
    const std::string shown = "a\xC3\xA9" + std::string(253, 'x');
    CHECK_FAILS(Move::parse(long_text), "Panic: byte index 2 is not a char boundary; it is inside '\xC3\xA9' (bytes 1..3) of `" + shown + "`[...]");

    // Text written from a move reads back as the same move.
    int round_trips = 0, mismatches = 0;
    for (int from_row = 1; from_row <= 9; ++from_row)
        for (int from_col = 1; from_col <= 9; ++from_col)
            for (int to = 12; to <= 108; ++to) {
                if (Board::wall.test(static_cast<unsigned>(to))) continue;
                for (std::uint8_t promote = 0; promote < 2; ++promote) {
                    const Move move = Move::base_constructor(index_of(from_col, from_row), static_cast<std::uint8_t>(to), promote, 0);
                    ++round_trips;
                    mismatches += Move::parse(move.to_string()).word != move.word;
                }
            }
    for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 65, 66, 67, 68, 69, 70, 71, 72})
        for (int to = 12; to <= 108; ++to) {
            if (Board::wall.test(static_cast<unsigned>(to))) continue;
            const Move move = Move::base_constructor(static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(to), 0, 1);
            ++round_trips;
            mismatches += Move::parse(move.to_string()).word != move.word;
        }
    CHECK_EQ(round_trips, 81 * 81 * 2 + 16 * 81);
    CHECK_EQ(mismatches, 0);
}

void test_board() {
    group = "board";
    Board empty;
    CHECK_EQ(empty.placement(), "9/9/9/9/9/9/9/9/9");
    CHECK(empty.get_piece(square(5, 5)).owner == Color::None && empty.get_piece(square(5, 5)).piece_type == Kind::None);
    CHECK(empty.get_piece(square(0, 0)).owner == Color::None);

    Board start;
    start.startpos();
    CHECK_EQ(start.placement(), "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL");
    CHECK(start.get_piece(square(5, 1)).owner == Color::Black && start.get_piece(square(5, 1)).piece_type == Kind::King);
    CHECK(start.get_piece(square(8, 8)).owner == Color::White && start.get_piece(square(8, 8)).piece_type == Kind::Bichop);
    CHECK_EQ(start.occupied.count_ones(), 40u);
    CHECK_EQ(start.piece_boards[0].count_ones(), 41u + 7u);

    // Overwriting leaves the hands alone.
    Board b = start;
    b.deploy(index_of(5, 1), Kind::Pawn, Color::White);
    CHECK(b.get_piece(square(5, 1)).piece_type == Kind::Pawn && b.get_piece(square(5, 1)).owner == Color::White);
    CHECK(b.hand.counts == Hand().counts);
    CHECK_EQ(b.piece_boards[1].count_ones(), 1u);

    // An occupied square outside Black's set reads as White.
    Board none;
    none.deploy(16, Kind::King, Color::None);
    CHECK(none.get_piece(square(5, 1)).owner == Color::White && none.get_piece(square(5, 1)).piece_type == Kind::King);
    CHECK_EQ(none.placement(), "9/9/9/9/9/9/9/9/4k4");
    none.deploy(17, Kind::Dragon, Color::Black);
    CHECK_EQ(none.placement(), "9/9/9/9/9/9/9/9/4k+R3");

    // Wall squares and spare indices can be written; 128 and beyond cannot.
    Board w;
    w.deploy(0, Kind::Rook, Color::Black);
    w.deploy(127, Kind::Gold, Color::White);
    CHECK_EQ(w.placement(), "9/9/9/9/9/9/9/9/9");
    CHECK(w.get_piece(square(0, 0)).piece_type == Kind::Rook);
    const Board snapshot = w;
    CHECK_FAILS(w.deploy(128, Kind::Pawn, Color::Black), "Panic: index 128 out of range: Excluded(128)");
    CHECK_FAILS(w.drop(255), "Panic: index 255 out of range: Excluded(128)");
    CHECK_FAILS((void)w.get_piece(square(0, 12)), "Panic: index 132 out of bounds: 128");
    CHECK(w.get_piece(square(6, 11)).piece_type == Kind::Gold);  // 6 + 121 = 127
    CHECK(std::memcmp(&w, &snapshot, sizeof w) == 0);

    // A dropped wall square reads as empty and joins the empty squares.
    w.drop(0);
    CHECK(w.get_piece(square(0, 0)).piece_type == Kind::None && w.get_piece(square(0, 0)).owner == Color::None);
    CHECK(w.piece_boards[0].test(0));

    // startpos keeps the other squares and empties the hands.
    Board kept;
    kept.deploy(index_of(5, 5), Kind::Silver, Color::White);
    kept.hand.add_piece(Color::Black, Kind::Rook);
    kept.startpos();
    CHECK_EQ(kept.placement(), "lnsgkgsnl/1r5b1/ppppppppp/9/4s4/9/PPPPPPPPP/1B5R1/LNSGKGSNL");
    CHECK(kept.hand.counts == Hand().counts);

    // A kind outside 0..14 is held by no kind set and reads as None.
    Board odd;
    odd.deploy(60, static_cast<Kind>(20), Color::Black);
    CHECK(odd.occupied.test(60) && odd.kind_at(60) == Kind::None && !odd.piece_boards[0].test(60));
}

void test_game_end() {
    group = "game end";
    CHECK(is_finished(Board()) == std::make_pair(true, Color::White));
    Board start;
    start.startpos();
    CHECK(is_finished(start) == std::make_pair(false, Color::None));

    Board black_wins = start;
    black_wins.deploy(index_of(5, 8), Kind::Gold, Color::Black);
    execute_move(black_wins, Move::parse("5h5i"));
    CHECK(is_finished(black_wins) == std::make_pair(true, Color::Black));
    CHECK_EQ(black_wins.hand.counts[0], 1);

    Board white_wins = start;
    white_wins.deploy(index_of(5, 2), Kind::Gold, Color::White);
    execute_move(white_wins, Move::parse("5b5a"));
    CHECK(is_finished(white_wins) == std::make_pair(true, Color::White));
    CHECK_EQ(white_wins.hand.counts[8], 1);

    Board three = with_pieces({{square(1, 1), Kind::King, Color::White}, {square(2, 2), Kind::King, Color::White},
                               {square(3, 3), Kind::King, Color::Black}});
    CHECK(is_finished(three) == std::make_pair(true, Color::Black));
    Board two_white = with_pieces({{square(1, 1), Kind::King, Color::White}, {square(2, 2), Kind::King, Color::White}});
    CHECK(is_finished(two_white) == std::make_pair(false, Color::None));
    // Kings on spare indices count too.
    Board spare = two_white;
    spare.deploy(125, Kind::King, Color::Black);
    CHECK(is_finished(spare) == std::make_pair(true, Color::Black));
}

void test_execute() {
    group = "execute";
    Board start;
    start.startpos();

    Board b = start;
    execute_move(b, Move::base_constructor(36, 47, 0, 0));
    CHECK(b.get_piece(square(3, 4)).piece_type == Kind::Pawn && b.get_piece(square(3, 4)).owner == Color::Black);
    CHECK(b.get_piece(square(3, 3)).piece_type == Kind::None && b.get_piece(square(3, 3)).owner == Color::None);
    CHECK(b.hand.counts == Hand().counts);

    Board capture = with_pieces({{square(5, 5), Kind::Pawn, Color::Black}, {square(5, 6), Kind::Pawn, Color::White}});
    execute_move(capture, Move::parse("5e5f"));
    CHECK_EQ(capture.hand.counts[7], 1);
    CHECK(capture.get_piece(square(5, 6)).owner == Color::Black);
    CHECK_EQ(capture.occupied.count_ones(), 1u);

    Board dragon = with_pieces({{square(5, 5), Kind::Gold, Color::Black}, {square(5, 6), Kind::Dragon, Color::White}});
    execute_move(dragon, Move::parse("5e5f"));
    CHECK_EQ(dragon.hand.counts[2], 1);

    Board propawn = with_pieces({{square(5, 5), Kind::Gold, Color::White}, {square(5, 6), Kind::ProPawn, Color::Black}});
    execute_move(propawn, Move::parse("5e5f"));
    CHECK_EQ(propawn.hand.counts[15], 1);

    Board silver = with_pieces({{square(5, 6), Kind::Silver, Color::Black}});
    Board plain = silver;
    execute_move(silver, Move::parse("5f5g+"));
    CHECK_EQ(silver.get_piece(square(5, 7)).piece_type, Kind::ProSilver);
    execute_move(plain, Move::parse("5f5g"));
    CHECK_EQ(plain.get_piece(square(5, 7)).piece_type, Kind::Silver);

    Board gold = with_pieces({{square(5, 6), Kind::Gold, Color::Black}, {square(4, 6), Kind::King, Color::Black}});
    execute_move(gold, Move::parse("5f5g+"));
    execute_move(gold, Move::parse("4f4g+"));
    CHECK(gold.get_piece(square(5, 7)).piece_type == Kind::Gold && gold.get_piece(square(4, 7)).piece_type == Kind::King);

    Board pawn_drop;
    pawn_drop.hand.add_pieces(Color::Black, Kind::Pawn, 2);
    execute_move(pawn_drop, Move::parse("P*5e"));
    CHECK_EQ(pawn_drop.hand.counts[7], 1);
    CHECK_EQ(pawn_drop.placement(), "9/9/9/9/4P4/9/9/9/9");

    Board drop_on_piece = with_pieces({{square(5, 5), Kind::Horse, Color::White}});
    drop_on_piece.hand.add_piece(Color::Black, Kind::Pawn);
    execute_move(drop_on_piece, Move::parse("P*5e"));
    CHECK(drop_on_piece.hand.counts[3] == 1 && drop_on_piece.hand.counts[7] == 0);
    CHECK(drop_on_piece.get_piece(square(5, 5)).piece_type == Kind::Pawn);

    // From an empty square: an occupied square of kind None, read as White.
    Board from_empty;
    execute_move(from_empty, Move::parse("5e5f"));
    CHECK(from_empty.occupied.test(index_of(5, 6)));
    CHECK(from_empty.get_piece(square(5, 6)).owner == Color::White && from_empty.get_piece(square(5, 6)).piece_type == Kind::None);

    // Onto its own square: the piece is captured first, then the empty source is moved.
    Board same_square = with_pieces({{square(1, 1), Kind::Lance, Color::White}});
    execute_move(same_square, Move::parse("1a1a"));
    CHECK_EQ(same_square.hand.counts[6], 1);
    CHECK(same_square.occupied.test(12) && same_square.owner_at(12) == Color::White && same_square.kind_at(12) == Kind::None);
    CHECK(!same_square.color_boards[1].test(12));

    // Refused moves leave the board exactly as it was.
    Board refuse = with_pieces({{square(5, 5), Kind::Rook, Color::White}, {square(6, 6), Kind::None, Color::Black},
                                {square(7, 7), Kind::None, Color::White}, {square(5, 4), Kind::Pawn, Color::Black}});
    refuse.hand.add_pieces(Color::Black, Kind::Rook, 255);
    const Board before = refuse;
    const auto unchanged = [&] { return std::memcmp(&refuse, &before, sizeof refuse) == 0; };
    CHECK_FAILS(execute_move(refuse, Move::parse("A*1a")), "Panic: index out of bounds: the len is 16 but the index is 65535");
    CHECK(unchanged());
    CHECK_FAILS(execute_move(refuse, Move::parse("X*1a")), "ValueError: no hand slot for White None");
    CHECK(unchanged());
    CHECK_FAILS(execute_move(refuse, Move::parse("N*1a")), "ValueError: no Black Knight in hand to take");
    CHECK(unchanged());
    CHECK_FAILS(execute_move(refuse, Move::parse("5d5e")), "OverflowError: too many Black Rook in hand: a count holds at most 255");
    CHECK(unchanged());
    CHECK_FAILS(execute_move(refuse, Move::parse("5d7g")), "Panic: index out of bounds: the len is 16 but the index is 65535");
    CHECK(unchanged());
    CHECK_FAILS(execute_move(refuse, Move::parse("5d6f")), "ValueError: no hand slot for White None");
    CHECK(unchanged());
    CHECK_FAILS(execute_move(refuse, Move::base_constructor(73, 20, 0, 1)), "Panic: index out of bounds: the len is 16 but the index is 16");
    CHECK(unchanged());
    CHECK_FAILS(execute_move(refuse, Move::base_constructor(9, 20, 0, 1)), "ValueError: no hand slot for Black Dragon");
    CHECK(unchanged());
}

void test_generation_examples() {
    group = "generation examples";
    Board start;
    start.startpos();
    CHECK_EQ(moves_text(start, Color::Black),
             "1a1b 3a3b 3a4b 4a3b 4a4b 4a5b 5a4b 5a5b 5a6b 6a5b 6a6b 6a7b 7a6b 7a7b 9a9b "
             "8b3b 8b4b 8b5b 8b6b 8b7b 8b9b 1c1d 2c2d 3c3d 4c4d 5c5d 6c6d 7c7d 8c8d 9c9d");
    CHECK_EQ(moves_text(start, Color::White),
             "1g1f 2g2f 3g3f 4g4f 5g5f 6g6f 7g7f 8g8f 9g9f 2h1h 2h3h 2h4h 2h5h 2h6h 2h7h "
             "1i1h 3i3h 3i4h 4i3h 4i4h 4i5h 5i4h 5i5h 5i6h 6i5h 6i6h 6i7h 7i6h 7i7h 9i9h");

    CHECK_EQ(moves_text(with_pieces({{square(5, 8), Kind::Pawn, Color::Black}}), Color::Black), "5h5i 5h5i+");
    CHECK_EQ(moves_text(with_pieces({{square(5, 2), Kind::Pawn, Color::White}}), Color::White), "5b5a 5b5a+");
    CHECK_EQ(moves_text(with_pieces({{square(5, 5), Kind::Rook, Color::Black}}), Color::Black),
             "5e5a 5e5b 5e5c 5e5d 5e1e 5e2e 5e3e 5e4e 5e6e 5e7e 5e8e 5e9e 5e5f 5e5g 5e5h 5e5i 5e5g+ 5e5h+ 5e5i+");
    {
        const auto texts = move_texts(with_pieces({{square(5, 8), Kind::Rook, Color::Black}}), Color::Black);
        CHECK_EQ(texts.size(), std::size_t{32});
        bool mirrored = texts.size() == 32;
        for (std::size_t i = 0; mirrored && i < 16; ++i) mirrored = texts[i + 16] == texts[i] + "+";
        CHECK(mirrored);
        CHECK_EQ(texts.size() > 16 ? texts[16] : "", "5h5a+");
    }
    CHECK_EQ(moves_text(with_pieces({{square(5, 6), Kind::Silver, Color::Black}}), Color::Black),
             "5f4e 5f6e 5f4g 5f5g 5f6g 5f4g+ 5f5g+ 5f6g+");
    CHECK_EQ(moves_text(with_pieces({{square(5, 7), Kind::Knight, Color::Black}}), Color::Black), "5g4i 5g6i 5g4i+ 5g6i+");
    for (int row = 8; row <= 9; ++row)
        for (int column = 1; column <= 9; ++column)
            CHECK_EQ(moves_text(with_pieces({{square(column, row), Kind::Knight, Color::Black}}), Color::Black), "");
    for (Kind k : {Kind::Dragon, Kind::Horse}) {
        const auto texts = move_texts(with_pieces({{square(5, 5), k, Color::Black}}), Color::Black);
        CHECK_EQ(texts.size(), std::size_t{20});
        bool promotes = false;
        for (const auto& t : texts) promotes |= t.back() == '+';
        CHECK(!promotes);
    }
    CHECK_EQ(moves_text(with_pieces({{square(5, 5), Kind::Rook, Color::Black}, {square(5, 3), Kind::Pawn, Color::White},
                                     {square(5, 7), Kind::Gold, Color::Black}}), Color::Black),
             "5e5c 5e5d 5e1e 5e2e 5e3e 5e4e 5e6e 5e7e 5e8e 5e9e 5e5f 5g5f 5g4g 5g6g 5g4h 5g5h 5g6h");
    CHECK_EQ(moves_text(with_pieces({{square(5, 5), Kind::Lance, Color::White}, {square(5, 2), Kind::Pawn, Color::Black}}), Color::White),
             "5e5b 5e5c 5e5d 5e5b+ 5e5c+");

    // A piece of neither side does not block a slide.
    CHECK_EQ(move_texts(with_pieces({{square(5, 5), Kind::Rook, Color::Black}, {square(5, 3), Kind::Pawn, Color::None}}), Color::Black).size(),
             std::size_t{19});

    // Pieces on the wall move by the same offsets; slides stop after eight squares.
    CHECK_EQ(moves_text(with_pieces({{square(0, 1), Kind::Rook, Color::Black}}), Color::Black),
             "0a1a 0a2a 0a3a 0a4a 0a5a 0a6a 0a7a 0a8a");
    CHECK_EQ(moves_text(with_pieces({{square(9, 0), Kind::Knight, Color::Black}}), Color::Black), "9`8b");
    CHECK_EQ(moves_text(with_pieces({{square(0, 0), Kind::King, Color::Black}}), Color::Black), "0`1a");
    Board spare;
    spare.deploy(121, Kind::Rook, Color::Black);
    CHECK_EQ(moves_text(spare, Color::Black), "");

    // Drops.
    Board gold_in_hand = start;
    gold_in_hand.hand.add_piece(Color::Black, Kind::Gold);
    const auto gold_texts = move_texts(gold_in_hand, Color::Black);
    CHECK_EQ(gold_texts.size(), std::size_t{30 + 41});
    CHECK(gold_texts.size() == 71 && gold_texts[30] == "G*1b" && gold_texts[31] == "G*3b" && gold_texts[70] == "G*9h");
    Board pawn_in_hand = start;
    pawn_in_hand.hand.add_piece(Color::Black, Kind::Pawn);
    CHECK_EQ(fast_moves(pawn_in_hand, Color::Black).size(), std::size_t{30});

    const auto drops = [](Color side, Kind kind) {
        Board b;
        b.hand.add_piece(side, kind);
        return move_texts(b, side);
    };
    CHECK_EQ(drops(Color::White, Kind::Lance).size(), std::size_t{72});
    CHECK_EQ(first(drops(Color::White, Kind::Lance)), "l*1b");
    CHECK_EQ(drops(Color::White, Kind::Knight).size(), std::size_t{63});
    CHECK_EQ(first(drops(Color::White, Kind::Knight)), "n*1c");
    CHECK_EQ(drops(Color::Black, Kind::Pawn).size(), std::size_t{72});
    CHECK_EQ(last(drops(Color::Black, Kind::Pawn)), "P*9h");
    CHECK_EQ(drops(Color::Black, Kind::King).size(), std::size_t{0});
    CHECK_EQ(drops(Color::White, Kind::Rook).size(), std::size_t{81});

    Board propawn = with_pieces({{square(5, 5), Kind::ProPawn, Color::Black}});
    propawn.hand.add_piece(Color::Black, Kind::Pawn);
    const auto propawn_drops = move_texts(propawn, Color::Black);
    CHECK(std::find(propawn_drops.begin(), propawn_drops.end(), "P*5c") != propawn_drops.end());
    Board pawn_column = with_pieces({{square(5, 5), Kind::Pawn, Color::Black}, {square(4, 5), Kind::Pawn, Color::White}});
    pawn_column.hand.add_piece(Color::Black, Kind::Pawn);
    const auto column_drops = move_texts(pawn_column, Color::Black);
    // One pawn move, then rows 1-8 less column 5 and the square of the White pawn.
    CHECK_EQ(column_drops.size(), std::size_t{1 + 72 - 8 - 1});
    CHECK(std::find(column_drops.begin(), column_drops.end(), "P*5c") == column_drops.end());
    CHECK(std::find(column_drops.begin(), column_drops.end(), "P*4c") != column_drops.end());

    // An emptied wall square can take a drop; the spare indices never do.
    Board emptied;
    emptied.drop(5);
    emptied.hand.add_piece(Color::White, Kind::Gold);
    const auto emptied_drops = move_texts(emptied, Color::White);
    CHECK_EQ(emptied_drops.size(), std::size_t{82});
    CHECK_EQ(first(emptied_drops), "g*5`");

    CHECK_EQ(moves_text(Board(), Color::Black), "");
    CHECK_FAILS(fast_moves(start, Color::None), "Panic: index out of bounds: the len is 16 but the index is 65528");
    CHECK_FAILS(fast_moves(start, Color::ColorNumber), "Panic: index out of bounds: the len is 16 but the index is 16");

    // A hand piece listed for an owner that is not a side cannot look up that side's rows.
    Board odd_owner;
    odd_owner.hand.pieces[7] = Piece{Color::None, Kind::Pawn};
    odd_owner.hand.add_piece(Color::Black, Kind::Pawn);
    CHECK_FAILS(fast_moves(odd_owner, Color::Black), "Panic: index out of bounds: the len is 2 but the index is 18446744073709551615");
    odd_owner.hand.pieces[7] = Piece{Color::ColorNumber, Kind::Gold};
    const auto odd_words = fast_moves(odd_owner, Color::Black);
    CHECK(odd_words.size() == 81 && odd_words.front() == Move::base_constructor(0x80 | 2, 12, 0, 1).word);
}

// ---------------------------------------------------------------------------------------------
// The fast rules against the model.

struct Pair {
    Board board;
    Model model;
    void deploy(std::uint8_t i, Kind k, Color c) { board.deploy(i, k, c); model.deploy(i, k, c); }
    void drop(std::uint8_t i) { board.drop(i); model.drop(i); }
};

Color random_color(std::mt19937_64& rng, int odd_percent) {
    if (static_cast<int>(rng() % 100) < odd_percent) return rng() % 2 ? Color::None : Color::ColorNumber;
    return rng() % 2 ? Color::White : Color::Black;
}

Pair random_position(std::mt19937_64& rng) {
    Pair p;
    if (rng() % 2) {
        p.board.startpos();
        p.model.hand = Hand();
        Board reference;
        reference.startpos();
        for (std::uint8_t i = 0; i < kBits; ++i)
            if (reference.occupied.test(i)) p.model.deploy(i, reference.kind_at(i), reference.owner_at(i));
    }
    const int pieces = static_cast<int>(rng() % 30);
    for (int n = 0; n < pieces; ++n) {
        std::uint8_t index;
        const auto where = rng() % 10;
        if (where < 7) index = static_cast<std::uint8_t>(12 + rng() % 97);   // mostly the playing area
        else if (where < 9) index = static_cast<std::uint8_t>(rng() % 121);  // anywhere on the grid
        else index = static_cast<std::uint8_t>(121 + rng() % 7);             // spare indices
        const Kind kind = rng() % 12 == 0 ? Kind::None : static_cast<Kind>(1 + rng() % 14);
        p.deploy(index, kind, random_color(rng, 8));
    }
    const int drops = static_cast<int>(rng() % 6);
    for (int n = 0; n < drops; ++n) p.drop(static_cast<std::uint8_t>(rng() % 128));
    for (int n = static_cast<int>(rng() % 6); n > 0; --n) {
        const std::size_t slot = rng() % kHandSlots;
        const auto count = static_cast<std::uint8_t>(rng() % 3 == 0 ? 255 : rng() % 3);
        p.board.hand.counts[slot] = p.model.hand.counts[slot] = count;
    }
    if (rng() % 8 == 0) {
        const std::size_t slot = rng() % kHandSlots;
        const Piece piece{random_color(rng, 20), static_cast<Kind>(rng() % 15)};
        p.board.hand.pieces[slot] = p.model.hand.pieces[slot] = piece;
    }
    return p;
}

void test_against_model() {
    group = "fast rules = model";
    std::mt19937_64 rng(20240611);
    int positions = 0, generated = 0, executed = 0, refused = 0;
    int list_mismatches = 0, state_mismatches = 0;
    for (int game = 0; game < 400; ++game) {
        Pair p = random_position(rng);
        list_mismatches += !same(p.board, p.model);
        Color side = rng() % 2 ? Color::White : Color::Black;
        for (int ply = 0; ply < 30; ++ply) {
            ++positions;
            for (Color c : {Color::Black, Color::White, Color::None, Color::ColorNumber}) {
                std::vector<std::uint16_t> fast, slow;
                const std::string fast_outcome = outcome([&] { fast = fast_moves(p.board, c); });
                const std::string slow_outcome = outcome([&] { slow = model_moves(p.model, c); });
                if (fast_outcome != slow_outcome || (fast_outcome == "ok" && fast != slow)) {
                    if (++list_mismatches <= 3)
                        std::printf("  moves differ for %s: %s / %s, %zu vs %zu\n", show(c).c_str(),
                                    fast_outcome.c_str(), slow_outcome.c_str(), fast.size(), slow.size());
                }
                if (fast_outcome == "ok") generated += static_cast<int>(fast.size());
            }
            std::vector<std::uint16_t> moves;
            (void)outcome([&] { moves = fast_moves(p.board, side); });
            Move move;
            if (moves.empty() || rng() % 10 == 0) move = Move{static_cast<std::uint16_t>(rng())};
            else move = Move{moves[rng() % moves.size()]};
            const Board before = p.board;
            const std::string fast_outcome = outcome([&] { execute_move(p.board, move); });
            const std::string slow_outcome = outcome([&] { model_execute(p.model, move); });
            if (fast_outcome != slow_outcome || !same(p.board, p.model) ||
                (fast_outcome != "ok" && std::memcmp(&before, &p.board, sizeof before) != 0)) {
                if (++state_mismatches <= 3)
                    std::printf("  execute %s differs: %s / %s\n", move.to_string().c_str(), fast_outcome.c_str(),
                                slow_outcome.c_str());
            }
            (fast_outcome == "ok" ? executed : refused) += 1;
            side = opponent(side);
        }
    }
    CHECK_EQ(list_mismatches, 0);
    CHECK_EQ(state_mismatches, 0);
    // The random games must have exercised both paths.
    CHECK(generated > 100000);
    CHECK(executed > 5000);
    CHECK(refused > 100);
    std::printf("  compared %d positions, %d generated moves, %d executed and %d refused moves\n", positions,
                generated, executed, refused);
}

std::uint64_t fast_perft(const Board& b, Color c, int depth) {
    MoveList list;
    search_moves(b, c, list);
    if (depth == 1) return list.size();
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        Board child = b;
        execute_move(child, list[i]);
        n += fast_perft(child, opponent(c), depth - 1);
    }
    return n;
}

std::uint64_t model_perft(const Model& b, Color c, int depth) {
    const std::vector<std::uint16_t> moves = model_moves(b, c);
    if (depth == 1) return moves.size();
    std::uint64_t n = 0;
    for (std::uint16_t w : moves) {
        Model child = b;
        model_execute(child, Move{w});
        n += model_perft(child, opponent(c), depth - 1);
    }
    return n;
}

void test_perft() {
    group = "perft";
    Board board;
    board.startpos();
    Model model;
    for (std::uint8_t i = 0; i < kBits; ++i)
        if (board.occupied.test(i)) model.deploy(i, board.kind_at(i), board.owner_at(i));
    CHECK(same(board, model));
    for (int depth = 1; depth <= 3; ++depth) CHECK_EQ(fast_perft(board, Color::Black, depth), model_perft(model, Color::Black, depth));
    // With pieces in both hands, so that drops and captures of dropped pieces take part.
    for (Kind k : {Kind::Gold, Kind::Knight, Kind::Lance, Kind::Pawn}) {
        board.hand.add_piece(Color::Black, k);
        model.hand.add_piece(Color::Black, k);
        board.hand.add_piece(Color::White, k);
        model.hand.add_piece(Color::White, k);
    }
    for (int depth = 1; depth <= 2; ++depth) CHECK_EQ(fast_perft(board, Color::White, depth), model_perft(model, Color::White, depth));
}

}  // namespace

int main() {
    test_bitboard();
    test_piece();
    test_address();
    test_hand();
    test_moves();
    test_board();
    test_game_end();
    test_execute();
    test_generation_examples();
    test_against_model();
    test_perft();
    return check::finish();
}
