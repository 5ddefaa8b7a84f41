"""PRESCRIBED, NON-DEPLETING GAS: the soot loadings printed here are not those of a real flame.

The gas composition along the path is fixed in advance and soot formation does not consume
it: acetylene and the PAHs stay at their prescribed values however much soot forms, so the
soot keeps growing as no real flame would let it (tens of ppm for the default growth model,
an impossible volume fraction above 1 for irreversible dimerization). Use this script to see
how the five PAH growth models differ in form on the same gas, not for soot numbers. For a
reactor whose gas feels the soot, run `python3 -m fumivex2 pfr` or examples/soot_reactor.py;
for a burner flame, `python3 -m fumivex2 flame`.

The path: a gas parcel travels 3 ms through a rich premixed ethylene flame: the
temperature rises from 1400 K to 1900 K, acetylene and the aromatics A1-A4
peak in the early post-flame zone, O2 is consumed and OH appears. The four
soot variables are carried along the path with small explicit time steps and
the source terms and particle sizes are printed at a few stations.

Run:  python examples/soot_flame_path.py
"""
import numpy as np

import fumivex2 as fv

R = 8.31446261815324  # J/(mol K)
Av = 6.02214076e23    # 1/mol

# species, molar mass [kg/kmol]
SPECIES = [("N2", 28.014), ("C2H2", 26.038), ("H2", 2.016), ("H", 1.008), ("CO", 28.010),
           ("O2", 31.998), ("OH", 17.007), ("H2O", 18.015), ("CO2", 44.009),
           ("A1", 78.114), ("A2", 128.174), ("A3", 178.234), ("A4", 202.256)]
NAMES = [s for s, _ in SPECIES]
MW = np.array([m for _, m in SPECIES])
PAHS = [("A2", 10, 8), ("A3", 14, 10), ("A4", 16, 10)]  # naphthalene and larger
MODELS = ["reactive_dimerization", "self_collision", "self_collision_lump",
          "cross_linking", "irreversible_dimerization"]


def gas_at(t):
    """Temperature [K] and mole fractions at residence time t [s]."""
    s = t / 0.003
    T = 1400.0 + 500.0 * (1.0 - np.exp(-6.0 * s))
    bump = np.exp(-((s - 0.25) / 0.2) ** 2)  # early post-flame peak
    comp = {
        "C2H2": 0.006 + 0.01 * bump, "H2": 0.06, "H": 1e-4 + 3e-4 * bump, "CO": 0.08,
        "O2": 4e-3 * np.exp(-4.0 * s), "OH": 2e-4 + 1e-3 * s, "H2O": 0.12, "CO2": 0.03,
        "A1": 2e-4 * bump, "A2": 6e-5 * bump, "A3": 2e-5 * bump, "A4": 1e-5 * bump,
    }
    X = np.array([comp.get(n, 0.0) for n in NAMES])
    X[0] = 1.0 - X[1:].sum()
    return T, X


def new_model(name):
    m = fv.CSootModel()
    m.species_names = NAMES
    m.MWs = MW / 1000.0  # kg/mol
    m.PAH_index_in_gas = [NAMES.index(p) for p, _, _ in PAHS]
    m.PAH_Number_Carbon = [c for _, c, _ in PAHS]
    m.PAH_Number_Hydrogen = [h for _, _, h in PAHS]
    m.PAH_growth_model_name = name
    m.initialize()
    if name.startswith("self_collision"):
        m.initialize_stick_eff()
    return m


def state_at(m, t, y):
    """Loads the gas state at time t and the soot variables y into the model."""
    T, X = gas_at(t)
    P = 101325.0
    mean_MW = float(X @ MW)
    density = P * mean_MW / 1000.0 / (R * T)
    m.update_gas(T, P, density, 5.0e-5, mean_MW, X)
    m.update_solution(y)
    return np.array([m.S_N_agg(), m.S_N_pri(), m.S_C_tot(), m.S_H_tot()])


def run(m, t_end=0.003, stations=6, max_step=1e-6):
    """Explicit steps, each short enough that no variable loses more than 10 %."""
    y = np.array([m.N_agg_min, m.N_pri_min, m.C_tot_min, m.H_tot_min])
    rows, t = [], 0.0
    for k in range(stations + 1):
        t_station = t_end * k / stations
        while True:
            S = state_at(m, t, y)
            if t >= t_station:
                break
            y_now = np.array([m.N_agg, m.N_pri, m.C_tot, m.H_tot])  # clamped values
            losing = S < 0
            h = min(max_step, t_station - t)
            if losing.any():
                h = min(h, 0.1 * float(np.min(y_now[losing] / -S[losing])))
            y = y_now + h * S
            t = t_station if t_station - t - h < 1e-15 else t + h
        rows.append((t * 1e3, m.T, m.N_agg * Av * m.density * 1e-6, m.p_d_p * 1e9,
                     m.p_d_m * 1e9, m.volume_fraction() * 1e6, S[0], S[2]))
    return rows


HEADER = """\
Soot on a PRESCRIBED gas path: the gas is not depleted by the soot it forms, so the
loadings below (volume fractions, number densities) are not those of a real flame; they
compare the five PAH growth models on one gas. For a reactor whose gas feels the soot run
`python3 -m fumivex2 pfr` (or examples/soot_reactor.py)."""


def main():
    print(HEADER)
    head = ("t [ms]", "T [K]", "N [1/cm3]", "d_p [nm]", "d_m [nm]", "f_v [ppm]",
            "S_N_agg", "S_C_tot")
    for name in MODELS:
        m = new_model(name)
        print(f"\nPAH growth model: {name}")
        print("".join(f"{h:>12s}" for h in head))
        for r in run(m):
            print(f"{r[0]:12.2f}{r[1]:12.1f}{r[2]:12.3e}{r[3]:12.3f}{r[4]:12.4g}"
                  f"{r[5]:12.4g}{r[6]:12.3e}{r[7]:12.3e}")


if __name__ == "__main__":
    main()
