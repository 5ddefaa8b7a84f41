"""A soot-forming plug-flow reactor: rich ethylene/oxygen in nitrogen (equivalence ratio 3)
enters a 1 cm duct at 1000 K; the wall heats it to 1700 K within 5 cm and holds it there.
Gas chemistry comes from Cantera on the Appel-Bockhorn-Frenklach mechanism (shipped with
fumivex2), soot from CSootModel (pyrene as the only PAH, self-collision dimerization), and
SciPy's stiff BDF integrator advances the CPFROde right-hand side 30 cm down the duct. The
table shows temperature, acetylene and pyrene, soot volume fraction, particle number
density, primary-particle and mobility diameters, and how well the total carbon flux
(gas plus soot) is conserved.

Run (needs Cantera and SciPy:  pip install '.[examples]'):  python examples/soot_reactor.py
"""
import contextlib
import importlib.resources
import io
import sys

import numpy as np

import fumivex2 as fv


def main():
    try:
        import cantera as ct
        from scipy.integrate import solve_ivp
    except ImportError:
        print("soot_reactor: Cantera and SciPy are needed (pip install '.[examples]')")
        return 0
    mechanism = importlib.resources.files("fumivex2") / "data" / "abf.yaml"
    gas = ct.Solution(str(mechanism))
    gas.TPX = 1000.0, ct.one_atm, {"C2H4": 1.0, "O2": 1.0, "N2": 3.0}

    soot = fv.CSootModel()
    soot.species_names = gas.species_names
    soot.MWs = gas.molecular_weights / 1000.0          # kg/mol
    soot.PAH_index_in_gas = [gas.species_index("A4")]
    soot.PAH_Number_Carbon = [gas.n_atoms("A4", "C")]
    soot.PAH_Number_Hydrogen = [gas.n_atoms("A4", "H")]
    soot.PAH_growth_model_name = "self_collision"
    with contextlib.redirect_stdout(io.StringIO()):
        soot.initialize()
    soot.initialize_stick_eff()

    length, diameter = 0.3, 0.01                         # m
    rhs = fv.CPFROde(gas)
    rhs.soot_model = soot
    rhs.soot_enabled = True
    rhs.area, rhs.perimeter = np.pi * diameter ** 2 / 4, np.pi * diameter
    rhs._use_temp_value = True
    rhs.temp_value = np.array([[0.0, 0.05, length], [1000.0, 1700.0, 1700.0]])
    rhs.initialize()

    floors = [soot.N_agg_min, soot.N_pri_min, soot.C_tot_min, soot.H_tot_min]
    y0 = np.hstack([0.0, gas.density * 0.5, gas.T, gas.Y, floors])    # inlet at 0.5 m/s
    sol = solve_ivp(rhs, (0.0, length), y0, method="BDF", rtol=1e-8, atol=1e-20,
                    dense_output=True)
    if not sol.success:
        print("integration failed:", sol.message)
        return 1

    so = rhs.soot_offset
    n_C = np.array([gas.n_atoms(s, "C") for s in gas.species_names])

    def carbon_flux(y):                                    # mol C/(m^2 s)
        return y[1] * (1000.0 * y[3:so] @ (n_C / gas.molecular_weights) + y[so + 2])

    print(f"{'z cm':>6s} {'t ms':>7s} {'T K':>7s} {'X_C2H2':>9s} {'X_A4':>9s} {'fv ppm':>9s} "
          f"{'N 1/cm3':>9s} {'d_p nm':>7s} {'d_m nm':>7s} {'C flux err':>10s}")
    c0 = carbon_flux(y0)
    for z in (0.0, 0.02, 0.05, 0.1, 0.15, 0.2, 0.25, 0.3):
        y = sol.sol(z)
        rhs(z, y)                                          # sets the phase and the model here
        number = soot.N_agg * soot.Av * gas.density * 1e-6
        print(f"{100 * z:6.1f} {1000 * y[0]:7.2f} {y[2]:7.1f} {gas['C2H2'].X[0]:9.2e} "
              f"{gas['A4'].X[0]:9.2e} {1e6 * soot.volume_fraction():9.3e} {number:9.2e} "
              f"{1e9 * soot.d_p():7.2f} {1e9 * soot.d_m():7.2f} "
              f"{carbon_flux(y) / c0 - 1:10.1e}")
    print(f"{sol.t.size} steps, {sol.nfev} right-hand side evaluations")
    return 0


if __name__ == "__main__":
    sys.exit(main())
