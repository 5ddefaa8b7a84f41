"""The gas mixture viscosity per call: fumivex2's (Wilke's rule in C++ on Cantera's species
fits) against Cantera's ``gas.viscosity``, at a new state and at an unchanged one.

The states: 64 points of a sooting trajectory on the shipped Appel-Bockhorn-Frenklach
mechanism (101 species), ethylene/air at equivalence ratio 3 from 1400 K and 1 atm in
Cantera's constant-pressure reactor over 10 ms. "New state" calls cycle through them, so
neither Cantera's caches (it keeps the species viscosities and Wilke's factors while the
temperature is unchanged) nor ours answer; the cost of setting the phase's state is timed
alone and subtracted. Each figure is the least time of one pass over the states among
ROUNDS passes, the kinds alternating (short passes: the least one is free of the
interruptions of a busy machine).

- C++ core: the core program native/bench/viscosity_core.cpp on the same states, also with
  the Chemkin-compatible (-CK) fits, and split into a new temperature only and a new
  composition only;
- from Python, T and X in hand: ``mu(T, X)`` (what a driver that already read the phase's
  T and X pays);
- ``ViscositySolution.viscosity``: the property, which reads the phase's T and X itself;
- Cantera: ``gas.viscosity`` (mixture-averaged transport);
- a finite-difference Jacobian's columns: the last state, then each of its mass fractions
  moved by sqrt(eps) of itself in turn at its temperature, ``mu(T, X)`` with T and X in
  hand (answered from the last state's sums), against Cantera's ``gas.viscosity`` at the
  same states (its species viscosities and factors kept; the state setting subtracted).

Run after `pip install '.[run]'`:  python benchmarks/viscosity.py
"""
import os
import pathlib
import sys
import tempfile
import time
import warnings

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
warnings.simplefilter("ignore", DeprecationWarning)
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import numpy as np  # noqa: E402

from core_bench import run_core  # noqa: E402
from jacobian_states import jacobian_columns  # noqa: E402

ROUNDS = 1000         # timed passes over the states, per kind
STATES = 64
CORE_CALLS = 200000   # calls in the core program


def trajectory(gas, ct):
    """STATES (T, P, Y) points of the sooting batch reactor."""
    gas.set_equivalence_ratio(3.0, "C2H4:1", "O2:1, N2:3.76")
    gas.TP = 1400.0, ct.one_atm
    r = ct.IdealGasConstPressureReactor(gas, clone=True)
    net = ct.ReactorNet([r])
    states = []
    for t in np.geomspace(1e-5, 0.01, STATES):
        net.advance(t)
        states.append((r.phase.T, r.phase.P, r.phase.Y.copy()))
    return states


def state_file(path, gas, states):
    K = gas.n_species
    ck = int(gas.CK_mode)
    with open(path, "w") as f:
        f.write(f"species {K}\n")
        for k in range(K):
            a = gas.get_viscosity_polynomial(k)
            f.write(f"{float(gas.molecular_weights[k])!r} {ck} {len(a)} "
                    + " ".join(repr(float(v)) for v in a) + "\n")
        f.write(f"states {len(states)}\n")
        for T, P, Y in states:
            gas.TPY = T, P, Y
            f.write(f"{float(T)!r} " + " ".join(repr(float(x)) for x in gas.X) + "\n")


def main():
    import cantera as ct

    from fumivex2.species import mechanism_source
    from fumivex2.viscosity import ViscositySolution, mixture_viscosity

    gas = ViscositySolution(mechanism_source("abf.yaml"))
    states = trajectory(gas, ct)
    TX = []
    for T, P, Y in states:
        gas.TPY = T, P, Y
        TX.append((gas.T, gas.X))
    mu = mixture_viscosity(gas)
    cantera_viscosity = ct.Transport.viscosity.__get__
    # a Jacobian's columns at the last state: (T, P, Y) and (T, X) of each
    column_states, columns = jacobian_columns(gas, *states[-1])

    # equality over the states
    worst = 0.0
    for T, P, Y in states:
        gas.TPY = T, P, Y
        ours, theirs = gas.viscosity, cantera_viscosity(gas)
        worst = max(worst, abs(ours - theirs) / theirs)

    def set_states(body):
        t0 = time.perf_counter()
        for T, P, Y in states:
            gas.TPY = T, P, Y
            body()
        return (time.perf_counter() - t0) / STATES

    def unchanged(body):
        t0 = time.perf_counter()
        for _ in range(STATES):
            body()
        return (time.perf_counter() - t0) / STATES

    def in_hand():
        t0 = time.perf_counter()
        for T, X in TX:
            mu(T, X)
        return (time.perf_counter() - t0) / STATES

    def in_hand_same():
        T, X = TX[0]
        t0 = time.perf_counter()
        for _ in range(STATES):
            mu(T, X)
        return (time.perf_counter() - t0) / STATES

    def in_hand_columns():
        t0 = time.perf_counter()
        for T, X in columns:
            mu(T, X)
        return (time.perf_counter() - t0) / len(columns)

    def set_columns(body):
        t0 = time.perf_counter()
        for T, P, Y in column_states:
            gas.TP = T, P
            gas.set_unnormalized_mass_fractions(Y)
            body()
        return (time.perf_counter() - t0) / len(column_states)

    def nothing():
        pass

    def prop():
        gas.viscosity

    def cantera():
        cantera_viscosity(gas)

    timings = {
        "setting the state": lambda: set_states(nothing),
        "ours, T and X in hand, new": in_hand,
        "ours, T and X in hand, unchanged": in_hand_same,
        "ours, property, new": lambda: set_states(prop),
        "ours, property, unchanged": lambda: unchanged(prop),
        "Cantera, new": lambda: set_states(cantera),
        "Cantera, unchanged": lambda: unchanged(cantera),
        "setting a column": lambda: set_columns(nothing),
        "ours, columns": in_hand_columns,
        "Cantera, columns": lambda: set_columns(cantera),
    }
    best = {k: np.inf for k in timings}
    for _ in range(ROUNDS):
        for name, f in timings.items():
            best[name] = min(best[name], f())
    setting = best["setting the state"]
    for name in ("ours, property, new", "Cantera, new"):
        best[name] -= setting
    best["Cantera, columns"] -= best["setting a column"]
    near, full = mu.calls

    core = {}
    with tempfile.TemporaryDirectory() as folder:
        for model in ("mixture-averaged", "mixture-averaged-CK"):
            gas.transport_model = model
            path = pathlib.Path(folder) / f"{model}.txt"
            state_file(path, gas, states)
            core[model] = {line[0]: float(line[1]) / 1e3     # us
                           for line in run_core(path, CORE_CALLS, target="viscosity_core")}
        gas.transport_model = "mixture-averaged"

    us = 1e6
    print(f"mixture viscosity, {gas.n_species} species ({gas.transport_model} transport), "
          f"{STATES} states of a sooting trajectory, {min(s[0] for s in states):.0f}-"
          f"{max(s[0] for s in states):.0f} K")
    print(f"  largest relative difference from Cantera   {worst:.1e}")
    print("  per call, us                        new state   unchanged state")
    c = core["mixture-averaged"]
    print(f"  C++ core                            {c['new']:9.2f}   {c['same']:9.2f}")
    print(f"  ours, T and X in hand (mu(T, X))    {best['ours, T and X in hand, new'] * us:9.2f}"
          f"   {best['ours, T and X in hand, unchanged'] * us:9.2f}")
    print(f"  ours, ViscositySolution.viscosity   {best['ours, property, new'] * us:9.2f}"
          f"   {best['ours, property, unchanged'] * us:9.2f}")
    print(f"  Cantera, gas.viscosity              {best['Cantera, new'] * us:9.2f}"
          f"   {best['Cantera, unchanged'] * us:9.2f}")
    ratio_new = best["Cantera, new"] / best["ours, property, new"]
    ratio_same = best["Cantera, unchanged"] / best["ours, property, unchanged"]
    print(f"  ratio Cantera / ours (property)     {ratio_new:9.1f}   {ratio_same:9.1f}")
    print(f"  (setting the phase's state, subtracted above: {setting * us:.2f} us)")
    print(f"  a Jacobian's columns (one mass fraction moved): ours, T and X in hand "
          f"{best['ours, columns'] * us:.2f} us, Cantera {best['Cantera, columns'] * us:.2f} us "
          f"per call ({near} of {near + full} calls of ours answered from a state's sums)")
    for model, c in core.items():
        print(f"  C++ core, {model + ' fits:':<26} {c['T']:.2f} us at a new temperature only, "
              f"{c['X']:.2f} us at a new composition only, {c['new']:.2f} us at both")


if __name__ == "__main__":
    main()
