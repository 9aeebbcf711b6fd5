#include "tests/playapi/hostile_media.h"

#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace rovik_test {
namespace {

class BitWriter {
 public:
  void U(int n, uint32_t value) {
    for (int i = n - 1; i >= 0; --i) bits_.push_back(static_cast<uint8_t>((value >> i) & 1));
  }
  void Ue(uint32_t value) {
    const uint32_t v = value + 1;
    int n = 0;
    while ((v >> n) > 1) ++n;
    U(n, 0);
    U(n + 1, v);
  }
  void Se(int32_t value) { Ue(value > 0 ? 2 * value - 1 : static_cast<uint32_t>(-2 * value)); }
  void AlignZero() {
    while (bits_.size() % 8 != 0) bits_.push_back(0);
  }
  void Trailing() {
    bits_.push_back(1);
    AlignZero();
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out(bits_.size() / 8, 0);
    for (size_t i = 0; i < out.size() * 8; ++i) out[i / 8] |= static_cast<uint8_t>(bits_[i] << (7 - i % 8));
    return out;
  }

 private:
  std::vector<uint8_t> bits_;
};

// Start code, header byte, then the payload with emulation prevention bytes.
void AppendNal(std::vector<uint8_t>& out, uint8_t header, const std::vector<uint8_t>& rbsp) {
  out.insert(out.end(), {0, 0, 0, 1, header});
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
}

}  // namespace

std::vector<uint8_t> PcmH264Unit(int width, int height, int macroblocks, uint8_t y, uint8_t u,
                                 uint8_t v) {
  std::vector<uint8_t> out;
  BitWriter sps;
  sps.U(8, 66);    // baseline
  sps.U(8, 0xC0);  // constraint sets 0 and 1
  sps.U(8, 51);    // level
  sps.Ue(0);       // seq_parameter_set_id
  sps.Ue(0);       // log2_max_frame_num_minus4
  sps.Ue(2);       // pic_order_cnt_type
  sps.Ue(1);       // max_num_ref_frames
  sps.U(1, 0);     // gaps_in_frame_num_value_allowed_flag
  sps.Ue(static_cast<uint32_t>(width / 16 - 1));
  sps.Ue(static_cast<uint32_t>(height / 16 - 1));
  sps.U(1, 1);  // frame_mbs_only_flag
  sps.U(1, 1);  // direct_8x8_inference_flag
  sps.U(1, 0);  // frame_cropping_flag
  sps.U(1, 0);  // vui_parameters_present_flag
  sps.Trailing();
  AppendNal(out, 0x67, sps.Bytes());

  BitWriter pps;
  pps.Ue(0);     // pic_parameter_set_id
  pps.Ue(0);     // seq_parameter_set_id
  pps.U(1, 0);   // CAVLC
  pps.U(1, 0);   // bottom_field_pic_order_in_frame_present_flag
  pps.Ue(0);     // num_slice_groups_minus1
  pps.Ue(0);     // num_ref_idx_l0_default_active_minus1
  pps.Ue(0);     // num_ref_idx_l1_default_active_minus1
  pps.U(1, 0);   // weighted_pred_flag
  pps.U(2, 0);   // weighted_bipred_idc
  pps.Se(0);     // pic_init_qp_minus26
  pps.Se(0);     // pic_init_qs_minus26
  pps.Se(0);     // chroma_qp_index_offset
  pps.U(1, 1);   // deblocking_filter_control_present_flag
  pps.U(1, 0);   // constrained_intra_pred_flag
  pps.U(1, 0);   // redundant_pic_cnt_present_flag
  pps.Trailing();
  AppendNal(out, 0x68, pps.Bytes());

  BitWriter slice;
  slice.Ue(0);    // first_mb_in_slice
  slice.Ue(7);    // slice_type: I, all slices of the picture
  slice.Ue(0);    // pic_parameter_set_id
  slice.U(4, 0);  // frame_num
  slice.Ue(0);    // idr_pic_id
  slice.U(1, 0);  // no_output_of_prior_pics_flag
  slice.U(1, 0);  // long_term_reference_flag
  slice.Se(0);    // slice_qp_delta
  slice.Ue(1);    // disable_deblocking_filter_idc
  for (int mb = 0; mb < macroblocks; ++mb) {
    slice.Ue(25);  // I_PCM
    slice.AlignZero();
    for (int i = 0; i < 256; ++i) slice.U(8, y);
    for (int i = 0; i < 64; ++i) slice.U(8, u);
    for (int i = 0; i < 64; ++i) slice.U(8, v);
  }
  slice.Trailing();
  AppendNal(out, 0x65, slice.Bytes());
  return out;
}

std::vector<uint8_t> SolidH264Unit(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
  return PcmH264Unit(width, height, (width / 16) * (height / 16), y, u, v);
}

std::vector<uint8_t> SolidJpeg(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = r;
    rgb[i + 1] = g;
    rgb[i + 2] = b;
  }
  tjhandle h = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0);
  std::vector<uint8_t> out(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(h);
  return out;
}

std::vector<uint8_t> JpegClaiming(std::vector<uint8_t> jpeg, int width, int height) {
  for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<uint8_t>(height);
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<uint8_t>(width);
      break;
    }
  }
  return jpeg;
}

size_t ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
  }
  return 0;
}

}  // namespace rovik_test
