"""Cost of one plug-flow reactor right-hand side evaluation on a real Cantera phase.

An ethylene-rich reactor state on the Appel-Bockhorn-Frenklach mechanism (101
species, PAHs A2-A4 in the soot model) is evaluated by CPFROde with soot on (wall
deposition off and on) and with soot off, on a plain Cantera Solution and on the
run layer's phase (fumivex2.viscosity.ViscositySolution: the same phase, its viscosity
computed by the extension). Each evaluation's time is split into the
time spent inside the phase's own calls and everything else ("ours": the reactor
and the soot model). The phase's share is timed by making exactly the calls the
reactor makes, for the same alternating states, in a tight Python loop, less that
loop's own cost measured against a trivial stand-in object. Two states alternate,
so Cantera's caches keyed on the state do not flatter the phase.

Run after `pip install .` with Cantera installed:  python benchmarks/reactor_rhs.py
"""
import contextlib
import io
import os
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import fumivex2 as fv  # noqa: E402
from fumivex2.species import shipped_mechanism  # noqa: E402

MECH = shipped_mechanism()
REPEATS, CALLS = 7, 400


def best(fn, calls=CALLS, repeats=REPEATS):
    """Least time per call over the repeats, in microseconds."""
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn(calls)
        times.append((time.perf_counter() - t0) / calls * 1e6)
    return min(times)


class Stand_in:
    """Answers every phase member at once, to time the loop around the phase calls."""

    def __init__(self, gas):
        for name in ("net_production_rates", "density", "partial_molar_enthalpies", "cp", "T",
                     "P", "viscosity", "mean_molecular_weight", "X", "molecular_weights"):
            setattr(self, name, getattr(gas, name))
        self.TP = gas.TP

    def set_unnormalized_mass_fractions(self, Y):
        pass


def phase_calls(gas, states, soot, deposition):
    """The phase operations of one evaluation, as the reactor makes them."""
    def run(n):
        for i in range(n):
            Y, T, P = states[i & 1]
            gas.set_unnormalized_mass_fractions(Y)
            gas.TP = (T, P)
            gas.net_production_rates
            gas.density
            gas.partial_molar_enthalpies
            gas.cp
            if soot:
                gas.T, gas.P, gas.density, gas.viscosity, gas.mean_molecular_weight, gas.X
            gas.molecular_weights
            if deposition:  # kinematic viscosity, then the Reynolds number
                gas.viscosity
                gas.density
                gas.viscosity
    return run


def main():
    import cantera as ct

    from fumivex2.viscosity import ViscositySolution

    plain = ct.Solution(str(MECH))
    gas = plain
    gas.TPX = 1000.0, ct.one_atm, {"C2H4": 1.0, "O2": 1.0, "N2": 3.0}
    gas.equilibrate("TP")
    gas.TPX = 1600.0, ct.one_atm, ("C2H4:0.2, C2H2:0.05, H2:0.08, H:0.002, CO:0.05, O2:0.004, "
                                  "OH:0.001, H2O:0.05, A1:1e-4, A2:1e-4, A3:5e-5, A4:2e-5, N2:0.6")
    model = fv.CSootModel()
    model.species_names = gas.species_names
    model.MWs = gas.molecular_weights / 1000.0
    pahs = ["A2", "A3", "A4"]
    model.PAH_index_in_gas = [gas.species_index(p) for p in pahs]
    model.PAH_Number_Carbon = [gas.n_atoms(p, "C") for p in pahs]
    model.PAH_Number_Hydrogen = [gas.n_atoms(p, "H") for p in pahs]
    model.PAH_growth_model_name = "self_collision"
    with contextlib.redirect_stdout(io.StringIO()):
        model.initialize()
    model.initialize_stick_eff()

    soot0 = np.array([1e-8, 3e-8, 1e-3, 2e-4])
    Y = gas.Y
    ys = [np.hstack([0.01, gas.density * 0.5, T, Y * s, soot0 * s])
          for T, s in ((1600.0, 1.0), (1610.0, 1.001))]
    states = [(y[3:3 + gas.n_species], y[2], ct.one_atm) for y in ys]

    print(f"{gas.n_species} species, {gas.n_reactions} reactions; times in us per evaluation")
    print(f"{'case':44s} {'total':>8s} {'phase':>8s} {'ours':>8s} {'ours/phase':>11s}")
    fast = ViscositySolution(origin=plain)
    for label, soot, deposition, gas in (
            ("soot on (self_collision, 3 PAHs)", True, False, plain),
            ("soot on, wall deposition", True, True, plain),
            ("soot off", False, False, plain),
            ("soot on, ViscositySolution", True, False, fast),
            ("soot on, wall deposition, ViscositySolution", True, True, fast)):
        stand_in = Stand_in(gas)
        r = fv.CPFROde(gas)
        r.soot_model = model
        r.soot_enabled = soot
        r.perimeter, r.area = np.pi * 0.01, np.pi * 0.01 ** 2 / 4
        r._use_temp_value = True
        r.temp_value = np.array([[0.0, 1.0], [1600.0, 1700.0]])
        r._enable_wall_deposition = deposition
        r.initialize()
        y_soot_off = [y[:3 + gas.n_species] for y in ys]
        y_in = ys if soot else y_soot_off

        def evaluate(n, r=r, y_in=y_in):
            for i in range(n):
                r(0.3, y_in[i & 1])

        total = best(evaluate)
        phase = best(phase_calls(gas, states, soot, deposition))
        loop = best(phase_calls(stand_in, states, soot, deposition))
        phase_net = phase - loop
        ours = total - phase_net
        print(f"{label:44s} {total:8.2f} {phase_net:8.2f} {ours:8.2f} {ours / phase_net:10.1%}")
    print("target: ours <= 10% of the phase's time")


if __name__ == "__main__":
    main()
