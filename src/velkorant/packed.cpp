// Positions in 32 bytes and moves in 16 bits: hcp and psfen, move16 and the psv move16.
#include "velkorant/packed.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "velkorant/errors.hpp"
#include "velkorant/legal.hpp"

namespace velkorant {
namespace {

// ---------------------------------------------------------------------------------------------
// Squares: 0..80 file by file (1a, 1b, ..., 9i), the library's column c and row r being USI's
// file 10 - c and rank 10 - r.

constexpr unsigned kNoSquare = 81;

constexpr unsigned index_of(unsigned sq) { return (9 - sq % 9) * 11 + (9 - sq / 9); }
constexpr auto kIndexOf = [] {
    std::array<std::uint8_t, 81> table{};
    for (unsigned sq = 0; sq < 81; ++sq) table[sq] = static_cast<std::uint8_t>(index_of(sq));
    return table;
}();
constexpr unsigned square_of(unsigned index) { return (9 - index % 11) * 9 + (9 - index / 11); }

// The kinds in hand, in the order the packings write them, and their number in a drop's source.
constexpr std::array<Kind, 7> kHandOrder = {Kind::Pawn, Kind::Lance, Kind::Knight, Kind::Silver,
                                            Kind::Gold, Kind::Bichop, Kind::Rook};
constexpr std::array<Kind, 7> kDropOrder = {Kind::Pawn, Kind::Lance, Kind::Knight, Kind::Silver,
                                            Kind::Bichop, Kind::Rook, Kind::Gold};

// ---------------------------------------------------------------------------------------------
// The codes. A code is written bit by bit from its first character.

struct Code {
    std::uint8_t bits = 0;    // the i-th bit written is bit i
    std::uint8_t length = 0;  // 0: no code
};

constexpr Code code(std::string_view text) {
    Code c{0, static_cast<std::uint8_t>(text.size())};
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '1') c.bits = static_cast<std::uint8_t>(c.bits | 1u << i);
    return c;
}

// What a code stands for.
enum class Place : std::uint8_t { Invalid, Empty, Board, Hand, Box };
struct Meaning {
    Place place = Place::Invalid;
    Kind kind = Kind::None;  // the piece's kind, promoted on the board where it is
    Color color = Color::Black;
    std::uint8_t rank = 0;   // off the board: the code's place in the order of writing
};

struct Layout {
    // Per hand kind (kHandOrder): the kind's own bits after the leading 1 of a board code.
    std::array<std::string_view, 7> kind;
    // Whether the board code writes the colour bit before the promotion bit.
    bool color_first;
    // Black's hand codes (White's end in 1 instead of 0) and the box's.
    std::array<std::string_view, 7> hand, box;
};

constexpr Layout kHcp{{"0", "100", "110", "101", "1110", "11110", "11111"},
                      true,
                      {"000", "10000", "11000", "10100", "11100", "1111100", "1111110"},
                      {"010", "10010", "11010", "10110", "10111", "1111000", "1111010"}};
constexpr Layout kPsfen{{"0", "100", "101", "110", "1110", "11110", "11111"},
                        false,
                        {"000", "10000", "10100", "11000", "11100", "1111000", "1111100"},
                        {"010", "10010", "10110", "11010", "11011", "1111010", "1111110"}};

// Every code of a packing, and tables that read one from the next 8 bits.
struct Codes {
    std::array<std::array<Code, kKinds>, 2> board{};  // by colour and kind (King has none)
    std::array<std::array<Code, 7>, 2> hand{};        // by colour and hand order
    std::array<Code, 7> box{};
    // The code of a square by its kind, plus 16 for White: a 0 for an empty square, nothing
    // for a king (the kings' squares come first).
    std::array<Code, 32> square{};
    std::array<Meaning, 256> read_board{}, read_hand{};
    std::array<std::uint8_t, 256> board_length{}, hand_length{};

    explicit Codes(const Layout& layout) {
        for (int color = 0; color < 2; ++color) {
            const bool white = color == 1;
            for (std::size_t i = 0; i < 7; ++i) {
                const Kind kind = kHandOrder[i];
                const Code base = then(code("1"), code(layout.kind[i]));
                for (int promote = 0; promote < (kind == Kind::Gold ? 1 : 2); ++promote) {
                    const Code c = kind == Kind::Gold ? then(base, white)
                                   : layout.color_first ? then(then(base, white), promote)
                                                        : then(then(base, promote), white);
                    const Kind k = promote ? promoted(kind) : kind;
                    board[color][number(k)] = c;
                    enter(read_board, board_length, c, {Place::Board, k, static_cast<Color>(color)});
                }
                // White's hand codes are Black's with the last bit set.
                Code c = code(layout.hand[i]);
                if (white) c.bits = static_cast<std::uint8_t>(c.bits | 1u << (c.length - 1));
                hand[color][i] = c;
                enter(read_hand, hand_length, c,
                      {Place::Hand, kind, static_cast<Color>(color), static_cast<std::uint8_t>(color * 7 + i)});
            }
        }
        for (std::size_t i = 0; i < 7; ++i) {
            box[i] = code(layout.box[i]);
            enter(read_hand, hand_length, box[i],
                  {Place::Box, kHandOrder[i], Color::Black, static_cast<std::uint8_t>(14 + i)});
        }
        enter(read_board, board_length, code("0"), {Place::Empty, Kind::None, Color::Black});
        for (unsigned color = 0; color < 2; ++color) {
            for (unsigned k = 0; k < static_cast<unsigned>(kKinds); ++k) square[16 * color + k] = board[color][k];
            square[16 * color + number(Kind::None)] = code("0");
            square[16 * color + number(Kind::King)] = Code{};
        }
    }

    // `c` followed by the bits of `d`, or by one bit.
    static Code then(Code c, Code d) {
        return {static_cast<std::uint8_t>(c.bits | d.bits << c.length), static_cast<std::uint8_t>(c.length + d.length)};
    }
    static Code then(Code c, bool bit) { return then(c, Code{bit, 1}); }

    static void enter(std::array<Meaning, 256>& table, std::array<std::uint8_t, 256>& lengths, Code c, Meaning m) {
        for (unsigned rest = 0; rest < (1u << (8 - c.length)); ++rest) {
            const unsigned v = c.bits | rest << c.length;
            table[v] = m;
            lengths[v] = c.length;
        }
    }
};

const Codes& codes(Packing packing) {
    static const Codes hcp(kHcp), psfen(kPsfen);
    return packing == Packing::Hcp ? hcp : psfen;
}

constexpr unsigned kStreamBits = 256;

std::string_view name(Packing packing) { return packing == Packing::Hcp ? "hcp" : "psfen"; }

// A stream of 256 bits, bit 0 of byte 0 first, kept as 64-bit words (little-endian, as the
// bytes are laid out); the bits past the end are zeros.
class Writer {
public:
    explicit Writer(Packing packing) : packing_(packing) {}
    // Codes are at most 8 bits long. The bits gather in a word that is stored when full.
    void put(unsigned bits, unsigned length) {
        pending_ |= std::uint64_t{bits} << filled_;
        filled_ += length;
        if (filled_ < 64) return;
        if (stored_ == kWords) overflow(packing_);
        words_[stored_++] = pending_;
        filled_ -= 64;
        pending_ = filled_ ? std::uint64_t{bits} >> (length - filled_) : 0;
    }
    void put(Code c) { put(c.bits, c.length); }
    // A 0 bit.
    void skip() {
        if (++filled_ < 64) return;
        if (stored_ == kWords) overflow(packing_);
        words_[stored_++] = pending_;
        filled_ = 0;
        pending_ = 0;
    }
    // The 256 bits; a set bit past them means the position has no packing.
    PackedPosition bytes() const {
        if (stored_ == kWords && pending_ != 0) overflow(packing_);
        PackedPosition out{};
        for (std::size_t i = 0; i < out.size() && i / 8 < stored_; ++i)
            out[i] = static_cast<std::uint8_t>(words_[i / 8] >> (8 * (i % 8)));
        if (stored_ < 4)
            for (std::size_t i = stored_ * 8; i < stored_ * 8 + 8; ++i)
                out[i] = static_cast<std::uint8_t>(pending_ >> (8 * (i % 8)));
        return out;
    }

private:
    static constexpr unsigned kWords = 4;  // 256 bits
    [[noreturn]] static void overflow(Packing packing) {
        throw ValueError("the position has no " + std::string(name(packing)) +
                         ": it needs more than 256 bits (a king missing and a piece in White's hand)");
    }

    Packing packing_;
    std::array<std::uint64_t, kWords> words_{};
    std::uint64_t pending_ = 0;
    unsigned filled_ = 0;   // bits in pending_
    unsigned stored_ = 0;   // words stored
};

class Reader {
public:
    explicit Reader(const std::uint8_t* data) {
        for (std::size_t i = 0; i < 32; ++i) words_[i / 8] |= std::uint64_t{data[i]} << (8 * (i % 8));
    }
    // The next 8 bits, without taking them.
    unsigned peek() const { return bits(8); }
    unsigned take(unsigned length) {
        const unsigned v = bits(length);
        at_ += length;
        return v;
    }
    unsigned at() const { return at_; }
    // Whether a bit from here to the end is set.
    bool rest_set() const {
        for (unsigned i = at_ / 64; i < 4; ++i) {
            const std::uint64_t w = i == at_ / 64 && at_ % 64 ? words_[i] >> (at_ % 64) : words_[i];
            if (w) return true;
        }
        return false;
    }

private:
    // The `length` (at most 32) bits from here.
    unsigned bits(unsigned length) const {
        const unsigned word = std::min(at_ / 64, 4u), shift = at_ % 64;
        std::uint64_t v = at_ >= 256 ? 0 : words_[word] >> shift;
        if (at_ < 256 && shift) v |= words_[word + 1] << (64 - shift);
        return static_cast<unsigned>(v & ((1ull << length) - 1));
    }
    std::array<std::uint64_t, 5> words_{};  // the last one: the zeros past the end
    unsigned at_ = 0;
};

[[noreturn]] void malformed(Packing packing, const std::string& why) {
    throw ValueError("not a " + std::string(name(packing)) + ": " + why);
}

std::string square_text(unsigned sq) {
    return std::string{static_cast<char>('1' + sq / 9), static_cast<char>('a' + sq % 9)};
}

}  // namespace

PackedPosition pack(const Board& board, Color turn, Packing packing) {
    const Codes& c = codes(packing);
    Writer out(packing);
    out.put(turn == Color::White ? 1 : 0, 1);
    std::array<unsigned, 2> king{kNoSquare, kNoSquare};
    board.piece_boards[number(Kind::King)].for_each_square([&](std::uint8_t i) {
        king[board.color_boards[0].test(i) ? 0 : 1] = square_of(i);
    });
    out.put(king[0], 7);
    out.put(king[1], 7);
    // By unpromoted kind; the slots of no piece and of kings count squares no one reads.
    std::array<int, kKinds> in_play{};
    const auto* kinds = reinterpret_cast<const std::uint8_t*>(board.square_kinds.data());
    const BitBoard& white = board.color_boards[1];
    for (unsigned sq = 0; sq < 81; ++sq) {  // no branch but the writer's: squares differ too much
        const unsigned i = kIndexOf[sq];
        const unsigned kind = kinds[i];
        ++in_play[kind >= 9 ? kind - 6 : kind];
        out.put(c.square[kind | static_cast<unsigned>(white.test(i)) << 4]);
    }
    for (int color = 0; color < 2; ++color) {
        for (std::size_t h = 0; h < 7; ++h) {
            const Kind kind = kHandOrder[h];
            const int n = board.hand.counts[static_cast<std::size_t>(color) * 8 + number(kind) - 1];
            in_play[number(kind)] += n;
            for (int k = 0; k < n; ++k) out.put(c.hand[color][h]);
        }
    }
    for (std::size_t h = 0; h < 7; ++h) {
        const Kind kind = kHandOrder[h];
        for (int k = in_play[number(kind)]; k < kPiecesInGame[number(kind)]; ++k) out.put(c.box[h]);
    }
    return out.bytes();
}

Position unpack_position(const std::uint8_t* data, Packing packing) {
    const Codes& c = codes(packing);
    Reader in(data);
    const Color turn = in.take(1) ? Color::White : Color::Black;
    const std::array<unsigned, 2> king{in.take(7), in.take(7)};
    for (int color = 0; color < 2; ++color)
        if (king[color] > kNoSquare)
            malformed(packing, std::string(color ? "White" : "Black") + "'s king on square " +
                                   std::to_string(king[color]) + ", past 81");
    if (king[0] == king[1] && king[0] != kNoSquare) malformed(packing, "both kings on " + square_text(king[0]));
    Board board;
    std::array<int, 9> in_play{};
    const auto count = [&](Kind kind) {
        if (++in_play[number(kind)] > kPiecesInGame[number(kind)])
            malformed(packing, "more than " + std::to_string(kPiecesInGame[number(kind)]) + " pieces of kind " +
                                   std::string(debug_name(kind)));
    };
    for (int color = 0; color < 2; ++color)
        if (king[color] != kNoSquare) board.deploy_unchecked(index_of(king[color]), Kind::King, static_cast<Color>(color));
    for (unsigned sq = 0; sq < 81; ++sq) {
        if (sq == king[0] || sq == king[1]) continue;
        const unsigned v = in.peek();
        const Meaning m = c.read_board[v];
        if (m.place == Place::Invalid) malformed(packing, "no piece's code at square " + square_text(sq));
        in.take(c.board_length[v]);
        if (m.place == Place::Empty) continue;
        count(unpromoted(m.kind));
        // A pawn on its last rank or two on a file are read as written: a game may be set up
        // so, and its packing reads back to it.
        board.deploy_unchecked(index_of(sq), m.kind, m.color);
    }
    int pieces = 0;
    unsigned rank = 0;
    for (int k = number(Kind::Gold); k <= number(Kind::Pawn); ++k) pieces += in_play[k];
    for (; pieces < 38; ++pieces) {
        if (in.at() >= kStreamBits + 2) malformed(packing, "the pieces end before all 38 are placed");
        const unsigned v = in.peek();
        const Meaning m = c.read_hand[v];
        if (m.place == Place::Invalid) malformed(packing, "no hand piece's code at bit " + std::to_string(in.at()));
        in.take(c.hand_length[v]);
        if (m.rank < rank) malformed(packing, "the pieces off the board out of order at bit " + std::to_string(in.at()));
        rank = m.rank;
        count(m.kind);
        if (m.place == Place::Hand) ++board.hand.counts[byte_of(m.color) * 8u + number(m.kind) - 1];
    }
    if (in.at() > kStreamBits + 2 || in.rest_set()) malformed(packing, "bits left over after the last piece");
    try {
        check_playable(board, turn);
    } catch (const ValueError& e) {
        malformed(packing, e.message());
    }
    return Position{board, turn};
}

Game unpack(const std::uint8_t* data, Packing packing, std::int64_t ply) {
    const Position position = unpack_position(data, packing);
    return Game::from_board(position.board, position.turn, ply);
}

namespace {

// Source and destination squares, promotion, and the drop's kind number (0 for a board move).
struct MoveParts {
    unsigned from = 0, to = 0;
    bool promote = false;
    unsigned drop = 0;  // 1 + the kind's place in kDropOrder
};

MoveParts parts_of(Move move) {
    MoveParts p;
    p.to = square_of(move.to());
    if (move.is_drop()) {
        const Kind kind = move.get_piece().piece_type;
        for (std::size_t i = 0; i < kDropOrder.size(); ++i)
            if (kDropOrder[i] == kind) p.drop = static_cast<unsigned>(i) + 1;
    } else {
        p.from = square_of(move.from());
        p.promote = move.is_promote();
    }
    return p;
}

MoveParts legal_parts_of(const Board& board, Color turn, Move move) {
    if (!is_legal(board, turn, move)) throw ValueError("not a legal move of the side to move: " + move.to_string());
    return parts_of(move);
}

Move move_of(const Board& board, Color turn, const MoveParts& p, std::uint16_t word) {
    const auto refuse = [&](const char* why) -> Move {
        throw ValueError("move word " + std::to_string(word) + " " + why);
    };
    if (p.to >= 81 || (!p.drop && p.from >= 81) || p.drop > 7) return refuse("names no square or piece");
    if (p.drop && p.promote) return refuse("drops and promotes");
    const unsigned to = index_of(p.to);
    const Move move = p.drop ? Move::drop_of(Piece{turn, kDropOrder[p.drop - 1]}.code(), to)
                             : p.promote ? Move::promoting(index_of(p.from), to)
                                         : Move::normal(index_of(p.from), to);
    if (!is_legal(board, turn, move)) return refuse("is not a legal move of the side to move");
    return move;
}

}  // namespace

std::uint16_t move16_of_legal(Move move) {
    const MoveParts p = parts_of(move);
    return static_cast<std::uint16_t>(p.to | (p.drop ? 80 + p.drop : p.from) << 7 | (p.promote ? 1u << 14 : 0));
}

std::uint16_t psv_move16_of_legal(Move move) {
    const MoveParts p = parts_of(move);
    return static_cast<std::uint16_t>(p.to | (p.drop ? p.drop : p.from) << 7 | (p.drop ? 1u << 14 : 0) |
                                      (p.promote ? 1u << 15 : 0));
}

std::uint16_t move16(const Board& board, Color turn, Move move) {
    legal_parts_of(board, turn, move);
    return move16_of_legal(move);
}

std::uint16_t psv_move16(const Board& board, Color turn, Move move) {
    legal_parts_of(board, turn, move);
    return psv_move16_of_legal(move);
}

Move move_from_move16(const Board& board, Color turn, std::uint16_t word) {
    MoveParts p;
    p.to = word & 127;
    const unsigned from = (word >> 7) & 127;
    if (word >> 15) throw ValueError("move word " + std::to_string(word) + " has bit 15 set");
    p.promote = (word >> 14) & 1;
    if (from >= 81) p.drop = from - 80;
    else p.from = from;
    return move_of(board, turn, p, word);
}

Move move_from_psv_move16(const Board& board, Color turn, std::uint16_t word) {
    MoveParts p;
    p.to = word & 127;
    const unsigned from = (word >> 7) & 127;
    p.promote = (word >> 15) & 1;
    if ((word >> 14) & 1) {
        if (from == 0) throw ValueError("move word " + std::to_string(word) + " drops no piece");
        p.drop = from;
    } else {
        p.from = from;
    }
    return move_of(board, turn, p, word);
}

}  // namespace velkorant
