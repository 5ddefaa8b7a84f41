"""The coupled species-and-soot solve (fumivex2.coupled.solve_coupled) on the shipped flames:
Cantera's own solve of each flame against the coupled solve on Cantera's grid, the Newton
iterations, pseudo-time steps and Jacobians, where the coupled solve's time goes (Cantera's
rates, rate derivatives and diffusion coefficients, the soot model, the rest: our rows,
Jacobian assembly and block elimination), and what the coupling changes: the coupled to
one-way ratios of the peak soot volume fraction and of pyrene and acetylene at the soot
peak (one way: the soot solved on Cantera's species on the same grid).

    python benchmarks/coupled_solve.py [burner] [burner-5kPa] [counterflow] [--refine]

Flames: the default burner flame (1 atm, temperature solved by Cantera, then held), the
docs' low-pressure burner at 5 kPa (measured-style temperature imposed) and the default
counterflow flame. Timings are wall-clock on whatever else the machine runs.
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


def cases():
    from fumivex2.cases import default_case, parse_case

    low = tomllib.loads("""
kind = "flame"
name = "ethylene-5kPa"
[inlet]
pressure = 5000.0
temperature = 300.0
composition = "C2H4:1, O2:1, AR:2.5"
[flame]
width = 0.05
mass_flux = 0.0
velocity = 0.25
temperature_profile = [[0.0, 0.002, 0.005, 0.01, 0.03, 0.05],
                       [400.0, 700.0, 1500.0, 1900.0, 1800.0, 1700.0]]
""")
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


def run(name, case, refine):
    from fumivex2 import coupled as C
    from fumivex2.species import case_soot_model

    gas, flame, cantera_seconds = cantera_flame(case)
    model = case_soot_model(gas, case)
    started = time.perf_counter()
    result = C.solve_coupled(gas, flame, model, refine=refine)
    seconds = time.perf_counter() - started
    coupled = [r for r in result.reports if str(r["stage"]).startswith("coupled")]
    rates = sum(r["seconds_rates"] for r in coupled)
    derivatives = sum(r["seconds_rate_jacobians"] for r in coupled)
    transport = sum(r["seconds_transport"] for r in coupled)
    viscosity = sum(r["seconds_viscosity"] for r in coupled)
    soot = sum(r["seconds_soot"] for r in coupled)
    solve = sum(r["seconds"] for r in coupled)
    print(f"\n== {name}: {len(flame.grid)} points on Cantera's grid"
          f"{' -> ' + str(result.grids[-1]) + ' refined' if refine else ''}")
    print(f"  Cantera's solve of the flame       {cantera_seconds:8.2f} s")
    print(f"  coupled solve (one-way start incl.) {seconds:8.2f} s  "
          f"(one-way soot {result.one_way_seconds:.2f} s)  ratio to Cantera "
          f"{seconds / cantera_seconds:.3f}")
    print(f"  {result.message}; started from the {result.start}")
    print(f"  Newton iterations {result.iterations}, pseudo-time steps {result.time_steps}, "
          f"Jacobians {result.jacobians}, rejected steps {result.rejected}, residual "
          f"evaluations {result.evaluations}")
    print(f"  time in the coupled solves {solve:.2f} s: Cantera rates {rates:.2f}, rate "
          f"derivatives {derivatives:.2f}, diffusion coefficients {transport:.2f}; viscosity "
          f"(C++) {viscosity:.2f}; soot model {soot:.2f}; the rest (rows, Jacobian assembly, "
          f"block elimination) {solve - rates - derivatives - transport - viscosity - soot:.2f}")
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


def main(argv):
    refine = "--refine" in argv
    names = [a for a in argv if not a.startswith("--")] or list(cases())
    all_cases = cases()
    for name in names:
        run(name, all_cases[name], refine)


if __name__ == "__main__":
    main(sys.argv[1:])
