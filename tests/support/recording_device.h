// A drawing device that draws nothing and logs every operation with its
// arguments, one line per call, for tests of code that draws through a device.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "graphics/device.h"

struct Recording {
  std::vector<std::string> calls;
  double textWidth = 10;  // what the text extent operation reports
  double textHeight = 16;
};

namespace recording_detail {

inline Recording* R(void* context) { return static_cast<Recording*>(context); }

inline std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

inline std::string Colour(RgbColour c) {
  return "(" + std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) + ")";
}

inline std::string Style(const PlotStyle* s) {
  return "style " + std::to_string(s->word) + " " + Colour({s->red, s->green, s->blue});
}

inline std::string Bytes(const uint8_t* b, int32_t n) {
  return b ? "\"" + std::string(reinterpret_cast<const char*>(b), size_t(std::max(n, 0))) + "\"" : "null";
}

}  // namespace recording_detail

inline DrawingDevice RecordingDevice() {
  using namespace recording_detail;
  // The parameters of a device before any is installed, without linking the devices.
  DrawingDevice d{};
  d.d4 = d.d5 = 1;
  d.d6 = d.d7 = 8;
  d.beginClip = [](double x0, double x1, double y0, double y1, void* c) {
    R(c)->calls.push_back("beginClip " + Num(x0) + " " + Num(x1) + " " + Num(y0) + " " + Num(y1));
  };
  d.endClip = [](void* c) { R(c)->calls.push_back("endClip"); };
  d.polyline = [](const double* x, const double* y, int32_t n, const PlotStyle* s, void* c) {
    std::string line = "polyline " + Style(s);
    for (int32_t i = 0; i < n; ++i) line += " " + Num(x[i]) + "," + Num(y[i]);
    R(c)->calls.push_back(line);
  };
  d.ellipse = [](double cx, double cy, double rx, double ry, const PlotStyle* s, void* c) {
    R(c)->calls.push_back("ellipse " + Num(cx) + " " + Num(cy) + " " + Num(rx) + " " + Num(ry) + " " + Style(s));
  };
  d.text = [](double x, double y, const uint8_t* b, int32_t n, int32_t align, const RgbColour* col, void* c) {
    R(c)->calls.push_back("text " + Num(x) + " " + Num(y) + " " + Bytes(b, n) + " " + std::to_string(align) + " " +
                          (col ? Colour(*col) : "null"));
  };
  d.textExtent = [](const uint8_t* b, int32_t n, double* w, double* h, void* c) {
    R(c)->calls.push_back("textExtent " + Bytes(b, n));
    if (w) *w = R(c)->textWidth;
    if (h) *h = R(c)->textHeight;
  };
  d.font = [](const char* name, double size, int32_t style, RgbColour col, void* c) {
    R(c)->calls.push_back(std::string("font ") + (name ? name : "null") + " " + Num(size) + " " +
                          std::to_string(style) + " " + Colour(col));
  };
  d.focusRect = [](double l, double t, double r, double b, int32_t style, void* c) {
    R(c)->calls.push_back("focusRect " + Num(l) + " " + Num(t) + " " + Num(r) + " " + Num(b) + " " +
                          std::to_string(style));
  };
  d.frameRect = [](double l, double t, double r, double b, void* c) {
    R(c)->calls.push_back("frameRect " + Num(l) + " " + Num(t) + " " + Num(r) + " " + Num(b));
  };
  d.image = [](double x, double y, int32_t cols, int32_t rows, int32_t hx, int32_t vy, const uint8_t* red,
               const uint8_t* green, const uint8_t* blue, void* c) {
    R(c)->calls.push_back("image " + Num(x) + " " + Num(y) + " " + std::to_string(cols) + "x" + std::to_string(rows) +
                          " repeats " + std::to_string(hx) + "," + std::to_string(vy) + (red ? " r" : "") +
                          (green ? " g" : "") + (blue ? " b" : ""));
  };
  d.pixelScale = [](double* x, double* y, void* c) {
    R(c)->calls.push_back("pixelScale");
    *x = 1;
    *y = 1;
  };
  d.fillRect = [](double l, double t, double r, double b, int32_t mode, void* c) {
    R(c)->calls.push_back("fillRect " + Num(l) + " " + Num(t) + " " + Num(r) + " " + Num(b) + " " +
                          std::to_string(mode));
  };
  return d;
}
