// Training rows from game records: every position of a game's main line before a move, with the
// move played, the evaluation the record gives it and the game's result, in the record layouts
// of hcpe files (HuffmanCodedPosAndEval, 38 bytes) or PackedSfenValue files (40 bytes).
//
// A record's evaluation of a move is a comment line "** <number> ..." after it (floodgate's
// engines' view, Black's side positive; the last such line of a move counts, anything that is no
// number reads 0). A row holds it for the side to move, clamped to +-32767; a move without one
// has 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velkorant/checkpoint.hpp"
#include "velkorant/record.hpp"

namespace velkorant {

enum class RowLayout : std::uint8_t { Hcpe, Psv };

inline constexpr std::size_t row_size(RowLayout layout) { return layout == RowLayout::Hcpe ? 38 : 40; }

// Which games give rows.
struct RowFilter {
    // At least this many moves in the main line.
    std::int64_t min_moves = 0;
    // Both players rated at least this (CSA's "'black_rate:NAME:RATE" and "'white_rate:" lines);
    // a game without both ratings fails it.
    std::optional<double> min_rating;
    // The endings a game may have (record words: "resign", "declaration", ...); empty: any.
    std::vector<std::string> endings;
};

// A record that could not be read: the line of the file and why.
struct BadRecord {
    std::size_t line;
    std::string why;
};

// The rows of one file, and what happened to its games.
struct Rows {
    std::string bytes;               // the rows, one after another
    std::vector<std::int32_t> plies;   // each row's move number
    std::vector<std::int32_t> games;   // each row's game: its number in the file, from 0
    std::int64_t games_read = 0;     // games in the file, bad ones included
    std::int64_t games_converted = 0;
    std::int64_t too_short = 0, low_rating = 0, other_ending = 0;
    std::int64_t unpackable = 0;     // positions with no 32-byte packing, skipped
    std::vector<BadRecord> bad;
};

using RecordReader = std::vector<GameRecord> (*)(std::string_view, bool, Checkpoint*);

// The rows of every game of a text of records (UTF-8), read by `read`. A CSA text (`csa`) is
// read game by game, so that a bad game is reported and the others still give rows; another
// text is read whole, and a bad one gives none.
Rows rows_of_text(std::string_view text, RecordReader read, bool csa, const RowFilter& filter, RowLayout layout,
                  Checkpoint* checkpoint = nullptr);

// The rows of one game read, appended to `out` as game number `game`.
void rows_of_game(const GameRecord& record, std::int32_t game, const RowFilter& filter, RowLayout layout, Rows& out);

// The evaluation a move's comment gives, in Black's view, if any.
std::optional<std::int64_t> evaluation_of(std::string_view comment);

}  // namespace velkorant
