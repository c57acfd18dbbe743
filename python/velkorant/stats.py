"""Match statistics as engine testers report them: W/D/L, Elo with a 95% error bar, LOS,
pentanomial pair counts and the sequential probability ratio test (SPRT).

Games are played in pairs from one opening with colours swapped. A pair scores 0, 1/2, 1, 3/2
or 2 points for the first engine; the five counts of those outcomes (the pentanomial) carry the
correlation between the two games of a pair, which makes the variance honest.

The SPRT works on normalised Elo: the score's distance from 1/2 in units of the standard
deviation of one game's score, times 800 / ln 10. Each hypothesis (nElo = elo0, nElo = elo1)
is the maximum-likelihood pentanomial distribution with that normalised Elo, and the
log-likelihood ratio of the two is compared with Wald's bounds ln(beta / (1 - alpha)) and
ln((1 - beta) / alpha).
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field

#: nElo per unit of t = (score - 1/2) / sigma of one game
NELO_PER_T = 800.0 / math.log(10.0)
#: the two-sided 95% quantile of the normal distribution
Z95 = 1.959963984540054
#: a pair's points for the first engine, per game: 0, 1/4, 1/2, 3/4, 1
_PAIR_SCORES = (0.0, 0.25, 0.5, 0.75, 1.0)


def elo(score: float) -> float:
    """The logistic Elo difference that gives the expected ``score`` (0 < score < 1)."""
    if score <= 0.0:
        return -math.inf
    if score >= 1.0:
        return math.inf
    return -400.0 * math.log10(1.0 / score - 1.0)


def _mean_var(counts: list[float], values: tuple[float, ...]) -> tuple[float, float, float]:
    n = float(sum(counts))
    mean = sum(c * v for c, v in zip(counts, values)) / n
    var = sum(c * (v - mean) ** 2 for c, v in zip(counts, values)) / n
    return n, mean, var


def _secular(probs: list[float], b: list[float]) -> float:
    """The root x of sum p_i b_i / (1 + x b_i) = 0 with every 1 + x b_i > 0 (p_i > 0)."""
    used = [bi for p, bi in zip(probs, b) if p > 0]
    if min(used) >= 0 or max(used) <= 0:
        raise ValueError("the normalised Elo lies outside what the pair scores can reach")
    lo, hi = -1.0 / max(used), -1.0 / min(used)

    def f(x: float) -> float:
        return sum(p * bi / (1.0 + x * bi) for p, bi in zip(probs, b) if p > 0)

    for _ in range(200):  # f decreases on (lo, hi) from +inf to -inf
        mid = (lo + hi) / 2
        if f(mid) > 0:
            lo = mid
        else:
            hi = mid
        if hi - lo < 1e-15:
            break
    return (lo + hi) / 2


def _mle_with_t(probs: list[float], t: float, scale: float) -> list[float]:
    """The distribution closest (maximum likelihood) to ``probs`` over the pair scores whose
    (mean - 1/2) / (scale * sigma) is ``t``; found by fixing sigma and the mean in the
    constraint's gradient and solving the secular equation, until the distribution settles."""
    q = [1.0 / len(probs)] * len(probs)
    for _ in range(100):
        mean = sum(qi * a for qi, a in zip(q, _PAIR_SCORES))
        sigma = math.sqrt(sum(qi * (a - mean) ** 2 for qi, a in zip(q, _PAIR_SCORES)))
        b = [a - 0.5 - scale * t * sigma * (1.0 + ((a - mean) / sigma) ** 2) / 2 for a in _PAIR_SCORES]
        x = _secular(probs, b)
        new = [p / (1.0 + x * bi) for p, bi in zip(probs, b)]
        if max(abs(u - v) for u, v in zip(new, q)) < 1e-12:
            return new
        q = new
    return q


@dataclass
class Sprt:
    """The stop rule: H0 nElo = elo0 against H1 nElo = elo1 with error rates alpha and beta."""

    elo0: float = 0.0
    elo1: float = 5.0
    alpha: float = 0.05
    beta: float = 0.05

    def __post_init__(self) -> None:
        if not (0 < self.alpha < 1 and 0 < self.beta < 1):
            raise ValueError("alpha and beta must lie between 0 and 1")
        if self.elo1 <= self.elo0:
            raise ValueError("elo1 must be greater than elo0")

    @property
    def bounds(self) -> tuple[float, float]:
        """Wald's (lower, upper) bounds of the log-likelihood ratio."""
        return math.log(self.beta / (1 - self.alpha)), math.log((1 - self.beta) / self.alpha)

    def llr(self, pentanomial: list[int]) -> float:
        """The log-likelihood ratio of H1 against H0 for the pair counts (LL, LD, LW+DD, DW, WW)."""
        n = sum(pentanomial)
        if n == 0:
            return 0.0
        # an outcome not seen yet counts as a thousandth of a pair, as fishtest does, so that
        # every distribution of the model stays reachable
        counts = [c if c else 1e-3 for c in pentanomial]
        probs = [c / sum(counts) for c in counts]
        scale = math.sqrt(2.0)  # sigma of one game = sqrt 2 * sigma of a pair's per-game score
        q0 = _mle_with_t(probs, self.elo0 / NELO_PER_T, scale)
        q1 = _mle_with_t(probs, self.elo1 / NELO_PER_T, scale)
        return n * sum(p * math.log(a / b) for p, a, b in zip(probs, q1, q0) if p > 0)

    def decision(self, pentanomial: list[int]) -> str | None:
        """"H1" or "H0" once the ratio crosses a bound, else None (keep playing)."""
        lower, upper = self.bounds
        llr = self.llr(pentanomial)
        return "H1" if llr >= upper else "H0" if llr <= lower else None


@dataclass
class Tally:
    """Results of the first engine against the second: games and game pairs."""

    wins: int = 0
    draws: int = 0
    losses: int = 0
    #: pairs scoring 0, 1/2, 1, 3/2, 2 points for the first engine
    pentanomial: list[int] = field(default_factory=lambda: [0, 0, 0, 0, 0])

    def add_game(self, points: float) -> None:
        """One game: 1, 1/2 or 0 points for the first engine."""
        if points == 1:
            self.wins += 1
        elif points == 0:
            self.losses += 1
        else:
            self.draws += 1

    def add_pair(self, first: float, second: float) -> None:
        """Both games of a pair (each 1, 1/2 or 0 points for the first engine)."""
        self.add_game(first)
        self.add_game(second)
        self.pentanomial[round(2 * (first + second))] += 1

    @property
    def games(self) -> int:
        return self.wins + self.draws + self.losses

    @property
    def points(self) -> float:
        return self.wins + self.draws / 2

    @property
    def score(self) -> float:
        """The first engine's points per game (nan before any game)."""
        return self.points / self.games if self.games else math.nan

    def _pair_stats(self) -> tuple[float, float, float] | None:
        if sum(self.pentanomial) == 0:
            return None
        return _mean_var([float(c) for c in self.pentanomial], _PAIR_SCORES)

    def _game_stats(self) -> tuple[float, float, float] | None:
        """Pairs when there are any, else single games as a trinomial."""
        pairs = self._pair_stats()
        if pairs is not None:
            n, mean, var = pairs
            return n, mean, var  # variance of a pair's mean score
        if not self.games:
            return None
        return _mean_var([float(self.losses), float(self.draws), float(self.wins)], (0.0, 0.5, 1.0))

    def elo(self) -> tuple[float, float]:
        """The Elo difference and the half width of its 95% interval (nan when unknown)."""
        stats = self._game_stats()
        if stats is None:
            return math.nan, math.nan
        n, mean, var = stats
        se = math.sqrt(var / n)
        low, high = elo(mean - Z95 * se), elo(mean + Z95 * se)
        return elo(mean), (high - low) / 2

    def nelo(self) -> tuple[float, float]:
        """Normalised Elo and the half width of its 95% interval (nan when unknown)."""
        pairs = self._pair_stats()
        if pairs is None:
            return math.nan, math.nan
        n, mean, var = pairs
        if var == 0:
            return math.nan, math.nan
        sigma_game = math.sqrt(2 * var)
        t = (mean - 0.5) / sigma_game
        return t * NELO_PER_T, Z95 * NELO_PER_T * math.sqrt(var / n) / sigma_game

    def los(self) -> float:
        """The likelihood of superiority: the chance the first engine is the stronger one."""
        stats = self._game_stats()
        if stats is None:
            return math.nan
        n, mean, var = stats
        if var == 0:
            return 1.0 if mean > 0.5 else 0.0 if mean < 0.5 else 0.5
        return 0.5 * (1 + math.erf((mean - 0.5) / math.sqrt(2 * var / n)))

    def as_dict(self, sprt: Sprt | None = None) -> dict[str, object]:
        """The numbers as plain values (for JSON)."""
        elo_, err = self.elo()
        nelo, nerr = self.nelo()
        out: dict[str, object] = {
            "games": self.games, "wins": self.wins, "draws": self.draws, "losses": self.losses,
            "points": self.points, "score": self.score, "elo": elo_, "elo_error": err,
            "nelo": nelo, "nelo_error": nerr, "los": self.los(), "pentanomial": list(self.pentanomial),
        }
        if sprt is not None:
            lower, upper = sprt.bounds
            out["sprt"] = {"elo0": sprt.elo0, "elo1": sprt.elo1, "alpha": sprt.alpha, "beta": sprt.beta,
                           "llr": sprt.llr(self.pentanomial), "lower": lower, "upper": upper,
                           "decision": sprt.decision(self.pentanomial)}
        return {k: (None if isinstance(v, float) and not math.isfinite(v) else v) for k, v in out.items()}
