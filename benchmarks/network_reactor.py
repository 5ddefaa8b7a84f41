"""A sooting constant-pressure batch reactor in a Cantera network against Cantera's own
gas-only reactor, timed side by side.

The problem: ethylene/air at equivalence ratio 3, 1400 K and 1 atm, energy equation on,
integrated for 10 ms by Cantera's ReactorNet (CVODES, its default tolerances) on the
shipped Appel-Bockhorn-Frenklach mechanism (101 species):

1. ``ct.IdealGasConstPressureReactor`` (gas only);
2. ``fumivex2.SootConstPressureReactor`` (the same gas, with soot).

Each figure is the least wall time of REPEATS runs. Within a repeat the kinds take turns
every END / SLICES of simulated time (net.advance to the same times; the integrator's
work is that of one advance to END to a few tenths of a percent), so that the machine's
changes of speed, which on a shared machine move a run by tens of percent within
seconds, fall on all kinds alike; the ratio of runs 2 and 1 is also given per repeat,
with its spread. Then, per evaluation of the right-hand side, where the extra time goes:

- Cantera's call into Python: the same run with a reactor whose two hooks (update_state,
  eval) are Python methods that do nothing, against the gas-only reactor, per evaluation
  (the soot reactor's hooks are the extension's functions, without a Python frame);
- the phase's calls: reading T, P, density, mean molar mass and mole fractions from the
  phase (the reactor itself reads T, P and density and makes the mole fractions and mean
  molar mass from its state), at states that cycle through STATES points of the
  trajectory so that neither Cantera's caches nor the viscosity's last states answer;
- the gas viscosity per call, the reactor's (``fumivex2.viscosity``, from T and X) against
  Cantera's ``phase.viscosity``, at those states, at an unchanged one, and at the columns
  of the integrator's finite-difference Jacobian (one mass fraction moved at the last
  state's temperature: ours answers from that state's sums, Cantera redoes its mixing
  sum);
- ours: the extension's work per evaluation (the soot model in C++, the rows added in
  place, the state copied), at the same cycled states, less the phase's calls and the
  viscosity at a new state.

Run after `pip install '.[run]'`:  python benchmarks/network_reactor.py
"""
import os
import pathlib
import sys
import time
import warnings

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
warnings.simplefilter("ignore", DeprecationWarning)

import numpy as np  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from jacobian_states import jacobian_columns  # noqa: E402

REPEATS = 9
END = 0.01          # s
TARGET = 1.5        # the soot reactor should take at most this many times Cantera's
CALLS = 4000        # calls per micro-timing
STATES = 8          # trajectory points cycled through in the micro-timings
SLICES = 20         # turns each kind takes in one repeat


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
    times = {k: [] for k in makers}
    last = {}
    for _ in range(REPEATS):
        nets = {}
        for name, make in makers.items():
            start()
            last[name] = r = make()
            nets[name] = ct.ReactorNet([r])
        # the kinds take turns every END / SLICES of the integration, so that each sees
        # the machine as the others do
        spent = dict.fromkeys(makers, 0.0)
        for t in np.linspace(END / SLICES, END, SLICES):
            for name, net in nets.items():
                t0 = time.perf_counter()
                net.advance(t)
                spent[name] += time.perf_counter() - t0
        for name in makers:
            times[name].append(spent[name])
    best = {k: min(v) for k, v in times.items()}
    ratios = np.array(times["fumivex2, with soot"]) / np.array(times["Cantera, gas only"])

    start()
    counted = Counted(gas, soot_model=model, clone=True)
    cnet = ct.ReactorNet([counted])
    cnet.advance(END)
    n_eval = Counted.evaluations
    n_jac = int(cnet.solver_stats["lin_rhs_evals"])

    # states of the sooting trajectory, cycled through in the micro-timings
    r = last["fumivex2, with soot"]
    phase = r.phase
    states = []
    start()
    probe = fv.SootConstPressureReactor(gas, soot_model=model, clone=True)
    pnet = ct.ReactorNet([probe])
    for t in np.linspace(END / STATES, END, STATES):
        pnet.advance(t)
        states.append((probe.phase.T, probe.phase.P, probe.phase.Y.copy()))

    def timed(body):
        t0 = time.perf_counter()
        for i in range(CALLS):
            T, P, Y = states[i % STATES]
            phase.TPY = T, P, Y
            body()
        return (time.perf_counter() - t0) / CALLS

    def phase_calls():
        phase.T, phase.P, phase.density

    mu = r._viscosity                       # the reactor's viscosity object
    cantera_viscosity = ct.Transport.viscosity.__get__
    TX = []
    for T, P, Y in states:
        phase.TPY = T, P, Y
        TX.append((phase.T, phase.X))

    # a Jacobian's columns at the last state: the state, then each mass fraction moved
    column_states, columns = jacobian_columns(phase, *states[-1])

    def ours_viscosity(same):
        t0 = time.perf_counter()
        for i in range(CALLS):
            T, X = TX[0 if same else i % STATES]
            mu(T, X)
        return (time.perf_counter() - t0) / CALLS

    def ours_columns():
        t0 = time.perf_counter()
        for i in range(CALLS):
            T, X = columns[i % len(columns)]
            mu(T, X)
        return (time.perf_counter() - t0) / CALLS

    def set_columns(body):
        t0 = time.perf_counter()
        for i in range(CALLS):
            T, P, Y = column_states[i % len(columns)]
            phase.TP = T, P
            phase.set_unnormalized_mass_fractions(Y)
            body()
        return (time.perf_counter() - t0) / CALLS

    def unchanged(body):
        t0 = time.perf_counter()
        for _ in range(CALLS):
            body()
        return (time.perf_counter() - t0) / CALLS

    def in_hand_loop():
        t0 = time.perf_counter()
        for i in range(CALLS):
            T, X = TX[i % STATES]
        return (time.perf_counter() - t0) / CALLS

    LHS, RHS = np.ones(r.n_vars), np.zeros(r.n_vars)

    def ours():
        _fumivex2._network_soot_rows(r._ctx, LHS, RHS)
        _fumivex2._network_load(r._cell[0], r._cell[0])

    # least of a few passes of each, the kinds alternating
    micro = {"setting": lambda: timed(lambda: None), "phase": lambda: timed(phase_calls),
             "ours": lambda: timed(ours), "loop": in_hand_loop,
             "mu new": lambda: ours_viscosity(False), "mu same": lambda: ours_viscosity(True),
             "Cantera mu new": lambda: timed(lambda: cantera_viscosity(phase)),
             "Cantera mu same": lambda: unchanged(lambda: cantera_viscosity(phase)),
             "mu columns": ours_columns,
             "setting columns": lambda: set_columns(lambda: None),
             "Cantera mu columns": lambda: set_columns(lambda: cantera_viscosity(phase)),
             "empty": lambda: unchanged(lambda: None)}
    m = {k: np.inf for k in micro}
    for _ in range(5):
        for k, f in micro.items():
            m[k] = min(m[k], f())
    setting = m["setting"]
    t_phase = m["phase"] - setting
    t_mu_new, t_mu_same = m["mu new"] - m["loop"], m["mu same"] - m["loop"]
    t_ct_new, t_ct_same = m["Cantera mu new"] - setting, m["Cantera mu same"] - m["empty"]
    t_mu_columns = m["mu columns"] - m["loop"]
    t_ct_columns = m["Cantera mu columns"] - m["setting columns"]
    t_ours = m["ours"] - setting - t_phase - t_mu_new
    t_hooks = (best["Cantera + empty hooks"] - best["Cantera, gas only"]) / n_eval

    gas_only, soot = best["Cantera, gas only"], best["fumivex2, with soot"]
    print(f"constant-pressure batch reactor, ethylene/air phi 3, 1400 K, 1 atm, {END * 1e3:g} ms,"
          f" energy on ({gas.n_species} species)")
    print(f"  Cantera, gas only     {gas_only * 1e3:8.1f} ms  (T end {last['Cantera, gas only'].T:.1f} K)")
    print(f"  fumivex2, with soot   {soot * 1e3:8.1f} ms  (T end {r.T:.1f} K, soot volume "
          f"fraction {r.soot_volume_fraction:.3g})")
    print(f"  ratio                 {soot / gas_only:8.2f}   (target <= {TARGET:g}: "
          f"{'met' if soot <= TARGET * gas_only else 'NOT met'})")
    print("  per repeat: " + " ".join(f"{x:.2f}" for x in ratios)
          + f"  (median {np.median(ratios):.2f}, {ratios.min():.2f} to {ratios.max():.2f}; "
          f"gas only {min(times['Cantera, gas only']) * 1e3:.0f} to "
          f"{max(times['Cantera, gas only']) * 1e3:.0f} ms)")
    print(f"per evaluation ({n_eval} evaluations of the soot reactor's equations, {n_jac} of "
          f"them for the integrator's finite-difference Jacobian):")
    print(f"  Cantera's call into Python (two hooks)  {t_hooks * 1e6:7.1f} us")
    print(f"  the phase's calls (T, P, rho)            {t_phase * 1e6:7.1f} us")
    print(f"  gas viscosity, ours from T and X         {t_mu_new * 1e6:7.1f} us   "
          f"(unchanged state {t_mu_same * 1e6:.2f} us)")
    print(f"  gas viscosity, Cantera's phase.viscosity {t_ct_new * 1e6:7.1f} us   "
          f"(unchanged state {t_ct_same * 1e6:.2f} us)")
    print(f"  gas viscosity at a Jacobian's columns     ours {t_mu_columns * 1e6:.1f} us, "
          f"Cantera's {t_ct_columns * 1e6:.1f} us   (one mass fraction moved)")
    print(f"  ours (soot model and rows, in C++)       {t_ours * 1e6:7.1f} us")
    print(f"  whole run, extra over gas only           {(soot - gas_only) / n_eval * 1e6:7.1f} us")
    print(f"  viscosity method: {r.viscosity_method}")


if __name__ == "__main__":
    main()
