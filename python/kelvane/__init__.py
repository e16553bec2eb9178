"""Kelvane's diffusion simulation from Python.

Molecules random-walk between two concentric cubes; after every time step
the run counts those inside the inner cube. The same values and seeds give
the same curves, bit for bit, and the same files as kelvane-run.

    import kelvane
    session = kelvane.Session()                 # the window's defaults
    result = kelvane.run(session, steps=1000)
    result.to_frame().plot(x="t [s]", y="inside count")
    result.write_csv("run.csv")                 # kelvane-run --csv's bytes
"""

import math
import numbers
import os

import numpy as np

from . import _kelvane

__all__ = ["Species", "Session", "Run", "run", "expected_count",
           "replicate_seeds", "FILLING_SHARE"]

# Share of the expected limit that the filling time marks (1 - 1/e).
FILLING_SHARE = _kelvane.filling_share

# The run CSV's column names, in its order (RunCsv.h).
COLUMNS = ("t [s]", "inside count", "reference count",
           "inside concentration [m^-3]", "total concentration [m^-3]",
           "expected count")

_SEED_LIMIT = 2 ** 63 - 1


def _number(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name}: {value!r} is not a number")
    value = float(value)
    if not math.isfinite(value):
        raise ValueError(f"{name}: {value!r} is not a finite number")
    return value


def _positive(name, value):
    value = _number(name, value)
    if not value > 0.0:
        raise ValueError(f"{name}: {value!r} is not above 0")
    return value


def _whole(name, value, lowest, highest):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name}: {value!r} is not a whole number")
    value = int(value)
    if not lowest <= value <= highest:
        raise ValueError(f"{name}: {value} is not a whole number from "
                         f"{lowest} to {highest}")
    return value


class Species:
    """One species: concentration [m^-3], molecule radius [m] and
    diffusion coefficient [m^2/s]."""

    __slots__ = ("concentration", "radius", "diffusion")

    def __init__(self, concentration, radius, diffusion):
        self.concentration = concentration
        self.radius = radius
        self.diffusion = diffusion

    @classmethod
    def from_radius(cls, concentration, radius, temperature, viscosity):
        """A species whose coefficient is the Stokes-Einstein value of its
        radius, rounded to 3 digits as the window's Recalculate button shows
        it (and kelvane-run's --species-radius reads it)."""
        radius = _positive("radius", radius)
        diffusion = _kelvane.stokes_einstein(
            radius, _positive("temperature", temperature),
            _positive("viscosity", viscosity))
        return cls(concentration, radius, diffusion)

    def _values(self, number):
        label = f"species {number}"
        concentration = _number(label + ": concentration", self.concentration)
        radius = _number(label + ": radius", self.radius)
        diffusion = _number(label + ": diffusion", self.diffusion)
        if concentration < 0.0:
            raise ValueError(f"{label}: the concentration {concentration!r} "
                             "is below 0")
        if not radius > 0.0:
            raise ValueError(f"{label}: the radius {radius!r} is not above 0")
        if diffusion < 0.0:
            raise ValueError(f"{label}: the diffusion coefficient "
                             f"{diffusion!r} is below 0")
        return (concentration, radius, diffusion)

    def __eq__(self, other):
        if not isinstance(other, Species):
            return NotImplemented
        return ((self.concentration, self.radius, self.diffusion)
                == (other.concentration, other.radius, other.diffusion))

    def __repr__(self):
        return (f"Species({self.concentration!r}, {self.radius!r}, "
                f"{self.diffusion!r})")


_SIMULATION = ("outer_rib", "inner_rib", "viscosity", "temperature",
               "time_step")


class Session:
    """A setup: the five simulation parameters and the species.

    Session() holds the window's defaults and one default species;
    Session.read(path) reads a session file or a run CSV. A session read
    from a run CSV keeps that run's actions and seeds: as long as its values
    stay as read, run() replays that run exactly (kelvane-run --session);
    once a value changes, the setup alone starts from a fresh engine.
    """

    def __init__(self):
        for name, value in zip(_SIMULATION, _kelvane.default_simulation):
            setattr(self, name, value)
        self.species = [Species(*_kelvane.default_species)]
        self._replay = None  # (values as read, seeds, actions) of a run CSV

    @classmethod
    def read(cls, path):
        """The session of a session file or a run CSV; ValueError naming
        the file and line of what is wrong."""
        path = os.fspath(path)
        if not os.path.exists(path):
            raise FileNotFoundError(f"{path}: no such file")
        read = _kelvane.read_session(path)
        session = cls()
        for name, value in zip(_SIMULATION, read["simulation"]):
            setattr(session, name, value)
        session.species = [Species(*values) for values in read["species"]]
        if read["actions"]:
            session._replay = (session._raw(), tuple(read["seeds"]),
                               list(read["actions"]))
        return session

    def write(self, path):
        """Writes a session file (the window's "Save session..."), all at
        once or not at all."""
        simulation, species = self._checked()
        _kelvane.write_session(os.fspath(path), simulation, species)

    def _raw(self):
        return (tuple(getattr(self, name) for name in _SIMULATION),
                tuple((s.concentration, s.radius, s.diffusion)
                      for s in self.species))

    def _checked(self):
        simulation = tuple(_positive(name, getattr(self, name))
                           for name in _SIMULATION)
        if not simulation[1] < simulation[0]:
            raise ValueError(f"inner_rib: {simulation[1]!r} is not below the "
                             f"outer rib {simulation[0]!r}")
        if not isinstance(self.species, (list, tuple)) or not self.species:
            raise ValueError("species: give at least one kelvane.Species")
        species = []
        for number, one in enumerate(self.species, 1):
            if not isinstance(one, Species):
                raise TypeError(f"species {number}: {one!r} is not a "
                                "kelvane.Species")
            species.append(one._values(number))
        return simulation, species

    def _plan(self, seeds):
        """The values, stream seeds and actions of a run of this session."""
        simulation, species = self._checked()
        stream_seeds, actions = _kelvane.fixed_seeds, []
        if self._replay is not None and self._raw() == self._replay[0]:
            stream_seeds, actions = self._replay[1], self._replay[2]
        if seeds is not None:
            stream_seeds = replicate_seeds(seeds)
        return simulation, species, stream_seeds, actions

    def __repr__(self):
        values = ", ".join(f"{name}={getattr(self, name)!r}"
                           for name in _SIMULATION)
        return f"<kelvane.Session {values}, species={self.species!r}>"


def replicate_seeds(replicate):
    """The four stream seeds (placement, x, y, z) of replicate number N:
    splitmix64 of 4 N + stream, masked to 31 bits and made odd, moved on by
    2 where two would be equal (kelvane-run --seed N)."""
    return _kelvane.replicate_seeds(
        _whole("seeds", replicate, 0, _SEED_LIMIT))


class Run:
    """A finished (or stopped) run: the run CSV's columns as numpy arrays,
    one element per step."""

    def __init__(self, engine_run):
        self._run = engine_run
        (self.time, self.inside_count, self.reference_count,
         self.inside_concentration, self.total_concentration,
         self.expected_count) = engine_run.columns()
        self.seeds = engine_run.seeds()
        # The message of a step that failed (the arrays hold those before).
        self.failure = engine_run.failure() or None
        # When the mean of the latest 100 inside counts first reached 63.2 %
        # of the expected limit, and came into the expected band [s].
        self.filling_time = engine_run.filling_time()
        self.equilibration_time = engine_run.equilibration_time()
        # The count the expected curve tends to, (b1/b0)^3 of the molecules.
        self.expected_limit = engine_run.expected_limit()
        # When the expected count reaches 63.2 % of that limit [s].
        self.expected_filling_time = engine_run.expected_filling_time()

    def __len__(self):
        return len(self.time)

    def to_frame(self):
        """A pandas DataFrame with the run CSV's column names."""
        import pandas
        return pandas.DataFrame(dict(zip(COLUMNS, (
            self.time, self.inside_count, self.reference_count,
            self.inside_concentration, self.total_concentration,
            self.expected_count))))

    def csv_text(self):
        return self._run.csv_bytes().decode()

    def write_csv(self, path):
        """The run CSV, as kelvane-run --csv writes it."""
        _write(path, self._run.csv_bytes())

    def write_curves(self, folder):
        """C1(t).txt and N1(t).txt in `folder`, as kelvane-run --curves
        writes them (the folder is made when missing)."""
        folder = os.fspath(folder)
        os.makedirs(folder, exist_ok=True)
        _write(os.path.join(folder, "C1(t).txt"),
               self._run.curve_bytes("concentration"))
        _write(os.path.join(folder, "N1(t).txt"),
               self._run.curve_bytes("count"))

    def __repr__(self):
        return f"<kelvane.Run of {len(self)} steps, seeds {self.seeds}>"


def _write(path, data):
    # All at once or not at all, as every export of the program.
    path = os.fspath(path)
    temporary = f"{path}.{os.getpid()}.tmp"
    try:
        with open(temporary, "wb") as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        os.replace(temporary, path)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def run(session, steps=None, until=None, threads=None, seeds=None,
        progress=False):
    """Runs `session` for `steps` time steps or until the clock reaches
    `until` seconds (one of them), as kelvane-run does with --steps or
    --until. `threads` per step (default: all cores, or KELVANE_THREADS);
    `seeds` a replicate number N >= 0 (default: the fixed seeds, or a run
    CSV's own); `progress` shows a tqdm bar.

    The steps run in C++ without the GIL, so runs in several Python threads
    go side by side. Ctrl+C stops the run within a tenth of a second or so:
    the KeyboardInterrupt carries the steps done as its `run` attribute.
    """
    if not isinstance(session, Session):
        raise TypeError(f"session: {session!r} is not a kelvane.Session")
    if (steps is None) == (until is None):
        raise ValueError("steps and until: give one of them, not both"
                         if steps is not None else
                         "steps or until is required: how long should the "
                         "run go?")
    if steps is not None:
        steps = _whole("steps", steps, 0, _SEED_LIMIT)
    if until is not None:
        until = _number("until", until)
        if until < 0.0:
            raise ValueError(f"until: {until!r} is below 0")
    if threads is not None:
        threads = _whole("threads", threads, 1, 1024)
    simulation, species, stream_seeds, actions = session._plan(seeds)
    engine_run = _kelvane.Run(simulation, species, stream_seeds, actions,
                              steps, until, threads)
    bar = None
    try:
        if progress:
            from tqdm.auto import tqdm
            bar = tqdm(total=1.0, desc="placing", unit="",
                       bar_format="{desc}: {percentage:3.0f}%|{bar}|")
            engine_run.prepare(lambda share: _advance(bar, share))
            bar.close()
            bar = tqdm(total=int(engine_run.total_steps()), unit="step")
            engine_run.go(lambda done: _advance(bar, done))
            _advance(bar, len(engine_run.columns()[0]))
        else:
            engine_run.prepare(None)
            engine_run.go(None)
    except KeyboardInterrupt as interrupt:
        interrupt.run = Run(engine_run)
        raise
    finally:
        if bar is not None:
            bar.close()
    return Run(engine_run)


def _advance(bar, done):
    bar.update(done - bar.n)


def expected_count(session, times):
    """The expected inside count by the diffusion equation (the curve the
    window draws beside the measured one) at each of `times` [s], counted
    from the start of a run of `session`.

    The engine knows the spread of its walk per step, so a time t stands
    for t / time_step steps: at a step's time (within 1e-9 of a whole
    number of steps) the value is the run's own expected count to the bit;
    between steps the steps are fractional, which is the continuous model's
    spread D t. NaN where the model gives no count.
    """
    simulation, species, stream_seeds, actions = session._plan(None)
    times = np.asarray(times, dtype=float)
    if times.ndim > 1:
        raise ValueError("times: give a number or a list of numbers")
    if not np.all(np.isfinite(times)) or np.any(times < 0.0):
        raise ValueError("times: every time must be a finite number of "
                         "seconds, 0 or more")
    steps = times.reshape(-1) / simulation[4]
    whole = np.rint(steps)
    steps = np.where(np.abs(steps - whole) <= 1e-9 * np.maximum(1.0, whole),
                     whole, steps)
    counts = _kelvane.expected_counts(simulation, species, stream_seeds,
                                      actions, steps.tolist())
    return counts.reshape(times.shape) if times.ndim == 1 else counts[0]
