"""CSootGas: a plain gas-state record."""
import math

import pytest

import fumivex2 as fv

Av, kB, Pi = 6.02214076e23, 1.3806488e-23, 3.1415926535


def test_new_record_and_updates():
    g = fv.CSootGas()
    assert (g._X, g._MWs, g.T, g.P, g.rho, g.mu, g.mean_MW, g.n_species) == ([], [], 0, 0, 0, 0, 0, 0)
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        g.lambda_gas
    g.update_TPX(1500.0, 101325.0, [0.1, 0.9])
    assert (g.T, g.P, g._X, g.rho, g.n_species) == (1500.0, 101325.0, [0.1, 0.9], 0.0, 0)
    with pytest.raises(ZeroDivisionError):
        g._lambda_gas()
    g.update(T=1600.0, P=2e5, X=(0.3, 0.7), rho=0.4, mu=5e-5, mean_MW=28.0)  # kg/kmol kept as given
    g.update_MWs([2.016, 28.014])
    assert g.mean_MW == 28.0 and g.n_species == 2
    lam = (5e-5 / 0.4) * (28.0 * Pi / (kB * 2 * Av * 1600.0)) ** 0.5
    assert g.lambda_gas == g._lambda_gas() == pytest.approx(lam, rel=1e-14)
    g.update_mean_MW(0.028)
    assert g.lambda_gas == pytest.approx(lam / math.sqrt(1000.0), rel=1e-12)
    g.update_rho(0.5)
    g.update_mu(4e-5)
    assert (g._rho, g._mu) == (0.5, 4e-5)
    assert g.X(1) == 0.7 and g.MW(0) == 2.016
    assert g.Y(1) == 0.7 * 28.014 / 0.028
    assert g.C(0) == 0.3 * 0.5 / 0.028
    mws = g.MWs
    mws.append(1.0)
    assert g.n_species == 2  # MWs is a copy


def test_failed_updates_leave_the_record_unchanged():
    g = fv.CSootGas()
    g.update(1.0, 2.0, [0.5], 3.0, 4.0, 5.0)
    with pytest.raises(TypeError):
        g.update(10.0, 20.0, [0.5], 30.0, 40.0, "x")
    with pytest.raises(TypeError):
        g.update_TPX(10.0, 20.0, [0.5, None])
    with pytest.raises(TypeError, match=r"update_TPX\(\) takes exactly 3 positional arguments \(2 given\)"):
        g.update_TPX(10.0, 20.0)
    assert (g.T, g.P, g._X, g.rho, g.mu, g.mean_MW) == (1.0, 2.0, [0.5], 3.0, 4.0, 5.0)
    with pytest.raises(AttributeError):
        g._mean_MW = 3.0
    with pytest.raises(NotImplementedError, match="__del__"):
        del g._T


def test_indices_are_checked_and_zero_divisors_raise():
    g = fv.CSootGas()
    g.update_TPX(1.0, 1.0, [0.5, 0.5])
    g.update_MWs([1.0])
    for method in (g.X, g.MW, g.Y, g.C):
        with pytest.raises(IndexError):
            method(5)
        with pytest.raises(IndexError):
            method(-1)
    with pytest.raises(IndexError):
        g.Y(1)  # X has it, MWs not
    with pytest.raises(ZeroDivisionError, match="float division by zero"):
        g.Y(0)
    with pytest.raises(ZeroDivisionError, match="float division by zero"):
        g.C(0)
    with pytest.raises(TypeError):
        g.X("0")
    with pytest.raises(OverflowError):
        g.X(2**40)


def test_subclass_can_override_the_mean_free_path():
    class Fixed(fv.CSootGas):
        def _lambda_gas(self):
            return 1.0

    assert Fixed().lambda_gas == 1.0
