// A picture of the position: a standalone SVG 1.1 document of the 9 x 9 board as a shogi
// player reads it.
//
// Black (sente, the first player) sits at the bottom: the top-left square is USI 9a (column 1,
// row 9), the top-right is 1a (column 9, row 9). Files 9..1 run along the top in Arabic
// numerals, ranks 一..九 down the right side. Pieces carry their kanji; White's (gote's) are
// turned upside down, promoted pieces are red, and a piece of no side is drawn upright in grey.
// White's pieces in hand are listed above the board on the left ("☖ 飛 歩2"), Black's below it
// on the right. The document is always kSvgWidth x kSvgHeight pixels, has no script and
// refers to nothing outside itself; the same position and marks give the same bytes.
#pragma once

#include <string>

#include "velkorant/board.hpp"
#include "velkorant/color.hpp"
#include "velkorant/moves.hpp"

namespace velkorant {

inline constexpr int kSvgWidth = 500;
inline constexpr int kSvgHeight = 580;

// What a game adds to the position: the side to move (captioned "☗ to move" / "☖ to move";
// no caption for None or ColorNumber) and the last move, whose source and destination squares
// are filled with a highlight colour (a drop marks only its destination; squares off the
// playing area are not marked).
struct SvgMarks {
    Color turn = Color::None;
    bool has_last = false;
    Move last{};
};

// Only the 81 playing squares are drawn. An occupied square of kind None shows nothing.
std::string to_svg(const Board& board, const SvgMarks& marks = {});

}  // namespace velkorant
