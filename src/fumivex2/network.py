"""Soot in Cantera reactor networks: reactors to put where Cantera's ideal-gas reactors
stand.

``SootReactor(gas, ...)`` (constant volume, like ``ct.IdealGasReactor``) and
``SootConstPressureReactor(gas, ...)`` (like ``ct.IdealGasConstPressureReactor``) carry
the four soot variables ``N_agg``, ``N_pri``, ``C_tot`` and ``H_tot`` (mol per kg of gas)
as four more state components, integrated by Cantera's own ``ReactorNet`` with everything
a network holds: walls, mass flow controllers, valves, reservoirs, other reactors.

The equations are the plug-flow reactor's, written in time:

- soot variables: dX/dt = S_X + (sum over inlets of g_in X_in - X (g_out + dm/dt)) / m,
  with S_X the soot model's source (mol/(kg s)), m the gas mass (kg), dm/dt its change
  (kg/s: flows, surfaces and the mass soot takes included) and g the gas in a flow. X is
  the state's own value in every transport term; the model sees it clamped to its
  floors, so soot below the floors relaxes to what flows in like any other value.
- contents: a soot reactor holds its gas and its soot, m (1 + sigma) kg with
  sigma = C_tot W_C + H_tot W_H (kg of soot per kg of gas, the phase's atomic weights);
  ``soot_mass`` is m sigma. A flow device moves contents: of a flow mdot (kg/s) leaving a
  soot reactor, g = mdot / (1 + sigma) is gas and the rest soot at the reactor's X.
  A reservoir or a gas-only reactor sends gas alone. So a constant-pressure soot reactor
  behind a pressure controller, whose outflow equals its inflow, keeps its contents.
- gas: the species soot consumes and releases (the soot model's scrubbing rates
  scrub_k, kmol/(m^3 s), and with their steady-state switches off the pseudo-species'
  own rates in place of the phase's) leave or join the gas. The model's hydrogen
  bookkeeping is not exact by construction (its dimers keep the hydrogen of their PAHs
  while H2 is released; carbonization removes soot hydrogen with no gas product): the
  difference is exchanged with the gas as H2, so that the gas loses exactly the mass the
  soot gains and the network conserves mass and every element, gas + soot. This is the
  one difference from the plug-flow reactor: on a sooting ethylene pyrolysis the results
  differ from it by up to 1e-4 relative; not at all for a model without those offsets
  (cross-linking without carbonization).
- energy: soot formation is thermally neutral for the gas. The species soot takes leave
  at the gas temperature with their own partial molar enthalpy (constant pressure) or
  internal energy (constant volume), and released species join the same way, so the
  temperature equation is Cantera's unchanged; a flow's soot carries no enthalpy (only its
  gas does). The heat of soot formation, the heat capacity of soot and radiation are not
  included (soot holds well under 1 % of the mass in the conditions the model was made
  for), as in the plug-flow reactor.

Connections are checked when the network initialises: a soot reactor that feeds one in
the network must be in it too, on the same mechanism, and a soot reactor's outflow may go
to another soot reactor or to a reservoir, not to a gas-only reactor (which would count
its soot as gas). Initialising a network again (a new tolerance, reinitialize(), a new
network) goes on from the soot reached, as Cantera's gas does; flow devices added later
count from the next evaluation on.

Each evaluation of the network calls the extension twice per soot reactor: once to copy
the state Cantera hands over, once to add the soot terms to the equations in place (the
soot model runs in C++ when it is a plain CSootModel). The gas viscosity the soot model
reads is computed by the extension from the phase's species fits (``fumivex2.viscosity``)
when the transport model is one whose viscosity is Wilke's rule, equal to Cantera's to
round-off at a tenth of its cost; otherwise it is the phase's own. ``viscosity_method``
names the one in use. The soot model is given the phase's temperature, pressure and
density, and mole fractions and mean molar mass made from the reactor's mass fractions
exactly as the phase makes them (checked to the bit when the network initialises; read
from the phase otherwise), which spares Cantera a new array per evaluation.
"""
from __future__ import annotations

import difflib
import functools

import cantera as ct
import numpy as np

from . import _fumivex2
from . import viscosity as _viscosity
from .results import SOOT_FLOORS, SOOT_VARIABLES

__all__ = ["SootReactor", "SootConstPressureReactor", "SOOT_COMPONENTS"]

SOOT_COMPONENTS = SOOT_VARIABLES
# network initialisations: each soot reactor records the one it was initialised in, so
# that a reactor can tell whether the soot reactors feeding it are in its network
_PASS = {"epoch": 0, "open": False}
# case-file tables whose keys a soot reactor takes as options
_OPTION_TABLES = ("soot", "species")


def _soot_model_from_options(gas, options: dict):
    """A soot model for `gas` from [soot] and [species] case-file keys, with the run layer's
    defaults and its checks of names and values."""
    from dataclasses import fields

    from .cases import CaseError, SootSpec, SpeciesSpec, parse_case
    from .species import case_soot_model

    tables: dict = {t: {} for t in _OPTION_TABLES}
    known = {f.name: "soot" for f in fields(SootSpec) if f.name != "enabled"}
    known.update({f.name: "species" for f in fields(SpeciesSpec)})
    for key, value in options.items():
        if key not in known:
            close = difflib.get_close_matches(key, list(known), n=2, cutoff=0.6)
            hint = f" (did you mean {', '.join(map(repr, close))}?)" if close else \
                f" (soot options: {', '.join(sorted(known))})"
            raise TypeError(f"soot reactor got an unexpected keyword argument {key!r}{hint}")
        tables[known[key]][key] = value
    try:
        case = parse_case(tables, source="soot reactor")
    except CaseError as e:
        raise ValueError(str(e)) from None
    return case_soot_model(gas, case)


# Cantera 3.2 names a reactor's own Solution `phase`, earlier versions `thermo`
_PHASE_NAMES = tuple(n for n in ("phase", "thermo") if hasattr(ct.ReactorBase, n))
_CANTERA_PHASE = getattr(ct.ReactorBase, _PHASE_NAMES[0])


def reactor_phase(reactor):
    """A Cantera reactor's own Solution, as Cantera holds it (for a soot reactor, without
    giving a clone its transport model: see _SootReactorBase._user_phase)."""
    return _CANTERA_PHASE.__get__(reactor)


def _label(reactor) -> str:
    """A reactor's name for messages (Cantera's default name is '(none)')."""
    name = reactor.name
    if name and name != "(none)":
        return repr(name)
    return f"an unnamed {type(reactor).__name__}"


def _check_model(model, gas) -> None:
    """The soot model must have been configured for this phase's species."""
    try:
        mws = np.asarray(model.MWs, dtype=float)
    except (AttributeError, TypeError, ValueError):
        raise TypeError(f"soot_model must be a configured CSootModel, got "
                        f"{type(model).__name__}") from None
    W = np.asarray(gas.molecular_weights) / 1000.0  # kg/mol
    if mws.shape != W.shape or not np.allclose(mws, W, rtol=1e-12, atol=0.0):
        raise ValueError(f"the soot model was configured for a mechanism with {mws.size} "
                         f"species, not for this phase ({gas.n_species} species): configure it "
                         f"with this phase (fumivex2.configure_soot_model(gas, ...))")


def _inverse_molar_masses(phase, W):
    """1 / W_k (kg/kmol), with which the extension makes the mole fractions and mean
    molar mass from the reactor's mass fractions as the phase does (ym_k = Y_k / W_k
    as Y_k (1 / W_k), s = sum of ym_k in order, X_k = ym_k (1 / s)), sparing Cantera a
    new array per evaluation; None, so that they are read from the phase, where the
    phase's own values at its present state differ from that in any bit."""
    rW = 1.0 / W
    Y = phase.Y
    ym = Y * rW
    s = 0.0
    for v in ym.tolist():
        s += v
    if s > 0.0 and 1.0 / s == phase.mean_molecular_weight and \
            np.array_equal(ym * (1.0 / s), phase.X):
        return rW
    return None


class _SootReactorBase:
    """The soot part of a soot reactor (mixed into Cantera's extensible reactors)."""

    def __init__(self, gas, *, soot_model=None, energy="on", name=None, clone=None,
                 **options):
        if soot_model is not None and options:
            raise TypeError(f"give either soot_model or soot options, not both (got "
                            f"{', '.join(sorted(options))})")
        model = soot_model if soot_model is not None else _soot_model_from_options(gas, options)
        _check_model(model, gas)
        kwargs = {"energy": energy}
        if name is not None:
            kwargs["name"] = name
        if clone is not None:
            kwargs["clone"] = clone
        # [state copy, offset of the soot variables, offset of the species, the network
        # initialisation it belongs to, phase]: read by downstream soot reactors
        self._cell = [None, None, None, None, None]
        self._ctx = None
        self._box = [None]   # the context, as the extension's hook reads it
        # Cantera's hooks: the extension's functions themselves, bound to the cell and the
        # context, so that an evaluation runs no Python code of its own; a subclass that
        # overrides a hook keeps its method
        cls = type(self)
        if cls.after_update_state is _SootReactorBase.after_update_state:
            self.after_update_state = functools.partial(_fumivex2._network_load, self._cell)
        if cls.after_eval is _SootReactorBase.after_eval:
            self.after_eval = functools.partial(_fumivex2._network_eval, self._box)
        self._transport_pending = None
        super().__init__(gas, **kwargs)
        contents = self._contents()
        # the mixture viscosity object (None: the phase's own call) and its method's name,
        # from the given phase's fits (a copy has the same species); read again from the
        # reactor's phase when the network initialises once that phase has transport
        self._viscosity, self._viscosity_method = _viscosity.fast_viscosity(gas)
        if contents is not gas and contents.transport_model != gas.transport_model:
            # Cantera's copy of the phase comes without transport. Making Cantera's
            # transport object fits every species pair (about 0.2 s for a hundred
            # species), and the viscosity object made from the same species' fits above
            # needs none: the copy is given the transport model only when the phase's
            # own viscosity call is used, or when the user reads the reactor's phase.
            if self._viscosity is None:
                contents.transport_model = gas.transport_model
            else:
                self._transport_pending = gas.transport_model
        self._soot_model = model
        # kg/mol: the phase's own atomic weights, so that soot and gas count elements alike
        self._weights = tuple(contents.atomic_weight(e) / 1000.0 for e in ("C", "H"))
        self._soot = np.array([getattr(model, f) for f in SOOT_FLOORS], dtype=float)

    def _user_phase(self, g):
        """The reactor's phase `g` as users see it: a clone gets the transport model of the
        phase it was made from the first time it is read."""
        pending = self.__dict__.get("_transport_pending")
        if pending is not None:
            self._transport_pending = None
            g.transport_model = pending
        return g

    # ---- Cantera's hooks ---------------------------------------------------------------

    def after_initialize(self, t0):
        # the soot it holds now: a network initialised again (a new tolerance, a new
        # network) goes on from the state reached, as Cantera's gas does
        soot = np.array(self._current(), dtype=float)
        if not _PASS["open"]:
            _PASS["epoch"] += 1
            _PASS["open"] = True
        n0 = self.n_vars
        self.n_vars = n0 + len(SOOT_COMPONENTS)
        phase = self._contents()
        state = np.zeros(self.n_vars)
        state[n0:] = soot
        species_offset = self.component_index(phase.species_name(0))
        self._cell[:] = [state, n0, species_offset, _PASS["epoch"], phase]
        if self._transport_pending is None:
            # the phase's transport as it is now (the user may have changed it)
            self._viscosity, self._viscosity_method = _viscosity.fast_viscosity(phase)
        W = np.ascontiguousarray(phase.molecular_weights, dtype=float)
        self._ctx = (self, phase, self._soot_model, self._cell, species_offset,
                     self.component_index("temperature"), W,
                     isinstance(self, ct.ExtensibleIdealGasReactor), _SootReactorBase,
                     int(self._soot_model.H2_index), self._weights, self._viscosity,
                     _inverse_molar_masses(phase, W))
        self._box[0] = self._ctx

    def after_get_state(self, y):
        # the current values: the initial ones until the network integrates, then those
        # it reached (ReactorNet.get_state, reinitialize and the steady-state tools read
        # them here). Every reactor of a network is initialised before the first of
        # them is asked for its state, so the connections are checked here.
        _PASS["open"] = False
        n0 = self._cell[1]
        np.asarray(y)[n0:n0 + len(SOOT_COMPONENTS)] = self._current()
        self._check_connections()

    def after_update_state(self, y):
        _fumivex2._network_load(self._cell[0], y)

    def after_eval(self, t, LHS, RHS):
        _fumivex2._network_soot_rows(self._ctx, LHS, RHS)

    def before_component_name(self, i):
        n0 = self._n_gas()
        if isinstance(i, int) and n0 <= i < n0 + len(SOOT_COMPONENTS):
            return SOOT_COMPONENTS[i - n0]
        return None

    def before_component_index(self, name):
        if name in SOOT_COMPONENTS:
            return self._n_gas() + SOOT_COMPONENTS.index(name)
        if name in ("mass", "volume", "temperature") or name in self._contents().species_names:
            return None
        close = difflib.get_close_matches(str(name), list(SOOT_COMPONENTS)
                                          + list(self._contents().species_names), n=3)
        hint = f" (did you mean {', '.join(map(repr, close))}?)" if close else ""
        raise KeyError(f"{self.name} has no component {name!r}: its components are mass, "
                       f"temperature, the species and {', '.join(SOOT_COMPONENTS)}{hint}")

    def _check_connections(self) -> None:
        """Refuse, when the network initialises, the flows whose soot cannot be
        accounted for: from a soot reactor outside this network or on another mechanism,
        and into a reactor that carries no soot."""
        epoch = self._cell[3]
        species = self._contents().species_names
        for device in self.inlets:
            up = device.upstream
            if not isinstance(up, _SootReactorBase):
                continue  # a reservoir or a gas-only reactor: gas alone
            via = f"through a {type(device).__name__}"
            if up._cell[0] is None or up._cell[3] != epoch:
                raise ValueError(
                    f"soot reactor {_label(up)} feeds {_label(self)} ({via}) but is not in "
                    f"this network: add it to the ReactorNet together with {_label(self)}, "
                    f"e.g. ct.ReactorNet([upstream, downstream])")
            if up._contents().species_names != species:
                raise ValueError(
                    f"soot reactor {_label(up)} feeds {_label(self)} ({via}) with another "
                    f"mechanism's species: connected soot reactors must share the mechanism")
        for device in self.outlets:
            down = device.downstream
            if isinstance(down, (_SootReactorBase, ct.Reservoir)):
                continue
            raise ValueError(
                f"soot reactor {_label(self)} flows into {_label(down)} (through a "
                f"{type(device).__name__}), a Cantera {type(down).__name__}, which carries "
                f"no soot: the soot in the flow would be counted as gas there. Make the "
                f"downstream "
                f"reactor a fumivex2.SootReactor or fumivex2.SootConstPressureReactor, or "
                f"let the flow leave to a ct.Reservoir")

    # ---- soot for users -----------------------------------------------------------------

    @property
    def soot_model(self):
        """The soot model in use (a CSootModel)."""
        return self._soot_model

    @property
    def viscosity_method(self) -> str:
        """How the gas viscosity given to the soot model is computed: by the extension
        from the phase's species fits, or by Cantera's own call for a transport model
        whose viscosity is not Wilke's rule on them."""
        return self._viscosity_method

    @property
    def gas_viscosity(self) -> float:
        """The gas viscosity at the reactor's state as the soot model is given it, Pa s."""
        g = self._contents()
        if self._viscosity is None:
            return float(g.viscosity)
        return float(self._viscosity(g.T, g.X))

    @property
    def soot_state(self) -> np.ndarray:
        """[N_agg, N_pri, C_tot, H_tot] in mol per kg of gas: the network's current values
        once it has integrated, else the initial values (default the model's floors).
        Values below the floors mean no soot (a reactor without soot settles a little
        below them, by its sources evaluated at the floors). Set before the network
        integrates; after that, call the network's reinitialize() for a new value to take
        effect, as for the gas state."""
        return self._current().copy()

    @soot_state.setter
    def soot_state(self, values):
        v = np.array(values, dtype=float).reshape(-1)
        if v.shape != (len(SOOT_COMPONENTS),):
            raise ValueError(f"soot_state takes {len(SOOT_COMPONENTS)} values "
                             f"({', '.join(SOOT_COMPONENTS)}, mol/kg), got {v.size}")
        if not np.all(np.isfinite(v)) or np.any(v < 0):
            raise ValueError(f"soot_state values must be finite and not negative, got "
                             f"{list(values)}")
        self._soot = v
        if self._cell[0] is not None:
            self._cell[0][self._cell[1]:] = v

    @property
    def soot_mass(self) -> float:
        """Mass of the soot in the reactor, kg: the gas mass (`mass`) times
        C_tot W_C + H_tot W_H, with the phase's atomic weights. The reactor's contents are
        its gas and its soot; a flow device leaving it carries both, in this proportion."""
        _, _, C, H = self._current()
        W_C, W_H = self._weights
        return float(self.mass * (C * W_C + H * W_H))

    @property
    def soot_volume_fraction(self) -> float:
        """Soot volume fraction, m^3 of soot per m^3."""
        return float(self._model_here().volume_fraction())

    @property
    def number_density(self) -> float:
        """Aggregate number density, 1/m^3."""
        m = self._model_here()
        return float(m.N_agg * m.Av * self._contents().density)

    @property
    def primary_diameter(self) -> float:
        """Primary-particle diameter, m."""
        return float(self._model_here().d_p())

    @property
    def mobility_diameter(self) -> float:
        """Aggregate mobility diameter, m."""
        return float(self._model_here().d_m())

    # ---- helpers ------------------------------------------------------------------------

    def _contents(self):
        return reactor_phase(self)

    def _n_gas(self) -> int:
        n0 = self._cell[1]
        return self.n_vars if n0 is None else n0

    def _current(self) -> np.ndarray:
        state, n0 = self._cell[0], self._cell[1]
        if state is None:
            return self._soot
        return state[n0:n0 + len(SOOT_COMPONENTS)]

    def _model_here(self):
        """The soot model given this reactor's gas and soot state."""
        g = self._contents()
        m = self._soot_model
        m.update_gas(g.T, g.P, g.density, self.gas_viscosity, g.mean_molecular_weight, g.X)
        m.update_solution(np.array(self._current(), dtype=float))
        return m


def _phase_property(name):
    def get(self):
        return self._user_phase(getattr(super(_SootReactorBase, self), name))
    get.__doc__ = getattr(ct.ReactorBase, name).__doc__
    return property(get)


for _name in _PHASE_NAMES:
    setattr(_SootReactorBase, _name, _phase_property(_name))
del _name


class SootReactor(_SootReactorBase, ct.ExtensibleIdealGasReactor):
    """A constant-volume ideal-gas reactor with soot (in place of ct.IdealGasReactor).

    SootReactor(gas, *, soot_model=None, energy="on", name=None, clone=None, **options):
    options are the [soot] and [species] keys of case files (growth_model, alpha_model,
    coalescence, validation, sticking, switches, pahs, aliases) with the run layer's
    defaults; soot_model, a configured CSootModel (fumivex2.configure_soot_model), is used
    instead. The soot variables are the state components "N_agg", "N_pri", "C_tot" and
    "H_tot" (component_index), set before integration through soot_state."""


class SootConstPressureReactor(_SootReactorBase, ct.ExtensibleIdealGasConstPressureReactor):
    """A constant-pressure ideal-gas reactor with soot (in place of
    ct.IdealGasConstPressureReactor); arguments as SootReactor."""
