// JKF, the JSON kifu format: a header object, the start position (a named handicap or a board
// with both hands), and the moves with their times, comments, the special ending and the
// variations ("forks") that branch from each move.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "velkorant/record_csa.hpp"

namespace velkorant {

namespace {

using csa::excerpt;

// A JSON value. Members of an object keep their order; `key` names a member.
struct Json {
    enum class Type : std::uint8_t { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;          // a string's value
    std::string key;           // the member's name, inside an object
    std::vector<Json> items;   // an array's items, an object's members
    std::size_t line = 0;      // where the value starts

    // The last member named `name`, null when there is none.
    const Json* get(std::string_view name) const {
        if (type != Type::Object) return nullptr;
        for (std::size_t i = items.size(); i-- > 0;)
            if (items[i].key == name) return &items[i];
        return nullptr;
    }
    bool is_null() const { return type == Type::Null; }
};

// Nesting deeper than this is refused, so that hostile input cannot exhaust the stack.
constexpr int kMaxDepth = 512;
// Variations nested deeper than this are not written (each one takes three levels of JSON).
constexpr int kMaxForkDepth = 150;

// Reads one JSON document (RFC 8259): exact UTF-8, escapes with surrogate pairs.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : s_(text) {}

    Json document() {
        Json value = read(0);
        blanks();
        if (at_ < s_.size()) fail("text after the JSON value");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw RecordError(line_, 0, "not JSON: " + why + (at_ < s_.size() ? " at " + excerpt(s_.substr(at_, 20)) : ""));
    }

    void blanks() {
        for (; at_ < s_.size(); ++at_) {
            const char c = s_[at_];
            if (c == '\n' || (c == '\r' && (at_ + 1 == s_.size() || s_[at_ + 1] != '\n'))) ++line_;
            else if (c != ' ' && c != '\t' && c != '\r') break;
        }
    }

    Json read(int depth) {
        if (depth > kMaxDepth) fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
        blanks();
        if (at_ >= s_.size()) fail("the text ends where a value should be");
        Json v;
        v.line = line_;
        const char c = s_[at_];
        if (c == '{') {
            v.type = Json::Type::Object;
            ++at_;
            blanks();
            if (at_ < s_.size() && s_[at_] == '}') return ++at_, v;
            while (true) {
                blanks();
                if (at_ >= s_.size() || s_[at_] != '"') fail("a member name should be a string");
                std::string key = string();
                blanks();
                if (at_ >= s_.size() || s_[at_] != ':') fail("':' should follow a member name");
                ++at_;
                v.items.push_back(read(depth + 1));
                v.items.back().key = std::move(key);
                if (end_of('}')) return v;
            }
        }
        if (c == '[') {
            v.type = Json::Type::Array;
            ++at_;
            blanks();
            if (at_ < s_.size() && s_[at_] == ']') return ++at_, v;
            while (true) {
                v.items.push_back(read(depth + 1));
                if (end_of(']')) return v;
            }
        }
        if (c == '"') {
            v.type = Json::Type::String;
            v.text = string();
            return v;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            v.type = Json::Type::Number;
            v.number = number();
            return v;
        }
        const auto literal = [&](std::string_view word) {
            if (s_.substr(at_, word.size()) != word) return false;
            at_ += word.size();
            return true;
        };
        if (literal("true")) {
            v.type = Json::Type::Bool;
            v.boolean = true;
            return v;
        }
        if (literal("false")) {
            v.type = Json::Type::Bool;
            return v;
        }
        if (literal("null")) return v;
        fail("unknown value");
    }

    // After a member or an item: true at the closing bracket, false at a comma.
    bool end_of(char close) {
        blanks();
        if (at_ < s_.size() && s_[at_] == close) return ++at_, true;
        if (at_ < s_.size() && s_[at_] == ',') return ++at_, false;
        fail(std::string("',' or '") + close + "' should follow");
    }

    double number() {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
            return at_ - from;
        };
        if (s_[at_] == '-') ++at_;
        const std::size_t first = at_;
        const std::size_t whole = digits();
        if (whole == 0 || (whole > 1 && s_[first] == '0')) fail("a malformed number");
        if (at_ < s_.size() && s_[at_] == '.') {
            ++at_;
            if (!digits()) fail("a malformed number");
        }
        if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
            ++at_;
            if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
            if (!digits()) fail("a malformed number");
        }
        double value = 0;
        const auto [end, error] = std::from_chars(s_.data() + start, s_.data() + at_, value);
        if (error != std::errc() || end != s_.data() + at_) fail("a number out of range");
        return value;
    }

    unsigned hex4() {
        if (at_ + 4 > s_.size()) fail("a short \\u escape");
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[at_++];
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
            else fail("a malformed \\u escape");
        }
        return value;
    }

    static void append_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // The length of the well-formed UTF-8 character at `at_` (not ASCII), 0 when malformed.
    std::size_t utf8_length() const {
        const auto byte = [&](std::size_t i) { return at_ + i < s_.size() ? static_cast<unsigned char>(s_[at_ + i]) : 0u; };
        const unsigned b0 = byte(0);
        const auto tail = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
        if (b0 >= 0xC2 && b0 <= 0xDF) return tail(1) ? 2 : 0;
        if (b0 >= 0xE0 && b0 <= 0xEF) {
            const unsigned b1 = byte(1);
            if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 > 0x9F)) return 0;  // overlong, surrogate
            return tail(1) && tail(2) ? 3 : 0;
        }
        if (b0 >= 0xF0 && b0 <= 0xF4) {
            const unsigned b1 = byte(1);
            if ((b0 == 0xF0 && b1 < 0x90) || (b0 == 0xF4 && b1 > 0x8F)) return 0;  // overlong, past U+10FFFF
            return tail(1) && tail(2) && tail(3) ? 4 : 0;
        }
        return 0;
    }

    std::string string() {
        ++at_;  // the opening quote
        std::string out;
        while (true) {
            const std::size_t run = at_;
            while (at_ < s_.size() && s_[at_] != '"' && s_[at_] != '\\' && static_cast<unsigned char>(s_[at_]) >= 0x20 &&
                   static_cast<unsigned char>(s_[at_]) < 0x80)
                ++at_;
            out.append(s_.substr(run, at_ - run));
            if (at_ >= s_.size()) fail("the text ends inside a string");
            const unsigned char c = static_cast<unsigned char>(s_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) fail("a control character inside a string");
            if (c >= 0x80) {
                const std::size_t length = utf8_length();
                if (!length) fail("malformed UTF-8");
                out.append(s_.substr(at_, length));
                at_ += length;
                continue;
            }
            // An escape.
            if (++at_ >= s_.size()) fail("the text ends inside a string");
            const char e = s_[at_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xDC00 && cp <= 0xDFFF) fail("a lone low surrogate");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (s_.substr(at_, 2) != "\\u") fail("a high surrogate without its low half");
                        at_ += 2;
                        const unsigned low = hex4();
                        if (low < 0xDC00 || low > 0xDFFF) fail("a high surrogate without its low half");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    append_utf8(out, cp);
                    break;
                }
                default: fail("an unknown escape");
            }
        }
    }

    std::string_view s_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
};

// JSON text of a string, with the escapes it needs.
void write_string(std::string& out, std::string_view s) {
    out += '"';
    for (const char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void write_int(std::string& out, long long n) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

// A value written back compactly (for the header that keeps a refused move).
void write_json(std::string& out, const Json& v) {
    switch (v.type) {
        case Json::Type::Null: out += "null"; break;
        case Json::Type::Bool: out += v.boolean ? "true" : "false"; break;
        case Json::Type::Number: {
            char digits[32];
            out.append(digits, std::to_chars(digits, digits + sizeof digits, v.number).ptr);
            break;
        }
        case Json::Type::String: write_string(out, v.text); break;
        case Json::Type::Array:
        case Json::Type::Object: {
            const bool object = v.type == Json::Type::Object;
            out += object ? '{' : '[';
            for (std::size_t i = 0; i < v.items.size(); ++i) {
                if (i) out += ',';
                if (object) {
                    write_string(out, v.items[i].key);
                    out += ':';
                }
                write_json(out, v.items[i]);
            }
            out += object ? '}' : ']';
        }
    }
}

// Builds the record from the document, move by move.
class JkfReader {
public:
    GameRecord read(const Json& root) {
        if (root.type != Json::Type::Object) fail(root, "a JKF record is a JSON object");
        if (const Json* header = root.get("header"); header && !header->is_null()) headers(*header);
        game_.emplace(start(root.get("initial")));
        record_.start = game_->sfen();
        const Json* moves = root.get("moves");
        if (!moves || moves->type != Json::Type::Array) fail(moves ? *moves : root, "a JKF record has a list of moves");
        if (!moves->items.empty()) {
            const Json& first = moves->items[0];
            if (first.type != Json::Type::Object) fail(first, "the first entry of the moves is an object");
            if (first.get("move") && !first.get("move")->is_null()) fail(first, "the first entry of the moves holds the start position's comments, not a move");
            record_.nodes[0].comment = comments(first);
            if (const Json* old = first.get("comment"); old && old->type == Json::Type::String) record_.nodes[0].comment = old->text;
            line(moves->items, 1, 0, *game_, true);
        }
        return std::move(record_);
    }

private:
    [[noreturn]] static void fail(const Json& where, const std::string& why, std::int64_t ply = 0) {
        throw RecordError(where.line, ply, why);
    }

    static long long integer(const Json& v, long long low, long long high, const char* what) {
        if (v.type != Json::Type::Number || v.number != std::floor(v.number) || v.number < static_cast<double>(low) ||
            v.number > static_cast<double>(high))
            fail(v, std::string(what) + " is a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        return static_cast<long long>(v.number);
    }

    static const Json& member(const Json& object, std::string_view name) {
        const Json* v = object.get(name);
        if (!v || v->is_null()) fail(object, "no \"" + std::string(name) + "\" where one is needed");
        return *v;
    }

    void headers(const Json& header) {
        if (header.type != Json::Type::Object) fail(header, "the header is an object of strings");
        std::unordered_map<std::string_view, std::size_t> seen;
        for (const Json& h : header.items) {
            if (h.type != Json::Type::String) fail(h, "the header " + excerpt(h.key) + " is not a string");
            const auto [it, fresh] = seen.emplace(h.key, record_.headers.size());
            if (fresh) record_.headers.emplace_back(h.key, h.text);
            else record_.headers[it->second].second = h.text;
        }
        for (const auto& [key, value] : record_.headers) {
            if (key == "先手" || key == "下手") record_.black = value;
            if (key == "後手" || key == "上手") record_.white = value;
        }
    }

    static Color color(const Json& v) { return integer(v, 0, 1, "a colour") ? Color::White : Color::Black; }

    static std::array<unsigned, 2> place(const Json& v) {
        if (v.type != Json::Type::Object) fail(v, "a square is an object with x and y");
        return {static_cast<unsigned>(integer(member(v, "x"), 1, 9, "x")), static_cast<unsigned>(integer(member(v, "y"), 1, 9, "y"))};
    }

    static Kind kind(const Json& v) {
        const Kind k = v.type == Json::Type::String ? csa::kind_of(v.text) : Kind::None;
        if (k == Kind::None) fail(v, "unknown piece " + excerpt(v.type == Json::Type::String ? v.text : "(not a string)"));
        return k;
    }

    static Game start(const Json* initial) {
        if (!initial || initial->is_null()) return Game();
        if (initial->type != Json::Type::Object) fail(*initial, "the initial position is an object");
        const Json* data = initial->get("data");
        if (data && !data->is_null()) return position(*data);
        const Json& preset = member(*initial, "preset");
        for (const Handicap& h : kHandicaps)
            if (preset.type == Json::Type::String && preset.text == h.jkf) return Game(h.sfen);
        fail(preset, "unknown preset, or OTHER without its data");
    }

    // The "data" of an initial position: board[x-1][y-1] for file x, rank y; the hands of
    // Black and White.
    static Game position(const Json& data) {
        if (data.type != Json::Type::Object) fail(data, "the initial data is an object");
        Board board;
        const Json& rows = member(data, "board");
        if (rows.type == Json::Type::Array) {
            if (rows.items.size() != 9) fail(rows, "the board has nine files");
            for (unsigned x = 1; x <= 9; ++x) {
                const Json& file = rows.items[x - 1];
                if (file.type != Json::Type::Array || file.items.size() != 9) fail(file, "a file of the board has nine squares");
                for (unsigned y = 1; y <= 9; ++y) {
                    const Json& sq = file.items[y - 1];
                    if (sq.type != Json::Type::Object) fail(sq, "a square of the board is an object");
                    const Json* k = sq.get("kind");
                    if (!k || k->is_null()) continue;
                    board.deploy(static_cast<std::uint8_t>(csa::square(x, y)), kind(*k), color(member(sq, "color")));
                }
            }
        } else if (rows.type != Json::Type::Object || !rows.items.empty()) {
            fail(rows, "the board is nine files of nine squares");
        }
        const Json& hands = member(data, "hands");
        if (hands.type != Json::Type::Array || hands.items.size() != 2) fail(hands, "the hands are a list of two objects");
        for (int side = 0; side < 2; ++side) {
            const Json& hand = hands.items[static_cast<std::size_t>(side)];
            if (hand.type != Json::Type::Object) fail(hand, "a hand is an object of counts");
            for (const Json& count : hand.items) {
                const Kind k = csa::kind_of(count.key);
                const long long n = integer(count, 0, 18, "a count in hand");
                if (n == 0) continue;
                if (number(k) < number(Kind::Gold) || number(k) > number(Kind::Pawn)) fail(count, "no such piece in hand: " + excerpt(count.key));
                board.hand.counts[8 * side + number(k) - 1] = static_cast<std::uint8_t>(n);
            }
        }
        try {
            return Game::from_board(board, color(member(data, "color")));
        } catch (const ValueError& e) {
            fail(data, "the start position is not a position of the game: " + e.message());
        }
    }

    static std::string comments(const Json& entry) {
        const Json* c = entry.get("comments");
        std::string out;
        if (!c || c->is_null()) return out;
        if (c->type != Json::Type::Array) fail(*c, "comments are a list of strings");
        for (std::size_t i = 0; i < c->items.size(); ++i) {
            if (c->items[i].type != Json::Type::String) fail(c->items[i], "comments are a list of strings");
            if (i) out += '\n';
            out += c->items[i].text;
        }
        return out;
    }

    static std::optional<double> time(const Json& entry) {
        const Json* t = entry.get("time");
        if (!t || t->is_null()) return std::nullopt;
        if (t->type != Json::Type::Object) fail(*t, "a time is an object");
        const Json& now = member(*t, "now");
        if (now.type != Json::Type::Object) fail(now, "a time is an object");
        const Json* h = now.get("h");
        const long long hours = h && !h->is_null() ? integer(*h, 0, 1000000, "hours") : 0;
        return static_cast<double>(hours * 3600 + integer(member(now, "m"), 0, 60000000, "minutes") * 60 +
                                   integer(member(now, "s"), 0, 3600000000, "seconds"));
    }

    // The move an entry's "move" names on `game`; `why` tells why it is refused, if it is.
    static Move move(const Json& m, const Game& game, std::string& why) {
        if (m.type != Json::Type::Object) fail(m, "a move is an object");
        const Color side = color(member(m, "color"));
        const auto [tx, ty] = place(member(m, "to"));
        const unsigned to = csa::square(tx, ty);
        const Kind piece = kind(member(m, "piece"));
        const Json* promote = m.get("promote");
        const bool promotes = promote && promote->type == Json::Type::Bool && promote->boolean;
        const Json* from = m.get("from");
        const Board& board = game.board();
        if (side != game.turn()) {
            why = "not the side to move";
            return {};
        }
        if (from && !from->is_null()) {
            const auto [fx, fy] = place(*from);
            const unsigned f = csa::square(fx, fy);
            if (!board.color_boards[byte_of(side)].test(f) || board.square_kinds[f] != piece)
                why = "the piece named is not the one on the square it leaves";
            return promotes ? Move::promoting(f, to) : Move::normal(f, to);
        }
        // No square it leaves: a drop. A record that names the piece's relative place instead
        // ("relative" other than "H") and a piece not in hand are read as a board move, when
        // exactly one such piece can go there.
        const bool in_hand = number(piece) >= number(Kind::Gold) && number(piece) <= number(Kind::Pawn) &&
                             board.hand.counts[8 * byte_of(side) + number(piece) - 1] > 0;
        const Move drop = Move::drop_of(number(piece) + 64u * byte_of(side), to);
        const Json* relative = m.get("relative");
        const bool placed = relative && relative->type == Json::Type::String && relative->text != "H";
        if (in_hand && !placed) return drop;
        const MoveList legal = game.legal_moves();
        Move found;
        int count = 0;
        for (std::size_t i = 0; i < legal.size(); ++i) {
            const Move l = legal[i];
            if (l.is_drop() || l.to() != to || l.is_promote() != promotes || board.square_kinds[l.from()] != piece) continue;
            found = l;
            ++count;
        }
        if (count == 1) return found;
        if (count == 0) {
            if (!in_hand) why = "no such piece can go there";
            return drop;
        }
        fail(m, "the move does not name the square it leaves, and " + std::to_string(count) + " pieces can go there");
    }

    // Plays `entries` from `first` on as a line from `parent`; `game` stands at `parent`.
    void line(const std::vector<Json>& entries, std::size_t first, std::int32_t parent, Game& game, bool main) {
        bool ended = false;
        for (std::size_t i = first; i < entries.size(); ++i) {
            const Json& entry = entries[i];
            if (entry.type != Json::Type::Object) fail(entry, "a move entry is an object");
            const Json* forks = entry.get("forks");
            const bool forked = forks && !forks->is_null();
            if (forked && forks->type != Json::Type::Array) fail(*forks, "forks are a list of lists of moves");
            std::optional<Game> before;
            if (forked) before = game;
            const std::int32_t from = parent;
            const Json* m = entry.get("move");
            const Json* special = entry.get("special");
            if (m && !m->is_null()) {
                if (ended) fail(entry, "a move after the special ending");
                std::string why;
                const Move mv = move(*m, game, why);
                if (why.empty()) {
                    try {
                        game.push(mv);
                    } catch (const ValueError& e) {
                        why = e.message();
                    }
                }
                if (!why.empty()) {
                    refused(entries, i, *m, game, why, main);
                    return;
                }
                parent = record_.add(parent, mv);
                RecordNode& node = record_.nodes[static_cast<std::size_t>(parent)];
                node.comment = comments(entry);
                node.time = time(entry);
            } else if (special && !special->is_null()) {
                std::string ending;
                Winner winner;
                if (special->type != Json::Type::String || !csa::ending_of(special->text, game.turn(), ending, winner))
                    fail(*special, "unknown special " + excerpt(special->type == Json::Type::String ? special->text : ""));
                if (main && !ended) {
                    record_.ending = ending;
                    record_.winner = winner;
                }
                ended = true;
                append_comment(parent, comments(entry));
            } else {
                append_comment(parent, comments(entry));
            }
            if (!forked) continue;
            for (const Json& fork : forks->items) {
                if (fork.type != Json::Type::Array) fail(fork, "a fork is a list of moves");
                Game branch = *before;
                line(fork.items, 0, from, branch, false);
            }
        }
    }

    void append_comment(std::int32_t node, const std::string& text) {
        if (text.empty()) return;
        std::string& c = record_.nodes[static_cast<std::size_t>(node)].comment;
        if (!c.empty()) c += '\n';
        c += text;
    }

    // A move the rules refuse: kept out of the tree when the next entry ends the game as an
    // illegal move on the main line, an error otherwise.
    void refused(const std::vector<Json>& entries, std::size_t i, const Json& m, const Game& game, const std::string& why, bool main) {
        const Json* special = i + 1 < entries.size() ? entries[i + 1].get("special") : nullptr;
        std::string ending;
        Winner winner;
        if (!main || !special || special->type != Json::Type::String ||
            !csa::ending_of(special->text, game.turn(), ending, winner) || ending != "illegal_move" || i + 2 < entries.size()) {
            std::string text;
            write_json(text, m);
            fail(m, "move " + excerpt(text) + " is refused: " + why, game.ply());
        }
        std::string text;
        write_json(text, m);
        record_.headers.emplace_back("illegal_move", text);
        record_.ending = ending;
        record_.winner = winner;
    }

    GameRecord record_;
    std::optional<Game> game_;
};

// Writes the tree as JKF entries, move by move.
class JkfWriter {
public:
    explicit JkfWriter(const GameRecord& record) : record_(record), children_(record.children()) {}

    std::string write() {
        out_ = "{\"header\":{";
        bool first = true;
        const auto header = [&](std::string_view key, std::string_view value) {
            if (!first) out_ += ',';
            first = false;
            write_string(out_, key);
            out_ += ':';
            write_string(out_, value);
        };
        bool black = false, white = false;
        for (const auto& [key, value] : record_.headers) {
            black = black || key == "先手" || key == "下手";
            white = white || key == "後手" || key == "上手";
        }
        if (!black && !record_.black.empty()) header("先手", record_.black);
        if (!white && !record_.white.empty()) header("後手", record_.white);
        std::unordered_map<std::string_view, bool> seen;
        for (const auto& [key, value] : record_.headers)
            if (key != "N+" && key != "N-" && seen.emplace(key, true).second) header(key, value);
        out_ += "},\n\"initial\":";
        Game game(record_.start);
        initial(game);
        out_ += ",\n\"moves\":[\n{";
        comments(record_.nodes[0].comment);
        out_ += '}';
        const std::int32_t last = line(game, first_child(0), {0, 0}, 0, true);
        if (last >= 0) {
            Game end = game_at(record_, last);
            std::string_view word = csa::word_of(record_.ending, record_.winner, end.turn());
            if (!word.empty() && word != "MAX_MOVES") {  // the format has no word for the move limit
                out_ += ",\n{\"special\":";
                write_string(out_, word);
                out_ += '}';
            }
        }
        out_ += "\n]}\n";
        return std::move(out_);
    }

private:
    std::int32_t first_child(std::int32_t node) const {
        const auto& c = children_[static_cast<std::size_t>(node)];
        return c.empty() ? -1 : c.front();
    }

    void initial(const Game& game) {
        if (const Handicap* h = handicap_of(game.sfen())) {
            out_ += "{\"preset\":";
            write_string(out_, h->jkf);
            out_ += '}';
            return;
        }
        const Board& board = game.board();
        out_ += "{\"preset\":\"OTHER\",\"data\":{\"color\":";
        write_int(out_, game.turn() == Color::White);
        out_ += ",\"board\":[";
        for (unsigned x = 1; x <= 9; ++x) {
            out_ += x > 1 ? ",[" : "[";
            for (unsigned y = 1; y <= 9; ++y) {
                if (y > 1) out_ += ',';
                const unsigned at = csa::square(x, y);
                if (!board.occupied.test(at)) {
                    out_ += "{}";
                    continue;
                }
                out_ += "{\"color\":";
                write_int(out_, board.color_boards[1].test(at));
                out_ += ",\"kind\":";
                write_string(out_, csa::code_of(board.square_kinds[at]));
                out_ += '}';
            }
            out_ += ']';
        }
        out_ += "],\"hands\":[";
        for (int side = 0; side < 2; ++side) {
            out_ += side ? ",{" : "{";
            bool first = true;
            for (Kind k : {Kind::Pawn, Kind::Lance, Kind::Knight, Kind::Silver, Kind::Gold, Kind::Bichop, Kind::Rook}) {
                if (!first) out_ += ',';
                first = false;
                write_string(out_, csa::code_of(k));
                out_ += ':';
                write_int(out_, board.hand.counts[8 * side + number(k) - 1]);
            }
            out_ += '}';
        }
        out_ += "]}}";
    }

    void comments(const std::string& text) {
        if (text.empty()) return;
        out_ += "\"comments\":[";
        std::size_t start = 0;
        while (true) {
            const std::size_t end = text.find('\n', start);
            if (start) out_ += ',';
            write_string(out_, std::string_view(text).substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        out_ += ']';
    }

    static void clock(std::string& out, long long seconds, bool hours) {
        out += '{';
        if (hours) {
            out += "\"h\":";
            write_int(out, seconds / 3600);
            out += ',';
            seconds %= 3600;
        }
        out += "\"m\":";
        write_int(out, seconds / 60);
        out += ",\"s\":";
        write_int(out, seconds % 60);
        out += '}';
    }

    // One entry: the move on `game` (at its parent), its time, comments and the variations
    // that branch off in its place (`forks`).
    void entry(Game& game, std::int32_t n, std::array<long long, 2>& totals, int depth, bool forks) {
        const RecordNode& node = record_.nodes[static_cast<std::size_t>(n)];
        const Move m = node.move;
        const std::array<long long, 2> before = totals;  // for the variations in this move's place
        const Board& board = game.board();
        const Color side = game.turn();
        out_ += "{\"move\":{\"color\":";
        write_int(out_, side == Color::White);
        Kind piece;
        if (m.is_drop()) {
            piece = m.get_piece().piece_type;
        } else {
            piece = board.square_kinds[m.from()];
            out_ += ",\"from\":{\"x\":";
            write_int(out_, csa::file_of(m.from()));
            out_ += ",\"y\":";
            write_int(out_, csa::rank_of(m.from()));
            out_ += '}';
        }
        out_ += ",\"to\":{\"x\":";
        write_int(out_, csa::file_of(m.to()));
        out_ += ",\"y\":";
        write_int(out_, csa::rank_of(m.to()));
        out_ += "},\"piece\":";
        write_string(out_, csa::code_of(piece));
        if (const auto last = game.last_move(); last && last->to() == m.to()) out_ += ",\"same\":true";
        if (m.is_promote()) {
            out_ += ",\"promote\":true";
        } else if (!m.is_drop() && is_promotable(piece) &&
                   (Board::promotion_zone[byte_of(side)].test(m.from()) || Board::promotion_zone[byte_of(side)].test(m.to()))) {
            out_ += ",\"promote\":false";
        }
        if (!m.is_drop() && board.occupied.test(m.to())) {
            out_ += ",\"capture\":";
            write_string(out_, csa::code_of(board.square_kinds[m.to()]));
        }
        out_ += '}';
        if (node.time && std::isfinite(*node.time) && *node.time >= 0 && *node.time < 1e15) {
            const long long now = std::llround(*node.time);
            long long& total = totals[byte_of(side)];
            total += now;
            out_ += ",\"time\":{\"now\":";
            clock(out_, now, false);
            out_ += ",\"total\":";
            clock(out_, total, true);
            out_ += '}';
        }
        if (!node.comment.empty()) {
            out_ += ',';
            comments(node.comment);
        }
        if (forks) {
            const auto& siblings = children_[static_cast<std::size_t>(node.parent)];
            if (siblings.size() > 1) {
                if (depth >= kMaxForkDepth) throw ValueError("variations nested deeper than " + std::to_string(kMaxForkDepth) + " levels");
                out_ += ",\"forks\":[";
                for (std::size_t i = 1; i < siblings.size(); ++i) {
                    out_ += i > 1 ? ",[" : "[";
                    line(game, siblings[i], before, depth + 1, false);
                    out_ += ']';
                }
                out_ += ']';
            }
        }
        out_ += '}';
        game.push(m);
    }

    // The line from `n` down the first children; the game comes back to where it was. The
    // last node of the line, -1 when there is none.
    std::int32_t line(Game& game, std::int32_t n, std::array<long long, 2> totals, int depth, bool main) {
        std::size_t played = 0;
        std::int32_t last = main ? 0 : -1;
        for (bool first = true; n >= 0; n = first_child(n), first = false) {
            if (main || !first) out_ += main ? ",\n" : ",";
            entry(game, n, totals, depth, main || !first);
            ++played;
            last = n;
        }
        for (; played > 0; --played) game.pop();
        return last;
    }

    const GameRecord& record_;
    std::vector<std::vector<std::int32_t>> children_;
    std::string out_;
};

}  // namespace

std::vector<GameRecord> read_jkf(std::string_view text, bool, Checkpoint*) {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) throw RecordError(1, 0, "no game in the text");
    const Json root = JsonReader(text).document();
    std::vector<GameRecord> out;
    out.push_back(JkfReader().read(root));
    return out;
}

std::string write_jkf(const GameRecord& record) { return JkfWriter(record).write(); }

}  // namespace velkorant
