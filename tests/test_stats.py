"""Match statistics against what fastchess and cutechess-cli printed for the same counts, and symmetries.

Each row is a fastchess result block published with a match (quoted beside the row): its W/D/L,
its pentanomial, its Elo and nElo with their error bars, its LOS and, where it ran an SPRT, the
log-likelihood ratio and bounds it printed.
"""
import math
import random

import pytest

from velkorant.stats import Sprt, Tally

ROWS = [
    # fastchess, Zeno's test log (github.com/Toudonou/zeno): "Elo: 19.83 +/- 6.77, nElo: 24.25 +/- 8.26,
    # LOS: 100.00 %, Ptnml(0-2): [352, 579, 1264, 743, 464], LLR: 4.60 (-4.60, 4.60) [9.00, 16.00]"
    ((2718, 1756, 2330), [352, 579, 1264, 743, 464], (19.83, 6.77), (24.25, 8.26), 100.00, (9, 16, 0.01, 4.60, 4.60)),
    # fastchess in an engine's devlog: "Elo: 162.63 +/- 13.49, nElo: 207.38 +/- 14.92, LOS: 100.00 %"
    ((1241, 512, 331), [19, 82, 272, 308, 361], (162.63, 13.49), (207.38, 14.92), 100.00, None),
    # fastchess, a 16784-game run that stayed inside the bounds: "Elo: 1.14 +/- 4.04, nElo: 1.48 +/- 5.26,
    # LOS: 70.95 %, LLR: -0.71 (-2.94, 2.94) [0.00, 5.00]"
    ((5739, 5361, 5684), [790, 1759, 3256, 1780, 807], (1.14, 4.04), (1.48, 5.26), 70.95, (0, 5, 0.05, -0.71, 2.94)),
    # fastchess, an evaluation-scale test: "Elo: -0.58 +/- 21.41, nElo: -0.75 +/- 27.80, LOS: 47.88 %"
    ((225, 149, 226), [34, 49, 128, 62, 27], (-0.58, 21.41), (-0.75, 27.80), 47.88, None),
    # fastchess's H1 example in a course note: "Elo: 631.91 +/- nan, nElo: 1056.68 +/- 77.10,
    # Ptnml(0-2): [0, 0, 2, 0, 37], LLR: 2.96 (-2.94, 2.94) [0.00, 20.00]" (the upper Elo end is 100%)
    ((76, 0, 2), [0, 0, 2, 0, 37], (631.91, math.inf), (1056.68, 77.10), 100.00, (0, 20, 0.05, 2.96, 2.94)),
]


@pytest.mark.parametrize("wdl, penta, elo, nelo, los, sprt", ROWS)
def test_fastchess_reports(wdl, penta, elo, nelo, los, sprt):
    tally = Tally(*wdl, pentanomial=penta)
    assert [round(x, 2) for x in tally.elo()] == list(elo)
    assert [round(x, 2) for x in tally.nelo()] == list(nelo)
    assert round(100 * tally.los(), 2) == los
    if sprt:
        elo0, elo1, alpha, llr, upper = sprt
        test = Sprt(elo0, elo1, alpha, alpha)
        assert round(test.llr(penta), 2) == llr
        assert [round(b, 2) for b in test.bounds] == [-upper, upper]
        assert test.decision(penta) == ("H1" if llr >= upper else None)


def test_pairs_accumulate_and_decide():
    """Pairs added one by one give the pentanomial; a strong lead accepts H1, a strong deficit H0."""
    tally, test = Tally(), Sprt(0, 10)
    for first, second in [(1, 0.5), (1, 1), (0.5, 0.5), (0, 1), (0, 0.5)] * 2:
        tally.add_pair(first, second)
    assert (tally.wins, tally.draws, tally.losses, tally.pentanomial) == (8, 8, 4, [0, 2, 4, 2, 2])
    assert tally.score == 0.6 and test.decision(tally.pentanomial) is None
    assert test.decision([0, 5, 10, 60, 60]) == "H1" and test.decision([60, 60, 10, 5, 0]) == "H0"
    assert Tally().as_dict(test)["elo"] is None


@pytest.mark.parametrize("args", [(0, 5, 0, 0.05), (0, 5, 0.05, 1), (5, 5, 0.05, 0.05)])
def test_sprt_refuses_bad_parameters(args):
    with pytest.raises(ValueError):
        Sprt(*args)

# fastchess (Disservin/fastchess), app/tests/sprt_test.cpp "normalized pentanomial 1-2" and
# app/tests/elo_test.cpp "EloPentanomial 1-3": its Stats(ll, ld, wl, dd, wd, ww) regrouped as
# pairs scoring 0, 1/2, 1, 3/2, 2. LLR for (elo0, elo1), alpha = beta = 0.05.
SPRT_CASES = [([365, 16618, 36029 + 200, 16974, 390], 0.0, 2.0, 2.25),
              ([127, 4883, 10311 + 401, 5150, 104], -1.75, 0.25, 3.01)]
PAIR_CASES = [([34, 54, 31 + 32, 64, 75], (55.58, 27.65), (57.94, 28.28), 100.00),
              ([332, 433, 457 + 41, 333, 334], (-8.64, 10.33), (-9.17, 10.96), 5.05),
              ([7895, 8757, 5485 + 200, 568, 9999], (-21.04, 2.95), (-19.01, 2.65), 0.0)]
# cutechess-cli "Score of A vs B: W - L - D" then "Elo difference: E +/- err, LOS: x %", from
# archishou/MidnightChessEngine changelog.md and PS-Wizard/OopsMate archive/data/results/v16_lazysmp.md
# (one decimal; cutechess's error bar comes out up to 0.07 below ours).
GAME_CASES = [(449, 276, 275, 60.7, 18.5, 100.0), (382, 320, 298, 21.6, 18.1, 99.0),
              (45, 37, 18, 27.9, 62.4, 81.2), (99, 97, 104, 2.3, 31.8, 55.7)]


@pytest.mark.parametrize("ptnml, elo0, elo1, llr", SPRT_CASES)
def test_llr_as_fastchess(ptnml, elo0, elo1, llr):
    assert Sprt(elo0, elo1, 0.05, 0.05).llr(ptnml) == pytest.approx(llr, abs=0.01)


@pytest.mark.parametrize("ptnml, elo, nelo, los", PAIR_CASES)
def test_pair_elo_as_fastchess(ptnml, elo, nelo, los):
    tally = Tally(pentanomial=ptnml)
    assert tally.elo() == pytest.approx(elo, abs=0.01)
    assert tally.nelo() == pytest.approx(nelo, abs=0.01)
    assert 100 * tally.los() == pytest.approx(los, abs=0.01)


@pytest.mark.parametrize("wins, losses, draws, elo, err, los", GAME_CASES)
def test_game_elo_as_cutechess(wins, losses, draws, elo, err, los):
    tally = Tally(wins, draws, losses)
    assert tally.elo() == pytest.approx((elo, err), abs=0.1)
    assert 100 * tally.los() == pytest.approx(los, abs=0.1)


def counts(rng, k):
    return [rng.randrange(60) + (i == k // 2) for i in range(k)]


@pytest.mark.parametrize("seed", range(20))
def test_swapping_the_engines_flips_the_numbers(seed):
    rng = random.Random(seed)
    (w, d, l), ptnml = counts(rng, 3), counts(rng, 5)
    for one, other in [(Tally(w, d, l), Tally(l, d, w)),
                       (Tally(pentanomial=ptnml), Tally(pentanomial=ptnml[::-1]))]:
        assert one.elo()[0] == pytest.approx(-other.elo()[0], abs=1e-9)
        assert one.elo()[1] == pytest.approx(other.elo()[1])
        assert one.los() == pytest.approx(1 - other.los(), abs=1e-9)
    assert Sprt(-3, 3).llr(ptnml) == pytest.approx(-Sprt(-3, 3).llr(ptnml[::-1]), abs=1e-3)


@pytest.mark.parametrize("seed", range(10))
def test_llr_grows_with_wins(seed):
    ptnml, llrs = counts(random.Random(seed), 5), []
    for _ in range(5):
        llrs.append(Sprt(0, 5).llr(ptnml))
        ptnml = ptnml[:3] + [ptnml[3] + 3, ptnml[4] + 3]
    assert llrs == sorted(llrs) and llrs[0] < llrs[-1]


@pytest.mark.parametrize("kind, decision", [(4, "H1"), (0, "H0")])
def test_a_one_sided_streak_stops_the_test(kind, decision):
    # Only one kind of pair seen: unseen kinds count as a thousandth of a pair (as fastchess
    # and fishtest do), so the ratio keeps moving and the test ends instead of running forever.
    sprt, llrs = Sprt(0, 5), []
    for n in (1, 50, 100, 200):
        ptnml = [0] * 5
        ptnml[kind] = n
        llrs.append(sprt.llr(ptnml))
    assert llrs == sorted(llrs, reverse=kind == 0) and abs(llrs[0]) > 0
    assert sprt.decision(ptnml) == decision
