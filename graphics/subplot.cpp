// The subplot record's initialisation and plain accessors: options, scale
// type, titles and axis names, and the modes of the automatic limits.
#include "graphics/subplot.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int32_t kLogBits = kScaleLogX | kScaleLogY | kScaleDecibelY;
constexpr int32_t kGridLevelBits = 0x7000;

// Every field that a reset gives its initial value; the pressed-control
// fields, the zoom bounds and the runtime's words are left alone.
void InitContents(SubplotRecord* r) {
  r->hasScale = 0;
  std::memset(r->pad0, 0, sizeof r->pad0);
  for (int a = 0; a < 3; ++a) {
    r->mode[a] = kAxisNone;
    r->minimum[a] = 1e30;
    r->maximum[a] = -1e30;
    r->defaultLimits[a][0] = 1e30;
    r->defaultLimits[a][1] = -1e30;
    r->scaleFactors[a] = 1;
  }
  r->optionsFrozen = 0;
  const double rect[4] = {0, 1000, 0, 1000};
  std::memcpy(r->plotRect, rect, sizeof rect);
  std::memcpy(r->subplotRect, rect, sizeof rect);
  std::fill(r->margins, r->margins + 4, 0.0);
  r->spanRecorded[0] = r->spanRecorded[1] = 0;
  r->metricsStale = 1;
  r->characterWidth = 12;
  r->characterHeight = 20;
  r->xOffset = 0;
  r->xScale = 1;
  r->yOffset = 0;
  r->yScale = 1;
  r->scaleFlags = 0;
  r->is3D = 0;
  r->polar = 0;
  r->secondaryScaleCode = 0;
  r->tickSpacing = 10;
  r->majorTickLength = 4;
  r->minorTickLength = 2;
  r->contentOptions = 0;
  r->plotOptions = kDefaultPlotOptions;
  r->optionsExplicit = 0;
  std::memset(r->title, 0, sizeof r->title);
  std::memset(r->axisName, 0, sizeof r->axisName);
  r->scaleTypeExplicit = 0;
}

void CopyText(uint8_t* field, size_t size, const char* text, int32_t length) {
  size_t n = 0;
  if (text != nullptr) n = length >= 0 ? std::min(static_cast<size_t>(length), size) : strnlen(text, size);
  if (n > 0) std::memcpy(field, text, n);
  std::memset(field + n, 0, size - n);
}

}  // namespace

void InitSubplotRecord(SubplotRecord* r) {
  InitContents(r);
  InitCamera(r);
  ComputeView3D(r);
}

void ResetSubplotContents(SubplotRecord* r, bool resetOptions) {
  const SubplotRecord kept = *r;
  InitContents(r);
  std::memcpy(r->plotRect, kept.plotRect, sizeof r->plotRect);
  std::memcpy(r->subplotRect, kept.subplotRect, sizeof r->subplotRect);
  std::memcpy(r->margins, kept.margins, sizeof r->margins);
  r->metricsStale = kept.metricsStale;
  r->characterWidth = kept.characterWidth;
  r->characterHeight = kept.characterHeight;
  if (!resetOptions) {
    r->plotOptions = kept.plotOptions;
    r->contentOptions = kept.contentOptions;
    r->optionsExplicit = kept.optionsExplicit;
  }
  InitCamera(r);
  ComputeView3D(r);
}

void SetCharacterSize(SubplotRecord* r, double width, double height) {
  r->characterWidth = width;
  r->characterHeight = r->plotRect[2] > r->plotRect[3] ? -std::fabs(height) : std::fabs(height);
}

void MarkSubplotScaleStale(SubplotRecord* r) { r->metricsStale = 1; }
bool IsSubplotMetricsCurrent(const SubplotRecord* r) { return r->metricsStale == 0; }

void SetScaleType(SubplotRecord* r, int32_t secondaryCode, int32_t flags) {
  r->secondaryScaleCode = secondaryCode;
  if (r->scaleTypeExplicit == 0) {
    r->scaleFlags = flags;
    r->scaleTypeExplicit = 1;
  } else {
    r->scaleFlags = (r->scaleFlags & kLogBits) | (flags & ~kLogBits);
  }
  ComputePixelMapping(r, true, 0.04);
}

void SetScaleTypeFixed(SubplotRecord* r, bool fixed) { r->scaleTypeExplicit = fixed ? 1 : 0; }

void SetScaleFlags(SubplotRecord* r, int32_t value, int32_t mask) {
  r->scaleFlags = (r->scaleFlags & ~mask) | (value & mask);
}

void GetScaleFlags(const SubplotRecord* r, int32_t* flags) {
  if (flags != nullptr) *flags = r->scaleFlags;
}

void SetContentGridOptions(SubplotRecord* r, int32_t contentBits, int32_t gridBits) {
  r->contentOptions = contentBits;
  if (r->optionsExplicit == 0) {
    r->plotOptions = (r->plotOptions & ~kGridLevelBits) | (gridBits & kGridLevelBits);
    r->optionsExplicit = 1;
  }
}

void SetContentPlotOptions(SubplotRecord* r, int32_t contentBits) { r->contentOptions = contentBits; }

int32_t GetApplicablePlotOptions(const SubplotRecord* r) {
  int32_t bits = (r->contentOptions & 0xE7000) | kOptionMargin;
  if (r->hasScale != 0) {
    bits |= kOptionFrame | 0x44;
    if (r->is3D != 0) bits |= 0x400;
  }
  if (r->title[0] != 0 && (r->plotOptions & kOptionMargin) != 0) bits |= kOptionLabel;
  return bits;
}

void SetPlotOptions(SubplotRecord* r, int32_t value, int32_t mask) {
  int32_t old = r->plotOptions;
  r->plotOptions = (value & mask) | (old & ~mask);
  if (((old ^ r->plotOptions) & (kOptionFrame | kOptionMargin)) != 0) {
    SetSubplotPixelRect(r, r->subplotRect[0], r->subplotRect[1], r->subplotRect[2], r->subplotRect[3]);
  }
}

int32_t GetPlotOptions(const SubplotRecord* r) {
  int32_t bits = r->plotOptions;
  if (r->title[0] == 0) bits &= ~kOptionLabel;
  if (r->hasScale == 0) bits &= ~kOptionFrame;
  return bits;
}

void MarkPlotOptionsSet(SubplotRecord* r) { r->optionsExplicit = 1; }

void SetSubplotTitle(SubplotRecord* r, const char* text, int32_t length) {
  CopyText(r->title, sizeof r->title, text, length);
}

void SetAxisLabels(SubplotRecord* r, const char* x, int32_t xLength, const char* y, int32_t yLength, const char* z,
                   int32_t zLength) {
  const char* texts[3] = {x, y, z};
  const int32_t lengths[3] = {xLength, yLength, zLength};
  for (int a = 0; a < 3; ++a) {
    if (texts[a] != nullptr) CopyText(r->axisName[a], sizeof r->axisName[a], texts[a], lengths[a]);
  }
}

void SetScaleFactors(SubplotRecord* r, double x, double y, double z) {
  r->scaleFactors[0] = x;
  r->scaleFactors[1] = y;
  r->scaleFactors[2] = z;
}

void GetScaleFactors(const SubplotRecord* r, double* x, double* y, double* z) {
  if (x != nullptr) *x = r->scaleFactors[0];
  if (y != nullptr) *y = r->scaleFactors[1];
  if (z != nullptr) *z = r->scaleFactors[2];
}

void ResetAutoLimits(SubplotRecord* r) {
  for (int a = 0; a < 3; ++a) {
    if (r->mode[a] >= kAxisFixed) continue;
    r->mode[a] = kAxisAutomatic;
    r->minimum[a] = r->defaultLimits[a][0];
    r->maximum[a] = r->defaultLimits[a][1];
  }
}

void SuspendAutoRange(SubplotRecord* r, bool suspend) {
  for (int a = 0; a < 3; ++a) {
    r->mode[a] = suspend ? r->mode[a] | kAxisSuspended : r->mode[a] & ~kAxisSuspended;
  }
}

void SetSubplot3D(SubplotRecord* r, bool flag) { r->is3D = flag ? 1 : 0; }
bool IsSubplot3D(const SubplotRecord* r) { return r->is3D != 0; }

void GetSubplotLimits(const SubplotRecord* r, double* xMin, double* xMax, double* yMin, double* yMax, double* zMin,
                      double* zMax) {
  double* outs[6] = {xMin, xMax, yMin, yMax, zMin, zMax};
  for (int a = 0; a < 3; ++a) {
    if (outs[2 * a] != nullptr) *outs[2 * a] = r->minimum[a];
    if (outs[2 * a + 1] != nullptr) *outs[2 * a + 1] = r->maximum[a];
  }
}
