// The record tree, the named start positions, and the two one-line formats: USI position
// commands and SFEN.
#include "velkorant/record.hpp"

#include <limits>
#include <string>

#include "velkorant/legal.hpp"

namespace velkorant {

namespace {

std::string record_message(std::size_t line, std::int64_t ply, const std::string& why) {
    std::string text = "line " + std::to_string(line) + ": ";
    if (ply > 0) text += "ply " + std::to_string(ply) + ": ";
    return text + why;
}

// The position fields of an SFEN (placement, side, hand), without the move number.
std::string_view without_move_number(std::string_view sfen) {
    const std::size_t last = sfen.rfind(' ');
    return last == std::string_view::npos ? sfen : sfen.substr(0, last);
}

// Reads one game a line with `read_line`, a ValueError becoming a RecordError of that line.
template <class ReadLine>
std::vector<GameRecord> read_lines(std::string_view text, bool all, Checkpoint* checkpoint, ReadLine&& read_line) {
    std::vector<GameRecord> out;
    for_each_line(text, [&](std::string_view line, std::size_t number) {
        if (!all && !out.empty()) return false;
        if (checkpoint) checkpoint->tick();
        try {
            out.push_back(read_line(line));
        } catch (const ValueError& e) {
            throw RecordError(number, 0, e.message());
        }
        out.back().first_line = number;
        return true;
    });
    if (out.empty()) throw RecordError(1, 0, "no game in the text");
    return out;
}

GameRecord record_of(const Game& game) {
    GameRecord record;
    Game start = game;
    while (!start.history().empty()) start.pop();
    record.start = start.sfen();
    std::int32_t node = 0;
    for (Move move : game.history()) node = record.add(node, move);
    return record;
}

}  // namespace

RecordError::RecordError(std::size_t line, std::int64_t ply, const std::string& why)
    : ValueError(record_message(line, ply, why)), line_(line), ply_(ply), why_(why) {}

std::vector<std::int32_t> GameRecord::main_line() const {
    std::vector<std::int32_t> line;
    std::vector<std::int32_t> first(nodes.size(), -1);
    for (std::size_t i = nodes.size(); i-- > 1;) first[static_cast<std::size_t>(nodes[i].parent)] = static_cast<std::int32_t>(i);
    for (std::int32_t n = first[0]; n >= 0; n = first[static_cast<std::size_t>(n)]) line.push_back(n);
    return line;
}

std::vector<std::vector<std::int32_t>> GameRecord::children() const {
    std::vector<std::vector<std::int32_t>> out(nodes.size());
    for (std::size_t i = 1; i < nodes.size(); ++i)
        out[static_cast<std::size_t>(nodes[i].parent)].push_back(static_cast<std::int32_t>(i));
    return out;
}

void Replay::push(Move move) {
    if (!is_legal(board_, turn_, move) || ply_ == std::numeric_limits<std::int64_t>::max()) {
        Game::from_board(board_, turn_, ply_).push(move);  // says why
        throw ValueError("move " + move.usi() + " is illegal");
    }
    play(move);
}

void Replay::play(Move move) {
    play_legal(board_, move);
    turn_ = opponent(turn_);
    ++ply_;
}

const Handicap* handicap_of(std::string_view sfen) {
    for (const Handicap& h : kHandicaps)
        if (without_move_number(h.sfen) == without_move_number(sfen)) return &h;
    return nullptr;
}

Game game_at(const GameRecord& record, std::int32_t node) {
    std::vector<Move> path;
    for (std::int32_t n = node; n > 0; n = record.nodes[static_cast<std::size_t>(n)].parent)
        path.push_back(record.nodes[static_cast<std::size_t>(n)].move);
    Game game(record.start);
    for (std::size_t i = path.size(); i-- > 0;) game.push(path[i]);
    return game;
}

std::vector<GameRecord> read_usi(std::string_view text, bool all, Checkpoint* checkpoint) {
    return read_lines(text, all, checkpoint, [](std::string_view line) { return record_of(Game::from_usi(line)); });
}

std::string write_usi(const GameRecord& record) {
    Game game(record.start);
    for (std::int32_t n : record.main_line()) game.push(record.nodes[static_cast<std::size_t>(n)].move);
    return game.usi() + "\n";
}

std::vector<GameRecord> read_sfen(std::string_view text, bool all, Checkpoint* checkpoint) {
    return read_lines(text, all, checkpoint, [](std::string_view line) {
        const std::size_t first = line.find_first_not_of(" \t");
        const std::size_t last = line.find_last_not_of(" \t");
        std::string_view sfen = line.substr(first, last - first + 1);
        if (sfen.starts_with("sfen ")) sfen.remove_prefix(5);
        return record_of(Game(sfen));
    });
}

std::string write_sfen(const GameRecord& record) { return record.start + "\n"; }

}  // namespace velkorant
