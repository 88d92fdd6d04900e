// Values that depend on an integer phase alone, kept for the last N phases.
// Effects whose copies run along one path a few frames apart (the triangles'
// chain, the copper bars) ask a frame for mostly the phases an earlier frame
// asked for: each value is then worked out once, not once per copy and frame.
// A kept value is the one the computation gave, so frames do not change.
#pragma once

namespace vornisk {

template <typename Value, unsigned N>
class PhaseMemo {
  static_assert(N != 0 && (N & (N - 1)) == 0, "N is a power of two");

 public:
  // The value for `phase`: kept, or made by `make(phase)` and kept in the
  // slot of the phase's residue mod N.
  template <typename Make>
  const Value& at(int phase, Make make) {
    Slot& slot = slots_[static_cast<unsigned>(phase) % N];
    if (!slot.known || slot.phase != phase) slot = {phase, true, make(phase)};
    return slot.value;
  }

 private:
  struct Slot {
    int phase = 0;
    bool known = false;
    Value value{};
  };
  Slot slots_[N];
};

}  // namespace vornisk
