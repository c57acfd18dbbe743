// Training rows from game records: the main line replayed, each position packed with its move.
#include "velkorant/dataset.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "velkorant/packed.hpp"

namespace velkorant {
namespace {

std::string_view trimmed(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Calls `each(line)` for every line of a comment (lines joined by '\n').
template <class Each>
void for_each_comment_line(std::string_view comment, Each&& each) {
    while (!comment.empty()) {
        const std::size_t end = comment.find('\n');
        each(comment.substr(0, end));
        if (end == std::string_view::npos) return;
        comment.remove_prefix(end + 1);
    }
}

// "black_rate:NAME:2500.0": the number after the last colon.
std::optional<double> rate_of(std::string_view line) {
    const std::size_t colon = line.rfind(':');
    const std::string_view number = trimmed(line.substr(colon + 1));
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value;
}

struct Ratings {
    std::optional<double> black, white;
    void read(std::string_view comment) {
        for_each_comment_line(comment, [&](std::string_view line) {
            if (line.starts_with("black_rate:")) black = rate_of(line);
            else if (line.starts_with("white_rate:")) white = rate_of(line);
        });
    }
};

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

// A record's part of the text of a CSA file: its bytes, and the file's line before its first.
struct Part {
    std::string_view text;
    std::size_t line_before;
};

// The games of a CSA text, split at its "/" lines; parts that hold only comments are no games.
std::vector<Part> csa_parts(std::string_view text) {
    std::vector<Part> parts;
    const char* start = text.data();
    std::size_t before = 0;
    bool statement = false;
    for_each_line(text, [&](std::string_view line, std::size_t number) {
        const std::string_view t = trimmed(line);
        if (t == "/") {
            if (statement) parts.push_back({std::string_view(start, static_cast<std::size_t>(line.data() - start)), before});
            // The rest of the "/" line is the part's line 1.
            start = line.data() + line.size();
            before = number - 1;
            statement = false;
        } else if (!t.empty() && t.front() != '\'') {
            statement = true;
        }
    });
    if (statement) parts.push_back({std::string_view(start, static_cast<std::size_t>(text.data() + text.size() - start)), before});
    return parts;
}

BadRecord bad_record(const RecordError& e, std::size_t line_before) {
    return {line_before + e.line(), (e.ply() > 0 ? "ply " + std::to_string(e.ply()) + ": " : std::string()) + e.why()};
}

}  // namespace

std::optional<std::int64_t> evaluation_of(std::string_view comment) {
    std::optional<std::int64_t> found;
    for_each_comment_line(comment, [&](std::string_view line) {
        if (!line.starts_with("** ")) return;
        line.remove_prefix(3);
        std::int64_t value = 0;
        const bool negative = !line.empty() && line.front() == '-';
        if (!line.empty() && (line.front() == '-' || line.front() == '+')) line.remove_prefix(1);
        for (std::size_t i = 0; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
            value = std::min<std::int64_t>(value * 10 + (line[i] - '0'), std::int64_t{1} << 40);
        found = negative ? -value : value;
    });
    return found;
}

void rows_of_game(const GameRecord& record, std::int32_t game, const RowFilter& filter, RowLayout layout, Rows& out) {
    const std::vector<std::int32_t> line = record.main_line();
    if (static_cast<std::int64_t>(line.size()) < filter.min_moves) return void(++out.too_short);
    if (!filter.endings.empty() &&
        std::find(filter.endings.begin(), filter.endings.end(), record.ending) == filter.endings.end())
        return void(++out.other_ending);
    if (filter.min_rating) {
        Ratings ratings;
        ratings.read(record.nodes[0].comment);
        for (std::int32_t n : line) ratings.read(record.nodes[static_cast<std::size_t>(n)].comment);
        if (!ratings.black || !ratings.white || *ratings.black < *filter.min_rating || *ratings.white < *filter.min_rating)
            return void(++out.low_rating);
    }
    ++out.games_converted;
    const Packing packing = layout == RowLayout::Hcpe ? Packing::Hcp : Packing::Psfen;
    const std::size_t size = row_size(layout);
    out.bytes.reserve(out.bytes.size() + line.size() * size);
    Replay position{Game(record.start)};
    for (std::int32_t n : line) {
        const RecordNode& node = record.nodes[static_cast<std::size_t>(n)];
        PackedPosition packed;
        try {
            packed = pack(position.board(), position.turn(), packing);
        } catch (const ValueError&) {  // no 32-byte packing: a mating problem's defender holds pieces
            ++out.unpackable;
            position.play(node.move);
            continue;
        }
        const bool white = position.turn() == Color::White;
        std::int64_t eval = std::clamp<std::int64_t>(evaluation_of(node.comment).value_or(0), -32767, 32767);
        if (white) eval = -eval;
        out.bytes.append(reinterpret_cast<const char*>(packed.data()), packed.size());
        put16(out.bytes, static_cast<std::uint16_t>(static_cast<std::int16_t>(eval)));
        if (layout == RowLayout::Hcpe) {
            put16(out.bytes, move16_of_legal(node.move));
            const std::int8_t result = record.winner == Winner::Black ? 1 : record.winner == Winner::White ? 2 : 0;
            out.bytes += static_cast<char>(result);
        } else {
            put16(out.bytes, psv_move16_of_legal(node.move));
            put16(out.bytes, static_cast<std::uint16_t>(std::clamp<std::int64_t>(position.ply(), 0, 65535)));
            const bool won = record.winner == (white ? Winner::White : Winner::Black);
            const bool lost = record.winner == (white ? Winner::Black : Winner::White);
            out.bytes += static_cast<char>(won ? 1 : lost ? -1 : 0);
        }
        out.bytes += '\0';
        out.plies.push_back(static_cast<std::int32_t>(std::min<std::int64_t>(position.ply(), INT32_MAX)));
        out.games.push_back(game);
        position.play(node.move);
    }
}

Rows rows_of_text(std::string_view text, RecordReader read, bool csa, const RowFilter& filter, RowLayout layout,
                  Checkpoint* checkpoint) {
    Rows out;
    if (!csa) {
        std::vector<GameRecord> games;
        try {
            games = read(text, true, checkpoint);
        } catch (const RecordError& e) {
            out.games_read = 1;
            out.bad.push_back(bad_record(e, 0));
            return out;
        }
        for (const GameRecord& g : games) rows_of_game(g, static_cast<std::int32_t>(out.games_read++), filter, layout, out);
        return out;
    }
    for (const Part& part : csa_parts(text)) {
        const auto game = static_cast<std::int32_t>(out.games_read++);
        try {
            rows_of_game(read(part.text, false, checkpoint).front(), game, filter, layout, out);
        } catch (const RecordError& e) {
            out.bad.push_back(bad_record(e, part.line_before));
        }
    }
    return out;
}

}  // namespace velkorant
