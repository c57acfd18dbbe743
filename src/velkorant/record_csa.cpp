// CSA records, versions 2 to 3.0: names and "$" headers, the start position (PI with pieces
// taken off, P1..P9 rows, P+/P- pieces and hands with 00AL), moves with their times and
// comments, the ending word, and several games in one text separated by "/" lines.
#include "velkorant/record_csa.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace velkorant {

namespace csa {

namespace {

constexpr std::array<std::string_view, kKinds> kCodes = {
    "", "OU", "KI", "HI", "KA", "GI", "KE", "KY", "FU", "RY", "UM", "NG", "NK", "NY", "TO",
};

// Who an ending word makes the winner.
enum class Decides : std::uint8_t { ToMoveLoses, ToMoveWins, Draw, Unknown, BlackWins, WhiteWins };

struct Word {
    std::string_view word;
    std::string_view ending;
    Decides decides;
};

// The first word of each ending is the one a writer uses.
constexpr Word kWords[] = {
    {"TORYO", "resign", Decides::ToMoveLoses},
    {"CHUDAN", "abort", Decides::Unknown},
    {"SENNICHITE", "repetition", Decides::Draw},
    {"TIME_UP", "time_up", Decides::ToMoveLoses},
    {"ILLEGAL_MOVE", "illegal_move", Decides::ToMoveLoses},
    {"+ILLEGAL_ACTION", "illegal_move", Decides::WhiteWins},
    {"-ILLEGAL_ACTION", "illegal_move", Decides::BlackWins},
    {"OUTE_SENNICHITE", "illegal_move", Decides::ToMoveWins},  // perpetual check, not standard
    {"JISHOGI", "impasse", Decides::Draw},
    {"KACHI", "declaration", Decides::ToMoveWins},
    {"HIKIWAKE", "impasse", Decides::Draw},
    {"MATTA", "", Decides::Unknown},
    {"TSUMI", "checkmate", Decides::ToMoveLoses},
    {"FUZUMI", "no_checkmate", Decides::Unknown},
    {"MAX_MOVES", "max_moves", Decides::Draw},
    {"ERROR", "error", Decides::Unknown},
};

Winner winner_of(Color c) { return c == Color::Black ? Winner::Black : Winner::White; }

}  // namespace

std::string_view code_of(Kind kind) { return number(kind) < kKinds ? kCodes[number(kind)] : ""; }

std::string excerpt(std::string_view text) { return '"' + velkorant::excerpt(text) + '"'; }

bool ending_of(std::string_view word, Color turn, std::string& ending, Winner& winner) {
    for (const Word& w : kWords) {
        if (w.word != word) continue;
        ending = w.ending;
        switch (w.decides) {
            case Decides::ToMoveLoses: winner = winner_of(opponent(turn)); break;
            case Decides::ToMoveWins: winner = winner_of(turn); break;
            case Decides::Draw: winner = Winner::Draw; break;
            case Decides::Unknown: winner = Winner::Unknown; break;
            case Decides::BlackWins: winner = Winner::Black; break;
            case Decides::WhiteWins: winner = Winner::White; break;
        }
        return true;
    }
    return false;
}

std::string_view word_of(std::string_view ending, Winner winner, Color turn) {
    if (ending == "illegal_move" && winner == winner_of(turn))
        return winner == Winner::White ? "+ILLEGAL_ACTION" : "-ILLEGAL_ACTION";
    for (const Word& w : kWords)
        if (!ending.empty() && w.ending == ending) return w.word;
    return "";
}

}  // namespace csa

namespace {

using csa::excerpt;

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view s) {
    std::size_t first = 0, last = s.size();
    while (first < last && (s[first] == ' ' || s[first] == '\t')) ++first;
    while (last > first && (s[last - 1] == ' ' || s[last - 1] == '\t')) --last;
    return s.substr(first, last - first);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the games of one text, line by line.
class CsaReader {
public:
    CsaReader(std::string_view text, bool all, Checkpoint* checkpoint) : text_(text), all_(all), checkpoint_(checkpoint) {}

    std::vector<GameRecord> read() {
        if (text_.empty()) throw RecordError(1, 0, "no game in the text");
        bool stopped = false;
        for_each_line(text_, [&](std::string_view line, std::size_t number) {
            line_ = number;
            at_ = line.data();
            if (checkpoint_) checkpoint_->tick();
            line = trimmed(line);
            if (line == "/") {
                finish();
                stopped = !all_ && !out_.empty();
                return !stopped;
            }
            read_line(line);
            return true;
        });
        if (!stopped) finish();
        if (out_.empty()) throw RecordError(1, 0, "no game in the text");
        return std::move(out_);
    }

private:
    // Where the game being read stands.
    enum class Part : std::uint8_t { Head, Moves, Ended };

    [[noreturn]] void fail(const std::string& why, std::int64_t ply = 0) const {
        throw RecordError(line_, ply, why);
    }

    void read_line(std::string_view line) {
        if (line.front() == '\'') return comment(line.substr(1));
        begin();
        switch (line.front()) {
            case 'V': return version();
            case 'N': return name(line);
            case '$': return header(line.substr(1));
            case 'P': return position(line);
            default: break;
        }
        // Moves, times and endings: several statements to a line, separated by commas; a
        // comment runs to the end of the line.
        bool split = false;
        while (!line.empty()) {
            std::size_t comma = 0;
            while (comma < line.size() && line[comma] != ',') ++comma;
            if (comma == line.size() || line.front() == '\'') comma = std::string_view::npos;
            // The line came trimmed: only the parts between commas need it.
            const std::string_view statement = comma == std::string_view::npos && !split ? line : trimmed(line.substr(0, comma));
            split = true;
            line = comma == std::string_view::npos ? std::string_view{} : line.substr(comma + 1);
            if (statement.empty()) fail("an empty statement between commas");
            switch (statement.front()) {
                case '\'': comment(statement.substr(1)); break;
                case '+':
                case '-': statement.size() == 1 ? turn(statement) : move(statement); break;
                case 'T': time(statement); break;
                case '%': ending(statement); break;
                default: fail("unknown statement " + excerpt(statement));
            }
        }
    }

    // A statement other than a comment: the game it belongs to has begun.
    void begin() {
        if (started_) return;
        started_ = true;
        record_.first_line = line_;
        // A move takes at least eight characters: room for what the rest of the text can hold.
        record_.nodes.reserve(std::min<std::size_t>(static_cast<std::size_t>(text_.data() + text_.size() - at_) / 8 + 1, 256));
    }

    void version() {
        if (part_ != Part::Head || game_) fail("a version line after the start position");
    }

    void name(std::string_view line) {
        if (line.size() < 2 || (line[1] != '+' && line[1] != '-')) fail("unknown statement " + excerpt(line));
        const std::string value(trimmed(line.substr(2)));
        (line[1] == '+' ? record_.black : record_.white) = value;
        record_.headers.emplace_back(std::string(line.substr(0, 2)), value);
    }

    void header(std::string_view line) {
        const std::size_t colon = line.find(':');
        const std::string_view key = trimmed(line.substr(0, colon));
        const std::string_view value = colon == std::string_view::npos ? std::string_view{} : trimmed(line.substr(colon + 1));
        if (key.empty()) fail("a header without a name " + excerpt(line));
        record_.headers.emplace_back(std::string(key), std::string(value));
    }

    void comment(std::string_view text) {
        if (!started_ && text.starts_with("CSA encoding=")) return;
        if (text.starts_with("summary:")) summary(text.substr(8));
        std::string& target = record_.nodes[static_cast<std::size_t>(node_)].comment;
        if (commented_) target += '\n';
        target += text;
        commented_ = true;
    }

    // Floodgate's last line: "summary:toryo:NAME win:NAME lose". It says how the game ended
    // where no ending word does (time up, repetition and illegal moves have none), and who won.
    void summary(std::string_view text) {
        const std::size_t second = text.rfind(':');
        if (second == std::string_view::npos || second == 0) return;
        const std::size_t first = text.rfind(':', second - 1);
        if (first == std::string_view::npos) return;
        const auto result = [](std::string_view side) {
            side = trimmed(side);
            const std::size_t blank = side.rfind(' ');
            return blank == std::string_view::npos ? std::string_view{} : side.substr(blank + 1);
        };
        const std::string_view black = result(text.substr(first + 1, second - first - 1));
        const std::string_view white = result(text.substr(second + 1));
        if (black == "win" && white == "lose") summary_winner_ = Winner::Black;
        else if (black == "lose" && white == "win") summary_winner_ = Winner::White;
        else if (black == "draw" && white == "draw") summary_winner_ = Winner::Draw;
        else return;
        const std::string_view kind = text.substr(0, text.find(':'));
        struct Type { std::string_view summary, ending; };
        static constexpr Type kTypes[] = {
            {"toryo", "resign"}, {"abnormal", "abort"}, {"time up", "time_up"},
            {"kachi", "declaration"}, {"illegal kachi", "illegal_move"},
            {"illegal move", "illegal_move"}, {"uchifuzume", "illegal_move"},
            {"oute_kaihimore", "illegal_move"}, {"outori", "illegal_move"},
            {"oute_sennichite", "illegal_move"}, {"sennichite", "repetition"},
            {"max_moves", "max_moves"},
        };
        for (const Type& t : kTypes)
            if (t.summary == kind) summary_ending_ = t.ending;
    }

    void position(std::string_view line) {
        if (game_) fail("a position line after the side to move");
        if (line.size() < 2) fail("unknown statement " + excerpt(line));
        const char what = line[1];
        if (what == 'I') return handicap(line.substr(2));
        if (what >= '1' && what <= '9') return row(static_cast<unsigned>(what - '0'), line.substr(2));
        if (what == '+' || what == '-') return pieces(what == '+' ? Color::Black : Color::White, line.substr(2));
        fail("unknown position line " + excerpt(line));
    }

    // "PI82HI22KA": the initial position with the named pieces taken off.
    void handicap(std::string_view items) {
        static const Board start = [] {
            Board b;
            b.startpos();
            return b;
        }();
        board_ = start;
        if (items.size() % 4) fail("a PI line is squares and pieces of four characters each: " + excerpt(items));
        for (std::size_t i = 0; i < items.size(); i += 4) {
            const std::string_view item = items.substr(i, 4);
            const unsigned at = square_at(item);
            const Kind kind = csa::kind_of(item.substr(2));
            if (!at || kind == Kind::None || board_.square_kinds[at] != kind)
                fail("no such piece to take off the initial position: " + excerpt(item));
            board_.drop(static_cast<std::uint8_t>(at));
        }
    }

    // "P1-KY-KE-GI-KI-OU-KI-GI-KE-KY": rank 1 from file 9 to file 1, " * " for an empty square.
    void row(unsigned rank, std::string_view cells) {
        if (cells.size() > 27) fail("a board row holds nine squares: " + excerpt(cells));
        for (unsigned i = 0; i < 9; ++i) {
            std::array<char, 3> cell = {' ', ' ', ' '};  // blanks cut off at the end of the line
            for (unsigned j = 0; j < 3 && 3 * i + j < cells.size(); ++j) cell[j] = cells[3 * i + j];
            const std::uint8_t at = static_cast<std::uint8_t>(csa::square(9 - i, rank));
            if (cell[0] == ' ' && cell[1] == '*' && cell[2] == ' ') {
                board_.drop(at);
                continue;
            }
            const Kind kind = csa::kind_of(std::string_view(cell.data() + 1, 2));
            if ((cell[0] != '+' && cell[0] != '-') || kind == Kind::None)
                fail("unknown square " + excerpt(std::string_view(cell.data(), 3)) + " in a board row");
            board_.deploy(at, kind, cell[0] == '+' ? Color::Black : Color::White);
        }
    }

    // "P+99KY00KI00FU": pieces on squares or in hand ("00"); "00AL": every piece left over.
    void pieces(Color side, std::string_view items) {
        if (items.size() % 4) fail("a piece line is squares and pieces of four characters each: " + excerpt(items));
        for (std::size_t i = 0; i < items.size(); i += 4) {
            const std::string_view item = items.substr(i, 4);
            if (item == "00AL") {
                if (rest_ != Color::None && rest_ != side) fail("00AL given to both sides");
                rest_ = side;
                continue;
            }
            const Kind kind = csa::kind_of(item.substr(2));
            if (item.starts_with("00")) {
                if (number(kind) < number(Kind::Gold) || number(kind) > number(Kind::Pawn))
                    fail("no such piece in hand: " + excerpt(item));
                std::uint8_t& count = board_.hand.counts[8 * byte_of(side) + number(kind) - 1];
                if (count >= kPiecesInGame[number(kind)]) fail("more pieces in hand than the game has: " + excerpt(item));
                ++count;
                continue;
            }
            const unsigned at = square_at(item);
            if (!at || kind == Kind::None) fail("unknown piece " + excerpt(item));
            if (board_.occupied.test(at)) fail("two pieces on one square: " + excerpt(item));
            board_.deploy(static_cast<std::uint8_t>(at), kind, side);
        }
    }

    // The square of "77..", 0 for none.
    static unsigned square_at(std::string_view item) {
        if (item[0] < '1' || item[0] > '9' || item[1] < '1' || item[1] > '9') return 0;
        return csa::square(static_cast<unsigned>(item[0] - '0'), static_cast<unsigned>(item[1] - '0'));
    }

    void turn(std::string_view statement) {
        if (game_) fail("a second side to move line");
        if (rest_ != Color::None) {
            // 00AL: the pieces neither on the board nor in a hand, kings aside.
            std::array<int, 9> left = kPiecesInGame;
            board_.occupied.for_each_square([&](std::uint8_t s) { --left[number(unpromoted(board_.square_kinds[s]))]; });
            for (int side = 0; side < 2; ++side)
                for (int k = number(Kind::Gold); k <= number(Kind::Pawn); ++k) left[k] -= board_.hand.counts[8 * side + k - 1];
            for (int k = number(Kind::Gold); k <= number(Kind::Pawn); ++k)
                if (left[k] > 0) board_.hand.counts[8 * byte_of(rest_) + k - 1] += static_cast<std::uint8_t>(left[k]);
        }
        // Most games start from the initial position, Black to move: it needs no checking, and a
        // record already holds its SFEN.
        static const Replay initial{Game()};
        const Board& b = initial.board();
        if (statement == "+" && board_.occupied == b.occupied && board_.square_kinds == b.square_kinds &&
            board_.color_boards[0] == b.color_boards[0] && board_.hand.counts == b.hand.counts) {
            game_.emplace(initial);
            return;
        }
        try {
            game_.emplace(Game::from_board(board_, statement == "+" ? Color::Black : Color::White));
        } catch (const ValueError& e) {
            fail("the start position is not a position of the game: " + e.message());
        }
        record_.start = game_->sfen();
    }

    // "+7776FU": side, from (00 for a drop), to, and the piece as it stands after the move.
    void move(std::string_view statement) {
        if (!game_) fail("a move before the start position and the side to move");
        if (part_ == Part::Ended) fail("a move after the end of the game " + excerpt(statement));
        throw_refused();
        part_ = Part::Moves;
        if (statement.size() != 7 || !is_digit(statement[1]) || !is_digit(statement[2]) ||
            !is_digit(statement[3]) || !is_digit(statement[4]))
            fail("unknown move " + excerpt(statement));
        const unsigned ff = static_cast<unsigned>(statement[1] - '0'), fr = static_cast<unsigned>(statement[2] - '0');
        const unsigned tf = static_cast<unsigned>(statement[3] - '0'), tr = static_cast<unsigned>(statement[4] - '0');
        const Kind kind = csa::kind_of(statement.substr(5));
        const bool drop = ff == 0 && fr == 0;
        if (kind == Kind::None || !tf || !tr || (!drop && (!ff || !fr))) fail("unknown move " + excerpt(statement));
        const Color side = statement[0] == '+' ? Color::Black : Color::White;
        const unsigned to = csa::square(tf, tr);
        Move m;
        const char* refusal = nullptr;
        if (side != game_->turn()) {
            refusal = "not the side to move";
        } else if (drop) {
            if (number(kind) < number(Kind::Gold) || number(kind) > number(Kind::Pawn)) refusal = "no such piece to drop";
            m = Move::drop_of(number(kind) + 64u * byte_of(side), to);
        } else {
            const unsigned from = csa::square(ff, fr);
            const Board& board = game_->board();
            const Kind there = board.square_kinds[from];
            if (!board.color_boards[byte_of(side)].test(from)) refusal = "no piece of the side to move on the square it leaves";
            else if (there == kind) m = Move::normal(from, to);
            else if (is_promotable(there) && promoted(there) == kind) m = Move::promoting(from, to);
            else refusal = "the piece named is not the one on the square it leaves";
        }
        if (!refusal) {
            try {
                game_->push(m);
                node_ = record_.add(node_, m);
                commented_ = false;
                return;
            } catch (const ValueError& e) {
                refused_why_ = e.message();
            }
        } else {
            refused_why_ = refusal;
        }
        // Kept until the file says whether the game ended there as an illegal move.
        refused_ = std::string(statement);
        refused_line_ = line_;
        refused_ply_ = game_->ply();
    }

    void throw_refused() const {
        if (refused_.empty()) return;
        throw RecordError(refused_line_, refused_ply_, "move " + excerpt(refused_) + " is refused: " + refused_why_);
    }

    // "T12" or, from version 3.0 on, "T12.345": the seconds spent on the move before it.
    void time(std::string_view statement) {
        if (part_ == Part::Ended || !refused_.empty()) return;  // the time of an ending or a refused move
        if (node_ == 0) fail("a time before the first move");
        const std::string_view digits = statement.substr(1);
        double seconds = 0;
        std::size_t i = 0;
        std::uint64_t whole = 0;
        for (; i < digits.size() && i < 15 && is_digit(digits[i]); ++i) whole = whole * 10 + static_cast<unsigned>(digits[i] - '0');
        if (i > 0 && i == digits.size()) {
            seconds = static_cast<double>(whole);
        } else {
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), seconds, std::chars_format::fixed);
            if (digits.empty() || !is_digit(digits.front()) || error != std::errc() || end != digits.data() + digits.size())
                fail("unknown time " + excerpt(statement));
        }
        std::optional<double>& target = record_.nodes[static_cast<std::size_t>(node_)].time;
        if (target) fail("a second time for one move");
        target = seconds;
    }

    void ending(std::string_view statement) {
        if (!game_) fail("an ending before the start position and the side to move");
        const std::string_view word = statement.substr(1);
        std::string ending;
        Winner winner;
        if (!csa::ending_of(word, game_->turn(), ending, winner)) fail("unknown ending " + excerpt(statement));
        if (!refused_.empty()) {
            if (ending != "illegal_move") throw_refused();
            record_.headers.emplace_back("illegal_move", refused_);
            refused_.clear();
        }
        if (part_ == Part::Ended) {
            if (word != ending_word_) fail("a second ending " + excerpt(statement));
            return;
        }
        part_ = Part::Ended;
        ending_word_ = std::string(word);
        record_.ending = ending;
        record_.winner = winner;
    }

    void finish() {
        if (!started_) {
            reset();
            return;
        }
        throw_refused();
        if (!game_) throw RecordError(record_.first_line, 0, "no start position with the side to move");
        if (part_ != Part::Ended && !summary_ending_.empty()) record_.ending = summary_ending_;
        if (summary_winner_ != Winner::Unknown) record_.winner = summary_winner_;
        out_.push_back(std::move(record_));
        reset();
    }

    void reset() {
        record_ = GameRecord();
        board_ = Board();
        game_.reset();
        part_ = Part::Head;
        started_ = commented_ = false;
        node_ = 0;
        rest_ = Color::None;
        refused_.clear();
        ending_word_.clear();
        summary_ending_ = {};
        summary_winner_ = Winner::Unknown;
    }

    std::string_view text_;
    bool all_;
    Checkpoint* checkpoint_;
    std::vector<GameRecord> out_;
    std::size_t line_ = 0;
    const char* at_ = nullptr;     // where the current line starts

    GameRecord record_;
    Board board_;                  // the start position as its lines set it up
    std::optional<Replay> game_;     // from the side to move line on
    Part part_ = Part::Head;
    bool started_ = false;         // a statement other than a comment was read
    bool commented_ = false;       // the current node has a comment line
    std::int32_t node_ = 0;        // the node comments and times go to
    Color rest_ = Color::None;     // the side that 00AL gives the pieces left over
    std::string refused_;          // a move the rules refused, as written
    std::string refused_why_;
    std::size_t refused_line_ = 0;
    std::int64_t refused_ply_ = 0;
    std::string ending_word_;
    std::string_view summary_ending_;
    Winner summary_winner_ = Winner::Unknown;
};

// "+7776FU" for a move of the game's side to move.
std::string move_text(const Game& game, Move m) {
    std::string text(1, game.turn() == Color::Black ? '+' : '-');
    Kind kind;
    if (m.is_drop()) {
        text += "00";
        kind = m.get_piece().piece_type;
    } else {
        text += static_cast<char>('0' + csa::file_of(m.from()));
        text += static_cast<char>('0' + csa::rank_of(m.from()));
        kind = game.board().square_kinds[m.from()];
        if (m.is_promote()) kind = promoted(kind);
    }
    text += static_cast<char>('0' + csa::file_of(m.to()));
    text += static_cast<char>('0' + csa::rank_of(m.to()));
    text += csa::code_of(kind);
    return text;
}

// One "'" line for each line of a comment.
void write_comment(std::string& out, std::string_view comment) {
    std::size_t start = 0;
    while (true) {
        const std::size_t end = comment.find_first_of("\r\n", start);
        out += '\'';
        out += comment.substr(start, end - start);
        out += '\n';
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
}

// A header value on one line.
std::string one_line(std::string_view value) {
    std::string s(value);
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

// The start position: PI with the pieces a named handicap takes off, else the rows and hands.
void write_position(std::string& out, const Game& start) {
    const Board& board = start.board();
    if (handicap_of(start.sfen())) {
        out += "PI";
        const Game even;
        for (unsigned at = 0; at < kBits; ++at)
            if (even.board().occupied.test(at) && !board.occupied.test(at)) {
                out += static_cast<char>('0' + csa::file_of(at));
                out += static_cast<char>('0' + csa::rank_of(at));
                out += csa::code_of(even.board().square_kinds[at]);
            }
        out += '\n';
    } else {
        for (unsigned rank = 1; rank <= 9; ++rank) {
            out += 'P';
            out += static_cast<char>('0' + rank);
            for (unsigned file = 9; file >= 1; --file) {
                const unsigned at = csa::square(file, rank);
                if (!board.occupied.test(at)) {
                    out += " * ";
                    continue;
                }
                out += board.color_boards[0].test(at) ? '+' : '-';
                out += csa::code_of(board.square_kinds[at]);
            }
            out += '\n';
        }
        for (int side = 0; side < 2; ++side) {
            std::string hand;
            for (Kind kind : {Kind::Rook, Kind::Bichop, Kind::Gold, Kind::Silver, Kind::Knight, Kind::Lance, Kind::Pawn})
                for (int n = board.hand.counts[8 * side + number(kind) - 1]; n > 0; --n) {
                    hand += "00";
                    hand += csa::code_of(kind);
                }
            if (!hand.empty()) out += (side == 0 ? "P+" : "P-") + hand + "\n";
        }
    }
    out += start.turn() == Color::Black ? "+\n" : "-\n";
}

// A move as a file writes it: "+7776FU".
bool is_move_text(std::string_view s) {
    return s.size() == 7 && (s[0] == '+' || s[0] == '-') && is_digit(s[1]) && is_digit(s[2]) && is_digit(s[3]) &&
           is_digit(s[4]) && csa::kind_of(s.substr(5)) != Kind::None;
}

// Headers the writer writes in other forms: the names, and the refused move.
bool written_otherwise(std::string_view key) {
    return key == "N+" || key == "N-" || key == "illegal_move" || key == "先手" || key == "後手" ||
           key == "下手" || key == "上手";
}

}  // namespace

std::vector<GameRecord> read_csa(std::string_view text, bool all, Checkpoint* checkpoint) {
    return CsaReader(text, all, checkpoint).read();
}

std::string write_csa(const GameRecord& record) {
    std::string out = "'CSA encoding=UTF-8\nV3.0\n";
    if (!record.black.empty()) out += "N+" + one_line(record.black) + "\n";
    if (!record.white.empty()) out += "N-" + one_line(record.white) + "\n";
    for (const auto& [key, value] : record.headers) {
        if (written_otherwise(key) || key.empty() || key.find_first_of(":\r\n") != std::string::npos) continue;
        out += "$" + key + ":" + one_line(value) + "\n";
    }
    Game game(record.start);
    write_position(out, game);
    if (!record.nodes[0].comment.empty()) write_comment(out, record.nodes[0].comment);
    for (std::int32_t n : record.main_line()) {
        const RecordNode& node = record.nodes[static_cast<std::size_t>(n)];
        out += move_text(game, node.move);
        out += '\n';
        game.push(node.move);
        if (node.time && std::isfinite(*node.time) && *node.time >= 0) {
            char digits[400];
            const double seconds = *node.time == 0 ? 0.0 : *node.time;  // never "T-0"
            const auto end = std::to_chars(digits, digits + sizeof digits, seconds, std::chars_format::fixed).ptr;
            out += 'T';
            out.append(digits, end);
            out += '\n';
        }
        if (!node.comment.empty()) write_comment(out, node.comment);
    }
    const std::string_view word = csa::word_of(record.ending, record.winner, game.turn());
    if (!word.empty()) {
        if (record.ending == "illegal_move")
            for (const auto& [key, value] : record.headers)
                if (key == "illegal_move" && is_move_text(value)) out += value + "\n";
        out += "%";
        out += word;
        out += '\n';
    }
    return out;
}

}  // namespace velkorant
