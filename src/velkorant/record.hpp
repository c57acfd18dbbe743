// Game records: the tree of moves that a record file holds, and what every format's reader and
// writer shares (the named handicap positions, the endings, the errors that name a line).
//
// Text in and out is UTF-8: decoding a file's bytes (Shift_JIS, byte order marks) happens
// before a reader sees it. Every move a reader takes from a file is checked with the full rules
// on the position it is played from; a move the rules refuse is a RecordError, unless the file
// itself ends the game there as an illegal move.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "velkorant/checkpoint.hpp"
#include "velkorant/errors.hpp"
#include "velkorant/game.hpp"

namespace velkorant {

// One move of the tree. nodes[0] of a record is the root (the start position, no move).
struct RecordNode {
    // The node this move is played from: always a smaller index than the node's own.
    std::int32_t parent = -1;
    // The move, legal on the parent's position (unused at the root).
    Move move;
    // The comment on the move (at the root: on the start position); lines joined by '\n',
    // empty when there is none.
    std::string comment;
    // Seconds spent on the move, when the record says.
    std::optional<double> time;
};

// How a record says the game ended, and who won.
enum class Winner : std::uint8_t { Black = 0, White = 1, Draw = 2, Unknown = 3 };

struct GameRecord {
    // Every header as the file writes it, in file order: the key without its "：" or the CSA
    // prefix ("N+", "$EVENT:" gives "EVENT"), the value trimmed of blanks at its ends.
    std::vector<std::pair<std::string, std::string>> headers;
    // The player names, where the file names them ("" otherwise).
    std::string black, white;
    // The start position in SFEN.
    std::string start = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1";
    // The tree: nodes[0] is the root; the children of a node are the nodes that name it as
    // their parent, in index order, the main line first.
    std::vector<RecordNode> nodes = {RecordNode{}};
    // "" when the moves just stop, else one of kEndings.
    std::string ending;
    Winner winner = Winner::Unknown;
    // The 1-based line of the file where the record starts (for load_all's messages).
    std::size_t first_line = 1;

    // Appends a move as a child of `parent` and returns the new node's index.
    std::int32_t add(std::int32_t parent, Move move) {
        nodes.push_back(RecordNode{parent, move, {}, std::nullopt});
        return static_cast<std::int32_t>(nodes.size() - 1);
    }
    // The main line: the first child of each node from the root on, as node indices (the root
    // not included).
    std::vector<std::int32_t> main_line() const;
    // The children of every node, in order (index: the node).
    std::vector<std::vector<std::int32_t>> children() const;
};

// The ending words a record may give, in the order of the documentation.
inline constexpr std::string_view kEndings[] = {
    "resign",      "repetition", "impasse", "declaration", "illegal_move", "time_up",
    "abort",       "checkmate",  "no_checkmate", "max_moves", "error",
};

// A record that cannot be read, or a move in it that the rules refuse: the 1-based line of the
// file, the ply of the move concerned (0 when it concerns no move) and why. The message reads
// "line 12: ply 7: move 7g7f is illegal: ..." (without "ply" when it is 0).
class RecordError : public ValueError {
public:
    RecordError(std::size_t line, std::int64_t ply, const std::string& why);
    std::size_t line() const { return line_; }
    std::int64_t ply() const { return ply_; }
    const std::string& why() const { return why_; }

private:
    std::size_t line_;
    std::int64_t ply_;
    std::string why_;
};

// A named start position: the handicaps of KIF's "手合割", JKF's "preset" and CSA's "PI".
struct Handicap {
    std::string_view kif;     // "香落ち"
    std::string_view jkf;     // "KY"
    std::string_view sfen;
};

// Even (平手) first, then the handicaps; the handicap giver (上手) is White and moves first.
inline constexpr Handicap kHandicaps[] = {
    {"平手", "HIRATE", "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"},
    {"香落ち", "KY", "lnsgkgsn1/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"右香落ち", "KY_R", "1nsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"角落ち", "KA", "lnsgkgsnl/1r7/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"飛車落ち", "HI", "lnsgkgsnl/7b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"飛香落ち", "HIKY", "lnsgkgsn1/7b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"二枚落ち", "2", "lnsgkgsnl/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"三枚落ち", "3", "lnsgkgsn1/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"四枚落ち", "4", "1nsgkgsn1/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"五枚落ち", "5", "2sgkgsn1/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"左五枚落ち", "5_L", "1nsgkgs2/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"六枚落ち", "6", "2sgkgs2/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"左七枚落ち", "7_L", "2sgkg3/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"右七枚落ち", "7_R", "3gkgs2/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"八枚落ち", "8", "3gkg3/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
    {"十枚落ち", "10", "4k4/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"},
};

// The handicap whose start position is `sfen` (compared without the move number), if any.
const Handicap* handicap_of(std::string_view sfen);

// The readers and writers of each format. A reader returns every game of the text (the first
// only when `all` is false); an empty or blank text is a RecordError at line 1. It ticks
// `checkpoint`, when given, once a line. A writer writes
// the whole tree (where the format holds variations) and reads back to the same tree with its
// own reader.
std::vector<GameRecord> read_csa(std::string_view text, bool all, Checkpoint* checkpoint = nullptr);
std::string write_csa(const GameRecord& record);
std::vector<GameRecord> read_kif(std::string_view text, bool all, Checkpoint* checkpoint = nullptr);
std::string write_kif(const GameRecord& record);
std::vector<GameRecord> read_ki2(std::string_view text, bool all, Checkpoint* checkpoint = nullptr);
std::string write_ki2(const GameRecord& record);
std::vector<GameRecord> read_jkf(std::string_view text, bool all, Checkpoint* checkpoint = nullptr);
std::string write_jkf(const GameRecord& record);
// USI: the argument of a position command ("startpos moves ...", "sfen ... moves ...", with or
// without the word "position"), one game a line; "sfen": one position a line, no moves.
std::vector<GameRecord> read_usi(std::string_view text, bool all, Checkpoint* checkpoint = nullptr);
std::string write_usi(const GameRecord& record);
std::vector<GameRecord> read_sfen(std::string_view text, bool all, Checkpoint* checkpoint = nullptr);
std::string write_sfen(const GameRecord& record);

// Calls `each(line, number)` for every line of `text` that holds more than blanks, `number`
// counted from 1; lines end with CRLF, LF or CR, the last one perhaps with none. `each` may
// return false to stop.
template <class Each>
void for_each_line(std::string_view text, Each&& each) {
    const char* at = text.data();
    const char* const end = at + text.size();
    // Most texts end their lines with LF alone: memchr finds them fastest.
    const bool lf_only = std::memchr(at, '\r', text.size()) == nullptr;
    for (std::size_t number = 1;; ++number) {
        const char* stop = lf_only ? static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at))) : at;
        if (!stop) stop = end;
        if (!lf_only)
            while (stop < end && *stop != '\n' && *stop != '\r') ++stop;
        const std::string_view line(at, static_cast<std::size_t>(stop - at));
        const bool blank = line.empty() || ((line[0] == ' ' || line[0] == '\t') &&
                                            line.find_first_not_of(" \t") == std::string_view::npos);
        if (!blank) {
            if constexpr (std::is_same_v<decltype(each(line, number)), bool>) {
                if (!each(line, number)) return;
            } else {
                each(line, number);
            }
        }
        if (stop == end) return;
        at = stop + (*stop == '\r' && stop + 1 < end && stop[1] == '\n' ? 2 : 1);
    }
}

// The position a reader plays a record's moves on: the full rules' check and play, without the
// history that a Game keeps for undo and repetition (the record holds the moves).
class Replay {
public:
    explicit Replay(const Game& start) : board_(start.board()), turn_(start.turn()), ply_(start.ply()) {}
    Color turn() const { return turn_; }
    std::int64_t ply() const { return ply_; }
    const Board& board() const { return board_; }
    std::string sfen() const { return Game::from_board(board_, turn_, ply_).sfen(); }
    // Plays a legal move; an illegal one is a ValueError saying why, as Game::push gives it, and
    // changes nothing.
    void push(Move move);
    // Plays a move already known to be legal.
    void play(Move move);

private:
    Board board_;
    Color turn_;
    std::int64_t ply_;
};

// Replays the path from the root to `node` on the record's start position.
Game game_at(const GameRecord& record, std::int32_t node);

}  // namespace velkorant
