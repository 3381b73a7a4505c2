#include "chat_rtp/h264_nal.h"

namespace chat_rtp {

std::vector<NalUnit> FindNalUnits(const uint8_t* data, size_t size) {
  std::vector<NalUnit> units;
  bool in_unit = false;
  bool unit_is_sei = false;
  size_t unit_begin = 0;
  auto close_unit = [&](size_t end) {
    // An SEI or an empty unit (two start codes back to back) is not recorded,
    // but still ends where the next start code begins.
    if (in_unit && !unit_is_sei && end > unit_begin)
      units.push_back({data + unit_begin, end - unit_begin});
  };
  size_t i = 0;
  while (i + 3 < size) {
    uint8_t b = data[i + 2];
    if (b > 1) {
      i += 3;
    } else if (b == 0) {
      i += 1;
    } else {
      if (data[i] == 0 && data[i + 1] == 0) {
        size_t code_begin = (i > 0 && data[i - 1] == 0) ? i - 1 : i;
        close_unit(code_begin);
        in_unit = true;
        unit_begin = i + 3;
        unit_is_sei = (data[unit_begin] & 0x1F) == kNalTypeSei;
      }
      i += 3;
    }
  }
  close_unit(size);
  return units;
}

}  // namespace chat_rtp
