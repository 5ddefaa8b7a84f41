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

#include <cstdint>
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

  // ---- slots and arrays -----------------------------------------------------
  double slot_d(SlotId s);
  void slot_v(SlotId s);
  double call_own_d0(MethodId m);  // the body of an own double() method
  void call_own_v0(MethodId m);    // the body of an own void() method

  double aget(ArrayId a, long i) { return host_->get(a, i); }
  void aset(ArrayId a, long i, double v) { host_->set(a, i, v); }
  // a[i] = a[i] + dv, read and written back through the array's item access
  void aadd(ArrayId a, long i, double dv) { host_->set(a, i, host_->get(a, i) + dv); }
  long alen(ArrayId a) { return host_->size(a); }
  double asum(ArrayId a);
  double adot(ArrayId a, ArrayId b);

 private:
  // internal steps of the PAH models, not overridable
  void update_ROP();
  void update_ROP_irrevd();
  double k_nuc_irrevd(int PAH_1_id, int PAH_2_id);

  Host* host_ = nullptr;
  Hooks* hooks_ = nullptr;
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

inline double SootModel::slot_d(SlotId s) {
  const Slot& sl = slots[static_cast<int>(s)];
  if (sl.kind == Slot::Kind::Own) return call_own_d0(sl.method);
  return host_->call_slot_d(s);  // external callables, and the error for None
}

inline void SootModel::slot_v(SlotId s) {
  const Slot& sl = slots[static_cast<int>(s)];
  if (sl.kind == Slot::Kind::Own) return call_own_v0(sl.method);
  host_->call_slot_v(s);
}

}  // namespace fv::soot
