"""The states of a finite-difference Jacobian's columns, for the viscosity timings."""
import numpy as np


def jacobian_columns(phase, T, P, Y):
    """The state (T K, P Pa, mass fractions Y), then each mass fraction moved in turn by
    sqrt(eps) of itself (1e-12 at the least), as an integrator's columns: the (T, P, Y) of
    each and the (T, X) the phase makes of them (mass fractions set unnormalised, as a
    reactor sets them). Leaves the phase at the last column."""
    states = [(T, P, np.array(Y, dtype=float))]
    for j in range(len(Y)):
        moved = states[0][2].copy()
        moved[j] += 1.49e-8 * max(abs(moved[j]), 1e-12)
        states.append((T, P, moved))
    TX = []
    for T_j, P_j, Y_j in states:
        phase.TP = T_j, P_j
        phase.set_unnormalized_mass_fractions(Y_j)
        TX.append((phase.T, phase.X))
    return states, TX
