// Positions as SFEN and games as USI position commands, in both directions.
//
// SFEN: "<placement> <b|w> <hand> <move number>". The placement is the board's text form: rows
// 9 down to 1 (USI ranks a..i), each from column 1 to column 9 (USI files 9..1), a digit for a
// run of empty squares, upper case for Black. The hand is "-" or each side's pieces, Black's
// first, as letters with a count before any held more than once ("2Pb"). Sfen() writes them in
// the order R B G S N L P; reading accepts any order, but a piece named twice for one side, a
// count of 0, a count with more pieces than the game has, or a king is refused.
#include <array>
#include <limits>

#include "velkorant/errors.hpp"
#include "velkorant/game.hpp"

namespace velkorant {

namespace {

constexpr std::string_view kInitialSfen =
    "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1";

[[noreturn]] void bad_sfen(std::string_view sfen, const std::string& why) {
    throw ValueError("bad SFEN \"" + excerpt(sfen) + "\": " + why);
}

// The unpromoted kind of an SFEN letter in either case, or None.
Kind letter_kind(char c) {
    switch (c | 0x20) {
        case 'k': return Kind::King;
        case 'g': return Kind::Gold;
        case 'r': return Kind::Rook;
        case 'b': return Kind::Bichop;
        case 's': return Kind::Silver;
        case 'n': return Kind::Knight;
        case 'l': return Kind::Lance;
        case 'p': return Kind::Pawn;
        default: return Kind::None;
    }
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string quoted_char(char c) {
    if (c >= 0x20 && c < 0x7f) return std::string("'") + c + "'";
    constexpr char digits[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(c);
    return std::string("byte 0x") + digits[byte >> 4] + digits[byte & 15];
}

// Fills the 81 squares from the placement field.
void read_placement(std::string_view sfen, std::string_view field, Board& board) {
    unsigned row = 9, column = 1;  // the square the next letter goes to
    std::size_t i = 0;
    const auto where = [&] {
        return "placement row " + std::to_string(10 - row) + " (rank " +
               static_cast<char>('a' + 9 - row) + ")";
    };
    const auto end_row = [&] {
        if (column != 10)
            bad_sfen(sfen, where() + " has " + std::to_string(column - 1) + " squares, not 9");
    };
    for (; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '/') {
            end_row();
            if (row == 1) bad_sfen(sfen, "the placement has more than 9 rows");
            --row;
            column = 1;
            continue;
        }
        if (c >= '0' && c <= '9') {
            if (c == '0') bad_sfen(sfen, where() + ": a run of 0 empty squares");
            if (i > 0 && field[i - 1] >= '0' && field[i - 1] <= '9')
                bad_sfen(sfen, where() + ": two digits in a row: write one run of empty squares");
            column += static_cast<unsigned>(c - '0');
            if (column > 10) end_row();
            continue;
        }
        bool promote = false;
        char letter = c;
        if (c == '+') {
            if (i + 1 == field.size() || !is_letter(field[i + 1]))
                bad_sfen(sfen, where() + ": '+' is not followed by a piece letter");
            promote = true;
            letter = field[++i];
        }
        Kind kind = letter_kind(letter);
        if (kind == Kind::None || !is_letter(letter))
            bad_sfen(sfen, where() + ": unknown piece letter " + quoted_char(letter));
        if (promote) {
            if (!is_promotable(kind))
                bad_sfen(sfen, where() + ": '+" + letter + "': a " +
                                   (kind == Kind::King ? "king" : "gold") + " does not promote");
            kind = promoted(kind);
        }
        if (column > 9) bad_sfen(sfen, where() + " has more than 9 squares");
        board.deploy_unchecked(row * 11 + column, kind,
                               letter >= 'a' ? Color::White : Color::Black);
        ++column;
    }
    end_row();
    if (row != 1) bad_sfen(sfen, "the placement has " + std::to_string(10 - row) + " rows, not 9");
}

void read_hand(std::string_view sfen, std::string_view field, Board& board) {
    if (field == "-") return;
    if (field.empty()) bad_sfen(sfen, "the hand is empty: write \"-\" for no pieces in hand");
    std::array<bool, kHandSlots> named{};
    for (std::size_t i = 0; i < field.size();) {
        const std::size_t start = i;
        unsigned count = 1;
        if (field[i] >= '0' && field[i] <= '9') {
            count = 0;
            while (i < field.size() && field[i] >= '0' && field[i] <= '9' && count < 100)
                count = count * 10 + static_cast<unsigned>(field[i++] - '0');
            if (i < field.size() && field[i] >= '0' && field[i] <= '9')
                bad_sfen(sfen, "hand at character " + std::to_string(start + 1) +
                                   ": a count of more than 3 digits");
            if (count == 0)
                bad_sfen(sfen, "hand at character " + std::to_string(start + 1) + ": a count of 0");
            if (field[start] == '0')
                bad_sfen(sfen, "hand at character " + std::to_string(start + 1) +
                                   ": a count is written without leading zeros");
            if (i == field.size())
                bad_sfen(sfen, "hand at character " + std::to_string(start + 1) +
                                   ": a count without a piece letter");
        }
        const char letter = field[i++];
        const Kind kind = letter_kind(letter);
        const auto where = [&] { return "hand at character " + std::to_string(i); };
        if (kind == Kind::None || !is_letter(letter))
            bad_sfen(sfen, where() + ": unknown piece letter " + quoted_char(letter));
        if (kind == Kind::King) bad_sfen(sfen, where() + ": a king is never held in hand");
        const Color side = letter >= 'a' ? Color::White : Color::Black;
        const std::size_t slot = byte_of(side) * 8u + number(kind) - 1u;
        if (named[slot]) bad_sfen(sfen, where() + ": " + letter + " is named twice");
        named[slot] = true;
        const int limit = kPiecesInGame[number(kind)];
        if (count > static_cast<unsigned>(limit))
            bad_sfen(sfen, where() + ": " + std::to_string(count) + " " + letter +
                               ", more than the game's " + std::to_string(limit));
        board.hand.counts[slot] = static_cast<std::uint8_t>(count);
    }
}

std::int64_t read_move_number(std::string_view sfen, std::string_view field) {
    if (field.empty()) bad_sfen(sfen, "the move number is empty");
    std::int64_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            bad_sfen(sfen, "the move number \"" + excerpt(field) + "\" is not a positive integer");
        if (value > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10)
            bad_sfen(sfen, "the move number \"" + excerpt(field) + "\" is too large");
        value = value * 10 + (c - '0');
    }
    if (value == 0) bad_sfen(sfen, "the move number is 0: moves are numbered from 1");
    if (field[0] == '0') bad_sfen(sfen, "the move number \"" + excerpt(field) + "\" has a leading zero");
    return value;
}

void write_hand(std::string& out, const Board& board) {
    constexpr Kind order[] = {Kind::Rook,   Kind::Bichop, Kind::Gold, Kind::Silver,
                              Kind::Knight, Kind::Lance,  Kind::Pawn};
    const std::size_t start = out.size();
    for (unsigned side = 0; side < 2; ++side) {
        for (Kind kind : order) {
            const unsigned count = board.hand.counts[side * 8 + number(kind) - 1];
            if (count == 0) continue;
            if (count > 1) out += std::to_string(count);
            const char letter = kind_letters(kind).back();
            out += side ? letter : static_cast<char>(letter - 'a' + 'A');
        }
    }
    if (out.size() == start) out += '-';
}

// The words of a USI position command, split on runs of blanks.
std::string sfen_of(const Board& board, Color turn, std::int64_t ply) {
    std::string out = board.placement();
    out += turn == Color::White ? " w " : " b ";
    write_hand(out, board);
    out += ' ';
    out += std::to_string(ply);
    return out;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (i < text.size()) {
        while (i < text.size() && blank(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !blank(text[i])) ++i;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

}  // namespace

Game::Game(std::string_view sfen) : Game(parse_sfen(sfen)) {}

namespace {

// Reads the four fields of an SFEN into `board` and `turn`; the move number.
std::int64_t read_sfen(std::string_view sfen, Board& board, Color& turn) {
    std::array<std::string_view, 4> fields;
    std::size_t n = 0, start = 0;
    for (std::size_t i = 0; i <= sfen.size(); ++i) {
        if (i < sfen.size() && sfen[i] != ' ') continue;
        if (n == 4) bad_sfen(sfen, "more than 4 fields separated by single spaces");
        fields[n++] = sfen.substr(start, i - start);
        start = i + 1;
    }
    if (n != 4)
        bad_sfen(sfen,
                 std::to_string(n) + " fields where an SFEN has 4 separated by single spaces");
    read_placement(sfen, fields[0], board);
    if (fields[1] == "b")
        turn = Color::Black;
    else if (fields[1] == "w")
        turn = Color::White;
    else
        bad_sfen(sfen, "the side to move is \"" + excerpt(fields[1]) + "\", not b or w");
    read_hand(sfen, fields[2], board);
    return read_move_number(sfen, fields[3]);
}

}  // namespace

Game Game::parse_sfen(std::string_view sfen) {
    Board board;
    Color turn = Color::Black;
    const std::int64_t ply = read_sfen(sfen, board, turn);
    try {
        return Game(board, turn, ply);
    } catch (const ValueError& e) {
        bad_sfen(sfen, e.message());
    }
}

Position position_of_sfen(std::string_view sfen) {
    Position position;
    read_sfen(sfen, position.board, position.turn);
    try {
        check_playable(position.board, position.turn);
    } catch (const ValueError& e) {
        bad_sfen(sfen, e.message());
    }
    return position;
}

std::string Game::sfen() const { return sfen_of(board_, turn_, ply_); }

std::string Game::start_sfen() const { return sfen_of(start_, turn_at(0), start_ply()); }

std::string Game::usi() const {
    static const Game initial;
    std::string out;
    if (turn_at(0) == Color::Black && start_ply() == 1 && same_position(start_, initial.board_))
        out = "startpos";
    else
        out = "sfen " + start_sfen();
    if (!entries_.empty()) {
        out += " moves";
        for (const Entry& e : entries_) {
            out += ' ';
            out += e.move.usi();
        }
    }
    return out;
}

Game Game::from_usi(std::string_view position) {
    const std::vector<std::string_view> w = words(position);
    std::size_t i = 0;
    if (i < w.size() && w[i] == "position") ++i;
    if (i == w.size())
        throw ValueError("a USI position names startpos or sfen <sfen>: got nothing");
    Game game = [&] {
        if (w[i] == "startpos") {
            ++i;
            return Game();
        }
        if (w[i] != "sfen") {
            throw ValueError("unknown word \"" + excerpt(w[i]) +
                             "\" in a USI position: expected startpos or sfen");
        }
        if (w.size() < i + 5)
            throw ValueError("a USI position ends before the 4 fields of its SFEN");
        std::string sfen(w[i + 1]);
        for (std::size_t f = 2; f <= 4; ++f) (sfen += ' ') += w[i + f];
        i += 5;
        return Game(sfen);
    }();
    if (i == w.size()) return game;
    if (w[i] != "moves")
        throw ValueError("unknown word \"" + excerpt(w[i]) +
                         "\" in a USI position: expected moves");
    for (std::size_t m = i + 1; m < w.size(); ++m) {
        const auto index = [&] {
            return "move " + std::to_string(m - i - 1) + " (" + excerpt(w[m]) +
                   ", counted from 0)";
        };
        Move move;
        try {
            move = Move::from_usi(w[m], game.turn_);
        } catch (const ValueError&) {
            throw ValueError(index() + " is not a USI move");
        }
        if (!game.is_legal(move)) throw ValueError(index() + " is illegal: " + game.refusal(move));
        game.play(move);
    }
    return game;
}

}  // namespace velkorant
