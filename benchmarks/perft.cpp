// Pseudo-legal perft from the initial position: every generated move is played (copy the board,
// execute, recurse) with the colours alternating from Black, and the moves generated at the last
// ply are counted without being played. No game-end test: play goes on after a king is taken.
//
//   perft [max_depth]     (default 5)
#include <chrono>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "velkorant/board.hpp"

using namespace velkorant;

namespace {

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
    const int max_depth = argc > 1 ? std::atoi(argv[1]) : 5;
    if (max_depth < 1 || max_depth > 8) {
        std::fprintf(stderr, "usage: perft [max_depth 1..8]\n");
        return 2;
    }
    Board board;
    board.startpos();
    std::vector<MoveList> lists(static_cast<std::size_t>(max_depth) + 1);

    const auto rate = [](std::uint64_t nodes, double seconds) {
        return seconds > 0 ? static_cast<double>(nodes) / seconds / 1e6 : 0.0;
    };
    std::uint64_t total_nodes = 0;
    double total_seconds = 0, total_cpu = 0;
    for (int depth = 1; depth <= max_depth; ++depth) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_seconds();
        const std::uint64_t nodes = perft(board, Color::Black, depth, lists.data());
        const double cpu = cpu_seconds() - cpu_start;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        total_nodes += nodes;
        total_seconds += seconds;
        total_cpu += cpu;
        std::printf("perft(%d) = %llu  %.3f s  %.1f M nodes/s  (cpu %.3f s, %.1f M nodes/s)\n", depth,
                    static_cast<unsigned long long>(nodes), seconds, rate(nodes, seconds), cpu,
                    rate(nodes, cpu));
    }
    std::printf("total %llu nodes in %.3f s: %.1f M nodes/s  (cpu %.3f s, %.1f M nodes/s)\n",
                static_cast<unsigned long long>(total_nodes), total_seconds,
                rate(total_nodes, total_seconds), total_cpu, rate(total_nodes, total_cpu));
    return 0;
}
