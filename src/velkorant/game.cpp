// The game record: set-up checks, push and pop, repetition and the other ways a game ends.
#include "velkorant/game.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>

#include "velkorant/checks.hpp"
#include "velkorant/errors.hpp"
#include "velkorant/legal.hpp"

namespace velkorant {

namespace {

// No side holds more pieces of a kind than the game's 18 pawns.
constexpr int kMaxHeld = 18;

constexpr bool on_board(unsigned index) { return index < kSquares && !Board::wall.test(index); }

// Zobrist keys: one per piece on a square, per count of a hand slot, and for White to move.
// A position's key is the exclusive or of the keys of what it holds.
struct Keys {
    std::uint64_t squares[kSquares][2][kKinds];
    std::uint64_t hand[kHandSlots][kMaxHeld + 1];
    std::uint64_t white_to_move;
};

constexpr std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
}

constexpr Keys make_keys() {
    Keys k{};
    std::uint64_t state = 0x5eed5a5e;
    for (auto& square : k.squares)
        for (auto& side : square)
            for (auto& key : side) key = splitmix(state);
    for (auto& slot : k.hand)
        for (auto& key : slot) key = splitmix(state);
    k.white_to_move = splitmix(state);
    return k;
}

constexpr Keys kKeys = make_keys();

std::uint64_t key_of(const Board& board, Color turn) {
    std::uint64_t key = turn == Color::White ? kKeys.white_to_move : 0;
    board.occupied.for_each_square([&](std::uint8_t s) {
        key ^=
            kKeys.squares[s][board.color_boards[0].test(s) ? 0 : 1][number(board.square_kinds[s])];
    });
    for (std::size_t slot = 0; slot < kHandSlots; ++slot)
        key ^= kKeys.hand[slot][board.hand.counts[slot]];
    return key;
}

std::string square_name(unsigned index) {
    std::string name = "index " + std::to_string(index);
    if (index < kSquares) {
        name += " (column " + std::to_string(index % 11) + ", row " + std::to_string(index / 11);
        if (on_board(index)) {
            name += ", USI ";
            name += static_cast<char>('0' + 10 - index % 11);
            name += static_cast<char>('a' + 9 - index / 11);
        }
        name += ')';
    }
    return name;
}

// The move as the messages name it: its USI text, or the library's move text when it has none.
std::string move_name(Move move) {
    try {
        return move.usi();
    } catch (const ValueError&) {
        return move.to_string();
    }
}

std::size_t side_slot(Color side, Kind kind) { return byte_of(side) * 8u + number(kind) - 1u; }

}  // namespace

// Boards of games keep no state beyond their pieces and hands, so these sets say it all.
bool Game::same_position(const Board& a, const Board& b) {
    return a.occupied == b.occupied && a.color_boards[0] == b.color_boards[0] &&
           a.square_kinds == b.square_kinds && a.hand.counts == b.hand.counts;
}

void check_playable(const Board& board, Color turn) {
    std::array<int, 9> pieces{};
    std::array<int, 2> kings{};
    board.occupied.for_each_square([&](std::uint8_t s) {
        const Kind kind = board.square_kinds[s];
        ++pieces[number(unpromoted(kind))];
        if (kind == Kind::King) ++kings[board.color_boards[0].test(s) ? 0 : 1];
    });
    for (std::size_t slot = 0; slot < kHandSlots; ++slot) {
        const Kind kind = kind_from_number(slot % 8 + 1);
        if (kind == Kind::King && board.hand.counts[slot])
            throw ValueError(std::string("a king in ") + (slot < 8 ? "Black" : "White") +
                             "'s hand");
        pieces[number(kind)] += board.hand.counts[slot];
    }
    for (int side = 0; side < 2; ++side)
        if (kings[side] > 1)
            throw ValueError(std::to_string(kings[side]) + " kings of " +
                             (side ? "White" : "Black") + ": a side has one");
    for (std::uint8_t k = number(Kind::Gold); k <= number(Kind::Pawn); ++k) {
        if (pieces[k] > kPiecesInGame[k]) {
            throw ValueError(std::to_string(pieces[k]) + " pieces of kind " +
                             std::string(debug_name(static_cast<Kind>(k))) +
                             " on the board and in hand: the game has " +
                             std::to_string(kPiecesInGame[k]));
        }
    }
    // Play could not go on from a position whose side not to move stands in check: its king
    // would be taken.
    if (in_check(board, opponent(turn)))
        throw ValueError(std::string("the side not to move (") + std::string(debug_name(opponent(turn))) +
                         ") is in check");
}

void PositionStamps::refill() {
    constexpr std::uint64_t kBlock = 4096;
    static std::atomic<std::uint64_t> counter{kBlock};  // 0 is no position's number
    next_ = counter.fetch_add(kBlock, std::memory_order_relaxed);
    end_ = next_ + kBlock;
}

Game::Game(const Board& board, Color turn, std::int64_t ply)
    : turn_(turn), board_(board), ply_(ply), start_(board) {
    if (!is_side(turn))
        throw ValueError("the side to move is Black or White, not " +
                         std::string(debug_name(turn)));
    if (ply < 1) throw ValueError("the move number is 1 or more, not " + std::to_string(ply));
    check_playable(board_, turn_);
    key_ = key_of(board_, turn_);
    stamp_ = stamps_.take();
}

Game::Game()
    : Game(
          [] {
              Board b;
              b.startpos();
              return b;
          }(),
          Color::Black, 1) {}

Game Game::from_board(const Board& board, Color turn, std::int64_t ply) {
    Board copy;
    for (unsigned i = 0; i < kBits; ++i) {
        if (!board.occupied.test(i)) continue;
        if (!on_board(i)) throw ValueError("a piece on " + square_name(i) + ", off the 9x9 board");
        const Kind kind = board.square_kinds[i];
        if (kind == Kind::None)
            throw ValueError("an occupied square of kind None at " + square_name(i));
        const bool black = board.color_boards[0].test(i), white = board.color_boards[1].test(i);
        if (!black && !white) throw ValueError("a piece of neither side at " + square_name(i));
        copy.deploy_unchecked(i, kind, black ? Color::Black : Color::White);
    }
    copy.hand.counts = board.hand.counts;
    return Game(copy, turn, ply);
}

std::vector<Move> Game::history() const {
    std::vector<Move> moves;
    moves.reserve(entries_.size());
    for (const Entry& e : entries_) moves.push_back(e.move);
    return moves;
}

void Game::legal_moves(MoveList& out) const { in_check_.set(legal_moves_in_check(board_, turn_, out)); }

MoveList Game::legal_moves() const {
    MoveList out;
    legal_moves(out);
    return out;
}

void Game::check_moves(MoveList& out) const {
    __builtin_prefetch(&stamp_);  // read next, by whoever lists the moves for this position
    velkorant::check_moves(board_, turn_, out);
}

std::optional<Move> Game::mate_in_one() const { return velkorant::mate_in_one(board_, turn_); }

bool Game::is_legal(Move move) const { return velkorant::is_legal(board_, turn_, move); }

std::string Game::refusal(Move move) const {
    const Color side = turn_;
    MoveList pseudo;
    search_moves(board_, side, pseudo);
    const bool generated = std::find(pseudo.data(), pseudo.data() + pseudo.size(), move.word) !=
                           pseudo.data() + pseudo.size();
    const unsigned to = move.to();
    if (!generated) {
        if (move.is_drop()) {
            const Piece piece = move.get_piece();
            if (piece.owner != side) return "not a move of the side to move";
            const Kind kind = piece.piece_type;
            if (number(kind) < number(Kind::Gold) || number(kind) > number(Kind::Pawn))
                return "not a piece that is held in hand";
            if (board_.hand.counts[side_slot(side, kind)] == 0) return "no such piece in hand";
            if (move.is_promote()) return "a drop never promotes";
            if (!on_board(to) || board_.occupied.test(to))
                return "drops onto a square that is not empty";
            if (kind == Kind::Pawn) {
                for (unsigned row = 1; row <= 9; ++row) {
                    const unsigned s = row * 11 + to % 11;
                    if (board_.square_kinds[s] == Kind::Pawn &&
                        board_.color_boards[byte_of(side)].test(s))
                        return "a second pawn of the side in the column";
                }
            }
            return "strands the piece";
        }
        const unsigned from = move.from();
        if (!board_.occupied.test(from)) return "no piece on the source square";
        if (!board_.color_boards[byte_of(side)].test(from)) return "not a move of the side to move";
        if (move.is_promote()) {
            const Kind kind = board_.square_kinds[from];
            const BitBoard zone = Board::promotion_zone[byte_of(side)];
            if (!is_promotable(kind)) return "the piece does not promote";
            if (!zone.test(from) && !zone.test(to)) return "promotes outside the promotion zone";
        }
        return "not a move of the piece";
    }
    if (!move.is_drop() && !move.is_promote()) {
        const Kind kind = board_.square_kinds[move.from()];
        const unsigned s = byte_of(side);
        if ((kind == Kind::Pawn || kind == Kind::Lance) && Board::last_row[s].test(to))
            return "strands the piece";
        if (kind == Kind::Knight && Board::last_two_rows[s].test(to)) return "strands the piece";
    }
    Board after = board_;
    execute_move(after, move);
    if (in_check(after, side)) return "leaves the king in check";
    if (move.is_drop() && move.get_piece().piece_type == Kind::Pawn)
        return "mates with a pawn drop";
    return "is illegal";
}

void Game::play(Move move) {
    if (ply_ == std::numeric_limits<std::int64_t>::max())
        throw ValueError("the move number cannot grow past " + std::to_string(ply_));
    const unsigned side = byte_of(turn_), other = side ^ 1;
    const unsigned to = move.to();
    std::uint64_t key = key_ ^ kKeys.white_to_move;
    auto& counts = board_.hand.counts;
    if (move.is_drop()) {
        const Kind kind = move.get_piece().piece_type;
        const std::size_t slot = side_slot(turn_, kind);
        key ^= kKeys.hand[slot][counts[slot]] ^ kKeys.hand[slot][counts[slot] - 1];
        key ^= kKeys.squares[to][side][number(kind)];
    } else {
        const unsigned from = move.from();
        const Kind kind = board_.square_kinds[from];
        key ^= kKeys.squares[from][side][number(kind)];
        key ^= kKeys.squares[to][side][number(move.is_promote() ? promoted(kind) : kind)];
        if (board_.occupied.test(to)) {
            const Kind captured = board_.square_kinds[to];
            const std::size_t slot = side_slot(turn_, unpromoted(captured));
            key ^= kKeys.squares[to][other][number(captured)];
            key ^= kKeys.hand[slot][counts[slot]] ^ kKeys.hand[slot][counts[slot] + 1];
        }
    }
    entries_.push_back(
        Entry{key_, stamp_, move, board_.occupied.test(to) ? board_.square_kinds[to] : Kind::None});
    if (std::uint8_t& seen = seen_[key_ % kKeyBuckets]; seen != kFull) ++seen;
    play_legal(board_, move);
    key_ = key;
    stamp_ = stamps_.take();
    in_check_.set(-1);
    turn_ = opponent(turn_);
    ++ply_;
}

void Game::push(Move move) {
    if (!is_legal(move))
        throw ValueError("move " + move_name(move) + " is illegal: " + refusal(move));
    play(move);
}

Move Game::push_usi(std::string_view usi) {
    const Move move = Move::from_usi(usi, turn_);
    push(move);
    return move;
}

void Game::undo(Board& board, Color mover, const Entry& entry) {
    const Move move = entry.move;
    const unsigned to = move.to();
    auto& counts = board.hand.counts;
    if (move.is_drop()) {
        board.drop_unchecked(to);
        ++counts[side_slot(mover, move.get_piece().piece_type)];
        return;
    }
    const Kind moved = board.square_kinds[to];
    board.deploy_unchecked(move.from(), move.is_promote() ? unpromoted(moved) : moved, mover);
    if (entry.captured == Kind::None) {
        board.drop_unchecked(to);
    } else {
        board.deploy_unchecked(to, entry.captured, opponent(mover));
        --counts[side_slot(mover, unpromoted(entry.captured))];
    }
}

Move Game::pop() {
    if (entries_.empty()) throw IndexError("pop from an empty history");
    const Entry last = entries_.back();
    entries_.pop_back();
    if (std::uint8_t& seen = seen_[last.key % kKeyBuckets]; seen != kFull) --seen;
    turn_ = opponent(turn_);
    undo(board_, turn_, last);
    key_ = last.key;
    stamp_ = last.stamp;
    in_check_.set(-1);
    --ply_;
    return last.move;
}

bool Game::find_check() const {
    const bool checked = in_check(board_, turn_);
    in_check_.set(checked);
    return checked;
}

int Game::occurrences(int limit, std::size_t& earliest) const {
    // Positions with the key of the current one, every second one back (the same side to
    // move); the rest cannot be the same.
    const std::size_t now = entries_.size();
    earliest = now;
    if (!seen_[key_ % kKeyBuckets]) return 1;
    std::size_t lowest = now;
    for (std::size_t i = now; i >= 2;) {
        i -= 2;
        if (entries_[i].key == key_) lowest = i;
    }
    earliest = now;
    int found = 1;
    if (lowest == now) return found;
    // Taking the moves back one by one, compare each candidate exactly.
    Board before = board_;
    for (std::size_t i = now; i-- > lowest && found < limit;) {
        undo(before, turn_at(i), entries_[i]);
        if ((now - i) % 2 == 0 && entries_[i].key == key_ && same_position(before, board_))
            ++found, earliest = i;
    }
    return found;
}

int Game::repetition_count() const {
    std::size_t earliest;
    return occurrences(std::numeric_limits<int>::max(), earliest);
}

std::optional<Outcome> Game::outcome() const {
    if (!has_legal_move(board_, turn_))
        return Outcome{opponent(turn_), is_check() ? "checkmate" : "no_legal_moves"};
    return repetition_outcome();
}

std::optional<Outcome> Game::repetition_outcome() const {
    std::size_t first;
    if (occurrences(4, first) < 4) return std::nullopt;
    // Every move from the first of the four occurrences on, taken back from the last: did
    // each of one side's give check?
    bool checked_always[2] = {true, true};
    Board after = board_;
    for (std::size_t i = entries_.size(); i-- > first;) {
        const Color mover = turn_at(i);
        if (!in_check(after, opponent(mover))) checked_always[byte_of(mover)] = false;
        undo(after, mover, entries_[i]);
    }
    if (checked_always[0] != checked_always[1])
        return Outcome{checked_always[0] ? Color::White : Color::Black, "perpetual_check"};
    return Outcome{Color::None, "repetition"};
}

bool Game::can_declare() const {
    const unsigned side = byte_of(turn_);
    const BitBoard zone = Board::promotion_zone[side];
    const BitBoard own = board_.color_boards[side];
    const BitBoard king = board_.piece_boards[number(Kind::King)] & own;
    if (!(king & zone).any() || in_check(board_, turn_)) return false;
    int pieces = 0, points = 0;
    const auto value = [](Kind kind) {
        const Kind base = unpromoted(kind);
        return base == Kind::Rook || base == Kind::Bichop ? 5 : 1;
    };
    (own & zone).for_each_square([&](std::uint8_t s) {
        const Kind kind = board_.square_kinds[s];
        if (kind == Kind::King) return;
        ++pieces;
        points += value(kind);
    });
    for (std::uint8_t k = number(Kind::Gold); k <= number(Kind::Pawn); ++k)
        points += value(static_cast<Kind>(k)) *
                  board_.hand.counts[side_slot(turn_, static_cast<Kind>(k))];
    return pieces >= 10 && points >= (turn_ == Color::Black ? 28 : 27);
}

std::uint64_t Game::perft(int depth, Checkpoint& checkpoint) const {
    if (depth < 0) throw ValueError("perft depth is 0 or more, not " + std::to_string(depth));
    return legal_perft(board_, turn_, depth, checkpoint);
}

// The state layout, version 1: the tag 'G' and the version byte, the start position's SFEN
// (two bytes of length, high byte first, then the text), the number of moves played (four
// bytes) and each move word (two bytes).
namespace {

void put_bytes(std::string& out, std::uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>(static_cast<std::uint8_t>(value >> shift));
}

std::uint64_t get_bytes(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | static_cast<std::uint8_t>(in[at + static_cast<std::size_t>(i)]);
    return value;
}

[[noreturn]] void throw_bad_game_state(const std::string& why) { throw_bad_state(kGameState, why); }
}  // namespace

std::string Game::state() const {
    const std::string start = start_sfen();
    std::string out;
    out.reserve(8 + start.size() + 2 * entries_.size());
    out += kGameState.tag;
    out += static_cast<char>(kGameState.version);
    put_bytes(out, start.size(), 2);
    out += start;
    put_bytes(out, entries_.size(), 4);
    for (const Entry& e : entries_) put_bytes(out, e.move.word, 2);
    return out;
}

Game Game::from_state(std::string_view state) {
    check_state_header(state, kGameState, kBoardState);
    if (state.size() < 4) throw_bad_game_state("it ends inside the start position");
    const std::size_t length = get_bytes(state, 2, 2);
    if (state.size() < 8 + length) throw_bad_game_state("it ends inside the start position");
    const std::size_t moves = get_bytes(state, 4 + length, 4);
    if (state.size() != 8 + length + 2 * moves) {
        throw_bad_game_state(std::to_string(state.size()) + " bytes where " +
                             std::to_string(moves) + " moves make " +
                             std::to_string(8 + length + 2 * moves));
    }
    Game game = [&] {
        try {
            return Game(state.substr(4, length));
        } catch (const ValueError& e) {
            throw_bad_game_state(e.message());
        }
    }();
    game.entries_.reserve(moves);
    for (std::size_t i = 0; i < moves; ++i) {
        const Move move{static_cast<std::uint16_t>(get_bytes(state, 8 + length + 2 * i, 2))};
        if (!game.is_legal(move))
            throw_bad_game_state("move " + std::to_string(i) + " (" + move_name(move) +
                                 ") is illegal");
        game.play(move);
    }
    return game;
}

}  // namespace velkorant
