"""The native mate search of velkorant.mate."""

def solve(sfen: str, max_nodes: int, time_limit: float, memory_mb: int, shortest: bool, /) -> tuple[str, list[str], int, float]:
    """Searches for a mate by the side to move: (status, USI moves, nodes, seconds)."""
