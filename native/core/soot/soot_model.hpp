// fv::soot::SootModel — the four-variable soot model (aggregates, primaries,
// carbon and hydrogen, each in mol per kg of gas) with its process rates.
//
// Every overridable operation X has an entry X() and an implementation
// X_body(). Core code calls only entries; an entry is
//     hooks_ ? (override? call the host : X_body()) : X_body()
// so a model without hooks pays one predictable branch. Generic operation
// slots (alpha, beta_coag, inception_N_agg, ...) hold either one of the
// model's own methods (called directly), an external callable (called through
// the Host), or nothing.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../common/checked.hpp"
#include "../common/constants.hpp"
#include "../common/errors.hpp"

namespace fv::soot {

enum class MethodId : int {
#define FV_METHOD(kind, name, params, note) name,
#include "soot_methods.def"
#undef FV_METHOD
  count_
};
inline constexpr int kMethodCount = static_cast<int>(MethodId::count_);

enum class MethodKind : std::uint8_t { D0, V0, DI, DD, DII, OI };

struct MethodInfo {
  const char* name;
  MethodKind kind;
  const char* params;  // Python parameters after self, e.g. "int PAH_1_id, int PAH_2_id"
  const char* note;    // docstring text after the signature line
};
extern const MethodInfo kMethods[kMethodCount];
inline const MethodInfo& method_info(MethodId id) { return kMethods[static_cast<int>(id)]; }

// Array-valued fields (NumPy arrays in Python) and slots, numbered in field order.
enum class ArrayId : int {
#define FV_FIELD(kind, name, access) FV_ARRAY_ID_##kind(name)
#define FV_ARRAY_ID_ARRAY(name) name,
#define FV_ARRAY_ID_AOBJ(name) name,
#define FV_ARRAY_ID_DOUBLE(name)
#define FV_ARRAY_ID_INT(name)
#define FV_ARRAY_ID_BOOL(name)
#define FV_ARRAY_ID_DVEC(name)
#define FV_ARRAY_ID_IVEC(name)
#define FV_ARRAY_ID_SLOT(name)
#define FV_ARRAY_ID_OBJECT(name)
#define FV_ARRAY_ID_LIST(name)
#include "soot_fields.def"
#undef FV_FIELD
  count_
};
inline constexpr int kArrayCount = static_cast<int>(ArrayId::count_);

enum class SlotId : int {
#define FV_FIELD(kind, name, access) FV_SLOT_ID_##kind(name)
#define FV_SLOT_ID_SLOT(name) name,
#define FV_SLOT_ID_ARRAY(name)
#define FV_SLOT_ID_AOBJ(name)
#define FV_SLOT_ID_DOUBLE(name)
#define FV_SLOT_ID_INT(name)
#define FV_SLOT_ID_BOOL(name)
#define FV_SLOT_ID_DVEC(name)
#define FV_SLOT_ID_IVEC(name)
#define FV_SLOT_ID_OBJECT(name)
#define FV_SLOT_ID_LIST(name)
#include "soot_fields.def"
#undef FV_FIELD
  count_
};
inline constexpr int kSlotCount = static_cast<int>(SlotId::count_);

// What a slot holds. Own: one of this model's methods of the slot's signature
// (called as its body); External: any other callable (called by the Host).
struct Slot {
  enum class Kind : std::uint8_t { None, Own, External };
  Kind kind = Kind::None;
  MethodId method = MethodId::count_;
};

// Return kind each slot is called with: double() or void().
MethodKind slot_kind(SlotId s);

using Maybe = std::optional<double>;  // a process rate, or None

// Overrides of the model's methods by a host object (a Python subclass).
class Hooks {
 public:
  virtual ~Hooks() = default;
  virtual bool overrides(MethodId id) = 0;
  virtual double call_d0(MethodId id) = 0;
  virtual void call_v0(MethodId id) = 0;
  virtual double call_di(MethodId id, int a) = 0;
  virtual double call_dd(MethodId id, double a) = 0;
  virtual double call_dii(MethodId id, int a, int b) = 0;
  virtual Maybe call_oi(MethodId id, int a) = 0;
};

// Direct access to one array field of doubles: element i is at
// data + i * stride (bytes). present is false for a field holding no array.
struct ArrayView {
  char* data = nullptr;
  std::ptrdiff_t stride = 0;
  long size = 0;
  bool present = false;
};

// Storage of the array-valued fields and calls of external slot callables.
// Indexing follows NumPy: a negative index counts from the end.
class Host {
 public:
  virtual ~Host() = default;
  virtual long size(ArrayId a) = 0;
  virtual double get(ArrayId a, long i) = 0;
  virtual void set(ArrayId a, long i, double v) = 0;
  virtual void zeros(ArrayId a, long n) = 0;              // a = zeros(n)
  virtual void zeros_like(ArrayId dst, ArrayId src) = 0;  // dst = zeros_like(src)
  virtual double call_slot_d(SlotId s) = 0;
  virtual void call_slot_v(SlotId s) = 0;
  // True when reading and writing elements of every array field can run no
  // code of the host (no user callbacks, no allocation that could start a
  // garbage collection) and no two array fields share memory, so that between
  // two host calls an element changes only when the model writes that very
  // array. The per-call memo of SootModel relies on it; false is always safe.
  // When true, views[kArrayCount] describe the fields; they stay valid until
  // the host next runs code of its own (a slot call or zeros).
  virtual bool plain_arrays(ArrayView* views) = 0;
};

// The seven key gas species, in the order initialize checks and indexes them.
inline constexpr const char* kKeySpecies[7] = {"C2H2", "H2", "H", "CO", "O2", "OH", "H2O"};

// Process-selector tables, shared by the C++ selectors and the Python ones.
inline constexpr SlotId kGrowthSlots[6] = {
    SlotId::inception_N_agg,  SlotId::inception_C_tot,  SlotId::inception_H_tot,
    SlotId::PAH_growth_update, SlotId::create_PAH_dimer, SlotId::update_scrub_wdot_PAH_growth};
extern const MethodId kGrowthModelMethods[5][6];  // models 1..5

struct CoalesType {
  bool set_energies;       // Ea_coales, As_coales written
  double Ea, As;
  bool set_d_crit;         // d_crit_coales written
  double d_crit;
  enum class TimeLaw : std::uint8_t { Unchanged, None, Method } t_law;
  MethodId t_coales;
  MethodId N_pri_coales;   // count_ for None
  bool enabled;
};
extern const CoalesType kCoalesTypes[5];  // types 0..4
extern const MethodId kAlphaModels[3];    // alpha models 0..2

class SootModel {
 public:
  SootModel() = default;
  SootModel(const SootModel&) = delete;
  SootModel& operator=(const SootModel&) = delete;

  void attach(Host* host, Hooks* hooks) {
    host_ = host;
    hooks_ = hooks;
  }
  Host* host() const { return host_; }
  Hooks* hooks() const { return hooks_; }

  // ---- stored fields -----------------------------------------------------
#define FV_FIELD(kind, name, access) FV_MEMBER_##kind(name)
#define FV_MEMBER_DOUBLE(name) double name = 0.0;
#define FV_MEMBER_INT(name) int name = 0;
#define FV_MEMBER_BOOL(name) bool name = false;
#define FV_MEMBER_DVEC(name) std::vector<double> name;
#define FV_MEMBER_IVEC(name) std::vector<int> name;
#define FV_MEMBER_ARRAY(name)
#define FV_MEMBER_AOBJ(name)
#define FV_MEMBER_SLOT(name)
#define FV_MEMBER_OBJECT(name)
#define FV_MEMBER_LIST(name)
#include "soot_fields.def"
#undef FV_FIELD

  Slot slots[kSlotCount];

  // ---- overridable methods: entries and bodies ----------------------------
#define FV_DECLARE_D0(n) double n(); double n##_body();
#define FV_DECLARE_V0(n) void n(); void n##_body();
#define FV_DECLARE_DI(n) double n(int a); double n##_body(int a);
#define FV_DECLARE_DD(n) double n(double a); double n##_body(double a);
#define FV_DECLARE_DII(n) double n(int a, int b); double n##_body(int a, int b);
#define FV_DECLARE_OI(n) Maybe n(int k); Maybe n##_body(int k);
#define FV_METHOD(kind, name, params, note) FV_DECLARE_##kind(name)
#include "soot_methods.def"
#undef FV_METHOD

  // ---- configuration ------------------------------------------------------
  // Construction defaults in three steps, separated by the selector calls:
  // defaults_1, coales type 0, defaults_2, validation case 0, defaults_3,
  // alpha model 1, PAH growth model 1.
  void defaults_1();
  void defaults_2();
  void defaults_3();
  void apply_defaults();  // all of the above with the C++ selectors

  // C++ selectors: bind own methods to the slots (Python has its own, which
  // look the methods up as attributes). Unknown values as documented.
  void set_PAH_growth_model(int model);
  void set_alpha_model(int alpha_type);
  void set_coales_type(int coales_type);
  void set_validation_case(int validation);
  void bind_own(SlotId s, MethodId m);
  void clear_slot(SlotId s) { slots[static_cast<int>(s)] = Slot{}; }

  // Key-species check and indices, then the PAH tables of the growth model.
  void initialize(const std::vector<std::string>& species_names);

  // ---- per-point update ---------------------------------------------------
  // Gas state; X must already be stored in the Host. mean_MW in kg/kmol.
  void update_gas(double T, double P, double density, double viscosity, double mean_MW);
  // One soot variable (0 N_agg, 1 N_pri, 2 C_tot, 3 H_tot), clamped to its floor.
  void load_soot_variable(int which, double value);
  // Sizes, PAH growth update and surface-rate caches for the loaded variables.
  void refresh_after_solution();
  // Both steps on the four values at the soot offsets of `solution`.
  void update_solution(const double* solution, long n);
  // S_N_agg(), S_N_pri(), S_C_tot(), S_H_tot() into out[0..3], in that order,
  // as one call (the per-call memo serves all four; the values are those of
  // four separate calls). `done` counts the terms finished, so a caller can
  // tell how far an exception got.
  void source_terms(double out[4], int& done);

  // ---- slots and arrays -----------------------------------------------------
  double slot_d(SlotId s);
  void slot_v(SlotId s);
  double call_own_d0(MethodId m);  // the body of an own double() method
  void call_own_v0(MethodId m);    // the body of an own void() method

  // Element access. While the memo is on, the arrays are plain and are read
  // and written through the views taken when it was switched on; anything the
  // views cannot serve (no array, an index out of range) goes to the host,
  // which raises the error.
  double aget(ArrayId a, long i) {
    if (char* p = view_element(a, i)) {
      double v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    return host_->get(a, i);
  }
  void aset(ArrayId a, long i, double v) {
    if (char* p = view_element(a, i)) {
      std::memcpy(p, &v, sizeof v);
      return;
    }
    host_->set(a, i, v);
  }
  // a[i] = a[i] + dv, read and written back through the array's item access
  void aadd(ArrayId a, long i, double dv) { aset(a, i, aget(a, i) + dv); }
  long alen(ArrayId a) {
    const ArrayView& v = views_[static_cast<int>(a)];
    return memo_on_ && v.present ? v.size : host_->size(a);
  }
  // For each PAH i: p_dC_tot_dt_PAH_each[i] = dC(i), added to p_dC_tot_dt_PAH,
  // then the same for hydrogen; both sums start from 0 (mol/(kg s)).
  // Sum over the PAH positions i of term(i), added in order.
  template <class F>
  double sum_over_PAHs(F&& term) {
    double s = 0.0;
    const long n = static_cast<long>(PAH_indices.size());
    for (long i = 0; i < n; ++i) s += term(i);
    return s;
  }
  void accumulate_PAH_growth(double (SootModel::*dC)(int), double (SootModel::*dH)(int));
  double asum(ArrayId a);
  double adot(ArrayId a, ArrayId b);
  // a = zeros(n); the host may run its own code while allocating
  void azeros(ArrayId a, long n) {
    memo_suspend();
    host_->zeros(a, n);
  }

 private:
  // ---- per-call memo ----------------------------------------------------------
  // One call into the model (update_solution, update_scrub_wdot) evaluates the
  // same quantities many times: PAH masses and diameters in every pair, k_FWD
  // in the dimer balance and again inside k_REV, c_soot_nought and alpha in
  // each surface rate. While a MemoScope is open on an exact base-type model
  // (no hooks, so every entry would run its body) whose host has plain arrays,
  // the first evaluation of such a quantity is kept and later evaluations
  // return it instead of recomputing; with hooks nothing is kept and every
  // entry is called as before.
  //
  // Why this is exact: a kept quantity is a deterministic function of fields
  // and array elements that nothing changes while the scope is open. Those
  // inputs are written only by update_gas, by the host (Python setters) and by
  // the first four lines of refresh_after_solution (the size caches), after
  // which the memo forgets what depends on them. The model's array writes go
  // to p_ROP, phy_dimer_wdot, soot_PAH_wdot and scrub_wdot, which share no
  // memory with X or MWs when plain_arrays() holds; an element of those arrays
  // is kept only by ElementRead, in a loop that writes other arrays. Host code
  // can run only through a slot holding a foreign callable or through azeros;
  // both suspend the memo for the rest of the scope. The first evaluation
  // happens where it did without the memo, so an error (IndexError,
  // ZeroDivisionError) is raised by the same step; a value is kept only after
  // it was computed successfully, and recomputing it could not have failed.
  class MemoScope {
   public:
    explicit MemoScope(SootModel& m);
    ~MemoScope();
    MemoScope(const MemoScope&) = delete;
    MemoScope& operator=(const MemoScope&) = delete;

   private:
    SootModel& m_;
    bool owner_;
  };

  struct MemoCell {
    double value = 0.0;
    std::uint64_t epoch = 0;  // valid while equal to memo_epoch_
  };
  enum class Memo : int {
    d_p, d_m, V_Ag, m_Ag,                  // morphology
    alpha_empirical,                       // site fraction
    c_soot_nought, dC_tot_dt_HACA_alt,     // site-balance HACA
    k4_HACA, k5_HACA,                      // HACA rate constants
    k_REAC, k_PAH, C_S_soot_d_m,           // growth model 1
    T_pow_1_84, exp_k_f1, k_r1, k_f2,      // growth model 4
    count_
  };

  void memo_open();
  void memo_close();
  // The size caches (p_d_p, p_d_m, p_d_g, p_A_tot) were just written: forget
  // what was kept, except the particle sizes and masses (d_p, d_m, V_Ag,
  // m_Ag), which depend on the soot variables and constants only.
  void memo_forget_except_morphology();
  // Host code may run: forget everything and keep nothing until the scope ends.
  void memo_suspend() {
    if (memo_on_) {
      memo_on_ = false;
      ++memo_epoch_;
    }
  }
  // compute() on the first use in the scope, the kept value afterwards. A
  // value is kept only if nothing was forgotten while it was computed.
  template <class F>
  double memoized(Memo key, F&& compute) {
    MemoCell& c = memo_[static_cast<int>(key)];
    if (!memo_on_) return compute();
    if (c.epoch == memo_epoch_) return c.value;
    const std::uint64_t epoch = memo_epoch_;
    const double v = compute();
    if (memo_on_ && memo_epoch_ == epoch) c = MemoCell{v, epoch};
    return v;
  }
  // The same for entry i of a table; indices outside it are never kept.
  template <class F>
  double memoized_at(std::vector<MemoCell>& table, long i, F&& compute) {
    if (!memo_on_ || i < 0 || static_cast<std::size_t>(i) >= table.size()) return compute();
    if (table[static_cast<std::size_t>(i)].epoch == memo_epoch_)
      return table[static_cast<std::size_t>(i)].value;
    const std::uint64_t epoch = memo_epoch_;
    const double v = compute();
    if (memo_on_ && memo_epoch_ == epoch && static_cast<std::size_t>(i) < table.size())
      table[static_cast<std::size_t>(i)] = MemoCell{v, epoch};
    return v;
  }
  // std::pow(x, y) at a call site whose arguments follow from the
  // configuration alone (molar masses, atom counts, constants) and so repeat
  // from point to point: the result is kept across calls and reused while the
  // bits of both arguments repeat. pow is a pure function of its arguments, so
  // this is exact; it replaces no entry call and no fallible step.
  struct PowCell {
    std::uint64_t x = 0, y = 0;
    double value = 0.0;
    bool valid = false;
  };
  enum class PowSite : int {
    pah_diameter,       // sphere diameter of each PAH (models 1, 4, 5)
    omega_diameter,     // PAH diameter at soot density (models 2, 3)
    dimer_diameter,     // dimer diameter, its cube and sixth root (model 2)
    dimer_cube,
    dimer_volume_root,
    ring_cube,          // ring-based PAH diameter cubed (model 3)
    count_
  };
  double kept_pow(PowCell& cell, double x, double y);
  // the same for PAH i at a per-PAH site
  double kept_pow(PowSite site, long i, double x, double y) {
    std::vector<PowCell>& t = pow_cells_[static_cast<int>(site)];
    if (!memo_on_ || i < 0 || static_cast<std::size_t>(i) >= t.size()) return std::pow(x, y);
    return kept_pow(t[static_cast<std::size_t>(i)], x, y);
  }

  // Element i of array a for a loop body that reads it several times and
  // writes only other arrays: while the memo is on (plain arrays never share
  // memory) it is read from the host once, otherwise on every use.
  class ElementRead {
   public:
    ElementRead(SootModel& m, ArrayId a, long i) : m_(m), a_(a), i_(i) {}
    double operator()() {
      if (kept_ && m_.memo_on_) return value_;
      value_ = m_.aget(a_, i_);
      kept_ = m_.memo_on_;
      return value_;
    }

   private:
    SootModel& m_;
    ArrayId a_;
    long i_;
    double value_ = 0.0;
    bool kept_ = false;
  };

  // Entry (j, k) of a table of PAH pairs, j and k positions in PAH_indices.
  template <class F>
  double memoized_pair(std::vector<MemoCell>& table, int j, int k, F&& compute) {
    if (!memo_on_ || j < 0 || k < 0 || j >= memo_n_pair_ || k >= memo_n_pair_) return compute();
    return memoized_at(table, static_cast<long>(j) * memo_n_pair_ + k, compute);
  }

  // Shared formulas (one source for every method that uses them), kept per call.
  double pah_mass(int i);      // mass of one molecule of PAH i, kg
  double pah_MW(int i);        // molar mass of PAH i, kg/mol
  double pah_concentration(int i);  // gas concentration of PAH i, mol/m^3
  double pah_diameter(int i);  // sphere-equivalent diameter of PAH i, m
  double pah_density(int i);   // material density of PAH i, kg/m^3
  double sphere_diameter(int i, double mass, double rho);  // m, PAH i from kg and kg/m^3
  double k4_HACA();            // C* + C2H2 -> C-H + H, m^3/(mol s)
  double k5_HACA();            // C* + O2 -> products, m^3/(mol s)

  // internal steps of the PAH models, not overridable
  void update_ROP();
  void update_ROP_irrevd();
  double k_nuc_irrevd(int PAH_1_id, int PAH_2_id);
  // direct pair kinetics of growth model 1 (memo on only)
  struct PahInputs {
    double c, d, m, MW;  // concentration, diameter, molecule mass, molar mass
  };
  bool load_pah_inputs();
  void pair_rates_direct(long j, long k, double& forward, double& reverse);
  std::vector<PahInputs> pah_inputs_;

  Host* host_ = nullptr;
  Hooks* hooks_ = nullptr;

  bool memo_open_ = false;  // a MemoScope owns the memo
  bool memo_on_ = false;    // values are kept and reused
  ArrayView views_[kArrayCount];  // valid while memo_on_

  char* view_element(ArrayId a, long i) {
    if (!memo_on_) return nullptr;
    const ArrayView& v = views_[static_cast<int>(a)];
    const long j = i < 0 ? i + v.size : i;
    if (!v.present || j < 0 || j >= v.size) return nullptr;
    return v.data + j * v.stride;
  }
  std::uint64_t memo_epoch_ = 1;
  std::size_t memo_n_PAH_ = 0;  // PAH count the tables are sized for
  int memo_n_pair_ = 0;         // side of the pair tables (0: pairs not kept)
  MemoCell memo_[static_cast<int>(Memo::count_)];
  std::vector<MemoCell> memo_molar_density_;  // by gas index, grown on demand
  std::vector<MemoCell> memo_pah_mass_, memo_pah_MW_, memo_pah_diameter_, memo_pah_concentration_;
  std::vector<MemoCell> memo_k_f_soot_PAH_, memo_k_f3_, memo_k_PAH_ads_;  // by PAH
  std::vector<MemoCell> memo_k_FWD_, memo_k_REV_;                         // by PAH pair
  std::vector<PowCell> pow_cells_[static_cast<int>(PowSite::count_)];    // by PAH, across calls
  PowCell pow_F_;  // (3 / (4 Pi))^0.166667 of the dimer kernels
};

// ---- entries ---------------------------------------------------------------
#define FV_ENTRY_D0(n) \
  inline double SootModel::n() { \
    return (hooks_ && hooks_->overrides(MethodId::n)) ? hooks_->call_d0(MethodId::n) : n##_body(); }
#define FV_ENTRY_V0(n) \
  inline void SootModel::n() { \
    if (hooks_ && hooks_->overrides(MethodId::n)) hooks_->call_v0(MethodId::n); else n##_body(); }
#define FV_ENTRY_DI(n) \
  inline double SootModel::n(int a) { \
    return (hooks_ && hooks_->overrides(MethodId::n)) ? hooks_->call_di(MethodId::n, a) : n##_body(a); }
#define FV_ENTRY_DD(n) \
  inline double SootModel::n(double a) { \
    return (hooks_ && hooks_->overrides(MethodId::n)) ? hooks_->call_dd(MethodId::n, a) : n##_body(a); }
#define FV_ENTRY_DII(n) \
  inline double SootModel::n(int a, int b) { \
    return (hooks_ && hooks_->overrides(MethodId::n)) ? hooks_->call_dii(MethodId::n, a, b) \
                                                      : n##_body(a, b); }
#define FV_ENTRY_OI(n) \
  inline Maybe SootModel::n(int k) { \
    return (hooks_ && hooks_->overrides(MethodId::n)) ? hooks_->call_oi(MethodId::n, k) : n##_body(k); }
#define FV_METHOD(kind, name, params, note) FV_ENTRY_##kind(name)
#include "soot_methods.def"
#undef FV_METHOD

// A foreign callable is host code, which may change anything: the memo is
// suspended before it runs.
inline double SootModel::slot_d(SlotId s) {
  const Slot& sl = slots[static_cast<int>(s)];
  if (sl.kind == Slot::Kind::Own) return call_own_d0(sl.method);
  memo_suspend();
  return host_->call_slot_d(s);  // external callables, and the error for None
}

inline void SootModel::slot_v(SlotId s) {
  const Slot& sl = slots[static_cast<int>(s)];
  if (sl.kind == Slot::Kind::Own) return call_own_v0(sl.method);
  memo_suspend();
  host_->call_slot_v(s);
}

}  // namespace fv::soot
