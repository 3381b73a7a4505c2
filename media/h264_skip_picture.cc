#include "media/h264_skip_picture.h"

#include <algorithm>
#include <cstddef>

namespace chat_rtsp {

namespace {

// The payload of a NAL unit with the emulation-prevention bytes removed.
std::vector<uint8_t> Unescape(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size);
  int zeros = 0;
  for (size_t i = 0; i < size; ++i) {
    if (zeros >= 2 && data[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = data[i] == 0 ? zeros + 1 : 0;
    out.push_back(data[i]);
  }
  return out;
}

// Appends rbsp with emulation-prevention bytes put in.
void Escape(const std::vector<uint8_t>& rbsp, std::vector<uint8_t>* out) {
  int zeros = 0;
  for (uint8_t byte : rbsp) {
    if (zeros >= 2 && byte <= 3) {
      out->push_back(3);
      zeros = 0;
    }
    zeros = byte == 0 ? zeros + 1 : 0;
    out->push_back(byte);
  }
}

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Bits(int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= size_ * 8) {
        failed_ = true;
        return 0;
      }
      value = (value << 1) | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
      ++pos_;
    }
    return value;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (Bits(1) == 0) {
      if (failed_ || ++zeros > 31) {
        failed_ = true;
        return 0;
      }
    }
    return zeros ? ((1u << zeros) - 1 + Bits(zeros)) : 0;
  }
  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
  size_t Position() const { return pos_; }
  bool Failed() const { return failed_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool failed_ = false;
};

class BitWriter {
 public:
  void Bits(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) Bit((value >> i) & 1);
  }
  void Ue(uint32_t value) {
    const uint32_t v = value + 1;
    int length = 0;
    while ((v >> length) > 1) ++length;
    Bits(0, length);
    Bits(v, length + 1);
  }
  void Se(int32_t value) { Ue(value > 0 ? 2 * value - 1 : -2 * value); }
  // rbsp_trailing_bits: a one, then zeros to the byte's end.
  std::vector<uint8_t> Finish() {
    Bit(1);
    while (bits_ % 8) Bit(0);
    return bytes_;
  }

 private:
  void Bit(uint32_t bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
    ++bits_;
  }
  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

struct Nal {
  const uint8_t* data;  // the header byte
  size_t size;
};

// Every NAL unit of an Annex B buffer, SEI included.
std::vector<Nal> SplitAnnexB(const uint8_t* data, size_t size) {
  std::vector<Nal> units;
  size_t i = 0, start = 0;
  bool in_unit = false;
  while (i + 3 <= size) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      if (in_unit) {
        size_t end = i;
        while (end > start && data[end - 1] == 0) --end;  // a 4-byte code's zero
        units.push_back(Nal{data + start, end - start});
      }
      i += 3;
      start = i;
      in_unit = true;
    } else {
      ++i;
    }
  }
  if (in_unit && start < size) units.push_back(Nal{data + start, size - start});
  // A unit needs its header byte; empty ones (start codes back to back) go.
  units.erase(std::remove_if(units.begin(), units.end(), [](const Nal& n) { return n.size < 1; }),
              units.end());
  return units;
}

constexpr uint8_t kStartCode[] = {0, 0, 0, 1};

}  // namespace

bool H264SkipPictures::Init(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps) {
  ready_ = false;
  if (sps.size() < 4 || pps.size() < 2) return false;
  std::vector<uint8_t> s = Unescape(sps.data() + 1, sps.size() - 1);
  BitReader r(s.data(), s.size());
  const uint32_t profile = r.Bits(8);
  r.Bits(16);  // constraint flags, level
  r.Ue();      // sps id
  // The high profiles carry chroma and scaling fields first; the screen
  // source's streams are baseline.
  if (profile != 66 && profile != 77 && profile != 88) return false;
  log2_max_frame_num_ = static_cast<int>(r.Ue()) + 4;
  // Picture order from the frame numbers: nothing more in a slice header.
  if (r.Ue() != 2) return false;
  if (r.Ue() < 1) return false;  // reference frames
  r.Bits(1);                     // gaps allowed
  const uint32_t width_mbs = r.Ue() + 1;
  const uint32_t height_units = r.Ue() + 1;
  if (r.Bits(1) != 1) return false;  // frames only
  if (r.Failed() || log2_max_frame_num_ > 16) return false;
  mb_count_ = static_cast<int>(width_mbs * height_units);

  std::vector<uint8_t> p = Unescape(pps.data() + 1, pps.size() - 1);
  BitReader q(p.data(), p.size());
  if (q.Ue() != 0) return false;  // pps id 0, which the made slices name
  q.Ue();                         // sps id
  if (q.Bits(1) != 0) return false;  // CAVLC
  q.Bits(1);                         // bottom field order
  if (q.Ue() != 0) return false;     // one slice group
  if (q.Ue() != 0) return false;     // one reference by default
  q.Ue();
  if (q.Bits(1) != 0) return false;  // no weighted prediction
  q.Bits(2);
  q.Se();
  q.Se();
  q.Se();
  deblocking_control_ = q.Bits(1) == 1;
  q.Bits(1);
  if (q.Bits(1) != 0) return false;  // no redundant pictures
  if (q.Failed()) return false;
  ready_ = true;
  return true;
}

bool H264SkipPictures::TakeEncoded(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  if (!ready_) return false;
  const uint32_t mask = (1u << log2_max_frame_num_) - 1;
  std::vector<Nal> units = SplitAnnexB(data, size);
  bool rewrite = false;
  for (const Nal& unit : units) {
    const int type = unit.data[0] & 0x1F;
    if ((type != 1 && type != 5) || unit.size < 2) continue;
    // The header up to frame_num fits in a few bytes.
    std::vector<uint8_t> head = Unescape(unit.data + 1, std::min<size_t>(unit.size - 1, 16));
    BitReader r(head.data(), head.size());
    r.Ue();
    r.Ue();
    r.Ue();
    const uint32_t frame_num = r.Bits(log2_max_frame_num_);
    if (r.Failed()) return false;
    if (type == 5) {
      have_key_ = true;
      shift_ = 0;
    }
    last_frame_num_ = (frame_num + shift_) & mask;
    rewrite = shift_ != 0;
  }
  if (!rewrite) return false;
  out->clear();
  out->reserve(size + 16);
  for (const Nal& unit : units) {
    out->insert(out->end(), kStartCode, kStartCode + 4);
    const int type = unit.data[0] & 0x1F;
    if (type != 1 || unit.size < 2) {
      out->insert(out->end(), unit.data, unit.data + unit.size);
      continue;
    }
    std::vector<uint8_t> rbsp = Unescape(unit.data + 1, unit.size - 1);
    BitReader r(rbsp.data(), rbsp.size());
    r.Ue();
    r.Ue();
    r.Ue();
    const size_t at = r.Position();
    const uint32_t frame_num = r.Bits(log2_max_frame_num_);
    const uint32_t moved = (frame_num + shift_) & mask;
    for (int i = 0; i < log2_max_frame_num_; ++i) {
      const size_t bit = at + static_cast<size_t>(i);
      const uint8_t flag = static_cast<uint8_t>(0x80 >> (bit % 8));
      if ((moved >> (log2_max_frame_num_ - 1 - i)) & 1)
        rbsp[bit / 8] |= flag;
      else
        rbsp[bit / 8] &= static_cast<uint8_t>(~flag);
    }
    out->push_back(unit.data[0]);
    Escape(rbsp, out);
  }
  return true;
}

std::vector<uint8_t> H264SkipPictures::MakeSkip() {
  if (!ready_ || !have_key_) return {};
  const uint32_t mask = (1u << log2_max_frame_num_) - 1;
  const uint32_t frame_num = (last_frame_num_ + 1) & mask;
  BitWriter w;
  w.Ue(0);  // first macroblock
  w.Ue(5);  // P, and every slice of the picture is P
  w.Ue(0);  // pps id
  w.Bits(frame_num, log2_max_frame_num_);
  w.Bits(0, 1);  // the default number of references
  w.Bits(0, 1);  // reference list as it is
  w.Bits(0, 1);  // sliding-window marking
  w.Se(0);       // slice QP as the PPS says
  if (deblocking_control_) w.Ue(1);  // no deblocking: the copy stays exact
  w.Ue(static_cast<uint32_t>(mb_count_));  // every macroblock skipped
  std::vector<uint8_t> out(kStartCode, kStartCode + 4);
  out.push_back(0x41);  // nal_ref_idc 2, coded slice of a non-IDR picture
  Escape(w.Finish(), &out);
  last_frame_num_ = frame_num;
  ++shift_;
  return out;
}

}  // namespace chat_rtsp
