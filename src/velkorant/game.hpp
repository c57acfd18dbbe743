// A game of shogi under the full rules: the position, the side to move and the move number,
// and every move played since the game was set up, with undo. Positions are read and written as
// SFEN, games as the argument of a USI "position" command.
//
// The board of a game always describes a real position: every piece stands on the 9x9 area,
// belongs to Black or White and has a kind, no side has more pieces of a kind than the game
// has, and nobody holds a king in hand. Every way in (SFEN, from_board, a state) checks that.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "velkorant/board.hpp"
#include "velkorant/checkpoint.hpp"

namespace velkorant {

// How many pieces of each unpromoted kind the game has, both sides together, by kind number
// (King..Pawn; one king a side).
inline constexpr std::array<int, 9> kPiecesInGame = {0, 2, 4, 2, 2, 4, 4, 4, 18};

// How a game ended: the winner (Color::None for a draw) and one of "checkmate",
// "no_legal_moves", "repetition", "perpetual_check".
struct Outcome {
    Color winner = Color::None;
    std::string_view reason;
};

// Whether play can go on from `board` with `turn` to move, as a game set up there requires: at
// most one king a side, none in hand, no more pieces of a kind than the game has, and the side
// not to move not in check. Anything else is a ValueError saying what.
void check_playable(const Board& board, Color turn);

// The position of an SFEN, read and checked as Game(sfen) reads and checks it (the same
// ValueError for the same text), without the game around it.
Position position_of_sfen(std::string_view sfen);

// Numbers that name positions: every position a game reaches, by a move or by being set up,
// gets a number that no position of any game had before. Numbers come in blocks from one
// counter of the process (2^52 blocks of 4096, never handed out twice, never 0); each game
// draws from a block of its own, so games played on several threads at once share nothing
// but the counter.
class PositionStamps {
public:
    PositionStamps() = default;
    // A copy holds the same position but draws its own numbers from then on: the rest of the
    // original's block stays the original's.
    PositionStamps(const PositionStamps&) noexcept {}
    PositionStamps& operator=(const PositionStamps&) noexcept { return *this; }
    PositionStamps(PositionStamps&& other) noexcept
        : next_(std::exchange(other.next_, 0)), end_(std::exchange(other.end_, 0)) {}
    PositionStamps& operator=(PositionStamps&&) noexcept { return *this; }

    std::uint64_t take() {
        if (next_ == end_) refill();
        return next_++;
    }

private:
    void refill();
    std::uint64_t next_ = 0, end_ = 0;
};

// Whether the side to move is in check, once some call has found it: -1 while unknown. A game
// keeps it with its position, and a copy of the game the same. Reading or setting it from
// several threads at once is no data race (each is one byte, read or written whole).
class CheckFlag {
public:
    CheckFlag() = default;
    CheckFlag(const CheckFlag& other) noexcept : value_(other.get()) {}
    CheckFlag& operator=(const CheckFlag& other) noexcept {
        set(other.get());
        return *this;
    }
    int get() const { return value_.load(std::memory_order_relaxed); }
    void set(int value) const { value_.store(static_cast<std::int8_t>(value), std::memory_order_relaxed); }

private:
    mutable std::atomic<std::int8_t> value_{-1};
};

class Game {
public:
    // The initial position, Black to move, move 1.
    Game();
    // A position in SFEN: placement, "b" or "w", hand ("-" for none), move number. Malformed
    // text is a ValueError saying what is wrong and where. The hand may name its pieces in
    // any order, but each side's kind at most once and never a king.
    explicit Game(std::string_view sfen);
    // The squares and hand counts of `board` (with a fresh hand table), `turn` to move, `ply`
    // the number of the next move. A record that is no real position, a turn other than Black
    // or White, or a ply below 1 is a ValueError.
    static Game from_board(const Board& board, Color turn, std::int64_t ply = 1);
    // The argument of a USI position command, with or without the word "position":
    // "startpos", "startpos moves 7g7f 3c3d", "sfen <sfen> moves ...". The moves are played
    // in turn; the first illegal one is a ValueError naming it and its 0-based index.
    static Game from_usi(std::string_view position);

    Color turn() const { return turn_; }
    // The number of the next move: the start's move number plus one per move played.
    std::int64_t ply() const { return ply_; }
    const Board& board() const { return board_; }
    // The moves played since the game was set up, oldest first.
    std::vector<Move> history() const;
    // The last move played, if any.
    std::optional<Move> last_move() const {
        return entries_.empty() ? std::nullopt : std::optional<Move>(entries_.back().move);
    }

    std::string sfen() const;
    // "startpos moves ..." when the game began at the initial position, else
    // "sfen <start> moves ..."; without " moves" when no move has been played.
    std::string usi() const;

    void legal_moves(MoveList& out) const;
    MoveList legal_moves() const;
    bool is_legal(Move move) const;
    // The legal moves that give check, in legal_moves order.
    void check_moves(MoveList& out) const;
    // The first legal move, in legal_moves order, that checkmates; none when there is none.
    std::optional<Move> mate_in_one() const;
    // Plays a legal move. An illegal one is a ValueError naming the move and why; the game is
    // unchanged. An ended game still takes moves: outcome() reads the current position.
    void push(Move move);
    // Plays a move taken from legal_moves() of the current position, without checking it again.
    void push_legal(Move move) { play(move); }
    // The number of the current position (see PositionStamps): a copy of the game, and the game
    // after a move is taken back, show the number the position had.
    std::uint64_t stamp() const { return stamp_; }
    // Plays `move`: without checking it again when `listed_for` is the current position's
    // number, i.e. the move was listed as legal here; checked as push checks it otherwise.
    void push(Move move, std::uint64_t listed_for) {
        if (listed_for == stamp_) play(move);
        else push(move);
    }
    // Reads a USI move for the side to move and pushes it.
    Move push_usi(std::string_view usi);
    // Takes back the last move and returns it; an IndexError when none was played.
    Move pop();

    // The side to move's king is attacked (never without a king). Found once per position:
    // legal_moves() finds it too.
    bool is_check() const {
        const int known = in_check_.get();
        return known >= 0 ? known != 0 : find_check();
    }
    // None while the game goes on. No legal move ends it: checkmate in check, "no_legal_moves"
    // otherwise, the side to move losing either way. The fourth occurrence of a position ends
    // it as a draw, or as a loss for the side that gave check with every one of its moves
    // since the first of those occurrences ("perpetual_check"). When both sides did, a draw.
    std::optional<Outcome> outcome() const;
    // outcome() for a position known to have a legal move: the repetition rules alone.
    std::optional<Outcome> repetition_outcome() const;
    // How often the current position (placement, hands, side to move) has occurred in this
    // game, this time included; the position the game was set up from counts once.
    int repetition_count() const;
    // A 64-bit hash of the position (placement, hands, side to move), kept up to date move by
    // move: equal positions have equal keys.
    std::uint64_t position_key() const { return key_; }
    // The 27-point declaration rule for the side to move: its king in its promotion zone and
    // not in check, at least ten other own pieces there, and at least 28 points for Black or
    // 27 for White over those pieces and the hand, rooks and bishops (promoted or not) 5 each,
    // the rest 1.
    bool can_declare() const;
    // The number of legal move sequences of `depth` moves; a negative depth is a ValueError.
    // `checkpoint` ticks as the count goes (see legal_perft).
    std::uint64_t perft(int depth, Checkpoint& checkpoint) const;
    std::uint64_t perft(int depth) const {
        Checkpoint never;
        return perft(depth, never);
    }

    // The whole game as bytes, for pickling: the start position and every move played.
    std::string state() const;
    // The game a state() describes; every move is checked again as it is replayed. Bytes that
    // are no game state of this version are a ValueError (a state of another class a
    // TypeError).
    static Game from_state(std::string_view state);

private:
    // What a move changed, enough to take it back: the key and the number of the position it
    // was played from and the kind it captured (None for none).
    struct Entry {
        std::uint64_t key = 0;
        std::uint64_t stamp = 0;
        Move move;
        Kind captured = Kind::None;
    };

    // Takes a board whose squares are already known to be real pieces on the 9x9 area and
    // checks the rest: the side, the move number, the number of pieces of each kind.
    Game(const Board& board, Color turn, std::int64_t ply);
    static Game parse_sfen(std::string_view sfen);
    // The SFEN of the position the game was set up from.
    std::string start_sfen() const;
    // Two boards of games hold the same pieces on the same squares and the same hands.
    static bool same_position(const Board& a, const Board& b);
    // Plays a move already known to be legal.
    void play(Move move);
    // Takes back on `board` the move of `mover` that `entry` records.
    static void undo(Board& board, Color mover, const Entry& entry);
    // Why the side to move may not play `move`: "leaves the king in check", ...
    std::string refusal(Move move) const;
    bool find_check() const;
    // The side to move after `i` moves.
    Color turn_at(std::size_t i) const {
        return (entries_.size() - i) % 2 ? opponent(turn_) : turn_;
    }
    std::int64_t start_ply() const { return ply_ - static_cast<std::int64_t>(entries_.size()); }
    // Counts the current position's occurrences back from now until `limit` are found;
    // `earliest` gets the index of the earliest one counted.
    int occurrences(int limit, std::size_t& earliest) const;

    // The side to move and the board first: mate_in_one and the move generators read little
    // else, so a call touches few cache lines of a game not read for a while.
    Color turn_ = Color::Black;
    Board board_;
    std::int64_t ply_ = 1;
    std::uint64_t key_ = 0;
    std::uint64_t stamp_ = 0;
    PositionStamps stamps_;
    CheckFlag in_check_;
    std::vector<Entry> entries_;
    // How many positions of the history fall in each bucket of keys (the key's low bits): an
    // empty bucket tells at once that the current position has not occurred before. A count
    // that reaches its limit stays there (the bucket is then always searched).
    static constexpr std::size_t kKeyBuckets = 512;
    static constexpr std::uint8_t kFull = 0xff;
    std::array<std::uint8_t, kKeyBuckets> seen_{};
    Board start_;  // the position the game was set up from
};

}  // namespace velkorant
