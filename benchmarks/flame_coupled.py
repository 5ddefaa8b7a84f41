"""The coupled species-and-soot solve (fumivex2.coupled.solve_coupled) on the shipped flames:
Cantera's own solve of each flame against the coupled solve on Cantera's grid and refined
for the soot (refine=True with the solve's default criteria, as the run layer uses it), the Newton
iterations, pseudo-time steps and Jacobians, where the coupled solve's time goes (Cantera's
rates, rate derivatives and diffusion coefficients, the soot model, the rest: our rows,
Jacobian assembly and block elimination), and what the coupling changes: the coupled to
one-way ratios of the peak soot volume fraction and of pyrene and acetylene at the soot
peak (one way: the soot solved on Cantera's species on the same grid).

    python benchmarks/flame_coupled.py [burner] [burner-5kPa] [counterflow]
    python benchmarks/flame_coupled.py --robustness

Flames: the default burner flame (1 atm, temperature solved by Cantera, then held), the
docs' low-pressure burner at 5 kPa (measured-style temperature imposed) and the default
counterflow flame. Timings are wall-clock on whatever else the machine runs.

--robustness solves flames and options the solve was not tuned on (refinement criteria,
the other growth models, a lean and a hydrogen flame, 5 and 20 kPa, a counterflow flame at
three times the strain and one with 50 % O2, a finer Cantera grid, a second solve on the
same objects) and prints one row each: converged, scaled residual, points, Newton
iterations, pseudo-time steps, Jacobians, seconds, peak soot volume fraction and its
coupled to one-way ratio.
"""
import sys
import time
import tomllib

import numpy as np


def volume_fraction(gas, model, result, soot, Y):
    """The soot model's volume fraction at each point of a coupled result's grid for the
    soot values `soot` and mass fractions Y."""
    W = np.asarray(gas.molecular_weights)
    fv = np.zeros(len(result.grid))
    for i in range(len(result.grid)):
        Wbar = 1.0 / np.sum(Y[:, i] / W)
        X = Y[:, i] * Wbar / W
        gas.TPX = result.T[i], result.P, X
        model.update_gas(result.T[i], result.P, gas.density, gas.viscosity, Wbar, X.copy())
        model.update_solution(np.array(soot[:, i], dtype=float))
        fv[i] = model.volume_fraction()
    return fv


LOW_PRESSURE = """
kind = "flame"
name = "ethylene-{kPa}kPa"
[inlet]
pressure = {P}
temperature = 300.0
composition = "C2H4:1, O2:1, AR:2.5"
[flame]
width = 0.05
mass_flux = 0.0
velocity = 0.25
temperature_profile = [[0.0, 0.002, 0.005, 0.01, 0.03, 0.05],
                       [400.0, 700.0, 1500.0, 1900.0, 1800.0, 1700.0]]
"""


def cases():
    from fumivex2.cases import default_case, parse_case

    low = tomllib.loads(LOW_PRESSURE.format(kPa=5, P=5000.0))
    return {"burner": default_case("flame"), "burner-5kPa": parse_case(low),
            "counterflow": default_case("counterflow")}


def cantera_flame(case):
    from fumivex2 import counterflow as CF
    from fumivex2 import flame as F
    from fumivex2.species import open_mechanism, set_inlet

    gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
    started = time.perf_counter()
    if case.kind == "counterflow":
        flame, _ = CF.counterflow_flame(gas, case)
    else:
        set_inlet(gas, case.inlet)
        flame, _ = F.burner_flame(gas, case)
    return gas, flame, time.perf_counter() - started


def run(name, case):
    from fumivex2 import coupled as C
    from fumivex2.species import case_soot_model

    gas, flame, cantera_seconds = cantera_flame(case)
    model = case_soot_model(gas, case)
    print(f"\n== {name}: Cantera's solve of the flame {cantera_seconds:.2f} s on "
          f"{len(flame.grid)} points")
    for refine in (False, True):
        started = time.perf_counter()
        result = C.solve_coupled(gas, flame, model, refine=refine)
        seconds = time.perf_counter() - started
        report(gas, model, result, seconds, cantera_seconds,
               "refined for the soot" if refine else "on Cantera's grid")


def report(gas, model, result, seconds, cantera_seconds, what):
    coupled = [r for r in result.reports if str(r["stage"]).startswith("coupled")]
    rates = sum(r["seconds_rates"] for r in coupled)
    derivatives = sum(r["seconds_rate_jacobians"] for r in coupled)
    transport = sum(r["seconds_transport"] for r in coupled)
    viscosity = sum(r["seconds_viscosity"] for r in coupled)
    soot = sum(r["seconds_soot"] for r in coupled)
    solve = sum(r["seconds"] for r in coupled)
    ours = solve - rates - derivatives - transport - viscosity - soot
    share = lambda t: 100.0 * t / solve if solve > 0 else 0.0  # noqa: E731
    print(f"  -- coupled {what}: grids {result.grids}")
    print(f"  coupled solve (one-way start incl.) {seconds:8.2f} s  "
          f"(one-way soot {result.one_way_seconds:.2f} s)  ratio to Cantera's solve "
          f"{seconds / cantera_seconds:.3f}")
    print(f"  {result.message}; started from the {result.start}")
    print(f"  Newton iterations {result.iterations}, pseudo-time steps {result.time_steps}, "
          f"Jacobians {result.jacobians}, rejected steps {result.rejected}, residual "
          f"evaluations {result.evaluations}")
    print(f"  time in the coupled solves {solve:.2f} s: Cantera's rates {share(rates):.0f} %, "
          f"rate derivatives {share(derivatives):.0f} %, diffusion coefficients "
          f"{share(transport):.0f} % (Cantera in all {share(rates + derivatives + transport):.0f}"
          f" %); ours: viscosity {share(viscosity):.0f} %, soot model {share(soot):.0f} %, "
          f"rows, Jacobian assembly and block elimination {share(ours):.0f} %")
    fv = volume_fraction(gas, model, result, result.soot, result.Y)
    fv1 = volume_fraction(gas, model, result, result.one_way_soot, result.one_way_Y)
    i, j = int(np.argmax(fv)), int(np.argmax(fv1))
    print(f"  peak soot volume fraction: coupled {fv[i]:.3e} at {result.grid[i] * 1000:.2f} mm, "
          f"one way {fv1[j]:.3e} at {result.grid[j] * 1000:.2f} mm: ratio {fv[i] / fv1[j]:.3f}")
    for s in ("A4", "C2H2"):
        k = gas.species_index(s)
        a, b = result.Y[k, i], result.one_way_Y[k, j]
        print(f"  {s} at the soot peak: coupled {a:.3e}, one way {b:.3e}: ratio {a / b:.3f}"
              f" (coupled at the one-way peak {result.Y[k, j] / b:.3f})")
    print(f"  largest soot mass per gas mass {result.max_soot_mass_ratio:.3e}")

# ---- robustness: the solve on flames and options chosen to break it -------------------------



def robustness_cases():
    """(label, case, solve_coupled options): flames and options the solve was not tuned on."""
    from fumivex2.cases import default_case, parse_case, with_overrides

    burner, counter = default_case("flame"), default_case("counterflow")
    coarse = dict(refine=True, slope=0.3, curve=0.5, ratio=3.0)   # Cantera's defaults
    finer = dict(refine=True, slope=0.05, curve=0.1, ratio=2.0, max_points=1500)
    out = [("burner", burner, {}),
           ("burner refine coarse", burner, coarse),
           ("burner refine", burner, dict(refine=True)),
           ("burner refine finer", burner, finer)]
    for growth in ("reactive_dimerization", "irreversible_dimerization", "cross_linking"):
        out.append((f"burner {growth}", with_overrides(burner, {"soot.growth_model": growth}),
                    {}))
    out += [("burner lean phi 0.7",
             with_overrides(burner, {"inlet.composition": "C2H4:1, O2:4.3, AR:12"}), {}),
            ("burner hydrogen", with_overrides(burner, {"inlet.composition": "H2:1, O2:0.8, AR:3"}),
             {}),
            ("burner finer Cantera grid",
             with_overrides(burner, {"flame.slope": 0.1, "flame.curve": 0.2}), {})]
    for kPa in (5, 20):
        out.append((f"burner {kPa} kPa",
                    parse_case(tomllib.loads(LOW_PRESSURE.format(kPa=kPa, P=kPa * 1000.0))), {}))
    out += [("counterflow", counter, {}),
            ("counterflow refine coarse", counter, coarse),
            ("counterflow refine", counter, dict(refine=True)),
            ("counterflow refine finer", counter, finer),
            ("counterflow strain x3", with_overrides(counter, {"counterflow.fuel_velocity": 0.6}),
             {}),
            ("counterflow 50 % O2",
             with_overrides(counter, {"counterflow.oxidizer": "O2:0.5, N2:0.5"}), {})]
    return out


def robustness():
    """Each case: converged?, scaled residual, grid points, Newton iterations, pseudo-time
    steps, Jacobians, coupled-solve seconds and the coupled to one-way ratio of peak soot
    volume fraction; the default burner is solved twice on the same objects."""
    from fumivex2 import coupled as C
    from fumivex2.species import case_soot_model

    flames = {}
    print(f"{'case':34s} {'conv':>5s} {'resid':>8s} {'pts':>5s} {'it':>4s} {'ts':>5s} "
          f"{'jac':>4s} {'s':>6s} {'peak fv':>9s} {'ratio':>7s}")
    for label, case, options in robustness_cases():
        key = (case.name, str(case.inlet) if case.kind == "flame" else str(case.counterflow),
               str(case.flame))
        try:
            if key not in flames:
                flames[key] = cantera_flame(case)
            gas, flame, _ = flames[key]
            model = case_soot_model(gas, case)
            runs = 2 if label == "burner" else 1
            for run_number in range(runs):
                result = C.solve_coupled(gas, flame, model, **options)
                fv = volume_fraction(gas, model, result, result.soot, result.Y)
                fv1 = volume_fraction(gas, model, result, result.one_way_soot, result.one_way_Y)
                name = label + (" (again)" if run_number else "")
                print(f"{name:34s} {str(result.converged):>5s} {result.residual:8.1e} "
                      f"{result.grids[-1] if result.grids else len(result.grid):5d} "
                      f"{result.iterations:4d} {result.time_steps:5d} {result.jacobians:4d} "
                      f"{result.seconds:6.2f} {fv.max():9.3e} "
                      f"{fv.max() / fv1.max() if fv1.max() > 0 else float('nan'):7.3f}",
                      flush=True)
                if not result.converged or "did not converge" in result.message:
                    print(f"    {result.message}", flush=True)
        except Exception as e:  # a crash is a finding: report it and go on
            print(f"{label:34s} raised {type(e).__name__}: {e}", flush=True)


def main(argv):
    if "--robustness" in argv:
        robustness()
        return
    names = [a for a in argv if not a.startswith("--")] or list(cases())
    all_cases = cases()
    for name in names:
        run(name, all_cases[name])


if __name__ == "__main__":
    main(sys.argv[1:])
