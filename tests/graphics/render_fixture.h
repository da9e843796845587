// Subplots with an exact mapping and a reader of what the recording device
// logged, for the tests of the renderer, the frame and the legend.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/renderer.h"
#include "tests/support/recording_device.h"

// A 2-D subplot whose plot rectangle is [left, right] x [top, bottom] pixels
// (inside a subplot rectangle `inset` pixels larger at the top) and whose
// limits map onto it without padding.
inline SubplotRecord MakeSubplot(double xMin, double xMax, double yMin, double yMax, double width = 400,
                                 double height = 300, int32_t scaleFlags = 0, double inset = 0) {
  SubplotRecord r;
  InitSubplotRecord(&r);
  const double plot[4] = {0, width, inset, inset + height};
  const double outer[4] = {0, width, 0, inset + height};
  for (int i = 0; i < 4; ++i) r.plotRect[i] = plot[i], r.subplotRect[i] = outer[i];
  r.metricsStale = 0;
  r.scaleFlags = scaleFlags;
  r.minimum[0] = xMin, r.maximum[0] = xMax;
  r.minimum[1] = yMin, r.maximum[1] = yMax;
  r.mode[0] = r.mode[1] = kAxisSet;
  ComputePixelMapping(&r, false, 0);
  return r;
}

struct Point {
  double x, y;
};
struct Call {
  std::string op;
  std::vector<Point> points;  // polylines
  std::string text;           // texts: the quoted bytes
};

// Splits the recording into operations; polylines carry their points.
inline std::vector<Call> Calls(const Recording& rec) {
  std::vector<Call> out;
  for (const std::string& line : rec.calls) {
    Call c;
    std::istringstream in(line);
    in >> c.op;
    if (c.op == "polyline") {
      std::string word;
      in >> word >> word >> word;  // "style", the word and the colour
      while (in >> word) {
        size_t comma = word.find(',');
        c.points.push_back({std::strtod(word.substr(0, comma).c_str(), nullptr),
                            std::strtod(word.substr(comma + 1).c_str(), nullptr)});
      }
    } else if (c.op == "text") {
      size_t open = line.find('"'), close = line.rfind('"');
      if (open != std::string::npos && close > open) c.text = line.substr(open + 1, close - open - 1);
    }
    out.push_back(c);
  }
  return out;
}

inline std::vector<Call> Only(const std::vector<Call>& calls, const std::string& op) {
  std::vector<Call> out;
  for (const Call& c : calls) {
    if (c.op == op) out.push_back(c);
  }
  return out;
}
