// Tests of the numeric core on its own, without Python: the checked arithmetic,
// the gas record, the C++ selectors, initialisation, update_solution on a raw
// array, the vector host, and the element balance of one evaluation point.
// Every failed check is printed; the exit status is the number of failures
// (capped at 125), so CTest reports the run as failed.
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "common/checked.hpp"
#include "common/numpy_math.hpp"
#include "flame/block_newton.hpp"
#include "flame/flame_rows.hpp"
#include "flame/steady.hpp"
#include "gas/soot_gas.hpp"
#include "reactor/plug_flow.hpp"
#include "soot/vector_host.hpp"

using fv::Error;
using fv::ErrorKind;
using namespace fv::soot;

namespace {

int g_checks = 0;
int g_failures = 0;

void report(bool ok, const std::string& what, int line) {
  ++g_checks;
  if (!ok) {
    ++g_failures;
    std::printf("FAILED line %d: %s\n", line, what.c_str());
  }
}

#define CHECK(cond) report((cond), #cond, __LINE__)

// |a - b| <= rel |b|
#define CHECK_CLOSE(a, b, rel)                                                          \
  do {                                                                                  \
    const double a_ = (a), b_ = (b);                                                    \
    char buf_[256];                                                                     \
    std::snprintf(buf_, sizeof buf_, "%s = %.17g, expected %.17g", #a, a_, b_);         \
    report(std::fabs(a_ - b_) <= (rel) * std::fabs(b_), buf_, __LINE__);                \
  } while (0)

// expr throws fv::Error of the given kind and exact message (nullptr: any message).
template <class F>
void check_throws(F&& f, ErrorKind kind, const char* message, const char* what, int line) {
  try {
    f();
  } catch (const Error& e) {
    const bool ok = e.kind() == kind && (!message || std::string(e.what()) == message);
    report(ok, std::string(what) + " threw \"" + e.what() + "\" of kind " +
                   std::to_string(static_cast<int>(e.kind())),
           line);
    return;
  }
  report(false, std::string(what) + " did not throw", line);
}
#define CHECK_THROWS(expr, kind, message) \
  check_throws([&] { (void)(expr); }, ErrorKind::kind, message, #expr, __LINE__)

// The constants as this test knows them (literal values, not the core's).
constexpr double kAv = 6.02214076e23;
constexpr double kKB = 1.3806488e-23;
constexpr double kR = 8.31446261815324;
constexpr double kPi10 = 3.1415926535;

// ---- checked arithmetic and element access -------------------------------------

void test_checked_arithmetic() {
  CHECK(fv::fdiv(1.0, 4.0) == 0.25);
  CHECK(fv::fdiv(-3.0, 2.0) == -1.5);
  CHECK(std::isnan(fv::fdiv(1.0, std::nan(""))));  // only an exact zero is refused
  CHECK_THROWS(fv::fdiv(1.0, 0.0), ZeroDivision, "float division");
  CHECK_THROWS(fv::fdiv(0.0, -0.0), ZeroDivision, "float division");
  CHECK(fv::pydiv(7.0, 2.0) == 3.5);
  CHECK_THROWS(fv::pydiv(1.0, 0.0), ZeroDivision, "float division by zero");
  CHECK_THROWS(fv::pydiv(1.0, -0.0), ZeroDivision, "float division by zero");

  std::vector<double> v = {1.5, 2.5, 3.5};
  const std::vector<double>& cv = v;
  CHECK(FV_AT(v, 2) == 3.5 && FV_AT(cv, 0) == 1.5);
  FV_AT(v, 1) = 9.0;
  CHECK(v[1] == 9.0);
  CHECK_THROWS(FV_AT(v, 3), Index, "index 3 is out of range for v of length 3");
  CHECK_THROWS(FV_AT(cv, -1), Index, "index -1 is out of range for cv of length 3");
  std::vector<int> empty;
  CHECK_THROWS(FV_AT(empty, 0), Index, "index 0 is out of range for empty of length 0");
}

// ---- gas record ------------------------------------------------------------------

void test_soot_gas() {
  fv::gas::SootGas g;
  g.X = {0.25, 0.75};
  g.MWs = {0.002, 0.028};
  g.mu = 1.8e-5;
  g.T = 1200.0;
  g.P = 1.0e5;
  g.rho = 0.3;
  g.mean_MW = 0.0215;
  CHECK_CLOSE(g.lambda_gas(),
              (1.8e-5 / 0.3) * std::sqrt(0.0215 * kPi10 / (kKB * 2.0 * kAv * 1200.0)), 1e-15);
  CHECK(g.mole_fraction(1) == 0.75 && g.molar_mass(0) == 0.002);
  CHECK_CLOSE(g.mass_fraction(1), 0.75 * 0.028 / 0.0215, 1e-15);
  CHECK_CLOSE(g.concentration(0), 0.25 * 0.3 / 0.0215, 1e-15);
  CHECK_THROWS(g.mole_fraction(2), Index, "index 2 is out of range for X of length 2");
  CHECK_THROWS(g.molar_mass(-1), Index, "index -1 is out of range for MWs of length 2");
  g.X.push_back(0.5);  // X longer than MWs: the molar mass is missing
  CHECK(g.mole_fraction(2) == 0.5);
  CHECK_THROWS(g.mass_fraction(2), Index, "index 2 is out of range for MWs of length 2");
  CHECK_THROWS(g.concentration(3), Index, "index 3 is out of range for X of length 3");

  g.mean_MW = 0.0;
  CHECK_THROWS(g.mass_fraction(0), ZeroDivision, "float division by zero");
  CHECK_THROWS(g.concentration(0), ZeroDivision, "float division by zero");
  g.rho = 0.0;
  CHECK_THROWS(g.lambda_gas(), ZeroDivision, "float division");
  g.rho = 0.3;
  g.T = 0.0;
  CHECK_THROWS(g.lambda_gas(), ZeroDivision, "float division");
}

// ---- selectors -------------------------------------------------------------------

std::string slot_name(SootModel& m, SlotId s) {
  const Slot& sl = m.slots[static_cast<int>(s)];
  if (sl.kind == Slot::Kind::None) return "None";
  if (sl.kind == Slot::Kind::External) return "external";
  return method_info(sl.method).name;
}

void test_defaults_and_growth_model_selector() {
  StandaloneSootModel m;
  CHECK(m.PAH_growth_model == 1 && m._alpha_model == 1 && m.validation_case == 0);
  CHECK(slot_name(m, SlotId::alpha) == "alpha_empirical");
  CHECK(slot_name(m, SlotId::beta_coag) == "beta_coag_hm");
  CHECK(slot_name(m, SlotId::diffus_coeff) == "diffus_coeff_morph");
  CHECK(slot_name(m, SlotId::t_coales) == "None" && slot_name(m, SlotId::N_pri_coales) == "None");
  CHECK(!m.coalescence_enabled && m.Ea_coales == 0.0 && m.As_coales == 0.0);
  CHECK(m.N_agg_min == 1.0 / kAv && m.C_tot_min == 378.0 / kAv && m.H_tot_min == 20.0 / kAv);
  CHECK(m.N_agg_offset == 0 && m.N_pri_offset == 1 && m.C_tot_offset == 2 && m.H_tot_offset == 3);

  const char* suffix[6] = {"", "reactived", "slfclsn", "slfclsn_lump", "crosslinking", "irrevd"};
  const char* slot_base[6] = {"inception_N_agg", "inception_C_tot", "inception_H_tot",
                              "PAH_growth_update", "create_PAH_dimer",
                              "update_scrub_wdot_PAH_growth"};
  const SlotId slots[6] = {SlotId::inception_N_agg,  SlotId::inception_C_tot,
                           SlotId::inception_H_tot,  SlotId::PAH_growth_update,
                           SlotId::create_PAH_dimer, SlotId::update_scrub_wdot_PAH_growth};
  for (int model : {3, 5, 2, 4, 1}) {
    m.set_PAH_growth_model(model);
    CHECK(m.PAH_growth_model == model);
    for (int i = 0; i < 6; ++i) {
      const std::string expected = std::string(slot_base[i]) + "_" + suffix[model];
      report(slot_name(m, slots[i]) == expected, "model " + std::to_string(model) + ": " +
                                                     slot_name(m, slots[i]) + " != " + expected,
             __LINE__);
    }
  }
  // unknown models are ignored: number and slots stay
  m.set_PAH_growth_model(3);
  for (int bad : {0, 6, -1, 100}) {
    m.set_PAH_growth_model(bad);
    CHECK(m.PAH_growth_model == 3);
    CHECK(slot_name(m, SlotId::create_PAH_dimer) == "create_PAH_dimer_slfclsn_lump");
  }
}

void test_alpha_and_validation_selectors() {
  StandaloneSootModel m;
  m.set_alpha_model(0);
  CHECK(slot_name(m, SlotId::alpha) == "alpha_constant" && m._alpha_model == 0);
  m.set_alpha_model(2);
  CHECK(slot_name(m, SlotId::alpha) == "alpha_ctoh_based" && m._alpha_model == 2);
  for (int bad : {3, -1}) {
    // the raw value is stored before the check; the slot keeps its method
    CHECK_THROWS(m.set_alpha_model(bad), Value, "Error in _set_alpha_model function!");
    CHECK(m._alpha_model == bad && slot_name(m, SlotId::alpha) == "alpha_ctoh_based");
  }

  m.set_validation_case(1);
  CHECK(m.validation_case == 1 && slot_name(m, SlotId::beta_coag) == "beta_coag_validation" &&
        slot_name(m, SlotId::diffus_coeff) == "diffus_coeff_const");
  for (int bad : {2, -1}) {
    CHECK_THROWS(m.set_validation_case(bad), Value, "Error in _set_validation_case function!");
    CHECK(m.validation_case == 1 && slot_name(m, SlotId::beta_coag) == "beta_coag_validation");
  }
  m.set_validation_case(0);
  CHECK(m.validation_case == 0 && slot_name(m, SlotId::beta_coag) == "beta_coag_hm" &&
        slot_name(m, SlotId::diffus_coeff) == "diffus_coeff_morph");
}

void test_coalescence_selector() {
  StandaloneSootModel m;
  m.d_crit_coales = 1.5e-9;  // a marker: only the silica law writes it
  m.set_coales_type(1);
  CHECK(m.Ea_coales == 33100.0 && m.As_coales == 7.44e16 && m.d_crit_coales == 1.5e-9);
  CHECK(slot_name(m, SlotId::t_coales) == "t_f_titania" &&
        slot_name(m, SlotId::N_pri_coales) == "N_pri_coales_sintering" && m.coalescence_enabled);
  m.set_coales_type(2);
  CHECK(m.Ea_coales == 180000.0 && m.As_coales == 1.1e-14 && m.d_crit_coales == 2.5e-9);
  CHECK(slot_name(m, SlotId::t_coales) == "t_f_silica");
  m.set_coales_type(4);  // merging keeps the sintering law and its parameters
  CHECK(m.Ea_coales == 180000.0 && m.As_coales == 1.1e-14 && m.d_crit_coales == 2.5e-9);
  CHECK(slot_name(m, SlotId::t_coales) == "t_f_silica" &&
        slot_name(m, SlotId::N_pri_coales) == "N_pri_coales_merge" && m.coalescence_enabled);
  m.set_coales_type(3);
  CHECK(m.Ea_coales == 0.0 && m.As_coales == 0.0 && m.d_crit_coales == 2.5e-9);
  CHECK(slot_name(m, SlotId::t_coales) == "t_f_md_derived");
  for (int bad : {5, -1}) {  // unknown types change nothing
    m.set_coales_type(bad);
    CHECK(slot_name(m, SlotId::t_coales) == "t_f_md_derived" &&
          slot_name(m, SlotId::N_pri_coales) == "N_pri_coales_sintering" &&
          m.coalescence_enabled && m.d_crit_coales == 2.5e-9);
  }
  m.As_coales = 2.0;
  m.set_coales_type(0);
  CHECK(m.Ea_coales == 0.0 && m.As_coales == 0.0 && !m.coalescence_enabled);
  CHECK(slot_name(m, SlotId::t_coales) == "None" && slot_name(m, SlotId::N_pri_coales) == "None");
}

// ---- a model of a small ethylene-flame mechanism ---------------------------------------

const std::vector<std::string> kNames = {"N2", "C2H2", "H2", "H",  "CO", "O2", "OH",
                                         "H2O", "CO2", "A1", "A2", "A3", "A4"};
const std::vector<double> kMW = {28.014, 26.038, 2.016, 1.008, 28.010, 31.998, 17.007,
                                 18.015, 44.009, 78.114, 128.174, 178.234, 202.256};  // kg/kmol
const std::vector<double> kAtomsC = {0, 2, 0, 0, 1, 0, 0, 0, 1, 6, 10, 14, 16};
const std::vector<double> kAtomsH = {0, 2, 2, 1, 0, 0, 1, 2, 0, 6, 8, 10, 10};
const std::vector<double> kAtomsO = {0, 0, 0, 0, 1, 2, 1, 1, 2, 0, 0, 0, 0};

struct GasPoint {
  std::vector<double> X;
  double T = 1600.0, P = 101325.0, viscosity = 5.0e-5, mean_MW = 0.0, density = 0.0;
};

GasPoint flame_point() {
  GasPoint g;
  g.X = {0.0, 0.02, 0.05, 2e-3, 0.05, 5e-3, 1e-3, 0.1, 0.03, 1e-4, 5e-5, 2e-5, 1e-5};
  double rest = 1.0;
  for (std::size_t i = 1; i < g.X.size(); ++i) rest -= g.X[i];
  g.X[0] = rest;
  for (std::size_t i = 0; i < g.X.size(); ++i) g.mean_MW += g.X[i] * kMW[i];
  g.density = g.P * g.mean_MW / 1000.0 / (kR * g.T);
  return g;
}

void configure(StandaloneSootModel& m, int model, int n_pah = 4) {
  std::vector<double>& mws = m.arrays().array(ArrayId::MWs);
  mws.clear();
  for (double w : kMW) mws.push_back(w / 1000.0);
  m.PAH_indices.assign({9, 10, 11, 12});
  m.PAH_n_C.assign({6, 10, 14, 16});
  m.PAH_n_H.assign({6, 8, 10, 10});
  m.PAH_indices.resize(n_pah);
  m.PAH_n_C.resize(n_pah);
  m.PAH_n_H.resize(n_pah);
  m.set_PAH_growth_model(model);
  m.initialize(kNames);
  if (model == 2 || model == 3) m.initialize_stick_eff();
}

void set_gas(StandaloneSootModel& m, const GasPoint& g) {
  m.arrays().array(ArrayId::X) = g.X;
  m.update_gas(g.T, g.P, g.density, g.viscosity, g.mean_MW);
}

// ---- initialisation --------------------------------------------------------------------

void test_initialize() {
  StandaloneSootModel m;
  m.C2H2_index = 42;
  m.OH_index = 43;
  std::vector<std::string> names = kNames;
  names.erase(names.begin() + 6);  // no OH
  CHECK_THROWS(m.initialize(names), Value, "OH does not exist in species list!");
  CHECK(m.C2H2_index == 42 && m.OH_index == 43);  // nothing recorded on failure
  names.erase(names.begin() + 2);  // no H2 either: the first missing key species is named
  CHECK_THROWS(m.initialize(names), Value, "H2 does not exist in species list!");
  CHECK_THROWS(m.initialize({}), Value, "C2H2 does not exist in species list!");

  // a repeated name resolves to its first occurrence
  std::vector<std::string> doubled = kNames;
  doubled.push_back("H");
  m.PAH_indices.assign({9, 10, 11});
  m.PAH_n_C.assign({6, 10, 14});
  m.PAH_n_H.assign({6, 8, 10});
  m.initialize(doubled);
  CHECK(m.C2H2_index == 1 && m.H2_index == 2 && m.H_index == 3 && m.CO_index == 4 &&
        m.O2_index == 5 && m.OH_index == 6 && m.H2O_index == 7);

  // the growth model's pair tables: (0,0) (0,1) (0,2) (1,1) (1,2) (2,2)
  VectorHost& h = m.arrays();
  CHECK(h.array(ArrayId::p_ROP).size() == 6 && h.array(ArrayId::phy_dimer_wdot).size() == 6);
  CHECK(h.array(ArrayId::soot_PAH_wdot).size() == 3);
  const std::vector<double> n_C = {12, 16, 20, 20, 24, 28}, n_H = {12, 14, 16, 16, 18, 20};
  CHECK(h.array(ArrayId::dimer_n_C) == n_C && h.array(ArrayId::dimer_n_H) == n_H);
  CHECK((m.dimer_PAH_1_id == std::vector<int>{0, 0, 0, 1, 1, 2}) &&
        (m.dimer_PAH_2_id == std::vector<int>{0, 1, 2, 1, 2, 2}));

  m.set_PAH_growth_model(5);  // homo-pairs only
  m.initialize(kNames);
  CHECK(h.array(ArrayId::p_ROP).size() == 3);
  CHECK((h.array(ArrayId::dimer_n_C) == std::vector<double>{12, 20, 28}) &&
        (h.array(ArrayId::dimer_n_H) == std::vector<double>{12, 16, 20}));
}

// ---- update_solution on a raw array ------------------------------------------------------

void test_update_solution_raw_array() {
  StandaloneSootModel m;
  configure(m, 1);
  set_gas(m, flame_point());
  m.N_agg_min = 2.0e-9;  // four distinct floors
  m.N_pri_min = 3.0e-9;
  m.C_tot_min = 5.0e-4;
  m.H_tot_min = 7.0e-5;
  // below each floor but above a neighbour's, then just above each floor
  const double low[4] = {1.0e-9, 2.5e-9, 4.0e-4, 6.0e-5};
  m.update_solution(low, 4);
  CHECK(m.N_agg == 2.0e-9 && m.N_pri == 3.0e-9 && m.C_tot == 5.0e-4 && m.H_tot == 7.0e-5);
  const double mid[4] = {2.5e-9, 3.5e-9, 6.0e-4, 8.0e-5};
  m.update_solution(mid, 4);
  CHECK(m.N_agg == 2.5e-9 && m.N_pri == 3.5e-9 && m.C_tot == 6.0e-4 && m.H_tot == 8.0e-5);
  const double nan_floor[4] = {std::nan(""), 3.0e-9, 5.0e-4, 1.0};  // NaN and the floor pass
  m.update_solution(nan_floor, 4);
  CHECK(std::isnan(m.N_agg) && m.N_pri == 3.0e-9 && m.C_tot == 5.0e-4 && m.H_tot == 1.0);

  // the soot block anywhere in a longer array, in any order
  const double sol[4] = {8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3};
  m.N_agg_offset = 5;
  m.N_pri_offset = 0;
  m.C_tot_offset = 3;
  m.H_tot_offset = 1;
  const double state[6] = {sol[1], sol[3], -1.0, sol[2], -1.0, sol[0]};
  m.update_solution(state, 6);
  CHECK(m.N_agg == sol[0] && m.N_pri == sol[1] && m.C_tot == sol[2] && m.H_tot == sol[3]);
  // the caches follow the loaded variables
  const double V_p = sol[2] * 0.012011 / 1800.0 / (sol[1] * kAv);
  CHECK_CLOSE(m.p_d_p, std::pow(6.0 * V_p / kPi10, 0.333334), 1e-14);
  CHECK(m.p_A_tot == m.A_tot() && m.p_dC_tot_dt_HACA_alt == m.dC_tot_dt_HACA_alt());
  CHECK(m.p_dC_tot_dt_PAH == m.dC_tot_dt_PAH() && m.p_dC_tot_dt_PAH > 0.0);

  // negative offsets count from the end
  m.N_agg_offset = -1;
  m.N_pri_offset = -2;
  m.C_tot_offset = -3;
  m.H_tot_offset = -4;
  const double reversed[4] = {sol[3], sol[2], sol[1], sol[0]};
  m.update_solution(reversed, 4);
  CHECK(m.N_agg == sol[0] && m.N_pri == sol[1] && m.C_tot == sol[2] && m.H_tot == sol[3]);

  // out of bounds: the variables before the failing one are loaded, the rest keep theirs
  m.N_agg_offset = 0;
  m.N_pri_offset = 1;
  m.C_tot_offset = 2;
  m.H_tot_offset = 3;
  const double short_sol[3] = {4.0e-8, 1.2e-7, 9.0e-3};
  CHECK_THROWS(m.update_solution(short_sol, 3), Index,
               "index 3 is out of range for solution of length 3");
  CHECK(m.N_agg == 4.0e-8 && m.N_pri == 1.2e-7 && m.C_tot == 9.0e-3 && m.H_tot == sol[3]);
  m.N_pri_offset = -5;
  CHECK_THROWS(m.update_solution(sol, 4), Index,
               "index -5 is out of range for solution of length 4");
  CHECK(m.N_agg == sol[0] && m.N_pri == 1.2e-7);
  m.N_pri_offset = 4;
  CHECK_THROWS(m.update_solution(sol, 4), Index,
               "index 4 is out of range for solution of length 4");
  m.N_pri_offset = 1;
  CHECK_THROWS(m.update_solution(sol, 0), Index,
               "index 0 is out of range for solution of length 0");
}

// ---- vector host and slots -------------------------------------------------------------

void test_vector_host_and_slots() {
  VectorHost h;
  h.array(ArrayId::X) = {1.0, 2.0, 3.0};
  CHECK(h.size(ArrayId::X) == 3 && h.get(ArrayId::X, -1) == 3.0);
  h.set(ArrayId::X, -3, 9.0);
  CHECK(h.array(ArrayId::X)[0] == 9.0);
  CHECK_THROWS(h.get(ArrayId::X, 3), Index, "index 3 is out of range for array of length 3");
  CHECK_THROWS(h.get(ArrayId::X, -4), Index, "index -4 is out of range for array of length 3");
  CHECK_THROWS(h.set(ArrayId::MWs, 0, 1.0), Index,
               "index 0 is out of range for array of length 0");
  h.zeros_like(ArrayId::scrub_wdot, ArrayId::X);
  CHECK((h.array(ArrayId::scrub_wdot) == std::vector<double>{0.0, 0.0, 0.0}));
  h.zeros(ArrayId::X, 2);
  CHECK((h.array(ArrayId::X) == std::vector<double>{0.0, 0.0}));
  CHECK_THROWS(h.call_slot_d(SlotId::alpha), Type, "slot holds no method of this model");
  CHECK_THROWS(h.call_slot_v(SlotId::PAH_growth_update), Type,
               "slot holds no method of this model");
  ArrayView views[kArrayCount];
  CHECK(h.plain_arrays(views));
  const ArrayView& x = views[static_cast<int>(ArrayId::X)];
  CHECK(x.present && x.size == 2 && x.stride == sizeof(double) &&
        x.data == reinterpret_cast<char*>(h.array(ArrayId::X).data()));

  // update_gas: scrub_wdot becomes zeros of the shape of X, mean_MW is turned into kg/mol
  StandaloneSootModel m;
  configure(m, 1);
  const GasPoint g = flame_point();
  m.arrays().array(ArrayId::scrub_wdot) = {5.0, 6.0};
  set_gas(m, g);
  CHECK(m.arrays().array(ArrayId::scrub_wdot) == std::vector<double>(13, 0.0));
  CHECK(m.mean_MW == g.mean_MW / 1000.0 && m.T == g.T && m.P == g.P && m.density == g.density &&
        m.viscosity == g.viscosity);
  CHECK_CLOSE(m.p_lambda_gas, (g.viscosity / g.density) *
                                  std::sqrt(kPi10 * (g.mean_MW / 1000.0) / (2.0 * kKB * kAv * g.T)),
              1e-14);
  CHECK_CLOSE(m.molar_density(3), g.X[3] * g.density / (g.mean_MW / 1000.0), 1e-15);
  CHECK_THROWS(m.molar_density(13), Index, "index 13 is out of range for array of length 13");

  const double sol[4] = {8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3};
  m.update_solution(sol, 4);
  // a slot without a method, and own methods of the wrong signature
  m.clear_slot(SlotId::alpha);
  CHECK_THROWS(m.dC_tot_dt_HACA_alt(), Type, "slot holds no method of this model");
  m.bind_own(SlotId::alpha, MethodId::update_scrub_wdot);
  CHECK_THROWS(m.dC_tot_dt_HACA_alt(), Type, "slot method has the wrong signature");
  m.bind_own(SlotId::PAH_growth_update, MethodId::d_p);
  CHECK_THROWS(m.update_solution(sol, 4), Type, "slot method has the wrong signature");
  m.set_alpha_model(1);
  m.set_PAH_growth_model(1);
  m.update_solution(sol, 4);

  // process values outside the four variables: none while enabled, 0.0 while disabled
  CHECK(!m.inception(0).has_value() && !m.growth(5).has_value() && !m.oxidation(-1).has_value());
  m.inception_enabled = false;
  CHECK(m.inception(0).value() == 0.0 && m.inception(3).value() == 0.0);
}

// ---- one evaluation point: scrubbing against the source terms -------------------------

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

void test_point_element_balance() {
  const GasPoint g = flame_point();
  const double sol[4] = {8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3};
  for (int model = 1; model <= 5; ++model) {
    StandaloneSootModel m;
    configure(m, model);
    set_gas(m, g);
    m.update_solution(sol, 4);
    const double S_C = m.S_C_tot();
    m.update_scrub_wdot();
    const std::vector<double>& W = m.arrays().array(ArrayId::scrub_wdot);
    // gas carbon and oxygen gained, mol/(m^3 s), against soot carbon gained
    const double carbon = 1000.0 * dot(kAtomsC, W) + g.density * S_C;
    const double oxygen = 1000.0 * dot(kAtomsO, W);
    report(std::fabs(carbon) <= 1e-12 * g.density * std::fabs(S_C) && S_C > 0.0,
           "model " + std::to_string(model) + " carbon imbalance " + std::to_string(carbon),
           __LINE__);
    report(std::fabs(oxygen) <= 1e-12 * 1000.0 * std::fabs(W[4]),
           "model " + std::to_string(model) + " oxygen imbalance " + std::to_string(oxygen),
           __LINE__);
  }

  // HACA alone: two carbon atoms per acetylene, seven of eight hydrogen atoms released
  StandaloneSootModel m;
  configure(m, 1);
  m.inception_enabled = m.growth_PAH_adsorption_enabled = m.oxidation_enabled = false;
  set_gas(m, g);
  m.update_solution(sol, 4);
  m.update_scrub_wdot();
  const std::vector<double>& W = m.arrays().array(ArrayId::scrub_wdot);
  const double dC = m.p_dC_tot_dt_HACA_alt;
  CHECK(dC > 0.0);
  CHECK_CLOSE(W[1], -(g.density * dC / 2000.0), 1e-15);
  CHECK_CLOSE(W[3], dC * 0.875 * g.density / 1000.0, 1e-15);
  CHECK_CLOSE(1000.0 * dot(kAtomsH, W), -g.density * m.S_H_tot(), 1e-13);
  for (int k : {0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12}) CHECK(W[k] == 0.0);
}

// ---- the four source terms in one call ---------------------------------------------------

void test_source_terms_in_one_call() {
  const GasPoint g = flame_point();
  const double sol[4] = {8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3};
  for (int model = 1; model <= 5; ++model) {
    StandaloneSootModel m;
    configure(m, model);
    set_gas(m, g);
    m.update_solution(sol, 4);
    double S[4];
    int done = -1;
    m.source_terms(S, done);
    CHECK(done == 4);
    // bit for bit the values of four separate calls
    CHECK(S[0] == m.S_N_agg() && S[1] == m.S_N_pri() && S[2] == m.S_C_tot() &&
          S[3] == m.S_H_tot());
  }
  // a failing term: the count says how far the call got
  StandaloneSootModel m;
  configure(m, 1);
  set_gas(m, g);
  m.update_solution(sol, 4);
  m.clear_slot(SlotId::beta_coag);  // coagulation (N_agg first) has no kernel
  double S[4];
  int done = -1;
  CHECK_THROWS(m.source_terms(S, done), Type, "slot holds no method of this model");
  CHECK(done == 0);
}

// ---- plug-flow reactor and flame numerics on plain numbers -----------------------------

void test_reactor_formulas() {
  fv::reactor::PlugFlow r;
  r.defaults();
  CHECK(r.Nu_const_temp == 3.66 && r.Nu_const_heat == 4.63 && r.Y_offset == 3 &&
        r.soot_offset == 0 && r.rho_u_vfv_offset == 1 && r.T_offset == 2);
  r.perimeter = 0.04;
  r.area = 1e-4;
  const double D_h = 4.0 * 1e-4 / 0.04;
  CHECK(fv::reactor::hydraulic_diameter(r.area, r.perimeter) == 1e-4 * 4.0 / 0.04);
  CHECK_CLOSE(fv::reactor::external_heat(r, 1500.0, 1400.0),
              (0.04 / 1e-4) * (3.66e10 / D_h) * 100.0, 1e-15);
  r.u = 2.0;
  CHECK_CLOSE(fv::reactor::reynolds(r, 0.25, 5e-5), 0.25 * 2.0 * D_h / 5e-5, 1e-15);
  CHECK(fv::reactor::fanning_friction(10000.0) == 0.0791 / 10.0);
  CHECK(fv::reactor::soot_correction(1e-6) == 0.0 && fv::reactor::soot_correction(-2e-6) == -2e-6);
  CHECK_CLOSE(fv::reactor::soot_derivative(3.0, 0.5, -0.2, 0.3, 2.0, 0.0, D_h, 0.0),
              3.0 / 2.0 + 0.5 * 0.2 / 0.6, 1e-15);
  CHECK_THROWS(fv::reactor::soot_derivative(1.0, 1.0, 1.0, 1.0, 0.0, 0.0, D_h, 0.0),
               ZeroDivision, "float division");
  r.perimeter = 0.0;
  CHECK_THROWS(fv::reactor::external_heat(r, 1500.0, 1400.0), ZeroDivision, "float division");
  CHECK_THROWS(fv::reactor::hydraulic_diameter(1.0, 0.0), ZeroDivision, "float division");
}

// The derivative's pieces on plain numbers, exact in binary: what the reactor
// binding assembles for both the plain-vector and the NumPy route.
void test_reactor_derivative() {
  using namespace fv::reactor;
  CHECK(gas_velocity(3.0, 1.5, -1.0) == 1.0);  // G / ((1 - f) rho)
  CHECK(gas_velocity(3.0, 1.5) == 2.0);
  CHECK_THROWS(gas_velocity(3.0, 0.0, 0.0), ZeroDivision, "float division");
  CHECK_THROWS(gas_velocity(3.0, 1.5, 1.0), ZeroDivision, "float division");
  // (q - released) / (rho u cp)
  CHECK(temperature_gradient(700.0, 100.0, 0.5, 2.0, 1200.0) == 0.5);
  CHECK_THROWS(temperature_gradient(1.0, 0.0, 1.0, 1.0, 0.0), ZeroDivision, "float division");
  CHECK(mass_flux_gradient(-0.5, 2.0) == 3.0);
  // ((wdot + scrub) W - Y m_s) / (rho u); the operation order shows in the
  // cancellation: (1e16 + 1) - 1e16 is 0 in doubles, 1e16 + (1 - 1e16) is not
  CHECK(species_row(1.0, 0.5, 2.0, 0.25, 4.0, 8.0) == 0.25);
  CHECK(species_row(1e16, 1.0, 1.0, 1.0, 1e16, 1.0) == 0.0);
  CHECK(std::isinf(species_row(1.0, 0.0, 1.0, 0.0, 0.0, 0.0)));  // IEEE, as NumPy divides
  CHECK(gas_species_row(3.0, 2.0, 4.0) == 1.5);
  double out[3 + 2 + 4] = {};
  const double soot[4] = {1.0, 2.0, 3.0, 4.0};
  write_head_and_soot({4.0, 0.5, -7.0}, 2, soot, 4, out);
  CHECK(out[0] == 0.25 && out[1] == 0.5 && out[2] == -7.0 && out[3] == 0.0 && out[4] == 0.0 &&
        out[5] == 1.0 && out[8] == 4.0);
}

void test_numpy_algorithms() {
  const double xp[6] = {0.0, 1.0, 1.0, 2.0, 4.0, 5.0};
  const double fp[6] = {10.0, 20.0, 25.0, 30.0, 50.0, 40.0};
  CHECK(fv::interp(-1.0, xp, fp, 6) == 10.0 && fv::interp(9.0, xp, fp, 6) == 40.0);
  CHECK(fv::interp(1.0, xp, fp, 6) == 25.0);  // the last of equal sample points
  CHECK(fv::interp(3.0, xp, fp, 6) == 40.0 && fv::interp(0.5, xp, fp, 6) == 15.0);
  CHECK(std::isnan(fv::interp(std::nan(""), xp, fp, 6)));
  CHECK(fv::interp(7.0, xp, fp, 1) == 10.0);
  // pairwise summation: 8 partial sums per block, halves above 128 values. A
  // running sum loses every 1 added to 1e16; numpy.sum of the same 201 and
  // 101 values gives 1e16 + 188 and 1e16 + 84 (values printed by NumPy).
  std::vector<double> v(201, 1.0);
  v[0] = 1e16;
  CHECK(fv::numpy_sum(v.data(), 201) == 1.0000000000000188e+16);
  CHECK(fv::numpy_sum(v.data(), 101) == 1.0000000000000084e+16);
  CHECK(fv::numpy_sum(v.data(), 5) == ((((0.0 + v[0]) + v[1]) + v[2]) + v[3]) + v[4]);
}

void test_flame_rows() {
  using fv::flame::CheckedDiv;
  using fv::flame::IeeeDiv;
  // a 3 x 3 system with known solution [1, 1, 1]
  double a[2] = {1.0, 1.0}, b[3] = {4.0, 4.0, 4.0}, c[2] = {1.0, 1.0}, d[3] = {5.0, 6.0, 5.0};
  double x[3];
  fv::flame::solve_tridiagonal<CheckedDiv>(a, b, c, d, x, 3);
  CHECK(x[0] == 1.0 && x[1] == 1.0 && x[2] == 1.0);
  double b0[1] = {0.0}, d0[1] = {1.0};
  CHECK_THROWS(fv::flame::solve_tridiagonal<CheckedDiv>(a, b0, c, d0, x, 1), ZeroDivision,
               "float division");
  fv::flame::solve_tridiagonal<IeeeDiv>(a, b0, c, d0, x, 1);
  CHECK(std::isinf(x[0]));
  CHECK_THROWS(fv::flame::thermophoretic_velocity<CheckedDiv>(5e-5, 0.0, 1500.0, 1400.0, 1e-3),
               ZeroDivision, "float division");
  CHECK_CLOSE(fv::flame::thermophoretic_velocity<IeeeDiv>(5e-5, 0.2, 1500.0, 1400.0, 1e-3),
              -0.538 * 5e-5 / (0.2 * 1500.0) * 100.0 / 1e-3, 1e-15);
}

// Runs one group of checks; an exception that escapes it counts as a failure.
template <class F>
void run(const char* name, F&& test) {
  try {
    test();
  } catch (const std::exception& e) {
    report(false, std::string(name) + ": unexpected exception \"" + e.what() + "\"", 0);
  }
}

}  // namespace

// A linear model (constant D, S_k = a_k - b_k N_k) on a non-uniform grid with
// a sign change of u: Newton must land on the solution of the linear system,
// found independently here by a dense Gaussian elimination per variable. The
// rows are written from the transport equation rho u N' = (rho D N')' + rho S
// and, at an end where gas enters with mass flux mdot, from the balance "soot
// flux into the domain = mdot N_in".
struct LinearModel : fv::flame::PointModel {
  int calls = 0, fail_after = -1;
  void evaluate(long, const fv::flame::SootPoint& N, bool sources, double& D,
                fv::flame::SootPoint& S) override {
    if (fail_after >= 0 && ++calls > fail_after) throw Error(ErrorKind::Value, "model failed");
    D = 2e-5;
    for (int k = 0; k < 4; ++k) S[k] = sources ? (1.0 + k) - (10.0 + k) * N[k] : 0.0;
  }
};

// Dense Gaussian elimination with partial pivoting: solves A x = b (A n x n).
std::vector<double> dense_solve(std::vector<std::vector<double>> A, std::vector<double> b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t r = c;
    for (std::size_t j = c + 1; j < n; ++j)
      if (std::fabs(A[j][c]) > std::fabs(A[r][c])) r = j;
    std::swap(A[r], A[c]);
    std::swap(b[r], b[c]);
    for (std::size_t j = c + 1; j < n; ++j) {
      const double f = A[j][c] / A[c][c];
      for (std::size_t l = c; l < n; ++l) A[j][l] -= f * A[c][l];
      b[j] -= f * b[c];
    }
  }
  std::vector<double> x(n);
  for (std::size_t c = n; c-- > 0;) {
    double v = b[c];
    for (std::size_t l = c + 1; l < n; ++l) v -= A[c][l] * x[l];
    x[c] = v / A[c][c];
  }
  return x;
}

void test_steady_solve() {
  fv::flame::SteadyProblem p;
  const std::vector<double> z = {0.0, 1e-3, 2.5e-3, 4e-3, 6e-3, 7e-3};
  const long n = static_cast<long>(z.size());
  for (long i = 0; i < n; ++i) {
    p.dz.push_back(i == 0 ? z[1] - z[0] : z[i] - z[i - 1]);
    p.rho.push_back(1.0 - 0.1 * static_cast<double>(i));
    p.u.push_back(0.3 - 0.12 * static_cast<double>(i));
  }
  p.mdot_left = 0.3;
  p.mdot_right = 0.12;
  p.in_left = {0.1, 0.2, 0.3, 0.4};
  p.in_right = {0.05, 0.06, 0.07, 0.08};
  p.floor = {1e-24, 1e-24, 1e-21, 1e-22};
  for (int type : {0, 1}) {
    p.boundary_type_right = type;
    LinearModel model;
    std::vector<fv::flame::SootPoint> N(static_cast<std::size_t>(n), p.floor);
    fv::flame::SteadyOptions o;
    o.rtol = 1e-13;
    const auto r = fv::flame::solve_steady(p, model, N, o);
    CHECK(r.converged);
    CHECK(fv::flame::steady_residual(p, model, N).residual < 1e-13);
    const double D = 2e-5;
    for (int k = 0; k < 4; ++k) {
      std::vector<std::vector<double>> A(n, std::vector<double>(n, 0.0));
      std::vector<double> b(n, 0.0);
      // left: mdot N0 - rho D (N1 - N0)/dz = mdot N_in (flux in +z through the face)
      A[0][0] = p.mdot_left + D * p.rho[0] / p.dz[1];
      A[0][1] = -D * p.rho[0] / p.dz[1];
      b[0] = p.mdot_left * p.in_left[k];
      for (long i = 1; i < n - 1; ++i) {
        const double q = 2 * p.rho[i] * D / (p.dz[i + 1] + p.dz[i]);
        const double bk = 10.0 + k;
        A[i][i - 1] = -q / p.dz[i] - (p.u[i] > 0 ? p.rho[i] * p.u[i] / p.dz[i] : 0.0);
        A[i][i] = q * (1 / p.dz[i] + 1 / p.dz[i + 1]) + p.rho[i] * bk +
                  (p.u[i] > 0 ? p.rho[i] * p.u[i] / p.dz[i] : -p.rho[i] * p.u[i] / p.dz[i + 1]);
        A[i][i + 1] = -q / p.dz[i + 1] + (p.u[i] > 0 ? 0.0 : p.rho[i] * p.u[i] / p.dz[i + 1]);
        b[i] = p.rho[i] * (1.0 + k);
      }
      const long m = n - 1;
      if (type == 0) {
        // right, gas entering in -z: mdot N_m + rho D (N_m - N_m-1)/dz = mdot N_in
        A[m][m] = p.mdot_right + D * p.rho[m] / p.dz[m];
        A[m][m - 1] = -D * p.rho[m] / p.dz[m];
        b[m] = p.mdot_right * p.in_right[k];
      } else {
        A[m][m] = 1.0;
        A[m][m - 1] = -1.0;
      }
      const std::vector<double> x = dense_solve(A, b);
      for (long i = 0; i < n; ++i) CHECK_CLOSE(N[i][k], x[i], 1e-10);
      // soot entering at the floors' scale and forming: the faces stay between
      // what enters and their neighbour
      CHECK(N[0][k] >= std::min(p.in_left[k], N[1][k]) * (1 - 1e-12) &&
            N[0][k] <= std::max(p.in_left[k], N[1][k]) * (1 + 1e-12));
    }
    // linearly implicit steps of the same equations end in the same state
    std::vector<fv::flame::SootPoint> M(static_cast<std::size_t>(n), p.floor);
    LinearModel stepping;
    const auto steps = fv::flame::step_steady(p, stepping, M, 0.05, 5000, 1e-13);
    CHECK(steps.converged && steps.time_steps > 0 && steps.time_steps < 5000);
    for (long i = 0; i < n; ++i)
      for (int k = 0; k < 4; ++k) CHECK_CLOSE(M[i][k], N[i][k], 1e-10);
    // a model error propagates; the state keeps its last accepted values (none here)
    LinearModel failing;
    failing.fail_after = 3;
    std::vector<fv::flame::SootPoint> F(static_cast<std::size_t>(n), p.floor);
    check_throws([&] { fv::flame::solve_steady(p, failing, F, o); }, ErrorKind::Value,
                 "model failed", "failing model", __LINE__);
    CHECK(F[2][2] == p.floor[2]);
  }
  // sizes are checked
  fv::flame::SteadyProblem bad = p;
  bad.u.pop_back();
  LinearModel model;
  std::vector<fv::flame::SootPoint> N(static_cast<std::size_t>(n), p.floor);
  check_throws([&] { fv::flame::steady_residual(bad, model, N); }, ErrorKind::Value, nullptr,
               "short profile", __LINE__);
}

// Block LU of a block-tridiagonal matrix with a time shift and row weights
// against dense elimination, for several block sizes; the blocks are built so
// that partial pivoting swaps rows inside them.
void test_block_lu() {
  using fv::flame::BlockLU;
  using fv::flame::BlockTridiagonal;
  unsigned seed = 12345u;
  auto uniform = [&seed] {  // in [-1, 1)
    seed = seed * 1664525u + 1013904223u;
    return static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
  };
  for (int b : {1, 4, 7})
    for (long n : {1L, 2L, 9L}) {
      BlockTridiagonal A;
      A.resize(n, b);
      const std::size_t size = static_cast<std::size_t>(n * b);
      std::vector<std::vector<double>> dense(size, std::vector<double>(size, 0.0));
      for (long i = 0; i < n; ++i)
        for (int r = 0; r < b; ++r)
          for (int l = 0; l < b; ++l) {
            const std::size_t row = static_cast<std::size_t>(i * b + r);
            const double d = uniform() * (r == (l + 1) % b ? 5.0 : 1.0);  // off the diagonal
            A.diag(i)[r * b + l] = d;
            dense[row][static_cast<std::size_t>(i * b + l)] = d;
            if (i > 0) {
              A.lower(i)[r * b + l] = uniform();
              dense[row][static_cast<std::size_t>((i - 1) * b + l)] = A.lower(i)[r * b + l];
            }
            if (i + 1 < n) {
              A.upper(i)[r * b + l] = uniform();
              dense[row][static_cast<std::size_t>((i + 1) * b + l)] = A.upper(i)[r * b + l];
            }
          }
      std::vector<double> weight(size), c(size), x(size), rhs(size);
      const double s = 0.7;
      for (std::size_t j = 0; j < size; ++j) {
        weight[j] = std::pow(10.0, 3.0 * uniform());  // rows of very different scales
        c[j] = 1.0 + 0.5 * uniform();
        x[j] = uniform();
        dense[j][j] += c[j] * s;
      }
      for (std::size_t j = 0; j < size; ++j) {
        rhs[j] = 0.0;
        for (std::size_t l = 0; l < size; ++l) rhs[j] += dense[j][l] * x[l];
      }
      BlockLU lu;
      CHECK(lu.factor(A, weight, c, s));
      CHECK(lu.solve(rhs));
      double err = 0.0;
      for (std::size_t j = 0; j < size; ++j) err = std::max(err, std::fabs(rhs[j] - x[j]));
      report(err < 1e-12, "block LU b = " + std::to_string(b) + ", n = " + std::to_string(n) +
                              ": error " + std::to_string(err), __LINE__);
      // the matrix itself, back: multiply() agrees with the dense product
      std::vector<double> y;
      A.multiply(x, y);
      for (std::size_t j = 0; j < size; ++j) {
        double v = -c[j] * s * x[j];
        for (std::size_t l = 0; l < size; ++l) v += dense[j][l] * x[l];
        CHECK_CLOSE(y[j], v, 1e-12);
      }
    }
  // a singular pivot block is reported, not divided by
  BlockTridiagonal Z;
  Z.resize(3, 2);
  std::vector<double> ones(6, 1.0), zero(6, 0.0);
  BlockLU lu;
  CHECK(!lu.factor(Z, ones, zero, 0.0));
}

// x_{i,k}^2 - t_{i,k} + e (x_{i,k} - x_{i,1-k}) + g (2 x_{i,k} - x_{i-1,k} - x_{i+1,k})
// = 0 (ends: the missing neighbour taken as 0), two unknowns per point. From
// x = 0 the Jacobian's blocks are singular (the 2 x 2 coupling e [[1, -1],
// [-1, 1]] with g = 0 inside; the solve must step in pseudo-time, where
// c/dt makes them regular, towards the positive root, which it then reaches
// by Newton.
struct Parabolas final : fv::flame::BlockProblem {
  static constexpr double e = 0.3, g = 1e-3;
  long n = 6;
  double t(long i, int k) const { return (1.0 + 0.1 * static_cast<double>(i)) * (k ? 2.0 : 1.0); }
  double at(const std::vector<double>& x, long i, int k) const {
    return (i < 0 || i >= n) ? 0.0 : x[static_cast<std::size_t>(2 * i + k)];
  }
  int block_size() const override { return 2; }
  long points() const override { return n; }
  void evaluate(const std::vector<double>& x, fv::flame::Evaluation& ev) override {
    ev.F.assign(x.size(), 0.0);
    ev.weight.assign(x.size(), 1.0);
    for (long i = 0; i < n; ++i)
      for (int k = 0; k < 2; ++k) {
        const double v = at(x, i, k);
        ev.F[static_cast<std::size_t>(2 * i + k)] =
            v * v - t(i, k) + e * (v - at(x, i, 1 - k)) +
            g * (2 * v - at(x, i - 1, k) - at(x, i + 1, k));
      }
  }
  void jacobian(const std::vector<double>& x, const fv::flame::Evaluation&, bool full,
                fv::flame::BlockTridiagonal& J) override {
    J.zero();
    for (long i = 0; i < n; ++i)
      for (int k = 0; k < 2; ++k) {
        J.diag(i)[k * 2 + k] = (full ? 2 * at(x, i, k) : 0.0) + e + 2 * g;
        J.diag(i)[k * 2 + 1 - k] = -e;
        if (i > 0) J.lower(i)[k * 2 + k] = -g;
        if (i + 1 < n) J.upper(i)[k * 2 + k] = -g;
      }
  }
  void time_coefficients(std::vector<double>& c) const override {
    c.assign(static_cast<std::size_t>(2 * n), 1.0);
  }
  void step_tolerance(const std::vector<double>& x, std::vector<double>& atol) const override {
    atol.assign(x.size(), 1e-9);
  }
};

void test_block_newton_steps_where_newton_cannot_start() {
  Parabolas p;
  std::vector<double> x(static_cast<std::size_t>(2 * p.n), 0.0);
  fv::flame::BlockNewtonOptions o;
  o.rtol = 1e-13;
  o.dt = 0.01;
  const auto r = fv::flame::solve_block_newton(p, x, o);
  CHECK(r.converged && r.residual < 1e-13);
  CHECK(r.time_steps > 0 && r.attempts >= 2 && r.jacobians > 0);
  // the positive root by a dense Newton from the root of x^2 = t
  std::vector<double> y(x.size());
  for (long i = 0; i < p.n; ++i)
    for (int k = 0; k < 2; ++k) y[static_cast<std::size_t>(2 * i + k)] = std::sqrt(p.t(i, k));
  for (int it = 0; it < 30; ++it) {
    fv::flame::Evaluation ev;
    p.evaluate(y, ev);
    std::vector<std::vector<double>> A(y.size(), std::vector<double>(y.size(), 0.0));
    for (long i = 0; i < p.n; ++i)
      for (int k = 0; k < 2; ++k) {
        const std::size_t j = static_cast<std::size_t>(2 * i + k);
        A[j][j] = 2 * y[j] + Parabolas::e + 2 * Parabolas::g;
        A[j][static_cast<std::size_t>(2 * i + 1 - k)] = -Parabolas::e;
        if (i > 0) A[j][j - 2] = -Parabolas::g;
        if (i + 1 < p.n) A[j][j + 2] = -Parabolas::g;
      }
    const std::vector<double> d = dense_solve(A, ev.F);
    for (std::size_t j = 0; j < y.size(); ++j) y[j] -= d[j];
  }
  for (std::size_t j = 0; j < y.size(); ++j) CHECK_CLOSE(x[j], y[j], 1e-12);
  // without pseudo-time steps (none allowed) the solve says it stopped
  std::vector<double> x0(x.size(), 0.0);
  o.max_time_steps = 0;
  const auto stuck = fv::flame::solve_block_newton(p, x0, o);
  CHECK(!stuck.converged && stuck.stop == "pseudo-time step budget used");
}

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out before a possible crash
  run("checked arithmetic", test_checked_arithmetic);
  run("gas record", test_soot_gas);
  run("growth model selector", test_defaults_and_growth_model_selector);
  run("alpha and validation selectors", test_alpha_and_validation_selectors);
  run("coalescence selector", test_coalescence_selector);
  run("initialize", test_initialize);
  run("update_solution", test_update_solution_raw_array);
  run("vector host", test_vector_host_and_slots);
  run("element balance", test_point_element_balance);
  run("source terms in one call", test_source_terms_in_one_call);
  run("reactor formulas", test_reactor_formulas);
  run("reactor derivative", test_reactor_derivative);
  run("NumPy algorithms", test_numpy_algorithms);
  run("flame rows", test_flame_rows);
  run("steady soot solve", test_steady_solve);
  run("block LU", test_block_lu);
  run("block Newton with pseudo-time steps", test_block_newton_steps_where_newton_cannot_start);
  std::printf("%d checks, %d failed\n", g_checks, g_failures);
  return g_failures > 125 ? 125 : g_failures;
}
