"""A sooting constant-pressure batch reactor in a Cantera network against Cantera's own
gas-only reactor, timed side by side.

The problem: ethylene/air at equivalence ratio 3, 1400 K and 1 atm, energy equation on,
integrated for 10 ms by Cantera's ReactorNet (CVODES, its default tolerances) on the
shipped Appel-Bockhorn-Frenklach mechanism (101 species):

1. ``ct.IdealGasConstPressureReactor`` (gas only);
2. ``fumivex2.SootConstPressureReactor`` (the same gas, with soot).

Each figure is the least wall time of REPEATS runs, the two kinds alternating. Then, per
evaluation of the right-hand side, where the extra time goes:

- Cantera's call into Python: the same run with a reactor whose two hooks (update_state,
  eval) do nothing, against the gas-only reactor, per evaluation;
- the phase's calls: reading T, P, density, viscosity, mean molar mass and mole fractions
  from the phase (what the soot model is given), at states that alternate between two
  points of the trajectory so that Cantera's caches do not answer;
- ours: the extension's work per evaluation (the soot model in C++, the rows added in
  place, the state copied), the same alternating states, less the phase's calls.

Run after `pip install '.[run]'`:  python benchmarks/network_reactor.py
"""
import os
import time
import warnings

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
warnings.simplefilter("ignore", DeprecationWarning)

import numpy as np  # noqa: E402

REPEATS = 9
END = 0.01          # s
TARGET = 2.5        # the soot reactor should take at most this many times Cantera's
CALLS = 4000        # calls per micro-timing


def main():
    import cantera as ct

    import fumivex2 as fv
    from fumivex2 import _fumivex2

    gas = fv.open_mechanism("abf.yaml")
    model = fv.configure_soot_model(gas)

    def start():
        gas.set_equivalence_ratio(3.0, "C2H4:1", "O2:1, N2:3.76")
        gas.TP = 1400.0, ct.one_atm

    class Hooks(ct.ExtensibleIdealGasConstPressureReactor):
        """Cantera's reactor with two empty Python hooks, as a soot reactor has."""
        def after_update_state(self, y):
            pass

        def after_eval(self, t, LHS, RHS):
            pass

    class Counted(fv.SootConstPressureReactor):
        evaluations = 0

        def after_eval(self, t, LHS, RHS):
            Counted.evaluations += 1
            super().after_eval(t, LHS, RHS)

    makers = {
        "Cantera, gas only": lambda: ct.IdealGasConstPressureReactor(gas, clone=True),
        "fumivex2, with soot": lambda: fv.SootConstPressureReactor(gas, soot_model=model,
                                                                   clone=True),
        "Cantera + empty hooks": lambda: Hooks(gas, clone=True),
    }
    best = {k: np.inf for k in makers}
    last = {}
    for _ in range(REPEATS):
        for name, make in makers.items():
            start()
            r = make()
            net = ct.ReactorNet([r])
            t0 = time.perf_counter()
            net.advance(END)
            best[name] = min(best[name], time.perf_counter() - t0)
            last[name] = r

    start()
    counted = Counted(gas, soot_model=model, clone=True)
    ct.ReactorNet([counted]).advance(END)
    n_eval = Counted.evaluations

    # two states of the sooting trajectory, alternated in the micro-timings
    r = last["fumivex2, with soot"]
    phase = r.phase
    states = []
    start()
    probe = fv.SootConstPressureReactor(gas, soot_model=model, clone=True)
    pnet = ct.ReactorNet([probe])
    for t in (0.5 * END, END):
        pnet.advance(t)
        states.append((probe.phase.T, probe.phase.P, probe.phase.Y.copy()))

    def timed(body):
        t0 = time.perf_counter()
        for i in range(CALLS):
            T, P, Y = states[i & 1]
            phase.TPY = T, P, Y
            body()
        return (time.perf_counter() - t0) / CALLS

    def phase_calls():
        phase.T, phase.P, phase.density, phase.viscosity, phase.mean_molecular_weight, phase.X

    LHS, RHS = np.ones(r.n_vars), np.zeros(r.n_vars)

    def ours():
        _fumivex2._network_soot_rows(r._ctx, LHS, RHS)
        _fumivex2._network_load(r._cell[0], r._cell[0])

    setting = timed(lambda: None)
    t_phase = timed(phase_calls) - setting
    t_ours = timed(ours) - setting - t_phase
    t_hooks = (best["Cantera + empty hooks"] - best["Cantera, gas only"]) / n_eval

    gas_only, soot = best["Cantera, gas only"], best["fumivex2, with soot"]
    print(f"constant-pressure batch reactor, ethylene/air phi 3, 1400 K, 1 atm, {END * 1e3:g} ms,"
          f" energy on ({gas.n_species} species)")
    print(f"  Cantera, gas only     {gas_only * 1e3:8.1f} ms  (T end {last['Cantera, gas only'].T:.1f} K)")
    print(f"  fumivex2, with soot   {soot * 1e3:8.1f} ms  (T end {r.T:.1f} K, soot volume "
          f"fraction {r.soot_volume_fraction:.3g})")
    print(f"  ratio                 {soot / gas_only:8.2f}   (target <= {TARGET:g})")
    print(f"per evaluation ({n_eval} evaluations of the soot reactor's equations):")
    print(f"  Cantera's call into Python (two hooks)  {t_hooks * 1e6:7.1f} us")
    print(f"  the phase's calls                        {t_phase * 1e6:7.1f} us")
    print(f"  ours (soot model and rows, in C++)       {t_ours * 1e6:7.1f} us")
    print(f"  whole run, extra over gas only           {(soot - gas_only) / n_eval * 1e6:7.1f} us")


if __name__ == "__main__":
    main()
