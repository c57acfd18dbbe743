// What the CSA and JKF records share: the two-letter piece codes ("FU" .. "RY"), the squares
// named by file and rank digits, and the words that end a game ("TORYO", "SENNICHITE", ...).
#pragma once

#include <string>
#include <string_view>

#include "velkorant/color.hpp"
#include "velkorant/record.hpp"

namespace velkorant::csa {

// The kind a piece code names, None for anything else.
inline Kind kind_of(std::string_view code) {
    if (code.size() != 2) return Kind::None;
    switch ((code[0] << 8) | code[1]) {
        case ('O' << 8) | 'U': return Kind::King;
        case ('K' << 8) | 'I': return Kind::Gold;
        case ('H' << 8) | 'I': return Kind::Rook;
        case ('K' << 8) | 'A': return Kind::Bichop;
        case ('G' << 8) | 'I': return Kind::Silver;
        case ('K' << 8) | 'E': return Kind::Knight;
        case ('K' << 8) | 'Y': return Kind::Lance;
        case ('F' << 8) | 'U': return Kind::Pawn;
        case ('R' << 8) | 'Y': return Kind::Dragon;
        case ('U' << 8) | 'M': return Kind::Horse;
        case ('N' << 8) | 'G': return Kind::ProSilver;
        case ('N' << 8) | 'K': return Kind::ProKnight;
        case ('N' << 8) | 'Y': return Kind::ProLance;
        case ('T' << 8) | 'O': return Kind::ProPawn;
        default: return Kind::None;
    }
}
// The piece code of a kind ("OU" for the king); "" for None.
std::string_view code_of(Kind kind);

// `text` quoted for a message, cut to about 200 characters.
std::string excerpt(std::string_view text);

// The square index of "file f, rank r" (rank 1 is White's back row), both 1..9.
constexpr unsigned square(unsigned file, unsigned rank) { return (10 - rank) * 11 + (10 - file); }
constexpr unsigned file_of(unsigned index) { return 10 - index % 11; }
constexpr unsigned rank_of(unsigned index) { return 10 - index / 11; }

// What an ending word (without CSA's '%') says when `turn` was to move at the end: the
// ending and the winner. False for a word that is no ending. "MATTA" (a take-back) ends
// nothing: "" and Unknown.
bool ending_of(std::string_view word, Color turn, std::string& ending, Winner& winner);
// The ending word for a record's ending and winner, `turn` to move at its end; "" for none.
std::string_view word_of(std::string_view ending, Winner winner, Color turn);

}  // namespace velkorant::csa
