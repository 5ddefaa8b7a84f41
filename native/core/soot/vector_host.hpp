// A Host for using the soot model from C++ alone: array fields are plain
// vectors, and slots can hold only the model's own methods.
#pragma once

#include <vector>

#include "soot_model.hpp"

namespace fv::soot {

class VectorHost : public Host {
 public:
  std::vector<double>& array(ArrayId a) { return arrays_[static_cast<int>(a)]; }

  long size(ArrayId a) override { return static_cast<long>(array(a).size()); }
  double get(ArrayId a, long i) override { return array(a)[index(a, i)]; }
  void set(ArrayId a, long i, double v) override { array(a)[index(a, i)] = v; }
  void zeros(ArrayId a, long n) override { array(a).assign(static_cast<std::size_t>(n), 0.0); }
  void zeros_like(ArrayId dst, ArrayId src) override {
    array(dst).assign(array(src).size(), 0.0);
  }
  double call_slot_d(SlotId) override { throw_empty(); }
  void call_slot_v(SlotId) override { throw_empty(); }
  // separate vectors, and no code of another language behind them
  bool plain_arrays(ArrayView* views) override {
    for (int a = 0; a < kArrayCount; ++a)
      views[a] = ArrayView{reinterpret_cast<char*>(arrays_[a].data()), sizeof(double),
                           static_cast<long>(arrays_[a].size()), true};
    return true;
  }

 private:
  std::size_t index(ArrayId a, long i) {
    const long n = static_cast<long>(array(a).size());
    const long j = i < 0 ? i + n : i;
    if (j < 0 || j >= n) throw_index_error(i, static_cast<std::size_t>(n), "array");
    return static_cast<std::size_t>(j);
  }
  [[noreturn]] static void throw_empty() {
    throw Error(ErrorKind::Type, "slot holds no method of this model");
  }
  std::vector<double> arrays_[kArrayCount];
};

// A soot model with its own vector storage, ready for use from C++.
class StandaloneSootModel : public SootModel {
 public:
  StandaloneSootModel() {
    attach(&host_, nullptr);
    apply_defaults();
  }
  VectorHost& arrays() { return host_; }

 private:
  VectorHost host_;
};

}  // namespace fv::soot
