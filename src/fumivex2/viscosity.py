"""The gas mixture viscosity the soot model reads at every state, computed in the extension.

Cantera's mixture-averaged, multicomponent and unity-Lewis-number transport models all give
the mixture viscosity by Wilke's rule on pure-species fits in ln T. The extension's
``_MixtureViscosity`` does the same from the fits and molar masses read here once per
mechanism through Cantera's public API, at a few microseconds per new state instead of
Cantera's K^2 square roots and divisions, and agrees with ``gas.viscosity`` to round-off.
A state one variable away from one of the last four it evaluated in full (the columns of
an integrator's finite-difference Jacobian: one mass fraction moved at the same
temperature) costs O(K) from that state's sums, agreeing with a full evaluation to a few
units in the last place; ``calls`` counts the two kinds. Any other transport model
(ionized-gas, high-pressure, a user-defined one) keeps Cantera's own call.

- ``fast_viscosity(gas)``: the viscosity object for a phase, or None, and the name of the
  method, for drivers that hold a plain Cantera phase and already read its T and X;
- ``ViscositySolution``: a Cantera ``Solution`` whose ``viscosity`` property is the fast one,
  for code that reads ``phase.viscosity`` (the plug-flow reactor);
- ``viscosity_method(gas)``: the name of the method a phase's ``viscosity`` uses, for
  ``fumivex2 info`` and run summaries; ``NOT_USED`` for a run without soot, which reads
  no viscosity.
"""
from __future__ import annotations

import cantera as ct
import numpy as np

from . import _fumivex2

#: Cantera's transport models whose mixture viscosity is Wilke's rule on the species fits
WILKE_MODELS = frozenset({"mixture-averaged", "mixture-averaged-CK", "multicomponent",
                          "multicomponent-CK", "unity-Lewis-number"})

# Relative agreement with the phase's own species and mixture viscosities asked of a new
# viscosity object at the phase's present state: a guard against a Cantera whose fits or
# mixing rule differ from these (they would differ by far more), not a precision test.
_CHECK_RTOL = 1e-12

_CANTERA_VISCOSITY = ct.Transport.viscosity   # the descriptor ViscositySolution overrides

#: what a run's summary says of the gas viscosity when soot is off
NOT_USED = "not used (soot off)"


def _fit_coefficients(gas, ck: bool) -> list | None:
    """Each species' viscosity fit coefficients (4 for Chemkin-compatible fits of ln mu,
    5 for fits of sqrt(mu) / T^(1/4)), or None when a fit has another length."""
    n = 4 if ck else 5
    coefficients = [np.asarray(gas.get_viscosity_polynomial(k), dtype=float)
                    for k in range(gas.n_species)]
    return coefficients if all(c.shape == (n,) for c in coefficients) else None


def _close(ours, theirs) -> bool:
    ours, theirs = np.asarray(ours, dtype=float), np.asarray(theirs, dtype=float)
    return bool(np.all(np.abs(ours - theirs) <= _CHECK_RTOL * np.abs(theirs)))


def mixture_viscosity(gas):
    """A ``_MixtureViscosity`` reproducing ``gas.viscosity`` for the phase's species and
    transport model, called as ``mu(T, X)`` (Pa s at T in K and mole fractions X); None
    when the transport model computes the viscosity otherwise. It reads the fits as they
    are now: build a new one after changing the transport model, a fit or the species."""
    model = gas.transport_model
    if model not in WILKE_MODELS:
        return None
    ck = bool(getattr(gas, "CK_mode", model.endswith("-CK")))
    coefficients = _fit_coefficients(gas, ck)
    if coefficients is None:
        return None
    mu = _fumivex2._MixtureViscosity(gas.molecular_weights, coefficients,
                                     [ck] * gas.n_species)
    T = gas.T
    if not (_close(mu.species_viscosities(T), gas.species_viscosities)
            and _close(mu(T, gas.X), _CANTERA_VISCOSITY.__get__(gas))):
        return None
    return mu


def method_name(gas, mu) -> str:
    """The name of the viscosity method for a phase and its viscosity object (or None)."""
    model = gas.transport_model
    if mu is None:
        return f"Cantera ({model} transport)"
    return f"fumivex2 in C++ (Wilke's rule on Cantera's {model} species fits)"


def fast_viscosity(gas) -> tuple:
    """(mu, name): the phase's viscosity object (None for Cantera's own call) and the name
    of the method, for a summary."""
    mu = mixture_viscosity(gas)
    return mu, method_name(gas, mu)


def viscosity_method(gas) -> str:
    """The name of the method behind ``gas.viscosity``."""
    if isinstance(gas, ViscositySolution):
        return gas.viscosity_method
    return f"Cantera ({gas.transport_model} transport)"


_UNBUILT = object()


class ViscositySolution(ct.Solution):
    """A Cantera ``Solution`` whose ``viscosity`` is computed by the extension when the
    transport model is one of ``WILKE_MODELS`` (equal to Cantera's to round-off), and by
    Cantera otherwise. Built like ``ct.Solution``; ``ViscositySolution(origin=gas)`` shares
    the state of an existing phase. The species data are read again when the transport
    model, a viscosity fit or the species change through this object; make such changes
    through it rather than through another object sharing the phase."""

    _viscosity_rule = _UNBUILT    # made on first use when __init__ did not run (unpickling)

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._refresh_viscosity()

    def _refresh_viscosity(self) -> None:
        self._viscosity_rule = mixture_viscosity(self)

    @property
    def viscosity(self) -> float:
        """Dynamic viscosity of the mixture, Pa s."""
        rule = self._viscosity_rule
        if rule is _UNBUILT:
            self._refresh_viscosity()
            rule = self._viscosity_rule
        if rule is None:
            return _CANTERA_VISCOSITY.__get__(self)
        return rule(self.T, self.X)

    @property
    def viscosity_method(self) -> str:
        """The name of the method behind ``viscosity``."""
        if self._viscosity_rule is _UNBUILT:
            self._refresh_viscosity()
        return method_name(self, self._viscosity_rule)

    @property
    def transport_model(self) -> str:
        return ct.Transport.transport_model.__get__(self)

    @transport_model.setter
    def transport_model(self, model: str) -> None:
        ct.Transport.transport_model.__set__(self, model)
        self._refresh_viscosity()

    def set_viscosity_polynomial(self, i, values) -> None:
        super().set_viscosity_polynomial(i, values)
        self._refresh_viscosity()

    def add_species(self, species) -> None:
        super().add_species(species)
        self._refresh_viscosity()

    def modify_species(self, k, species) -> None:
        super().modify_species(k, species)
        self._refresh_viscosity()


def info_lines(file: str = "abf.yaml") -> list:
    """What ``fumivex2 info`` says of the gas viscosity: the method the reactors use on
    the mechanism of the default cases (shipped), and the rule for the others."""
    from .species import open_mechanism

    models = ", ".join(sorted(WILKE_MODELS))
    try:
        method = viscosity_method(ViscositySolution(origin=open_mechanism(file)))
    except Exception as e:  # a broken installation: say so, do not stop `info`
        method = f"unknown ({type(e).__name__}: {e})"
    return [f"gas viscosity in reactors with soot, on {file}: {method}",
            f"  computed in C++ for the transport models {models};",
            "  Cantera's own call for any other; flames use Cantera's (the flame's transport)"]

