// Mate in one natively, per call, on positions read from a file of SFEN lines: where the time of
// a call goes without Python around it.
//
// Each position gets a block of memory of its own, `spacing` bytes apart (2,048 by default:
// about as far apart as Python's Game objects), and the positions are called in turn, each once
// a round ("cold": neither the memory nor the branch history knows the position), then each
// `warm` times in a row ("warm"). The best of nine rounds is printed per call.
//
//   python benchmarks/mate.py --sfens positions.txt       # the positions mate.py times
//   mate_native positions.txt [--warm N] [--spacing BYTES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "velkorant/checks.hpp"
#include "velkorant/game.hpp"

using namespace velkorant;

namespace {

// The best of nine rounds, in nanoseconds a call; `found` gets the mates of the last round.
double best_round(const std::vector<const Position*>& positions, int repeat, long& found) {
    double best = 1e18;
    for (int round = 0; round < 9; ++round) {
        found = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const Position* p : positions)
            for (int i = 0; i < repeat; ++i) found += mate_in_one(p->board, p->turn).has_value();
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / static_cast<double>(positions.size() * static_cast<std::size_t>(repeat)));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [--warm N] [--spacing BYTES]\n", argv[0]);
        return 2;
    }
    int warm = 16;
    std::size_t spacing = 2048;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--warm")) warm = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--spacing")) spacing = std::strtoul(argv[i + 1], nullptr, 10);
    }
    if (warm < 1 || spacing < sizeof(Position)) {
        std::fprintf(stderr, "--warm must be 1 or more, --spacing at least %zu\n", sizeof(Position));
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    std::vector<const Position*> positions;
    int line_number = 0;
    for (std::string line; std::getline(in, line);) {
        ++line_number;
        if (line.empty()) continue;
        try {
            const Position read = position_of_sfen(line);
            blocks.push_back(std::make_unique<unsigned char[]>(spacing + alignof(Position)));
            void* at = blocks.back().get();
            std::size_t room = spacing + alignof(Position);
            positions.push_back(new (std::align(alignof(Position), sizeof(Position), at, room)) Position(read));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s line %d: %s\n", argv[1], line_number, e.what());
            return 1;
        }
    }
    long found = 0;
    const double cold = best_round(positions, 1, found);
    const double hot = best_round(positions, warm, found);
    std::printf("%zu positions, %ld mates in one: cold %.1f ns a call, warm (%d in a row) %.1f ns\n", positions.size(),
                found / warm, cold, warm, hot);
    return 0;
}
