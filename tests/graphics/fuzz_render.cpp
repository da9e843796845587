// The renderer on arbitrary display lists: the first bytes choose the
// subplot's axes, options and limits, the rest make the list's doubles. Every
// section is drawn through the recording device; nothing may read outside the
// list or the scratch area, and every walk must end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/renderer.h"
#include "tests/support/recording_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHead = 4 + 4 * sizeof(double);
  if (size < kHead) return 0;
  SubplotRecord r;
  InitSubplotRecord(&r);
  SetSubplotPixelRect(&r, 0, 200 + data[0], 0, 150 + data[1]);
  r.scaleFlags = data[2] & 0x5B;
  r.polar = data[2] >> 7;
  r.is3D = (data[3] & 0x80) != 0 ? 1 : 0;
  r.plotOptions = int32_t(0x138BBB ^ (uint32_t(data[3] & 0x7F) * 0x2345));
  double limits[4];
  std::memcpy(limits, data + 4, sizeof limits);
  for (int a = 0; a < 2; ++a) {
    if (std::isfinite(limits[2 * a]) && std::isfinite(limits[2 * a + 1])) {
      r.minimum[a] = std::fmin(limits[2 * a], limits[2 * a + 1]);
      r.maximum[a] = std::fmax(limits[2 * a], limits[2 * a + 1]);
      r.mode[a] = kAxisSet;
    }
  }
  ComputePixelMapping(&r, false, 0.04);
  r.metricsStale = 1;

  // Most list doubles are small integers, one byte each, so that element
  // headers and counts come up often; a byte 0xFF is followed by a raw double.
  std::vector<double> list;
  for (size_t i = kHead; i < size;) {
    if (data[i] == 0xFF && i + 1 + sizeof(double) <= size) {
      double v;
      std::memcpy(&v, data + i + 1, sizeof v);
      list.push_back(v);
      i += 1 + sizeof v;
    } else {
      list.push_back(double(int8_t(data[i])));
      ++i;
    }
  }
  std::vector<double> scratch(64);
  DrawingDevice device = RecordingDevice();
  int32_t position = 0;
  for (int sections = 0; sections < 64; ++sections) {
    Recording rec;
    const int32_t before = position;
    bool more =
        RenderDisplayList(list.data(), int32_t(list.size()), scratch.data(), int64_t(scratch.size()), &r, &position,
                          nullptr, nullptr, nullptr, nullptr, nullptr, EditState{-1, 0, 0, 0}, false, &device, &rec);
    if (!more || position <= before) break;
  }
  return 0;
}
