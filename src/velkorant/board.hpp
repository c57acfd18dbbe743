// The position: bit sets by colour and by kind, plus both sides' pieces in hand.
//
// Squares are row * 11 + column on an 11 x 11 grid whose outer ring (row 0, row 10, column 0,
// column 10) is a wall around the 9 x 9 playing area. Black starts on rows 1-3 and moves towards
// row 9; White starts on rows 7-9 and moves towards row 1.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "velkorant/address.hpp"
#include "velkorant/bitboard.hpp"
#include "velkorant/color.hpp"
#include "velkorant/hand.hpp"
#include "velkorant/moves.hpp"
#include "velkorant/piece.hpp"

namespace velkorant {

struct Board {
    // Constant masks, the same for every board.
    static constexpr BitBoard wall = BitBoard::from_words(0xfff00600c0180300, 0x600c01803007ff80);
    static constexpr std::array<BitBoard, 2> promotion_zone = {
        BitBoard::from_words(0, 0x3fe7fcff80000), BitBoard::from_words(0xff9ff3fe00000, 0)};
    static constexpr std::array<BitBoard, 2> last_row = {
        BitBoard::from_words(0, 0xff80000), BitBoard::from_words(0xff80000000000, 0)};
    static constexpr std::array<BitBoard, 2> last_two_rows = {
        BitBoard::from_words(0, 0x7fcff80000), BitBoard::from_words(0xff9ff00000000, 0)};

    Hand hand;
    BitBoard occupied;
    std::array<BitBoard, 2> color_boards{};
    // piece_boards[k]: squares whose piece is of kind k; piece_boards[0] holds the empty squares.
    std::array<BitBoard, kKinds> piece_boards{};
    // Derived from piece_boards and kept in step by every square write: the kind at each index
    // (the one kind set that holds it, or None when none does). At most one kind set ever holds
    // an index, so this is exactly the lowest-k reading, in one load instead of fifteen tests.
    std::array<Kind, kBits> square_kinds{};

    // An empty board: no pieces, empty hands. Not the initial position.
    Board();

    // Puts a piece of `kind` and `color` on `index`, overwriting whatever stood there. Nothing
    // is checked: wall squares, kind None and colour None are all written as given.
    // index >= 128 panics before anything is written.
    void deploy(std::uint8_t index, Kind kind, Color color);
    // Empties `index` (even a wall square).
    void drop(std::uint8_t index);
    // Empties `index` with the same square write as move execution. Unlike drop, an index past
    // the bit sets (128..255) is an IndexError, and nothing changes.
    void remove(std::uint8_t index);
    // Deploys the 40 pieces of the initial position and empties both hands; other squares keep
    // what they hold.
    void startpos();

    // Kind at i: the lowest k whose set holds i, or None. Panics for i >= 128.
    Kind kind_at(std::uint8_t index) const;
    // Owner at i: None unless occupied; then Black if in Black's set, else White.
    Color owner_at(std::uint8_t index) const;
    Piece get_piece(Address address) const;

    // The placement text: rows 9 down to 1, "/" between rows, upper case for Black.
    std::string placement() const;

    // The whole record as compact bytes, for pickling: a tag and a format version, then the
    // occupied and colour sets, the kind set of each index, the hand's piece table and counts.
    // Exact for every record the square writes can make, odd ones included.
    std::string state() const;
    // The board a state() describes. Bytes that are not a board state of this version, or that
    // describe a record the square writes cannot make, are a ValueError (a state of another
    // class a TypeError); no board is made from them.
    static Board from_state(std::string_view state);

    // The two square writes for an index already known to be below 128 and a kind in 0..14,
    // touching only the sets that change. The result is the same as deploy and drop.
    void deploy_unchecked(unsigned index, Kind kind, Color color) {
        const u128 bit = BitBoard::square(index).to_u128();
        occupied.add(index);
        color_boards[0] = BitBoard::from_u128((color_boards[0].to_u128() & ~bit) |
                                              (color == Color::Black ? bit : 0));
        color_boards[1] = BitBoard::from_u128((color_boards[1].to_u128() & ~bit) |
                                              (color == Color::White ? bit : 0));
        piece_boards[number(square_kinds[index])].remove(index);
        piece_boards[number(kind)].add(index);
        square_kinds[index] = kind;
    }
    void drop_unchecked(unsigned index) {
        occupied.remove(index);
        color_boards[0].remove(index);
        color_boards[1].remove(index);
        piece_boards[number(square_kinds[index])].remove(index);
        piece_boards[0].add(index);
        square_kinds[index] = Kind::None;
    }
};

// The first two bytes of a pickled state: its class's tag and format version, and the class's
// names for messages.
struct StateHeader {
    char tag;
    std::uint8_t version;
    const char* name;   // "Board"
    const char* noun;   // "board"
};
inline constexpr StateHeader kBoardState{'B', 1, "Board", "board"};
inline constexpr StateHeader kGameState{'G', 1, "Game", "game"};

// ValueError "not a <noun> state of this library: <why>".
[[noreturn]] void throw_bad_state(const StateHeader& header, const std::string& why);
// Checks that `state` begins with `header`'s tag and version; a state of `other` is a TypeError,
// anything else that does not match a ValueError.
void check_state_header(std::string_view state, const StateHeader& header, const StateHeader& other);

// The Python object wraps one Board and must stay within 512 bytes.
static_assert(sizeof(Board) <= 480);

// Board moves of `color` (ascending source; plain before promoting), then its drops. Colours
// other than White move as Black; None and ColorNumber panic when the hand is consulted.
void search_moves(const Board& board, Color color, MoveList& out);

// Applies a move, capturing into the hand. All-or-nothing: every hand slot the move touches is
// checked before any square changes, and a failure leaves the board as it was.
void execute_move(Board& board, Move move);

// (finished, winner): (false, None) while exactly two kings stand on the board; otherwise
// true and Black if any king is Black's, else White.
std::pair<bool, Color> is_finished(const Board& board);

// A position without a game around it: the board and the side to move.
struct Position {
    Board board;
    Color turn = Color::Black;
};

}  // namespace velkorant
