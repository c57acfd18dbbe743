#include "velkorant/piece.hpp"

namespace velkorant {

std::string_view kind_letters(Kind k) {
    constexpr std::string_view letters[kKinds] = {
        " ", "k", "g", "r", "b", "s", "n", "l", "p", "+r", "+b", "+s", "+n", "+l", "+p",
    };
    return number(k) < kKinds ? letters[number(k)] : letters[0];
}

std::string Piece::to_string() const {
    std::string text(kind_letters(piece_type));
    // Only a Black piece is written in upper case; the "+" of a promoted kind stays as it is.
    if (owner == Color::Black && piece_type != Kind::None) {
        char& letter = text.back();
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    return text;
}

std::string Piece::debug() const {
    std::string text = "Piece { owner: ";
    text += debug_name(owner);
    text += ", piece_type: ";
    text += debug_name(piece_type);
    text += " }";
    return text;
}

}  // namespace velkorant
