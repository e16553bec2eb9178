"""The Python module against kelvane-run and against known answers.

Run by CTest with PYTHONPATH at the build's python folder and KELVANE_RUN
naming the kelvane-run built beside it.
"""

import _thread
import math
import os
import subprocess
import threading

import numpy as np
import pytest

import kelvane

KELVANE_RUN = os.environ.get("KELVANE_RUN", "kelvane-run")

# kelvane-run's options for a two-species setup, and the same in Python.
TWO_SPECIES_OPTIONS = ["--inner-rib", "2E-6", "--time-step", "0.0002",
                       "--species", "3E20,3E-9,1.2E-10",
                       "--species-radius", "1E20,1E-9"]


def two_species_session():
    session = kelvane.Session()
    session.inner_rib = 2e-6
    session.time_step = 0.0002
    session.species = [
        kelvane.Species(3e20, 3e-9, 1.2e-10),
        kelvane.Species.from_radius(1e20, 1e-9, session.temperature,
                                    session.viscosity)]
    return session


def kelvane_run(tmp_path, *options):
    """The run CSV and the two curve files kelvane-run writes."""
    folder = tmp_path / "cli"
    subprocess.run([KELVANE_RUN, *options, "--csv", str(folder / "run.csv"),
                    "--curves", str(folder)], check=True)
    return files_of(folder)


def files_of(folder):
    return {name: (folder / name).read_bytes()
            for name in ("run.csv", "C1(t).txt", "N1(t).txt")}


def module_files(tmp_path, result):
    folder = tmp_path / "module"
    folder.mkdir(exist_ok=True)
    result.write_csv(folder / "run.csv")
    result.write_curves(folder)
    return files_of(folder)


@pytest.mark.parametrize("options, session, seeds", [
    ([], kelvane.Session, None),
    (TWO_SPECIES_OPTIONS, two_species_session, None),
    (["--seed", "3"], kelvane.Session, 3),
])
def test_files_are_kelvane_runs_bytes(tmp_path, options, session, seeds):
    expected = kelvane_run(tmp_path, "--steps", "20", *options)
    result = kelvane.run(session(), steps=20, seeds=seeds)
    assert module_files(tmp_path, result) == expected
    # The arrays are the rows of that CSV.
    frame = result.to_frame()
    assert list(frame.columns) == expected["run.csv"].decode().splitlines()[
        -21].split(",")
    assert len(frame) == 20 and frame["inside count"].dtype == np.int32
    assert result.time[-1] == pytest.approx(20 * session().time_step)


def test_run_csv_replays_its_run_and_sessions_round_trip(tmp_path):
    first = kelvane.run(two_species_session(), until=0.004, seeds=5)
    first.write_csv(tmp_path / "first.csv")
    assert len(first) == 20
    replayed = kelvane.Session.read(tmp_path / "first.csv")
    again = kelvane.run(replayed, steps=20)
    assert again.csv_text() == first.csv_text()
    assert again.seeds == kelvane.replicate_seeds(5)
    cli = kelvane_run(tmp_path, "--session", str(tmp_path / "first.csv"),
                      "--steps", "20")
    assert cli["run.csv"] == first.csv_text().encode()
    # Changing a value leaves the run's actions: the setup starts afresh.
    replayed.temperature = 300.0
    assert "SIM_T 300" in kelvane.run(replayed, steps=1).csv_text()
    # A session file keeps every value.
    two_species_session().write(tmp_path / "two.toml")
    read = kelvane.Session.read(tmp_path / "two.toml")
    assert read.species == two_species_session().species
    assert (read.inner_rib, read.time_step) == (2e-6, 0.0002)
    # kT / (6 pi eta a) = 2.1472e-10, shown with 3 digits as the button does.
    assert read.species[1].diffusion == 2.15e-10


def test_seeds_choose_the_run():
    fixed = kelvane.run(kelvane.Session(), steps=15)
    assert fixed.csv_text() == kelvane.run(kelvane.Session(), steps=15,
                                           seeds=None).csv_text()
    assert fixed.seeds == (5555555, 5324575, 5548235, 5564875)
    one, two = (kelvane.run(kelvane.Session(), steps=15, seeds=n)
                for n in (1, 2))
    assert not np.array_equal(one.inside_count, two.inside_count)
    assert not np.array_equal(one.inside_count, fixed.inside_count)
    assert kelvane.replicate_seeds(0) == (2065550767, 151149761, 479680207,
                                         1526829037)


# The expected count at the defaults, worked out once with the module and
# checked against the cosine series below.
KNOWN_EXPECTED = {0.005: 92.23019966, 0.05: 493.99072241,
                  0.1: 611.26785981, 1.0: 719.99865527}


def cosine_series_count(t, b0=1e-5, b1=1e-6, d=1.43e-10, molecules=719999,
                        terms=4000):
    """N P^3 with P the README's series, summed term by term."""
    q = b1 / b0
    p = q
    for m in range(1, terms):
        p -= (2 * math.sin(m * math.pi * q) ** 2
              / (m * m * math.pi ** 2 * (1 - q))
              * math.exp(-m * m * math.pi ** 2 * d * t / b0 ** 2))
    return molecules * p ** 3


def test_expected_count_known_answers():
    times = list(KNOWN_EXPECTED)
    counts = kelvane.expected_count(kelvane.Session(), times)
    for t, count in zip(times, counts):
        assert count == pytest.approx(KNOWN_EXPECTED[t], rel=1e-9)
        assert count == pytest.approx(cosine_series_count(t), rel=1e-9)
    # At the steps' times, the run's own column to the bit; between them,
    # between its neighbours.
    result = kelvane.run(kelvane.Session(), steps=5)
    assert np.array_equal(kelvane.expected_count(kelvane.Session(),
                                                 result.time),
                          result.expected_count)
    middle = kelvane.expected_count(kelvane.Session(), 0.00025)
    assert result.expected_count[1] < middle < result.expected_count[2]
    assert kelvane.expected_count(kelvane.Session(), 0.0) == 0.0


def test_two_threads_give_the_runs_each_gives_alone():
    jobs = [(kelvane.Session, 1), (two_species_session, 2)]
    alone = [kelvane.run(make(), steps=25, seeds=n).csv_text()
             for make, n in jobs]
    together = [None, None]

    def work(i):
        make, n = jobs[i]
        together[i] = kelvane.run(make(), steps=25, seeds=n,
                                  threads=1).csv_text()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert together == alone


def bad_session(**values):
    session = kelvane.Session()
    for name, value in values.items():
        setattr(session, name, value)
    return session


@pytest.mark.parametrize("call, error, words", [
    (lambda: kelvane.run(kelvane.Session()), ValueError, "steps or until"),
    (lambda: kelvane.run(kelvane.Session(), steps=1, until=1.0), ValueError,
     "steps and until"),
    (lambda: kelvane.run(kelvane.Session(), steps=-1), ValueError, "steps:"),
    (lambda: kelvane.run(kelvane.Session(), steps=1.5), TypeError, "steps:"),
    (lambda: kelvane.run(kelvane.Session(), until=-1.0), ValueError,
     "until:"),
    (lambda: kelvane.run(kelvane.Session(), steps=1, threads=0), ValueError,
     "threads:"),
    (lambda: kelvane.run(kelvane.Session(), steps=1, seeds=-2), ValueError,
     "seeds:"),
    (lambda: kelvane.run(kelvane.Session(), steps=1, seeds="a"), TypeError,
     "seeds:"),
    (lambda: kelvane.run(bad_session(outer_rib=0), steps=1), ValueError,
     "outer_rib: 0.0 is not above 0"),
    (lambda: kelvane.run(bad_session(inner_rib=2e-5), steps=1), ValueError,
     "inner_rib:"),
    (lambda: kelvane.run(bad_session(time_step="x"), steps=1), TypeError,
     "time_step:"),
    (lambda: kelvane.run(bad_session(viscosity=math.nan), steps=1),
     ValueError, "viscosity:"),
    (lambda: kelvane.run(bad_session(species=[]), steps=1), ValueError,
     "species:"),
    (lambda: kelvane.run(bad_session(species=[kelvane.Species(-1, 1e-9, 0)]),
                         steps=1), ValueError,
     "species 1: the concentration"),
    (lambda: kelvane.run(bad_session(species=[kelvane.Species(1e30, 1e-9, 1)]),
                         steps=1), ValueError, "species 1:"),
    (lambda: kelvane.run("session", steps=1), TypeError, "session:"),
    (lambda: kelvane.expected_count(kelvane.Session(), [-1.0]), ValueError,
     "times:"),
    (lambda: kelvane.Session.read("/nonexistent.toml"), FileNotFoundError,
     "nonexistent"),
])
def test_bad_input_is_named(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_bad_files_are_named(tmp_path):
    (tmp_path / "bad.toml").write_text("format = 1\n[simulation]\nSIM_B0 = 'x'\n")
    with pytest.raises(ValueError, match="bad.toml:"):
        kelvane.Session.read(tmp_path / "bad.toml")
    with pytest.raises(ValueError, match="Cannot write"):
        kelvane.Session().write(tmp_path / "no" / "such" / "folder.toml")


def test_ctrl_c_stops_the_run_and_keeps_its_steps():
    steps = 10 ** 8
    timer = threading.Timer(0.5, _thread.interrupt_main)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt) as stopped:
            kelvane.run(kelvane.Session(), steps=steps, threads=1)
    finally:
        timer.cancel()
    kept = stopped.value.run
    assert 0 < len(kept) < steps
    # The steps kept are those of an uninterrupted run.
    alone = kelvane.run(kelvane.Session(), steps=len(kept))
    assert np.array_equal(kept.inside_count, alone.inside_count)


def test_progress_bar_changes_nothing_but_stderr(capsys):
    quiet = kelvane.run(kelvane.Session(), steps=12)
    shown = kelvane.run(kelvane.Session(), steps=12, progress=True)
    assert shown.csv_text() == quiet.csv_text()
    assert "12/12" in capsys.readouterr().err
