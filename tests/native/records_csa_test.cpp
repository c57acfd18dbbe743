// Self-checking tests of the CSA and JKF records: the sample files of tests/data/records, the
// ending words, malformed and hostile input, and write/read round trips of random game trees.
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "velkorant/record.hpp"

#include "check.hpp"

using namespace velkorant;

namespace {

using check::show;

std::string show(Winner w) { return std::to_string(static_cast<int>(w)); }
std::string show(double d) { return std::to_string(d); }

std::string data(const std::string& name) {
    const std::string here = __FILE__;
    std::ifstream file(here.substr(0, here.rfind('/')) + "/../data/records/" + name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string main_line(const GameRecord& r) {
    std::string out;
    for (std::int32_t n : r.main_line()) out += (out.empty() ? "" : " ") + r.nodes[static_cast<std::size_t>(n)].move.usi();
    return out;
}

std::string header(const GameRecord& r, const std::string& key) {
    for (const auto& [k, v] : r.headers)
        if (k == key) return v;
    return "(none)";
}

// What differs between two trees ("" when nothing does); headers only when asked.
std::string difference(const GameRecord& a, const GameRecord& b, bool headers) {
    if (Game(a.start).sfen() != Game(b.start).sfen()) return "start " + a.start + " / " + b.start;
    if (a.nodes.size() != b.nodes.size()) return "node count";
    for (std::size_t i = 0; i < a.nodes.size(); ++i) {
        const RecordNode &x = a.nodes[i], &y = b.nodes[i];
        if (x.parent != y.parent || x.move.word != y.move.word) return "node " + std::to_string(i);
        if (x.comment != y.comment) return "comment of node " + std::to_string(i);
        if (x.time != y.time) return "time of node " + std::to_string(i);
    }
    if (a.ending != b.ending || a.winner != b.winner) return "ending " + a.ending + " / " + b.ending;
    if (headers && (a.headers != b.headers || a.black != b.black || a.white != b.white)) return "headers";
    return "";
}

// What reading `text` threw: "line:ply" of the RecordError, or "read" when nothing was thrown.
std::string failure(bool jkf, const std::string& text) {
    try {
        jkf ? read_jkf(text, true) : read_csa(text, true);
        return "read";
    } catch (const RecordError& e) {
        if (e.message().size() > 320) return "message of " + std::to_string(e.message().size()) + " characters";
        return std::to_string(e.line()) + ":" + std::to_string(e.ply());
    }
}

void sample_files() {
    check::group = "sample files";
    struct Case {
        const char* file;
        std::size_t games;
        const char* start;
        const char* moves;
        const char* ending;
        Winner winner;
    };
    const Case cases[] = {
        {"floodgate.csa", 1, kHandicaps[0].sfen.data(), "7g7f 3c3d 8h2b+ 3a2b B*4e", "resign", Winner::Black},
        {"handicap.csa", 1, "lnsgkgsnl/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1", "5a4b 7g7f 4b3b 2g2f", "abort", Winner::Unknown},
        {"tsume.csa", 1, "4k4/9/4P4/9/9/9/9/9/9 b G2r2b3g4s4n4l17p 1", "G*5b", "checkmate", Winner::Black},
        {"pieces.csa", 1, "7nk/9/9/9/4K4/9/9/7R1/6+B2 b Psp 1", "2h2b+ 1a2b 3i2h", "impasse", Winner::Draw},
        {"illegal.csa", 1, kHandicaps[0].sfen.data(), "7g7f 3c3d", "illegal_move", Winner::White},
        {"several.csa", 3, kHandicaps[0].sfen.data(), "7g7f 3c3d", "repetition", Winner::Draw},
        {"forks.jkf", 1, kHandicaps[0].sfen.data(), "7g7f 3c3d 8i7g 2b7g+ 8h7g", "resign", Winner::Black},
        {"handicap.jkf", 1, "lnsgkgsnl/1r7/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1", "5a4b 7g7f 6a7b", "repetition", Winner::Draw},
        {"position.jkf", 1, "7nk/1+R7/9/9/4K4/9/9/1R7/+B8 w P2sp 1", "S*2c", "time_up", Winner::White},
    };
    for (const Case& c : cases) {
        const std::string name = c.file;
        const bool jkf = name.ends_with(".jkf");
        const auto games = jkf ? read_jkf(data(name), true) : read_csa(data(name), true);
        CHECK_EQ(games.size(), c.games);
        const GameRecord& r = games.front();
        CHECK_EQ(r.start, std::string(c.start));
        CHECK_EQ(main_line(r), std::string(c.moves));
        CHECK_EQ(r.ending, std::string(c.ending));
        CHECK_EQ(r.winner, c.winner);
        // Each writer reads back to the same tree; CSA's also through JKF (whole seconds only).
        for (const GameRecord& g : games) {
            const std::string own = jkf ? write_jkf(g) : write_csa(g);
            CHECK_EQ(difference(g, (jkf ? read_jkf(own, false) : read_csa(own, false)).front(), true), std::string());
            if (!jkf && name != "handicap.csa" && name != "pieces.csa")
                CHECK_EQ(difference(g, read_jkf(write_jkf(g), false).front(), false), std::string());
        }
    }

    const GameRecord flood = read_csa(data("floodgate.csa"), false).front();
    CHECK_EQ(flood.black, std::string("alpha_engine"));
    CHECK_EQ(header(flood, "EVENT"), std::string("wdoor+floodgate-300-10F+alpha_engine+beta_engine+20240101100000"));
    CHECK_EQ(header(flood, "TIME_LIMIT"), std::string("00:05+10"));
    CHECK(flood.nodes[0].comment.starts_with("Max_Moves:256\nLeast_Time_Per_Move:0"));
    CHECK_EQ(flood.nodes[1].comment, std::string("** 30 -3334FU +8822UM"));
    CHECK_EQ(*flood.nodes[2].time, 12.0);
    CHECK(flood.nodes[5].comment.ends_with("summary:toryo:alpha_engine win:beta_engine lose\n$END_TIME:2024/01/01 10:01:00"));

    const GameRecord handicap = read_csa(data("handicap.csa"), false).front();
    CHECK_EQ(*handicap.nodes[2].time, 2.5);
    CHECK_EQ(handicap.nodes[2].comment, std::string("a comment, with a comma"));
    CHECK(!handicap.nodes[4].time);
    CHECK_EQ(*read_csa(data("pieces.csa"), false).front().nodes[1].time, 0.125);
    CHECK_EQ(header(read_csa(data("illegal.csa"), false).front(), "illegal_move"), std::string("+2824HI"));

    const auto several = read_csa(data("several.csa"), true);
    CHECK_EQ(several[1].first_line, std::size_t{9});
    CHECK_EQ(several[2].first_line, std::size_t{15});
    CHECK_EQ(several[1].ending + "/" + show(several[1].winner), std::string("declaration/1"));
    CHECK_EQ(several[2].ending + "/" + show(several[2].winner), std::string("time_up/1"));
    CHECK_EQ(read_csa(data("several.csa"), false).size(), std::size_t{1});

    // The variations branch off in place of the third move, the main line first.
    const GameRecord forks = read_jkf(data("forks.jkf"), false).front();
    const auto children = forks.children();
    CHECK_EQ(children[2].size(), std::size_t{3});
    CHECK_EQ(forks.nodes[static_cast<std::size_t>(children[2][1])].move.usi(), std::string("8h2b"));
    CHECK_EQ(forks.nodes[static_cast<std::size_t>(children[2][2])].move.usi(), std::string("2g2f"));
    CHECK_EQ(*forks.nodes[2].time, 62.0);
    CHECK_EQ(forks.white, std::string("uhyo"));
    const GameRecord position = read_jkf(data("position.jkf"), false).front();
    CHECK_EQ(header(position, "title"), std::string("caf\xC3\xA9 \xF0\x9F\x98\x80 \xE5\xB0\x86\xE6\xA3\x8B"));
    CHECK_EQ(header(position, "note"), std::string("tab\there \"quoted\" back\\slash"));
    CHECK_EQ(*position.nodes[1].time, 3601.0);
    // CSA holds no variations: its writer writes the main line.
    CHECK_EQ(read_csa(write_csa(forks), false).front().nodes.size(), std::size_t{6});
}

void ending_words() {
    check::group = "ending words";
    // After 7g7f White is to move.
    struct Case {
        const char* word;
        const char* ending;
        Winner winner;
    };
    const Case cases[] = {
        {"TORYO", "resign", Winner::Black},        {"CHUDAN", "abort", Winner::Unknown},
        {"SENNICHITE", "repetition", Winner::Draw}, {"TIME_UP", "time_up", Winner::Black},
        {"ILLEGAL_MOVE", "illegal_move", Winner::Black}, {"+ILLEGAL_ACTION", "illegal_move", Winner::White},
        {"-ILLEGAL_ACTION", "illegal_move", Winner::Black}, {"OUTE_SENNICHITE", "illegal_move", Winner::White},
        {"JISHOGI", "impasse", Winner::Draw},
        {"KACHI", "declaration", Winner::White},   {"HIKIWAKE", "impasse", Winner::Draw},
        {"MATTA", "", Winner::Unknown},            {"TSUMI", "checkmate", Winner::Black},
        {"FUZUMI", "no_checkmate", Winner::Unknown}, {"MAX_MOVES", "max_moves", Winner::Draw},
        {"ERROR", "error", Winner::Unknown},
    };
    for (const Case& c : cases) {
        const std::string word = c.word;
        const GameRecord csa = read_csa("PI\n+\n+7776FU\n%" + word + "\n", false).front();
        const GameRecord jkf = read_jkf(
            R"({"header":{},"moves":[{},{"move":{"color":0,"from":{"x":7,"y":7},"to":{"x":7,"y":6},"piece":"FU"}},{"special":")" +
                word + "\"}]}",
            false).front();
        for (const GameRecord* r : {&csa, &jkf}) {
            CHECK_EQ(r->ending + " " + word, c.ending + (" " + word));
            CHECK_EQ(r->winner, c.winner);
        }
        // The writers keep the ending (JKF has no word for the move limit).
        CHECK_EQ(read_csa(write_csa(csa), false).front().ending, csa.ending);
        if (word != "MAX_MOVES") CHECK_EQ(read_jkf(write_jkf(jkf), false).front().winner, jkf.winner);
    }
    // Floodgate writes no ending word for a loss on time: its summary line tells.
    const GameRecord timed = read_csa("PI\n+\n+7776FU\n'summary:time up:a lose:b win\n", false).front();
    CHECK_EQ(timed.ending + "/" + show(timed.winner), std::string("time_up/1"));
}

void malformed_input() {
    check::group = "malformed input";
    const std::string start = "PI\n+\n+7776FU\n";
    const struct {
        std::string text;
        const char* where;  // "line:ply" of the error
    } csa[] = {
        {"", "1:0"},
        {"\n \n", "1:0"},
        {"N+somebody\n", "1:0"},
        {start + "-3334FX\n", "4:0"},
        {start + "+3334FU\n", "4:2"},
        {start + "-3334FU\n+2824HI\n%TORYO\n", "5:3"},
        {start + "-3334FU\n+2824HI\n", "5:3"},
        {"PI\n+\n+7775FU\n", "3:1"},
        {"V2.2\nPI\n+7776FU\n", "3:0"},
        {start + "T\n", "4:0"},
        {start + "T1e3\n", "4:0"},
        {"PI\n+\nT5\n", "3:0"},
        {"PI\n+\n%TORYO\n+7776FU\n", "4:0"},
        {"P+59OU\nP-51OU\nP+00AL\nP-00AL\n", "4:0"},
        {"P1-OU\n", "1:0"},
        {"PI99KA\n+\n", "1:0"},
        {"PI\nX\n", "2:0"},
        {"PI\n+\n%FOO\n", "3:0"},
        {"\x01\x02\xff\n", "1:0"},
        {"PI\n+\n+" + std::string(1000000, 'x') + "\n", "3:0"},
        {"P+" + std::string(19 * 4, ' ') + "\n", "1:0"},
        {"P+00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU00FU\n", "1:0"},
        {"P+59OU\nP+51OU\n+\n", "3:0"},
        {"PI\n+\n/\nPI\n+\n+5152OU\n", "6:1"},
    };
    for (const auto& c : csa) CHECK_EQ(failure(false, c.text), std::string(c.where));

    const std::string move77 = R"({"color":0,"from":{"x":7,"y":7},"to":{"x":7,"y":6},"piece":"FU"})";
    const struct {
        std::string text;
        const char* where;
    } jkf[] = {
        {"", "1:0"},
        {"{", "1:0"},
        {"{} x", "1:0"},
        {"[]", "1:0"},
        {R"({"header":{}})", "1:0"},
        {R"({"header":{"a":1},"moves":[]})", "1:0"},
        {"{\"header\":{},\n\"moves\":[{},\n{\"move\":{\"color\":0,\"from\":{\"x\":7,\"y\":7},\"to\":{\"x\":7,\"y\":5},\"piece\":\"FU\"}}]}", "3:1"},
        {R"({"header":{},"moves":[{},{"move":)" + move77 + R"(,"forks":[[{"move":{"color":0,"from":{"x":2,"y":7},"to":{"x":2,"y":4},"piece":"FU"}}]]}]})", "1:1"},
        {R"({"header":{},"moves":[{},{"move":)" + move77 + R"(},{"special":"RESIGN"}]})", "1:0"},
        {R"({"header":{},"moves":[{},{"move":{"color":0,"to":{"x":7,"y":10},"piece":"FU"}}]})", "1:0"},
        {R"({"header":{"a":"\ud800"},"moves":[]})", "1:0"},
        {R"({"header":{"a":"\udc00\ud800"},"moves":[]})", "1:0"},
        {"{\"header\":{\"a\":\"\xC3\x28\"},\"moves\":[]}", "1:0"},
        {"{\"header\":{\"a\":\"\xE0\x80\xAF\"},\"moves\":[]}", "1:0"},
        {"{\"header\":{\"a\":\"\x01\"},\"moves\":[]}", "1:0"},
        {R"({"header":{},"moves":[01]})", "1:0"},
        {R"({"header":{},"moves":[1e999]})", "1:0"},
        {R"({"header":{},"initial":{"preset":"OTHER"},"moves":[]})", "1:0"},
        {std::string(100000, '['), "1:0"},
        {R"({"header":{},"moves":[{},{"move":)" + move77 + R"(},{"special":"TORYO"},{"move":)" + move77 + "}]}", "1:0"},
    };
    for (const auto& c : jkf) CHECK_EQ(failure(true, c.text), std::string(c.where));
    // A move the rules refuse followed by the illegal-move ending is kept out of the tree.
    const GameRecord refused = read_jkf(
        R"({"header":{},"moves":[{},{"move":{"color":0,"from":{"x":2,"y":8},"to":{"x":2,"y":4},"piece":"HI"}},{"special":"ILLEGAL_MOVE"}]})",
        false).front();
    CHECK_EQ(refused.nodes.size() * 10 + static_cast<std::size_t>(refused.winner), std::size_t{11});
    CHECK(header(refused, "illegal_move").starts_with("{\"color\":0"));
}

// Random games with random variations, comments and times: each writer reads back to the same
// tree (CSA: the main line, times in any fraction of a second).
void random_trees() {
    check::group = "random trees";
    std::mt19937 rng(20240101);
    for (int round = 0; round < 60; ++round) {
        GameRecord record;
        std::vector<std::pair<std::int32_t, Game>> open = {{0, Game()}};
        while (!open.empty() && record.nodes.size() < 400) {
            auto [node, game] = open.back();
            open.pop_back();
            const MoveList legal = game.legal_moves();
            if (!legal.size()) continue;
            const int branches = rng() % 12 == 0 ? 2 : 1;
            for (int b = 0; b < branches; ++b) {
                Game next = game;
                const Move m = legal[rng() % legal.size()];
                if (b && record.nodes.back().parent == node && record.nodes.back().move.word == m.word) continue;
                next.push(m);
                const std::int32_t child = record.add(node, m);
                RecordNode& n = record.nodes[static_cast<std::size_t>(child)];
                if (rng() % 5 == 0) n.comment = rng() % 2 ? "a line\nand \"another\"\tone \xE5\xB0\x86" : "** 120 +7776FU";
                if (rng() % 3) n.time = static_cast<double>(rng() % 100);
                open.emplace_back(child, std::move(next));
            }
        }
        record.headers = {{"EVENT", "random " + std::to_string(round)}};
        record.black = "black";
        record.ending = "resign";
        record.winner = game_at(record, record.main_line().empty() ? 0 : record.main_line().back()).turn() == Color::Black ? Winner::White : Winner::Black;
        CHECK_EQ(difference(record, read_jkf(write_jkf(record), false).front(), false), std::string());
        GameRecord main = record;
        main.nodes.resize(1);
        for (std::int32_t n : record.main_line()) {
            RecordNode copy = record.nodes[static_cast<std::size_t>(n)];
            if (copy.time) *copy.time += 0.25;
            copy.parent = static_cast<std::int32_t>(main.nodes.size() - 1);
            main.nodes.push_back(copy);
        }
        CHECK_EQ(difference(main, read_csa(write_csa(main), false).front(), false), std::string());
    }
}

}  // namespace

int main() {
    sample_files();
    ending_words();
    malformed_input();
    random_trees();
    return check::finish();
}
