// fv::flame::soot_rows — the four soot rows of one grid point of the steady
// soot equations (steady.hpp states them), for the steady soot solve of a
// frozen flame (steady.cpp), and the step limiter of the soot variables, which
// the coupled species-and-soot solve (coupled.cpp, with soot rows of its own in
// flux form) shares.
//
// Units: N mol/kg, D m^2/s, S mol/(kg s), rows mol/(m^3 s).
#pragma once

#include "steady.hpp"

namespace fv::flame::soot_rows {

// Whether point i carries the interior rows (sources and all) rather than a
// boundary row.
bool interior(const SteadyProblem& p, long i);

// Residual R of the four rows of point i for the values Nprev (point i-1), Ni
// and Nnext (point i+1), with the model's D and S at point i. `big` gets the
// largest term of each row. Boundary rows ignore the neighbour they do not
// couple to (which may then be null). Reads rho[i], u[i] and the spacings.
void row_residual(const SteadyProblem& p, long i, const double* Nprev, const double* Ni,
                  const double* Nnext, double D, const double* S, double* R, double* big);

// Coefficients coupling row i to its neighbours, the same for all four
// variables: `lo` multiplies N[i-1], `up` N[i+1], `own` N[i], with D held at
// the model's value; g[k] is the derivative of row k in D (kg/m^4 times mol/kg).
void row_derivatives(const SteadyProblem& p, long i, const double* Nprev, const double* Ni,
                     const double* Nnext, double D, double& lo, double& own, double& up,
                     double* g);

// How far a Newton step dN of one soot variable N (mol/kg) is taken, with the
// model's floor a as the variable's scale: the change actually made.
//   - Growth of a non-negative value: dN as it is (soot rises by many decades
//     from its floor in a few steps).
//   - Any other step is taken in y = asinh(N / a), N = a sinh(y), which is N/a
//     near zero and ln(2N/a) far from it: a fall of a large value becomes a
//     division instead of an overshoot past zero, and a value may cross zero
//     or grow below it only to a few floors.
// The soot variables fall by many decades into an oxidation zone. A plain
// additive step, linearised where oxidation is fast, lands far below zero
// there, and below its floor the model reads the floor and no longer responds:
// Newton then cannot find its way back (measured on a counterflow flame).
// The change is never larger than dN itself.
double limited_change(double N, double dN, double a);

}  // namespace fv::flame::soot_rows
