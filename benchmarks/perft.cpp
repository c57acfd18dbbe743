// Perft: the number of move sequences of each depth, with the colours alternating.
//
// Pseudo-legal (default): from the initial position every generated move is played (copy the
// board, execute, recurse) and the moves generated at the last ply are counted without being
// played. No game-end test: play goes on after a king is taken.
//
// Legal (--legal): the full rules' legal_perft, leaves counted without being played.
//
// --middle starts from a built-in middle game instead of the initial position: after a bishop
// exchange and two pawn exchanges on the rook's column (USI 7g7f 3c3d 8h2b+ 3a2b 2g2f 8c8d 2f2e
// 8d8e 2e2d 2c2d 2h2d 8e8f 8g8f 8b8f 2d3d 2b3c), Black to move holding a bishop and three pawns,
// White holding a bishop and two pawns. Its legal counts are 98, 9870, 736403, 60173524 (depths 1
// to 4, the same as cshogi's and fairy-stockfish's) and 4065818929 at depth 5.
//
//   perft [--legal] [--middle] [max_depth]     (default 5)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "velkorant/board.hpp"
#include "velkorant/legal.hpp"

using namespace velkorant;

namespace {

// The middle game above in the library's squares (USI file f, rank r is column 10 - f, row 10 - r).
constexpr const char* kMiddleGame[] = {"3c3d", "7g7f", "2b8h+", "7i8h", "8c8d", "2g2f", "8d8e", "2f2e",
                                       "8e8f", "8g8f", "8b8f", "2e2d", "2c2d", "2h2d", "8f7f", "8h7g"};

std::uint64_t perft(const Board& board, Color color, int depth, MoveList* lists) {
    MoveList& moves = lists[depth];
    search_moves(board, color, moves);
    if (depth == 1) return moves.size();
    std::uint64_t nodes = 0;
    for (std::size_t i = 0; i < moves.size(); ++i) {
        Board child = board;
        execute_move(child, moves[i]);
        nodes += perft(child, opponent(color), depth - 1, lists);
    }
    return nodes;
}

// Processor time of this process: on a shared machine it shows the speed of the code apart from
// the time spent waiting for a core.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    bool legal = false, middle = false;
    int max_depth = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--legal")) legal = true;
        else if (!std::strcmp(argv[i], "--middle")) middle = true;
        else max_depth = std::atoi(argv[i]);
    }
    if (max_depth < 1 || max_depth > 8) {
        std::fprintf(stderr, "usage: perft [--legal] [--middle] [max_depth 1..8]\n");
        return 2;
    }
    Board board;
    board.startpos();
    Color side = Color::Black;
    if (middle) {
        for (const char* text : kMiddleGame) {
            const Move move = Move::parse(text);
            if (!is_legal(board, side, move)) {
                std::fprintf(stderr, "setup move %s is not legal\n", text);
                return 1;
            }
            execute_move(board, move);
            side = opponent(side);
        }
        std::printf("position %s, %s to move\n", board.placement().c_str(), side == Color::Black ? "Black" : "White");
    }
    std::vector<MoveList> lists(static_cast<std::size_t>(max_depth) + 1);

    const auto rate = [](std::uint64_t nodes, double seconds) {
        return seconds > 0 ? static_cast<double>(nodes) / seconds / 1e6 : 0.0;
    };
    std::uint64_t total_nodes = 0;
    double total_seconds = 0, total_cpu = 0;
    for (int depth = 1; depth <= max_depth; ++depth) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_seconds();
        const std::uint64_t nodes = legal ? legal_perft(board, side, depth) : perft(board, side, depth, lists.data());
        const double cpu = cpu_seconds() - cpu_start;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        total_nodes += nodes;
        total_seconds += seconds;
        total_cpu += cpu;
        std::printf("%sperft(%d) = %llu  %.3f s  %.1f M nodes/s  (cpu %.3f s, %.1f M nodes/s)\n", legal ? "legal " : "",
                    depth, static_cast<unsigned long long>(nodes), seconds, rate(nodes, seconds), cpu, rate(nodes, cpu));
    }
    std::printf("total %llu nodes in %.3f s: %.1f M nodes/s  (cpu %.3f s, %.1f M nodes/s)\n",
                static_cast<unsigned long long>(total_nodes), total_seconds,
                rate(total_nodes, total_seconds), total_cpu, rate(total_nodes, total_cpu));
    return 0;
}
