"""Writes the two small Cantera flames the coupled-solve tests start from (run once; the
tests restore them and let Cantera converge them again under the installed version):

- coupled-burner.yaml: the shipped mixture (C2H4:1, O2:1.3, AR:2.5) at 1 atm, 0.08 kg/(m2 s),
  on 31 evenly spaced points over 12 mm, the temperature imposed (400 K at the burner, 1700
  K at 1.8 mm, 1800 K from 3.6 mm on) and the energy equation off;
- coupled-isothermal.yaml: the same burner and grid held at 1800 K throughout (no
  thermophoresis: the soot's transport conserves what it carries, for the balances);
- coupled-counterflow.yaml: ethylene against 35 % O2 in N2 at 1 atm, 8 mm apart, on 31
  evenly spaced points, its temperature solved.

    python tests/data/make_coupled_flames.py
"""
import pathlib

import cantera as ct
import numpy as np

import fumivex2

HERE = pathlib.Path(__file__).parent
MECHANISM = str(pathlib.Path(fumivex2.__file__).parent / "data" / "abf.yaml")


def burner(name, z, T):
    gas = ct.Solution(MECHANISM)
    gas.TPX = 300.0, ct.one_atm, "C2H4:1, O2:1.3, AR:2.5"
    flame = ct.BurnerFlame(gas, grid=np.linspace(0.0, 0.012, 31))
    flame.burner.mdot = 0.08
    flame.flame.set_fixed_temp_profile(np.array(z), np.array(T))
    flame.energy_enabled = False
    flame.solve(loglevel=0, refine_grid=False)
    flame.save(HERE / name, overwrite=True)


def counterflow():
    gas = ct.Solution(MECHANISM)
    gas.TP = 300.0, ct.one_atm
    flame = ct.CounterflowDiffusionFlame(gas, grid=np.linspace(0.0, 0.008, 31))
    flame.fuel_inlet.X = "C2H4:1"
    flame.fuel_inlet.T = 300.0
    flame.fuel_inlet.mdot = 0.23
    flame.oxidizer_inlet.X = "O2:0.35, N2:0.65"
    flame.oxidizer_inlet.T = 300.0
    flame.oxidizer_inlet.mdot = 0.235
    flame.solve(loglevel=0, refine_grid=False, auto=False)
    flame.save(HERE / "coupled-counterflow.yaml", overwrite=True)


if __name__ == "__main__":
    burner("coupled-burner.yaml", [0.0, 0.15, 0.3, 1.0], [400.0, 1700.0, 1800.0, 1800.0])
    burner("coupled-isothermal.yaml", [0.0, 1.0], [1800.0, 1800.0])
    counterflow()
