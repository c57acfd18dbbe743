#include "velkorant/moves.hpp"

#include "velkorant/errors.hpp"

namespace velkorant {

namespace {

// Byte length of the UTF-8 character that starts with `lead` (1 for a stray byte, so that
// walking a malformed text still moves forward).
std::size_t char_length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The code point of the character starting at byte `at`, cut short at the end of the text.
std::uint32_t code_point_at(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const std::size_t length = char_length(byte(at));
    if (length == 1) return byte(at);
    std::uint32_t value = byte(at) & (0x7F >> length);
    for (std::size_t i = at + 1; i < at + length && i < text.size(); ++i)
        value = (value << 6) | (byte(i) & 0x3F);
    return value;
}

// Move texts are echoed into failure messages; a long one is cut at a character boundary at
// most 256 bytes in, and "[...]" after the closing backtick marks the cut.
std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 256;
    if (text.size() <= kShown) return "`" + std::string(text) + "`";
    std::size_t cut = kShown;
    while (cut > 0 && is_continuation(static_cast<unsigned char>(text[cut]))) --cut;
    return "`" + std::string(text.substr(0, cut)) + "`[...]";
}

[[noreturn]] void throw_short_text(std::string_view text) {
    const std::size_t size = text.size();
    if (size < 2) throw Panic("byte index 2 is out of bounds of " + quoted(text));
    if (size > 2 && is_continuation(static_cast<unsigned char>(text[2]))) {
        std::size_t start = 2;
        while (start > 0 && is_continuation(static_cast<unsigned char>(text[start]))) --start;
        const std::size_t end =
            std::min(size, start + char_length(static_cast<unsigned char>(text[start])));
        throw Panic("byte index 2 is not a char boundary; it is inside '" +
                    std::string(text.substr(start, end - start)) + "' (bytes " +
                    std::to_string(start) + ".." + std::to_string(end) + ") of " + quoted(text));
    }
    const std::size_t tail = size - 2;  // bytes after the destination's first byte: 0 or 1
    throw Panic("index out of bounds: the len is " + std::to_string(tail) + " but the index is " +
                std::to_string(tail));
}

// The square index written by a column digit and a row letter, modulo 256.
std::uint8_t square_of(unsigned char column, unsigned char row) {
    return static_cast<std::uint8_t>((column - 48) + 11 * (row - 96));
}

// K G R B S N L P name King .. Pawn in either case; any other character names no piece.
std::uint8_t drop_kind(std::uint32_t first) {
    if (first >= 0x80) return 0;
    constexpr std::string_view letters = "KGRBSNLP";
    const char upper = static_cast<char>(first >= 'a' && first <= 'z' ? first - 32 : first);
    const std::size_t found = letters.find(upper);
    return found == std::string_view::npos ? 0 : static_cast<std::uint8_t>(found + 1);
}

// USI names squares by file (10 - column) and rank letter (a for row 9 .. i for row 1).
bool on_playing_area(unsigned index) {
    const unsigned column = index % 11, row = index / 11;
    return column >= 1 && column <= 9 && row >= 1 && row <= 9;
}

void append_usi_square(std::string& out, unsigned index) {
    out += static_cast<char>('0' + 10 - index % 11);
    out += static_cast<char>('a' + 9 - index / 11);
}

// The square index of a USI file digit and rank letter, or -1 when they name none.
int usi_square(char file, char rank) {
    if (file < '1' || file > '9' || rank < 'a' || rank > 'i') return -1;
    return (10 - (rank - 'a' + 1)) * 11 + (10 - (file - '0'));
}

// The droppable kinds by USI letter; a King or a promoted kind is never dropped.
Kind usi_drop_kind(char letter) {
    switch (letter) {
        case 'R': return Kind::Rook;
        case 'B': return Kind::Bichop;
        case 'G': return Kind::Gold;
        case 'S': return Kind::Silver;
        case 'N': return Kind::Knight;
        case 'L': return Kind::Lance;
        case 'P': return Kind::Pawn;
        default: return Kind::None;
    }
}

[[noreturn]] void throw_no_usi(const Move& move, const char* why) {
    throw ValueError("move " + quoted(move.to_string()) + " has no USI form: " + why);
}

}  // namespace

std::string Move::usi() const {
    std::string text;
    if (!on_playing_area(to())) throw_no_usi(*this, "its destination is off the 9x9 board");
    if (is_drop()) {
        const Kind kind = get_piece().piece_type;
        if (kind == Kind::None || kind == Kind::King || number(kind) > number(Kind::Pawn))
            throw_no_usi(*this,
                         "only a gold, rook, bishop, silver, knight, lance or pawn is dropped");
        if (is_promote()) throw_no_usi(*this, "a drop never promotes");
        text += static_cast<char>(kind_letters(kind).back() - 'a' + 'A');
        text += '*';
    } else {
        if (!on_playing_area(from())) throw_no_usi(*this, "its source is off the 9x9 board");
        append_usi_square(text, from());
    }
    append_usi_square(text, to());
    if (is_promote()) text += '+';
    return text;
}

Move Move::from_usi(std::string_view usi, Color color) {
    if (!is_side(color))
        throw ValueError("a USI move is made by Black or White, not " +
                         std::string(debug_name(color)));
    const auto bad = [&]() -> Move { throw ValueError("not a USI move: " + quoted(usi)); };
    if (usi.size() == 4 && usi[1] == '*') {
        const Kind kind = usi_drop_kind(usi[0]);
        const int to = usi_square(usi[2], usi[3]);
        if (kind == Kind::None || to < 0) return bad();
        const Piece piece{color, kind};
        return base_constructor(piece.code(), static_cast<std::uint8_t>(to), 0, 1);
    }
    if (usi.size() != 4 && !(usi.size() == 5 && usi[4] == '+')) return bad();
    const int from = usi_square(usi[0], usi[1]);
    const int to = usi_square(usi[2], usi[3]);
    if (from < 0 || to < 0) return bad();
    return base_constructor(static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to),
                            usi.size() == 5, 0);
}

Move Move::parse(std::string_view utf8) {
    const std::size_t size = utf8.size();
    if (size < 4 || is_continuation(static_cast<unsigned char>(utf8[2]))) throw_short_text(utf8);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };

    const std::uint8_t to = square_of(byte(2), byte(3));

    const std::size_t second = char_length(byte(0));
    if (second < size && byte(second) == '*') {
        const std::uint32_t first = code_point_at(utf8, 0);
        const std::uint8_t colour_bit = (first & 0xFF) >= 84 ? 64 : 0;
        return base_constructor(static_cast<std::uint8_t>(drop_kind(first) | colour_bit), to, 0, 1);
    }

    const std::uint8_t from = square_of(byte(0), byte(1));
    std::uint8_t promote = 0;
    if (size >= 5) {
        std::size_t fifth = 0;
        for (int skipped = 0; skipped < 4 && fifth < size; ++skipped) fifth += char_length(byte(fifth));
        promote = fifth < size && byte(fifth) == '+';
    }
    return base_constructor(from, to, promote, 0);
}

std::string Move::to_string() const {
    std::string text;
    if (is_drop()) {
        text = get_piece().to_string();
        text += '*';
    } else {
        text = get_from().to_string();
    }
    text += get_to().to_string();
    if (is_promote()) text += '+';
    return text;
}

}  // namespace velkorant
