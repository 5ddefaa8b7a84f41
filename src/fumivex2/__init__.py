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
    SOOT_COALES_TYPES,
    VALIDATION_CASES,
    VI,
    boundary_type,
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
]
# every enumeration member is also a module attribute
for _enum in (PAH_GROWTH_MODELS, SOOT_COALES_TYPES, VALIDATION_CASES, VI, boundary_type):
    for _member in _enum:
        globals()[_member.name] = _member
        __all__.append(_member.name)
del _enum, _member
