"""Match statistics: fastchess's and cutechess-cli's own numbers for given counts, and symmetries."""
import random

import pytest

from velkorant.stats import Sprt, Tally

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
