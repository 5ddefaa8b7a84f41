"""fumivex2: soot formation in combustion gases.

The compiled extension ``fumivex2._fumivex2`` holds the soot model
(``CSootModel``), the gas-state record (``CSootGas``), the plug-flow reactor
right-hand side (``CPFROde``), the flame soot solvers (``CFlameSolver``,
``CFlameSolverOpt``) and the enumerations;
this package re-exports its public names.
"""
from . import _fumivex2
from ._fumivex2 import (  # noqa: F401
    CFlameSolver,
    CFlameSolverOpt,
    CPFROde,
    CSootGas,
    CSootModel,
    PAH_GROWTH_MODELS,
    SteadyReport,
    SOOT_COALES_TYPES,
    VALIDATION_CASES,
    VI,
    boundary_type,
    pseudo_time_steps,
    solve_steady,
    steady_residual,
)

__all__ = [
    "CFlameSolver",
    "CFlameSolverOpt",
    "CPFROde",
    "CSootGas",
    "CSootModel",
    "PAH_GROWTH_MODELS",
    "SOOT_COALES_TYPES",
    "VALIDATION_CASES",
    "VI",
    "boundary_type",
    "SteadyReport",
    "pseudo_time_steps",
    "solve_steady",
    "steady_residual",
]
# every enumeration member is also a module attribute
for _enum in (PAH_GROWTH_MODELS, SOOT_COALES_TYPES, VALIDATION_CASES, VI, boundary_type):
    for _member in _enum:
        globals()[_member.name] = _member
        __all__.append(_member.name)
del _enum, _member

# The run layer, imported on first use (it needs Cantera, SciPy and pandas, which
# `import fumivex2` does not).
_LAZY = {
    "run_pfr": "pfr", "run_flame": "flame", "run_counterflow": "counterflow",
    "run_batch": "batch", "run_psr": "psr",
    "RunResult": "results",
    "Case": "cases", "CaseError": "cases", "CaseWarning": "cases", "default_case": "cases",
    "load_case": "cases",
    "with_overrides": "cases", "configure_soot_model": "species", "open_mechanism": "species",
    "SootReactor": "network", "SootConstPressureReactor": "network",
}


def __getattr__(name):
    module = _LAZY.get(name)
    if module is None:
        raise AttributeError(f"module 'fumivex2' has no attribute {name!r}")
    import importlib

    value = getattr(importlib.import_module(f".{module}", __name__), name)
    globals()[name] = value
    return value


def __dir__():
    return sorted(set(globals()) | set(_LAZY))
