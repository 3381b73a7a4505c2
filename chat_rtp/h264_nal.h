// Splitting H.264 Annex B byte streams into NAL units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chat_rtp {

// One NAL unit inside a caller's buffer, without its start code.
struct NalUnit {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

constexpr uint8_t kNalTypeSei = 6;
constexpr uint8_t kNalTypeSps = 7;
constexpr uint8_t kNalTypePps = 8;

inline uint8_t NalType(const NalUnit& unit) { return unit.data[0] & 0x1F; }

// The NAL units of `data` in order, found by their 3- or 4-byte start codes.
// SEI units and empty units are left out; bytes before the first start code
// are not a unit. The units point into `data`.
std::vector<NalUnit> FindNalUnits(const uint8_t* data, size_t size);

}  // namespace chat_rtp
