"""velkorant.env: many games stepped natively, checked against Games stepped one by one."""

import pytest

np = pytest.importorskip("numpy")
velkorant = pytest.importorskip("velkorant")
from velkorant import Game, data, env  # noqa: E402

NO_SIDE = velkorant.ColorType(255)


def expected_observation(game):
    planes1, planes2 = data.features(game)
    return np.concatenate([planes1, planes2]).astype(np.uint8), data.legal_mask(game), int(game.turn)


def assert_row(obs, i, game):
    features, mask, turn = expected_observation(game)
    assert np.array_equal(obs["features"][i], features)
    assert np.array_equal(obs["legal_mask"][i], mask)
    assert obs["turn"][i] == turn


def move_of_label(game, label):
    (move,) = [m for m in game.legal_moves() if data.move_label(game, m) == label]
    return move


def test_steps_equal_games_stepped_by_hand():
    """Random play in 6 games, 800 steps, some to their end and some cut short at 250 plies:
    every observation, reward, ending and final observation as stepping Games gives it."""
    n, max_plies = 6, 250
    vec = env.VecEnv(n, max_plies=max_plies, threads=2)
    obs, info = vec.reset()
    hand = [Game() for _ in range(n)]
    rng = np.random.default_rng(5)
    seen = {"terminated": 0, "truncated": 0}
    for step in range(800):
        actions = env.random_actions(obs["legal_mask"], rng)
        obs, rewards, terminations, truncations, info = vec.step(actions)
        for i, game in enumerate(hand):
            mover = game.turn
            game.push(move_of_label(game, int(actions[i])))
            outcome = game.outcome()
            reward = 0.0 if outcome is None or outcome[0] == NO_SIDE else 1.0 if outcome[0] == mover else -1.0
            assert (rewards[i], terminations[i]) == (reward, outcome is not None)
            assert truncations[i] == (outcome is None and len(game.history) == max_plies)
            if terminations[i] or truncations[i]:
                assert info["_final_obs"][i]
                assert_row(info["final_obs"], i, game)
                seen["terminated" if terminations[i] else "truncated"] += 1
                hand[i] = game = Game()
            else:
                assert not info or not info["_final_obs"][i]
            if step % 7 == 0 or terminations[i] or truncations[i]:
                assert_row(obs, i, game)
            assert vec.games(i).usi() == game.usi()
    assert seen["terminated"] and seen["truncated"], seen


@pytest.mark.parametrize("start,moves,last,reward,ending", [
    # the fourth occurrence of a position: a draw
    ("startpos", ["2h3h", "8b7b", "3h2h", "7b8b"] * 2 + ["2h3h", "8b7b", "3h2h"], "7b8b", 0.0, "terminated"),
    # the fourth occurrence after a check with every one of Black's moves: White, moving, wins
    ("sfen 4k4/9/9/9/5R3/9/9/9/4K4 b - 1", ["4e5e", "5a4a", "5e4e", "4a5a"] * 2 + ["4e5e", "5a4a", "5e4e"], "4a5a",
     1.0, "terminated"),
    ("sfen 4k4/9/4P4/9/9/9/9/9/4K4 b G 1", [], "G*5b", 1.0, "terminated"),
    # the ply limit (8) counts the moves the game came with
    ("startpos", ["7g7f", "3c3d", "2g2f", "8c8d", "2f2e", "8d8e", "6i7h"], "8e8f", 0.0, "truncated"),
])
def test_endings_from_set_games(start, moves, last, reward, ending):
    game = Game.from_usi(start + (" moves " + " ".join(moves) if moves else ""))
    vec = env.VecEnv(2, max_plies=8)
    vec.set_game(1, game)
    assert_row(vec.observation, 1, game)
    label = data.move_label(game, velkorant.Move.from_usi(last, game.turn))
    game.push_usi(last)
    obs, rewards, terminations, truncations, info = vec.step([int(np.flatnonzero(obs_mask(vec, 0))[0]), label])
    assert (rewards[1], terminations[1], truncations[1]) == (reward, ending == "terminated", ending == "truncated")
    assert list(info["_final_obs"]) == [False, True]
    assert_row(info["final_obs"], 1, game)
    assert_row(obs, 1, Game())
    assert vec.games(1).usi() == "startpos"


def obs_mask(vec, i):
    return vec.observation["legal_mask"][i]


def test_declaration_ends_a_game_only_when_asked():
    # After Black's king steps into the zone, White to move has ten pieces and 27 points there.
    game = Game("K8/9/9/9/9/9/pppppppp1/1b5r1/3k5 b rb2g2s 1")
    move = game.legal_moves()[0]
    for declaration, ended in [(False, False), (True, True)]:
        vec = env.VecEnv(1, declaration=declaration)
        vec.set_game(0, game)
        _, rewards, terminations, _, _ = vec.step([data.move_label(game, move)])
        assert (bool(terminations[0]), rewards[0]) == (ended, -1.0 if ended else 0.0)
    after = game.copy()
    after.push(move)
    assert after.can_declare()
    with pytest.raises(ValueError, match="declare"):
        env.VecEnv(1, declaration=True).set_game(0, after)


def test_threads_give_the_results_of_one_thread():
    envs = [env.VecEnv(650, max_plies=30, threads=t) for t in (1, 2, 5)]  # 5 threads take 650 games
    outs = [e.reset()[0] for e in envs]
    rng = np.random.default_rng(1)
    for _ in range(60):
        actions = env.random_actions(outs[0]["legal_mask"], rng)
        results = [e.step(actions) for e in envs]
        for r in results[1:]:
            for key in ("features", "legal_mask", "turn"):
                assert np.array_equal(r[0][key], results[0][0][key])
            for k in (1, 2, 3):
                assert np.array_equal(r[k], results[0][k])
    assert [e.games(649).usi() for e in envs] == [envs[0].games(649).usi()] * 3


@pytest.mark.parametrize("bad,message", [(3000, "game 2: 3000 is no move label"), (-1, "game 2: -1 is no move label"),
                                         (0, "game 2: label 0 is not the label of a legal move")])
def test_an_illegal_label_moves_no_game(bad, message):
    vec = env.VecEnv(4)
    obs, _ = vec.reset()
    rng = np.random.default_rng(2)
    vec.step(env.random_actions(obs["legal_mask"], rng))
    before = [vec.games(i).usi() for i in range(4)]
    saved = {k: v.copy() for k, v in obs.items()}
    actions = env.random_actions(obs["legal_mask"], rng)
    actions[2] = actions[3] = bad
    with pytest.raises(ValueError, match=message):
        vec.step(actions)
    assert [vec.games(i).usi() for i in range(4)] == before
    assert all(np.array_equal(saved[k], obs[k]) for k in saved)


@pytest.mark.parametrize("call,error", [
    (lambda: env.VecEnv(0), ValueError), (lambda: env.VecEnv(2, max_plies=0), ValueError),
    (lambda: env.VecEnv(2).step([1, 2, 3]), ValueError), (lambda: env.VecEnv(2).step([0.5, 1.5]), TypeError),
    (lambda: env.VecEnv(2).games(2), IndexError), (lambda: env.VecEnv(2).set_game(0, "startpos"), TypeError),
    (lambda: env.VecEnv(2).set_game(0, Game("4k4/4G4/4P4/9/9/9/9/9/4K4 w - 1")), ValueError),
    (lambda: env.VecEnv(2).set_game(0, Game("4k4/9/9/9/9/9/9/9/4K4 b G 9223372036854775800")), ValueError),
    (lambda: env.random_actions(np.zeros((2, 2187), bool), np.random.default_rng()), ValueError),
])
def test_bad_calls(call, error):
    with pytest.raises(error):
        call()


def test_random_actions_reach_every_legal_label():
    mask = np.zeros((3000, 2187), dtype=bool)
    mask[:, [5, 700, 2186]] = True
    picks = env.random_actions(mask, np.random.default_rng(3))
    counts = np.bincount(picks, minlength=2187)[[5, 700, 2186]]
    assert counts.sum() == 3000 and counts.min() > 850


@pytest.mark.parametrize("seed", range(8))
def test_play_random_plays_legal_moves_to_the_end(seed):
    game = Game()
    outcome = game.play_random(seed, 2000)
    replay = Game.from_usi(game.usi())  # every move legal
    assert outcome == replay.outcome() and outcome is not None
    again = Game()
    assert again.play_random(seed, 2000) == outcome and again.usi() == game.usi()
    short = Game()
    assert short.play_random(seed, 10) is None and len(short.history) == 10
    assert game.play_random(seed + 1, 5) == outcome  # an ended game plays nothing
    with pytest.raises(ValueError):
        Game().play_random(seed, -1)


def test_gymnasium_checker_passes():
    gymnasium = pytest.importorskip("gymnasium")
    from gymnasium.utils.env_checker import check_env
    from velkorant import rl
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        check_env(gymnasium.make(rl.ENV_ID, render_mode="ansi").unwrapped)


def test_vector_adapter_equals_gymnasiums_own_vector_of_single_games():
    gymnasium = pytest.importorskip("gymnasium")
    from velkorant import rl
    ours = gymnasium.make_vec(rl.ENV_ID, num_envs=5, max_plies=30)
    theirs = gymnasium.vector.SyncVectorEnv([lambda: rl.ShogiEnv(max_plies=30)] * 5,
                                            autoreset_mode=gymnasium.vector.AutoresetMode.SAME_STEP)
    results = [ours.reset(seed=1), theirs.reset(seed=1)]
    rng = np.random.default_rng(4)
    for _ in range(70):
        assert ours.observation_space.contains(results[0][0])
        for key in ("features", "legal_mask", "turn"):
            assert np.array_equal(results[0][0][key], results[1][0][key])
        actions = env.random_actions(results[0][0]["legal_mask"], rng)
        results = [ours.step(actions), theirs.step(actions)]
        for k in (1, 2, 3):
            assert np.array_equal(results[0][k], results[1][k])
        if "_final_obs" in results[1][4]:
            assert np.array_equal(results[0][4]["_final_obs"], results[1][4]["_final_obs"])
            for i in np.flatnonzero(results[1][4]["_final_obs"]):
                ours_final, theirs_final = results[0][4]["final_obs"][i], results[1][4]["final_obs"][i]
                assert all(np.array_equal(ours_final[key], theirs_final[key]) for key in theirs_final)
        else:
            assert not results[0][4]
