"""Match statistics against what fastchess printed for the same counts.

Each row is a fastchess result block published with a match (quoted beside the row): its W/D/L,
its pentanomial, its Elo and nElo with their error bars, its LOS and, where it ran an SPRT, the
log-likelihood ratio and bounds it printed.
"""
import math

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
