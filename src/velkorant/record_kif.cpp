// KIF and KI2, the records of Japanese GUIs and databases: headers "key：value", the start as a
// named handicap ("手合割") or a board diagram, then the moves. KIF writes one move a line, with
// its number, its source square and its time ("   1 ７六歩(77)   ( 0:01/00:00:01)"); KI2 writes
// several a line, marked ▲ or △, telling apart pieces that reach the same square by words
// (右 左 直 上 引 寄, 打). Both write comments as "*" lines, endings as words (投了, 千日手, ...)
// and variations as "変化：N手" blocks after the main line.
#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <limits>
#include <string>
#include <vector>

#include "velkorant/attacks.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/record.hpp"

namespace velkorant {

namespace {

// ---------------------------------------------------------------------------------------------
// Notation

constexpr std::string_view kWideDigits[] = {"０", "１", "２", "３", "４", "５", "６", "７", "８", "９"};
constexpr std::string_view kKanjiDigits[] = {"〇", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
constexpr std::string_view kWideSpace = "　";

// Piece names of moves ("成銀") and of board diagrams (one character: "全"), by kind.
struct PieceName {
    std::string_view name;
    Kind kind;
};
constexpr PieceName kPieceNames[] = {
    {"成香", Kind::ProLance}, {"成桂", Kind::ProKnight}, {"成銀", Kind::ProSilver},
    {"歩", Kind::Pawn},       {"香", Kind::Lance},       {"桂", Kind::Knight},   {"銀", Kind::Silver},
    {"金", Kind::Gold},       {"角", Kind::Bichop},      {"飛", Kind::Rook},     {"玉", Kind::King},
    {"王", Kind::King},       {"と", Kind::ProPawn},     {"馬", Kind::Horse},    {"龍", Kind::Dragon},
    {"竜", Kind::Dragon},     {"杏", Kind::ProLance},    {"圭", Kind::ProKnight}, {"全", Kind::ProSilver},
};
// The names written, by kind: in moves, and in board diagrams.
constexpr std::string_view kMoveNames[kKinds] = {"", "玉", "金", "飛", "角", "銀", "桂", "香", "歩",
                                                 "龍", "馬", "成銀", "成桂", "成香", "と"};
constexpr std::string_view kBoardNames[kKinds] = {"・", "玉", "金", "飛", "角", "銀", "桂", "香", "歩",
                                                  "龍", "馬", "全", "圭", "杏", "と"};

std::string quoted(std::string_view text) { return '"' + excerpt(text) + '"'; }

bool take(std::string_view& s, std::string_view prefix) {
    if (!s.starts_with(prefix)) return false;
    s.remove_prefix(prefix.size());
    return true;
}

// The code point of the UTF-8 character at the front of `s` (0 for none), and its length.
constexpr std::pair<char32_t, std::size_t> first_char(std::string_view s) {
    if (s.empty()) return {0, 0};
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    if (b(0) < 0x80) return {b(0), 1};
    if ((b(0) & 0xE0) == 0xC0 && s.size() >= 2) return {(b(0) & 0x1Fu) << 6 | (b(1) & 0x3Fu), 2};
    if ((b(0) & 0xF0) == 0xE0 && s.size() >= 3) return {(b(0) & 0x0Fu) << 12 | (b(1) & 0x3Fu) << 6 | (b(2) & 0x3Fu), 3};
    return {0, 0};
}

// Values found by a character's code point through a small table that no two characters
// given share a slot of (the slot: the code point modulo a size found when compiling).
template <std::size_t N>
class CharTable {
public:
    // `entries`: a character (UTF-8, one character or empty for none) and its value (not 0).
    constexpr explicit CharTable(const std::array<std::pair<std::string_view, int>, N>& entries) {
        for (size_ = N; size_ <= kSlots; ++size_) {
            slots_ = {};
            bool clash = false;
            for (const auto& [text, value] : entries) {
                if (text.empty() || value == 0) continue;
                const char32_t c = first_char(text).first;
                Slot& slot = slots_[c % size_];
                clash = clash || (slot.value != 0 && slot.c != c);
                slot = {c, value};
            }
            if (!clash) return;
        }
        throw "no table size separates these characters";  // a compile error, in a constant
    }
    // The value of character `c`, or `none`.
    constexpr int find(char32_t c, int none) const {
        const Slot& slot = slots_[c % size_];
        return slot.value != 0 && slot.c == c ? slot.value : none;
    }

private:
    static constexpr std::size_t kSlots = 256;
    struct Slot {
        char32_t c = 0;
        int value = 0;
    };
    std::array<Slot, kSlots> slots_{};
    std::size_t size_ = N;
};

// Without blanks at either end: spaces, tabs and the full-width space (E3 80 80).
std::string_view trim(std::string_view s) {
    const auto wide = [](const char* p) { return p[0] == '\xE3' && p[1] == '\x80' && p[2] == '\x80'; };
    for (;;) {
        if (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        else if (s.size() >= 3 && wide(s.data())) s.remove_prefix(3);
        else break;
    }
    for (;;) {
        if (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        else if (s.size() >= 3 && wide(s.data() + s.size() - 3)) s.remove_suffix(3);
        else break;
    }
    return s;
}

// A digit 1..9 written half-width, full-width or in kanji; 0 when there is none.
int take_digit(std::string_view& s) {
    if (!s.empty() && s[0] >= '1' && s[0] <= '9') {
        const int d = s[0] - '0';
        s.remove_prefix(1);
        return d;
    }
    // Full-width 1..9 are EF BC 91..99.
    if (s.size() >= 3 && s[0] == '\xEF' && s[1] == '\xBC' && s[2] >= '\x91' && s[2] <= '\x99') {
        const int d = s[2] - '\x90';
        s.remove_prefix(3);
        return d;
    }
    static constexpr CharTable<10> kanji([] {
        std::array<std::pair<std::string_view, int>, 10> out{};
        for (int d = 0; d <= 9; ++d) out[static_cast<std::size_t>(d)] = {kKanjiDigits[d], d};
        return out;
    }());
    const auto [c, length] = first_char(s);
    const int d = kanji.find(c, 0);
    if (d) s.remove_prefix(length);
    return d;
}

// A count in kanji ("十八", "二", "十"), 1 when none is written.
int take_count(std::string_view& s) {
    int tens = 0;
    if (take(s, "十")) tens = 1;
    else if (int d = 0; s.size() >= 6 && (d = take_digit(s)) > 0) {
        if (take(s, "十")) tens = d;
        else return d;
    }
    std::string_view rest = s;
    const int ones = rest.starts_with("十") ? 0 : take_digit(rest);
    if (ones) s = rest;
    return tens * 10 + ones ? tens * 10 + ones : 1;
}

std::string kanji_count(int n) {
    std::string out;
    if (n >= 10) out += n >= 20 ? std::string(kKanjiDigits[n / 10]) + "十" : "十";
    if (n % 10) out += kKanjiDigits[n % 10];
    return out;
}

// The piece names by their first character; the two-character names begin with 成, and their
// second character names the piece promoted.
constexpr CharTable<std::size(kPieceNames)> kNameFirst([] {
    std::array<std::pair<std::string_view, int>, std::size(kPieceNames)> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = {kPieceNames[i].name.size() == 3 ? kPieceNames[i].name : "成", static_cast<int>(kPieceNames[i].kind)};
    return out;
}());
constexpr CharTable<std::size(kPieceNames)> kNameAfterPromoted([] {
    std::array<std::pair<std::string_view, int>, std::size(kPieceNames)> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = {kPieceNames[i].name.size() == 6 ? kPieceNames[i].name.substr(3) : "", static_cast<int>(kPieceNames[i].kind)};
    return out;
}());
constexpr char32_t kPromoted = first_char("成").first;

Kind take_piece(std::string_view& s) {
    const auto [first, length] = first_char(s);
    if (first == kPromoted) {
        const auto [second, next] = first_char(s.substr(length));
        const int kind = kNameAfterPromoted.find(second, 0);
        if (kind) s.remove_prefix(length + next);
        return static_cast<Kind>(kind);
    }
    const int kind = kNameFirst.find(first, 0);
    if (kind) s.remove_prefix(length);
    return static_cast<Kind>(kind);
}

// The library square of USI file `file` and rank `rank` (1..9).
constexpr unsigned square_of(int file, int rank) { return static_cast<unsigned>((10 - rank) * 11 + (10 - file)); }
constexpr int file_of(unsigned s) { return 10 - static_cast<int>(s % 11); }
constexpr int rank_of(unsigned s) { return 10 - static_cast<int>(s / 11); }

std::string square_text(unsigned s) {
    return std::string(kWideDigits[file_of(s)]) + std::string(kKanjiDigits[rank_of(s)]);
}

// Ending words, and what they say of the side to move when they stand in its place.
enum class Decides : std::uint8_t { ToMoveLoses, ToMoveWins, Draw, Unknown };
struct EndingWord {
    std::string_view word, ending;
    Decides decides;
};
constexpr EndingWord kEndingWords[] = {
    {"投了", "resign", Decides::ToMoveLoses},         {"中断", "abort", Decides::Unknown},
    {"千日手", "repetition", Decides::Draw},          {"持将棋", "impasse", Decides::Draw},
    {"切れ負け", "time_up", Decides::ToMoveLoses},    {"時間切れ", "time_up", Decides::ToMoveLoses},
    {"反則勝ち", "illegal_move", Decides::ToMoveWins}, {"反則負け", "illegal_move", Decides::ToMoveLoses},
    {"詰み", "checkmate", Decides::ToMoveLoses},      {"不詰", "no_checkmate", Decides::Unknown},
    {"入玉勝ち", "declaration", Decides::ToMoveWins}, {"宣言勝ち", "declaration", Decides::ToMoveWins},
    {"最大手数", "max_moves", Decides::Draw},         {"エラー", "error", Decides::Unknown},
};

Winner decided(Decides d, Color to_move) {
    switch (d) {
        case Decides::ToMoveLoses: return to_move == Color::Black ? Winner::White : Winner::Black;
        case Decides::ToMoveWins: return to_move == Color::Black ? Winner::Black : Winner::White;
        case Decides::Draw: return Winner::Draw;
        case Decides::Unknown: break;
    }
    return Winner::Unknown;
}

// The trailer of a game ("まで64手で後手の勝ち"): what follows the number of moves, most
// particular first; the side it names ("後手の") wins.
constexpr EndingWord kTrailers[] = {
    {"で時間切れにより", "time_up", Decides::Unknown}, {"の反則勝ち", "illegal_move", Decides::Unknown},
    {"の入玉勝ち", "declaration", Decides::Unknown},     {"の勝ち", "resign", Decides::Unknown},
    {"で千日手", "repetition", Decides::Draw},           {"で持将棋", "impasse", Decides::Draw},
    {"で中断", "abort", Decides::Unknown},               {"で詰み", "checkmate", Decides::ToMoveLoses},
    {"で不詰", "no_checkmate", Decides::Unknown},        {"で最大手数", "max_moves", Decides::Draw},
    {"でエラー", "error", Decides::Unknown},
};

// The word a record's ending is written with, `to_move` to move at the end ("" for none).
std::string_view ending_word(const GameRecord& r, Color to_move) {
    for (const EndingWord& e : kEndingWords)
        if (e.ending == r.ending && (r.winner == Winner::Unknown || decided(e.decides, to_move) == r.winner ||
                                     e.decides == Decides::Unknown || e.decides == Decides::Draw))
            return e.word;
    for (const EndingWord& e : kEndingWords)
        if (e.ending == r.ending) return e.word;
    return "";
}

// ---------------------------------------------------------------------------------------------
// Reading: what KIF and KI2 share (headers, the start, comments, endings, variations); the
// moves themselves are each format's own.

enum class Style : std::uint8_t { Kif, Ki2 };

// How a piece moves to its destination, as KI2's words tell it.
enum class Motion : std::uint8_t { Up, Sideways, Back };

Motion motion_of(Move m, Color side) {
    const int d = rank_of(m.to()) - rank_of(m.from());  // positive: towards rank 9
    if (d == 0) return Motion::Sideways;
    return (side == Color::Black) == (d < 0) ? Motion::Up : Motion::Back;
}
// How far right the piece stands, as its side sees the board.
int rightness(unsigned square, Color side) { return side == Color::Black ? -file_of(square) : file_of(square); }

class Reader {
public:
    Reader(std::string_view text, bool all, Checkpoint* checkpoint, Style style)
        : text_(text), all_(all), checkpoint_(checkpoint), style_(style) {}

    std::vector<GameRecord> read() {
        (void)all_;
        // A file holds one game.
        for_each_line(text_, [&](std::string_view line, std::size_t number) {
            line_ = number;
            if (checkpoint_) checkpoint_->tick();
            read_line(trim(line));
        });
        finish();
        if (out_.empty()) throw RecordError(1, 0, "no game in the text");
        return std::move(out_);
    }

private:
    [[noreturn]] void fail(const std::string& why, std::int64_t ply = 0) const { throw RecordError(line_, ply, why); }

    std::int64_t ply() const { return static_cast<std::int64_t>(line_plies()) + 1; }
    std::size_t line_plies() const { return lines_.empty() ? 0 : lines_.back().size(); }

    void read_line(std::string_view line) {
        switch (line[0]) {
            case '#': return;  // the file's own remarks, the encoding line among them
            case '*': return comment(line.substr(1));
            case '&': return;  // a bookmark
            default: break;
        }
        if (moving_ && style_ == Style::Kif && line[0] >= '0' && line[0] <= '9') return kif_move(line);
        if (take(line, "変化：") || take(line, "変化:")) return variation(line);
        if (line.starts_with("まで")) return trailer(line);
        if (!moving_) {
            if (line.starts_with("手数----") || line.starts_with("手数＝") || line.starts_with("|") ||
                line.starts_with("+---") || line.starts_with("９ ８") || line.starts_with("  ９"))
                return head_line(line);
            if (const std::size_t colon = colon_of(line); colon != std::string_view::npos)
                return header(line, colon);
            if (line == "先手番" || line == "下手番") return void(turn_ = Color::Black);
            if (line == "後手番" || line == "上手番") return void(turn_ = Color::White);
            if (line.starts_with("９") || line.starts_with("9")) return;  // the files above a diagram
        }
        if (line.starts_with("手数----")) return;
        moves(line);
    }

    static std::size_t colon_of(std::string_view line) {
        const std::size_t wide = line.find("：");
        if (wide != std::string_view::npos) return wide;
        const std::size_t colon = line.find(':');
        // "key:value" with a key of letters, not a time "( 0:01/...)"
        return colon != std::string_view::npos && colon > 0 && line.find('(') > colon ? colon : std::string_view::npos;
    }

    void header(std::string_view line, std::size_t colon) {
        const std::string_view key = trim(line.substr(0, colon));
        const std::string_view value = trim(line.substr(colon + (line.substr(colon).starts_with("：") ? 3 : 1)));
        if (key == "手合割") {
            std::string_view name = value;
            if (name.empty() || name == "平手" || name == "平手　　") name = "平手";
            const Handicap* found = nullptr;
            for (const Handicap& h : kHandicaps)
                if (h.kif == name) found = &h;
            if (found) start_ = found->sfen;
            else if (name != "その他" && name != "詰将棋") fail("unknown handicap " + quoted(value));
        } else if (key.ends_with("の持駒")) {
            return hand(key, value);
        }
        if (key == "先手" || key == "下手") record_.black = std::string(value);
        if (key == "後手" || key == "上手") record_.white = std::string(value);
        record_.headers.emplace_back(std::string(key), std::string(value));
    }

    // "後手の持駒：飛　角　金四　歩十八", "なし", or every piece left over: "残り全部" and the
    // other spellings mating problems use.
    void hand(std::string_view key, std::string_view value) {
        const Color side = key.starts_with("先手") || key.starts_with("下手") ? Color::Black : Color::White;
        diagram_ = true;
        if (value == "なし" || value.empty()) return;
        for (std::string_view rest : {"残り全部", "残りすべて", "残り全て", "残りの駒全部", "残りの駒すべて"})
            if (value == rest) return void(rest_ = side);
        while (!(value = trim(value)).empty()) {
            const Kind kind = take_piece(value);
            if (kind == Kind::None || (!is_promotable(kind) && kind != Kind::Gold))
                fail("unknown piece in hand " + quoted(value));
            const int count = take_count(value);
            hand_[8 * byte_of(side) + number(kind) - 1] += count;
            if (!value.empty() && value[0] != ' ' && !value.starts_with(kWideSpace) && !value.starts_with("、"))
                fail("unknown piece in hand " + quoted(value));
            take(value, "、");
        }
    }

    // The lines of a board diagram, and the move number its position has.
    void head_line(std::string_view line) {
        if (take(line, "手数＝")) {
            std::int64_t n = 0;
            for (char c : line) {
                if (c < '0' || c > '9' || n > 100000000) break;
                n = n * 10 + (c - '0');
            }
            number_ = n;
            return;
        }
        if (!line.starts_with("|")) return;
        diagram_ = true;
        if (row_ >= 9) fail("a board diagram of more than 9 ranks");
        line.remove_prefix(1);
        for (int file = 9; file >= 1; --file) {
            Color side = Color::Black;
            if (take(line, "v") || take(line, "V")) side = Color::White;
            else if (!take(line, " ") && !take(line, "^")) fail("unknown board square " + quoted(line));
            if (take(line, "・")) continue;
            std::string_view one = line;
            const Kind kind = take_piece(one);
            if (kind == Kind::None || line.size() - one.size() != 3) fail("unknown board square " + quoted(line));
            line = one;
            board_.deploy_unchecked(square_of(file, row_ + 1), kind, side);
        }
        ++row_;
    }

    void comment(std::string_view text) {
        if (lines_.empty()) begin();
        std::string& target = record_.nodes[static_cast<std::size_t>(current())].comment;
        if (!target.empty()) target += '\n';
        target += text;
    }

    std::int32_t current() const { return lines_.back().empty() ? 0 : lines_.back().back(); }

    // The start position, once the first move (or the end) comes.
    void begin() {
        if (!lines_.empty()) return;
        moving_ = true;
        Board board = board_;
        if (diagram_ && row_ != 9) fail("a board diagram of " + std::to_string(row_) + " ranks, not 9");
        lines_.emplace_back();
        // A move takes a line of twenty bytes or more: room for what the text can hold.
        const std::size_t room = std::min<std::size_t>(text_.size() / 20 + 1, 512);
        lines_.back().reserve(room);
        record_.nodes.reserve(room);
        // Most games start from the initial position: it needs no checking, and a record holds
        // its SFEN already.
        static const Replay initial{Game()};
        if (!diagram_ && number_ == 0 && start_ == kHandicaps[0].sfen) return positions_.push_back(initial);
        std::string sfen;
        try {
            if (diagram_) {
                for (std::size_t i = 0; i < kHandSlots; ++i) board.hand.counts[i] = static_cast<std::uint8_t>(hand_[i]);
                if (rest_ != Color::None) {
                    std::array<int, 9> left = kPiecesInGame;
                    board.occupied.for_each_square([&](std::uint8_t s) { --left[number(unpromoted(board.square_kinds[s]))]; });
                    for (std::size_t i = 0; i < kHandSlots; ++i) left[i % 8 + 1] -= hand_[i];
                    for (int k = number(Kind::Gold); k <= number(Kind::Pawn); ++k)
                        if (left[k] > 0) board.hand.counts[8 * byte_of(rest_) + k - 1] += static_cast<std::uint8_t>(left[k]);
                }
                sfen = Game::from_board(board, turn_, number_ + 1).sfen();
            } else {
                Game game{std::string_view(start_)};
                sfen = Game::from_board(game.board(), game.turn(), number_ + 1).sfen();
            }
        } catch (const ValueError& e) {
            fail("the start position is not a position of the game: " + e.message());
        }
        record_.start = sfen;
        positions_.emplace_back(Game(sfen));
    }

    // "変化：8手": the moves that follow replace move 8 of the latest line that has one.
    void variation(std::string_view text) {
        if (lines_.empty()) fail("a variation before the moves");
        std::int64_t n = 0;
        while (!text.empty() && text[0] >= '0' && text[0] <= '9' && n < 100000000) n = n * 10 + (text[0] - '0'), text.remove_prefix(1);
        const std::int64_t ply = n - first_number();  // moves of the line kept before it
        if (n == 0 || ply < 0) fail("a variation at move " + std::to_string(n) + ", before the first move");
        ended_ = false;
        for (std::size_t i = lines_.size(); i-- > 0;) {
            if (static_cast<std::int64_t>(lines_[i].size()) > ply) {
                std::vector<std::int32_t> line(lines_[i].begin(), lines_[i].begin() + ply);
                Replay position{Game(record_.start)};
                for (std::int32_t n : line) position.push(record_.nodes[static_cast<std::size_t>(n)].move);
                lines_.push_back(std::move(line));
                positions_.push_back(std::move(position));
                return;
            }
        }
        fail("a variation at move " + std::to_string(n) + ", which no line before it reaches");
    }

    // The move number of the first move.
    std::int64_t first_number() const { return number_ + 1; }

    // "まで64手で後手の勝ち", "まで80手で千日手": how the game ended and who won, where no ending
    // word said it.
    void trailer(std::string_view text) {
        if (lines_.size() != 1) return;
        for (const EndingWord& t : kTrailers) {
            const std::size_t at = text.find(t.word);
            if (at == std::string_view::npos) continue;
            if (record_.ending.empty()) record_.ending = t.ending;
            if (record_.winner == Winner::Unknown) {
                if (t.decides == Decides::Draw) record_.winner = Winner::Draw;
                const auto names = [&](std::string_view a, std::string_view b) {
                    return text.find(std::string(a) + "の") != std::string_view::npos ||
                           text.find(std::string(b) + "の") != std::string_view::npos;
                };
                const bool black = names("先手", "下手"), white = names("後手", "上手");
                if (black != white) record_.winner = black ? Winner::Black : Winner::White;
                if (t.decides == Decides::ToMoveLoses && !black && !white)  // "詰み": the side to move is mated
                    record_.winner = decided(t.decides, positions_.back().turn());
            }
            return;
        }
    }

    // Whether a KI2 move word ends at `i`: a blank, or the mark of the next move.
    static bool ends_word(std::string_view s, std::size_t i) {
        const char c = s[i];
        if (c == ' ' || c == '\t') return true;
        if (c != '\xE2' && c != '\xE3') return false;
        const std::string_view rest = s.substr(i);
        return rest.starts_with(kWideSpace) || rest.starts_with("▲") || rest.starts_with("△") ||
               rest.starts_with("☗") || rest.starts_with("☖") || rest.starts_with("▽");
    }

    void moves(std::string_view line) {
        begin();
        if (style_ == Style::Kif) return kif_move(line);
        while (!(line = trim(line)).empty()) {
            Color side;
            if (take(line, "▲") || take(line, "☗")) side = Color::Black;
            else if (take(line, "△") || take(line, "☖") || take(line, "▽")) side = Color::White;
            else fail("unknown move " + quoted(line), ply());
            std::size_t end = 0;
            while (end < line.size() && !ends_word(line, end)) ++end;
            std::string_view word = line.substr(0, end);
            line.remove_prefix(end);
            // "同　歩": the blank after 同 belongs to the move.
            if (word == "同" && line.starts_with(kWideSpace)) {
                std::size_t more = kWideSpace.size();
                while (more < line.size() && !ends_word(line, more)) ++more;
                word = std::string_view(word.data(), word.size() + more);
                line.remove_prefix(more);
            }
            ki2_move(side, word);
        }
    }

    // "   1 ７六歩(77)   ( 0:01/00:00:01)", "  12 同　歩(23)", "  13 ５五角打", "  74 投了".
    void kif_move(std::string_view line) {
        std::size_t i = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
        if (i == 0) fail("unknown line " + quoted(line));
        const std::string_view rest = trim(line.substr(i));
        if (!names_square(rest)) return kif_ending(rest);
        // Read forward: the destination, the piece, 成/不成/打, the source, the time, a "+".
        const Color side = positions_.back().turn();
        std::string_view text = rest;
        const unsigned to = destination(text);
        const Kind kind = take_piece(text);
        if (kind == Kind::None) fail("unknown move " + quoted(rest), ply());
        bool promote = false, drop = false;
        if (!text.empty() && text[0] != '(' && text[0] != ' ') {
            promote = take(text, "成");
            take(text, "不成") || take(text, "生");
            drop = take(text, "打");
        }
        unsigned from = 0;
        if (text.size() >= 4 && text[0] == '(' && text[1] >= '1' && text[1] <= '9' && text[2] >= '1' && text[2] <= '9' &&
            text[3] == ')') {
            from = square_of(text[1] - '0', text[2] - '0');
            text.remove_prefix(4);
        }
        const std::string_view written = rest.substr(0, static_cast<std::size_t>(text.data() - rest.data()));
        text = trim(text);
        std::optional<double> seconds;
        if (!text.empty() && text[0] == '(') {
            const std::size_t close = text.find(')');
            if (close == std::string_view::npos) fail("unknown time " + quoted(text), ply());
            seconds = time_of(text.substr(1, close - 1));
            text = trim(text.substr(close + 1));
        }
        if (!text.empty() && text[0] == '+') text = trim(text.substr(1));  // a variation branches here
        if (!text.empty() || (!from && !drop && !text.empty())) fail("unknown move " + quoted(rest), ply());
        Move move;
        if (!from) {
            if (kind == Kind::King || (!is_promotable(kind) && kind != Kind::Gold) || promote)
                return refuse(written, "no such piece is dropped");
            move = Move::drop_of(number(kind) + 64u * byte_of(side), to);
        } else {
            if (drop) fail("unknown move " + quoted(rest), ply());
            const Board& board = positions_.back().board();
            if (!board.color_boards[byte_of(side)].test(from) || board.square_kinds[from] != kind)
                return refuse(written, "the piece named is not on the square it leaves");
            move = promote ? Move::promoting(from, to) : Move::normal(from, to);
        }
        play(move, written, seconds);
    }

    // A numbered line that is no move: an ending word, perhaps with its time.
    void kif_ending(std::string_view rest) {
        if (const std::size_t open = rest.find('('); open != std::string_view::npos) rest = trim(rest.substr(0, open));
        if (!ending(rest)) fail("unknown move " + quoted(rest), ply());
    }


    // Whether a text starts as a move does, with a square or 同 (an ending word never does).
    static bool names_square(std::string_view text) {
        std::string_view rest = text;
        return take_digit(rest) || text.starts_with("同");
    }

    // The destination of a move text, taken off its front ("７六", "同　").
    unsigned destination(std::string_view& text) {
        if (take(text, "同")) {
            take(text, kWideSpace) || take(text, " ");
            const std::vector<std::int32_t>& line = lines_.back();
            if (line.empty()) fail("同 with no move before it", ply());
            return record_.nodes[static_cast<std::size_t>(line.back())].move.to();
        }
        const std::string_view whole = text;
        const int file = take_digit(text), rank = take_digit(text);
        if (!file || !rank) fail("unknown move " + quoted(whole), ply());
        return square_of(file, rank);
    }

    // "( 0:01/00:00:01)": the first time is the move's, as [h:]m:ss.
    double time_of(std::string_view text) {
        text = trim(text.substr(0, text.find('/')));
        double seconds = 0;
        int fields = 0;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == ':') {
                ++fields;
                continue;
            }
            if (text[i] == ' ') continue;
            if (text[i] < '0' || text[i] > '9') fail("unknown time " + quoted(text), ply());
            double part = 0;
            std::size_t j = i;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9' && part < 1e9) part = part * 10 + (text[j++] - '0');
            seconds = seconds * 60 + part;
            i = j - 1;
        }
        if (fields < 2 || fields > 3) fail("unknown time " + quoted(text), ply());
        return seconds;
    }

    // An ending word in place of a move: the game ends there (in the main line; a variation's
    // end is only its end).
    bool ending(std::string_view word) {
        for (const EndingWord& e : kEndingWords) {
            if (word != e.word) continue;
            if (!refused_.empty() && e.ending != "illegal_move") throw_refused();
            if (lines_.size() == 1) {
                record_.ending = e.ending;
                record_.winner = decided(e.decides, positions_.back().turn());
                if (!refused_.empty()) record_.headers.emplace_back("illegal_move", refused_);
            }
            refused_.clear();
            ended_ = true;
            return true;
        }
        return false;
    }

    // A move the rules refuse: an error, unless an ending word says the game ended there with an
    // illegal move.
    void refuse(std::string_view text, const std::string& why) {
        throw_refused();
        refused_ = std::string(text);
        refused_why_ = why;
        refused_line_ = line_;
        refused_ply_ = ply();
    }
    void throw_refused() const {
        if (!refused_.empty())
            throw RecordError(refused_line_, refused_ply_, "move " + quoted(refused_) + " is refused: " + refused_why_);
    }

    // Plays a move of the text (`legal`: known to be legal already).
    void play(Move move, std::string_view text, std::optional<double> seconds, bool legal = false) {
        throw_refused();
        if (ended_) fail("a move after the end of the game " + quoted(text), ply());
        Replay& game = positions_.back();
        if (legal && game.ply() < std::numeric_limits<std::int64_t>::max()) {
            game.play(move);
        } else {
            try {
                game.push(move);
            } catch (const ValueError& e) {
                return refuse(text, e.message());
            }
        }
        std::vector<std::int32_t>& line = lines_.back();
        const std::int32_t parent = line.empty() ? 0 : line.back();
        line.push_back(record_.add(parent, move));
        record_.nodes.back().time = seconds;
    }

    // A KI2 move: "７六歩", "同　金右", "５二金左上", "５五角打", "２二角成", "３三桂不成".
    void ki2_move(Color side, std::string_view word) {
        if (!names_square(word) && ending(word)) return;
        std::string_view text = word;
        const unsigned to = destination(text);
        const Kind kind = take_piece(text);
        if (kind == Kind::None) fail("unknown move " + quoted(word), ply());
        bool right = false, left = false, straight = false, drop = false, promote = false, keep = false;
        std::optional<Motion> motion;
        while (!text.empty()) {
            if (take(text, "右")) right = true;
            else if (take(text, "左")) left = true;
            else if (take(text, "直")) straight = true;
            else if (take(text, "上") || take(text, "行") || take(text, "入")) motion = Motion::Up;
            else if (take(text, "引")) motion = Motion::Back;
            else if (take(text, "寄")) motion = Motion::Sideways;
            else if (take(text, "打")) drop = true;
            else if (take(text, "不成") || take(text, "生")) keep = true;
            else if (take(text, "成")) promote = true;
            else fail("unknown move " + quoted(word), ply());
        }
        const Replay& game = positions_.back();
        if (side != game.turn()) return refuse(word, "not the side to move");
        const Board& board = game.board();
        // The legal board moves of that kind to that square, promoting as the text says (a move
        // written without 成 or 不成 that must promote is taken as promoting).
        // At most one move a piece of the kind on the board (18 pawns), with and without promotion.
        std::array<Move, 40> storage;
        std::size_t count = 0;
        if (!drop) {
            // Those that reach the square: where the same kind of the other side reaches from it.
            const u128 occupied = board.occupied.to_u128();
            const u128 pieces = (board.piece_boards[number(kind)] & board.color_boards[byte_of(side)]).to_u128() &
                                attacks(byte_of(opponent(side)), kind, to, occupied);
            for (bool promoting : {promote, true}) {
                for_each_index(pieces, [&](unsigned from) {
                    const Move m = promoting ? Move::promoting(from, to) : Move::normal(from, to);
                    if (is_legal(board, side, m)) storage[count++] = m;
                });
                if (count || promote || keep) break;
            }
        }
        std::span<Move> candidates(storage.data(), count);
        if (candidates.empty()) {
            const Move dropped = Move::drop_of(number(kind) + 64u * byte_of(side), to);
            if (is_promotable(kind) || kind == Kind::Gold) {
                if (!right && !left && !straight && !motion && !promote && is_legal(board, side, dropped))
                    return play(dropped, word, std::nullopt);
            }
            return refuse(word, drop ? "the piece cannot be dropped there" : "no such piece can move there");
        }
        const auto keep_if = [&](auto&& wanted) {
            candidates = candidates.first(static_cast<std::size_t>(
                std::partition(candidates.begin(), candidates.end(), wanted) - candidates.begin()));
        };
        if (motion) keep_if([&](Move m) { return motion_of(m, side) == *motion; });
        if (straight)
            keep_if([&](Move m) { return file_of(m.from()) == file_of(m.to()) && motion_of(m, side) == Motion::Up; });
        if (right || left) {
            int best = right ? -100 : 100;
            for (Move m : candidates) best = right ? std::max(best, rightness(m.from(), side)) : std::min(best, rightness(m.from(), side));
            keep_if([&](Move m) { return rightness(m.from(), side) == best; });
        }
        if (candidates.size() != 1)
            return refuse(word, candidates.empty() ? "no such piece can move there" : "more than one piece fits the move");
        play(candidates[0], word, std::nullopt, true);
    }

    void finish() {
        if (lines_.empty() && record_.headers.empty() && !diagram_) return;
        begin();
        throw_refused();
        out_.push_back(std::move(record_));
    }

    std::string_view text_;
    bool all_;
    Checkpoint* checkpoint_;
    Style style_;
    std::size_t line_ = 0;
    std::vector<GameRecord> out_;
    GameRecord record_;
    // The start: a named position, or a board diagram with its hands and side to move.
    std::string start_ = std::string(kHandicaps[0].sfen);
    bool diagram_ = false, moving_ = false, ended_ = false;
    Board board_;
    int row_ = 0;
    std::array<int, kHandSlots> hand_{};
    Color rest_ = Color::None, turn_ = Color::Black;
    std::int64_t number_ = 0;  // the move number the start position has reached
    // Every line read so far (its nodes from the first move on) and the game at its end; the
    // latest last.
    std::vector<std::vector<std::int32_t>> lines_;
    std::vector<Replay> positions_;
    // A move the rules refused, kept until the next line says whether the game ended there.
    std::string refused_, refused_why_;
    std::size_t refused_line_ = 0;
    std::int64_t refused_ply_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Writing

// The words that tell `move` apart from the other pieces of its kind that could go there.
std::string ki2_words(const Game& game, Move move) {
    const Board& board = game.board();
    const Color side = game.turn();
    if (move.is_drop()) {
        const Kind kind = move.get_piece().piece_type;
        MoveList moves;
        game.legal_moves(moves);
        for (std::size_t i = 0; i < moves.size(); ++i)
            if (!moves[i].is_drop() && moves[i].to() == move.to() && board.square_kinds[moves[i].from()] == kind)
                return "打";
        return "";
    }
    const Kind kind = board.square_kinds[move.from()];
    std::vector<unsigned> others;  // the other squares whose piece of that kind may go there
    MoveList moves;
    game.legal_moves(moves);
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const Move m = moves[i];
        if (!m.is_drop() && m.to() == move.to() && m.from() != move.from() && board.square_kinds[m.from()] == kind &&
            std::find(others.begin(), others.end(), m.from()) == others.end())
            others.push_back(m.from());
    }
    std::string words;
    if (!others.empty()) {
        const auto motion = [&](unsigned from) { return motion_of(Move::normal(from, move.to()), side); };
        const Motion mine = motion(move.from());
        constexpr std::string_view kMotionWords[] = {"上", "寄", "引"};
        const bool motion_tells = std::none_of(others.begin(), others.end(), [&](unsigned s) { return motion(s) == mine; });
        const bool golden = kind == Kind::Gold || kind == Kind::Silver || (number(kind) >= number(Kind::ProSilver));
        const auto extreme = [&](const std::vector<unsigned>& rivals) -> std::string_view {
            const int me = rightness(move.from(), side);
            if (std::all_of(rivals.begin(), rivals.end(), [&](unsigned s) { return rightness(s, side) < me; })) return "右";
            if (std::all_of(rivals.begin(), rivals.end(), [&](unsigned s) { return rightness(s, side) > me; })) return "左";
            return "";
        };
        if (motion_tells) {
            words = kMotionWords[static_cast<int>(mine)];
        } else if (golden && file_of(move.from()) == file_of(move.to()) && mine == Motion::Up) {
            words = "直";
        } else if (const std::string_view position = extreme(others); !position.empty()) {
            words = position;
        } else {
            std::vector<unsigned> alike;  // those moving the same way
            for (unsigned s : others)
                if (motion(s) == mine) alike.push_back(s);
            words = std::string(extreme(alike)) + std::string(kMotionWords[static_cast<int>(mine)]);
        }
    }
    // Promotion, where the move could have been made either way.
    const bool could = is_promotable(kind) &&
                       (Board::promotion_zone[byte_of(side)].test(move.from()) || Board::promotion_zone[byte_of(side)].test(move.to()));
    if (move.is_promote()) words += "成";
    else if (could) words += "不成";
    return words;
}

// The text of a move after `game` (to play it): "７六歩(77)" or "同　歩(23)" for KIF,
// "７六歩", "同　金右" for KI2.
std::string move_text(const Game& game, Move move, std::optional<unsigned> last_to, Style style) {
    std::string out = last_to && *last_to == move.to() ? "同" + std::string(kWideSpace) : square_text(move.to());
    const Kind kind = move.is_drop() ? move.get_piece().piece_type : game.board().square_kinds[move.from()];
    out += kMoveNames[number(kind)];
    if (style == Style::Ki2) return out + ki2_words(game, move);
    if (move.is_drop()) return out + "打";
    if (move.is_promote()) out += "成";
    out += '(' + std::to_string(file_of(move.from())) + std::to_string(rank_of(move.from())) + ')';
    return out;
}

std::string clock(double seconds, bool hours) {
    const long total = std::lround(seconds);
    char text[32];
    if (hours) std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else std::snprintf(text, sizeof text, "%2ld:%02ld", total / 60, total % 60);
    return text;
}

void write_comment(std::string& out, const std::string& comment) {
    std::size_t start = 0;
    while (start <= comment.size()) {
        std::size_t end = comment.find('\n', start);
        if (end == std::string::npos) end = comment.size();
        out += '*';
        out.append(comment, start, end - start);
        out += '\n';
        start = end + 1;
    }
}

// The start: "手合割" for a named one, else a board diagram with both hands.
void write_start(std::string& out, const GameRecord& r, const Game& start) {
    const Handicap* named = handicap_of(r.start);
    const std::string_view move_number = std::string_view(r.start).substr(r.start.rfind(' ') + 1);
    if (named && move_number == "1") {
        out += "手合割：" + std::string(named->kif) + "\n";
        return;
    }
    const Board& board = start.board();
    const auto hand = [&](int side) {
        std::string text;
        for (Kind kind : {Kind::Rook, Kind::Bichop, Kind::Gold, Kind::Silver, Kind::Knight, Kind::Lance, Kind::Pawn}) {
            const int n = board.hand.counts[8 * side + number(kind) - 1];
            if (!n) continue;
            text += std::string(kBoardNames[number(kind)]) + (n > 1 ? kanji_count(n) : "") + std::string(kWideSpace);
        }
        return text.empty() ? std::string("なし") : text;
    };
    out += "後手の持駒：" + hand(1) + "\n";
    out += "  ９ ８ ７ ６ ５ ４ ３ ２ １\n+---------------------------+\n";
    for (int rank = 1; rank <= 9; ++rank) {
        out += '|';
        for (int file = 9; file >= 1; --file) {
            const unsigned s = square_of(file, rank);
            if (!board.occupied.test(s)) {
                out += " ・";
                continue;
            }
            out += board.color_boards[1].test(s) ? 'v' : ' ';
            out += kBoardNames[number(board.square_kinds[s])];
        }
        out += "|" + std::string(kKanjiDigits[rank]) + "\n";
    }
    out += "+---------------------------+\n";
    out += "先手の持駒：" + hand(0) + "\n";
    if (start.turn() == Color::White) out += "後手番\n";
    if (move_number != "1") out += "手数＝" + std::to_string(std::stoll(std::string(move_number)) - 1) + "\n";
}

// "まで64手で後手の勝ち": the ending and the winner in words, `moves` played, `to_move` to move.
std::string trailer_of(const GameRecord& r, std::int64_t moves, bool handicap) {
    const std::string side = r.winner == Winner::Black ? (handicap ? "下手" : "先手")
                                                        : (handicap ? "上手" : "後手");
    const bool won = r.winner == Winner::Black || r.winner == Winner::White;
    std::string words;
    for (const EndingWord& t : kTrailers) {
        if (t.ending != r.ending) continue;
        if (t.word.starts_with("の")) words = won ? side + std::string(t.word) : "";
        else if (t.ending == "time_up") words = won ? std::string(t.word) + side + "の勝ち" : "";
        else words = std::string(t.word);
        break;
    }
    if (words.empty()) return "";
    return "まで" + std::to_string(moves) + "手" + (words.starts_with("で") ? "" : "で") + words + "\n";
}

std::string write(const GameRecord& r, Style style) {
    std::string out = style == Style::Kif ? "#KIF version=2.0 encoding=UTF-8\n" : "";
    const Handicap* named = handicap_of(r.start);
    const bool handicap = named && named != &kHandicaps[0];
    for (const auto& [key, value] : r.headers) {
        if (key == "先手" || key == "後手" || key == "下手" || key == "上手" || key == "手合割" || key == "illegal_move" ||
            key.ends_with("の持駒") || key.empty() || (key + value).find_first_of("\r\n") != std::string::npos)
            continue;
        out += key + "：" + value + "\n";
    }
    const Game start{std::string_view(r.start)};
    write_start(out, r, start);
    if (!r.black.empty()) out += (handicap ? "下手：" : "先手：") + r.black + "\n";
    if (!r.white.empty()) out += (handicap ? "上手：" : "後手：") + r.white + "\n";
    if (!r.nodes[0].comment.empty()) write_comment(out, r.nodes[0].comment);
    if (style == Style::Kif) out += "手数----指手---------消費時間--\n";
    const auto children = r.children();
    const auto number = [](std::int64_t n) {
        char text[24];
        std::snprintf(text, sizeof text, "%4lld ", static_cast<long long>(n));
        return std::string(text);
    };

    // Each line from its first node: its moves, then its variations, the latest branch point
    // first, so that a variation always follows the lines it branches from.
    std::vector<std::pair<std::int32_t, Game>> todo;  // (the first node of a line, the game before it)
    if (!children[0].empty()) todo.emplace_back(children[0][0], start);
    bool main = true;
    Game end = start;
    std::size_t main_end = out.size();
    while (!todo.empty()) {
        auto [node, game] = std::move(todo.back());
        todo.pop_back();
        if (!main) out += "\n変化：" + std::to_string(game.ply()) + "手\n";
        std::vector<std::pair<std::int32_t, Game>> branches;
        std::array<double, 2> totals{};
        std::optional<unsigned> last;
        if (const std::int32_t parent = r.nodes[static_cast<std::size_t>(node)].parent; parent > 0)
            last = r.nodes[static_cast<std::size_t>(parent)].move.to();
        std::vector<std::string> ki2;  // KI2 moves waiting for their line
        const auto flush = [&] {
            for (std::size_t i = 0; i < ki2.size(); ++i) out += (i ? std::string(kWideSpace) : "") + ki2[i];
            if (!ki2.empty()) out += '\n';
            ki2.clear();
        };
        for (std::int32_t n = node; n >= 0;) {
            const RecordNode& rn = r.nodes[static_cast<std::size_t>(n)];
            const auto& siblings = children[static_cast<std::size_t>(rn.parent)];
            if (siblings[0] == n)
                for (std::size_t k = siblings.size(); k-- > 1;) branches.emplace_back(siblings[k], game);
            const Color side = game.turn();
            const std::string text = move_text(game, rn.move, last, style);
            if (style == Style::Kif) {
                out += number(game.ply()) + text;
                if (rn.time) {
                    double& total = totals[byte_of(side)];
                    total += *rn.time;
                    out += "   (" + clock(*rn.time, false) + "/" + clock(total, true) + ")";
                }
                out += '\n';
            } else {
                ki2.push_back((side == Color::Black ? "▲" : "△") + text);
                if (ki2.size() == 6 || !rn.comment.empty()) flush();
            }
            if (!rn.comment.empty()) write_comment(out, rn.comment);
            game.push(rn.move);
            last = rn.move.to();
            const auto& next = children[static_cast<std::size_t>(n)];
            n = next.empty() ? -1 : next[0];
        }
        flush();
        if (main) end = game, main_end = out.size();
        main = false;
        for (auto& branch : branches) todo.push_back(std::move(branch));
    }
    // The ending, after the main line: KIF as a move word and the trailer, KI2 as the trailer.
    const std::string trailer = trailer_of(r, end.ply() - start.ply(), handicap);
    std::string ending;
    if (const std::string_view word = ending_word(r, end.turn()); !word.empty() && style == Style::Kif)
        ending += number(end.ply()) + std::string(word) + "\n";
    ending += trailer;
    out.insert(main_end, ending);  // right after the main line's moves, before the variations
    return out;
}

}  // namespace

std::vector<GameRecord> read_kif(std::string_view text, bool all, Checkpoint* checkpoint) {
    return Reader(text, all, checkpoint, Style::Kif).read();
}
std::vector<GameRecord> read_ki2(std::string_view text, bool all, Checkpoint* checkpoint) {
    return Reader(text, all, checkpoint, Style::Ki2).read();
}
std::string write_kif(const GameRecord& record) { return write(record, Style::Kif); }
std::string write_ki2(const GameRecord& record) { return write(record, Style::Ki2); }

}  // namespace velkorant
