// The subplot model: the record a subplot keeps (a stored format, restored
// byte for byte with the instance records), the mapping of data to pixels and
// its automatic limits, zoom, pan and lock, and the 3-D camera and view.
#pragma once

#include <cstddef>
#include <cstdint>

// 848 bytes, little-endian, every field at a fixed offset. The padding members
// are part of the format: they are written as 0 and restored as they come.
// Axis arrays are indexed x, y, z; rectangles are {x0, x1, y0, y1} (plot) and
// {left, right, top, bottom} (subplot), in pixels with y0 the top edge.
struct SubplotRecord {
  uint8_t hasScale;  // 1 once a mapping came from non-empty limits; the frame needs it
  uint8_t pad0[3];
  int32_t mode[3];  // axis modes, see kAxis*
  uint8_t optionsFrozen;
  uint8_t pad1[7];
  double minimum[3];  // a minimum above the maximum: no limits yet
  double maximum[3];
  int32_t pressedControlId;
  int32_t pressedControlItem;
  double pressedSliderMinimum;
  double pressedSliderMaximum;
  double defaultLimits[3][2];  // {minimum, maximum} per axis, restored by ResetAutoLimits
  double plotRect[4];
  double subplotRect[4];
  double margins[4];  // left, right in character widths; top, bottom in character heights
  double smallestSpan[2];
  double largestSpan[2];
  uint8_t spanRecorded[2];
  uint8_t metricsStale;
  uint8_t pad2[5];
  double characterWidth;
  double characterHeight;  // negative when the device's y axis points up
  double xOffset;          // pixel x = x offset + x scale * value (or ln value)
  double xScale;
  double yOffset;
  double yScale;
  int32_t scaleFlags;
  uint8_t is3D;
  uint8_t pad3[3];
  uint32_t cameraFlags;
  uint8_t pad4[4];
  double position[3];  // scaled data coordinates; only a direction when orthographic
  double target[3];
  double up[3];
  uint8_t orthographic;
  uint8_t pad5[7];
  double zoom;
  uint8_t automaticAspect;
  uint8_t pad6[7];
  double aspect[3];
  double axisScale[3];  // 1 / aspect: data * axis scale = scaled coordinate
  double view[16];      // rows: right, up, depth, (0, 0, 0, 1)
  uint8_t polar;
  uint8_t pad7[3];
  int32_t secondaryScaleCode;
  double scaleFactors[3];
  double tickSpacing;
  double majorTickLength;
  double minorTickLength;
  int32_t contentOptions;
  int32_t plotOptions;
  uint8_t optionsExplicit;
  uint8_t title[64];  // UTF-8, zero-filled; a full field has no terminator
  uint8_t axisName[3][16];
  uint8_t scaleTypeExplicit;
  uint8_t pad8[6];
  int32_t figureShown;  // the runtime's twelve words
  int32_t handlerSlots[11];
};
static_assert(sizeof(SubplotRecord) == 848);
static_assert(offsetof(SubplotRecord, hasScale) == 0);
static_assert(offsetof(SubplotRecord, pad0) == 1);
static_assert(offsetof(SubplotRecord, mode) == 4);
static_assert(offsetof(SubplotRecord, optionsFrozen) == 16);
static_assert(offsetof(SubplotRecord, pad1) == 17);
static_assert(offsetof(SubplotRecord, minimum) == 24);
static_assert(offsetof(SubplotRecord, maximum) == 48);
static_assert(offsetof(SubplotRecord, pressedControlId) == 72);
static_assert(offsetof(SubplotRecord, pressedControlItem) == 76);
static_assert(offsetof(SubplotRecord, pressedSliderMinimum) == 80);
static_assert(offsetof(SubplotRecord, pressedSliderMaximum) == 88);
static_assert(offsetof(SubplotRecord, defaultLimits) == 96);
static_assert(offsetof(SubplotRecord, plotRect) == 144);
static_assert(offsetof(SubplotRecord, subplotRect) == 176);
static_assert(offsetof(SubplotRecord, margins) == 208);
static_assert(offsetof(SubplotRecord, smallestSpan) == 240);
static_assert(offsetof(SubplotRecord, largestSpan) == 256);
static_assert(offsetof(SubplotRecord, spanRecorded) == 272);
static_assert(offsetof(SubplotRecord, metricsStale) == 274);
static_assert(offsetof(SubplotRecord, pad2) == 275);
static_assert(offsetof(SubplotRecord, characterWidth) == 280);
static_assert(offsetof(SubplotRecord, characterHeight) == 288);
static_assert(offsetof(SubplotRecord, xOffset) == 296);
static_assert(offsetof(SubplotRecord, xScale) == 304);
static_assert(offsetof(SubplotRecord, yOffset) == 312);
static_assert(offsetof(SubplotRecord, yScale) == 320);
static_assert(offsetof(SubplotRecord, scaleFlags) == 328);
static_assert(offsetof(SubplotRecord, is3D) == 332);
static_assert(offsetof(SubplotRecord, pad3) == 333);
static_assert(offsetof(SubplotRecord, cameraFlags) == 336);
static_assert(offsetof(SubplotRecord, pad4) == 340);
static_assert(offsetof(SubplotRecord, position) == 344);
static_assert(offsetof(SubplotRecord, target) == 368);
static_assert(offsetof(SubplotRecord, up) == 392);
static_assert(offsetof(SubplotRecord, orthographic) == 416);
static_assert(offsetof(SubplotRecord, pad5) == 417);
static_assert(offsetof(SubplotRecord, zoom) == 424);
static_assert(offsetof(SubplotRecord, automaticAspect) == 432);
static_assert(offsetof(SubplotRecord, pad6) == 433);
static_assert(offsetof(SubplotRecord, aspect) == 440);
static_assert(offsetof(SubplotRecord, axisScale) == 464);
static_assert(offsetof(SubplotRecord, view) == 488);
static_assert(offsetof(SubplotRecord, polar) == 616);
static_assert(offsetof(SubplotRecord, pad7) == 617);
static_assert(offsetof(SubplotRecord, secondaryScaleCode) == 620);
static_assert(offsetof(SubplotRecord, scaleFactors) == 624);
static_assert(offsetof(SubplotRecord, tickSpacing) == 648);
static_assert(offsetof(SubplotRecord, majorTickLength) == 656);
static_assert(offsetof(SubplotRecord, minorTickLength) == 664);
static_assert(offsetof(SubplotRecord, contentOptions) == 672);
static_assert(offsetof(SubplotRecord, plotOptions) == 676);
static_assert(offsetof(SubplotRecord, optionsExplicit) == 680);
static_assert(offsetof(SubplotRecord, title) == 681);
static_assert(offsetof(SubplotRecord, axisName) == 745);
static_assert(offsetof(SubplotRecord, axisName) + 16 == 761);
static_assert(offsetof(SubplotRecord, axisName) + 32 == 777);
static_assert(offsetof(SubplotRecord, scaleTypeExplicit) == 793);
static_assert(offsetof(SubplotRecord, pad8) == 794);
static_assert(offsetof(SubplotRecord, figureShown) == 800);
static_assert(offsetof(SubplotRecord, handlerSlots) == 804);

// Axis modes. A suspended axis (mode + 0x40) compares as at least 3 and never
// equal to 3, so it is held against plots without counting as fixed.
constexpr int32_t kAxisNone = 0;
constexpr int32_t kAxisAutomatic = 1;
constexpr int32_t kAxisSet = 2;
constexpr int32_t kAxisFixed = 3;
constexpr int32_t kAxisSuspended = 0x40;

constexpr int32_t kScaleLogX = 0x01;
constexpr int32_t kScaleLogY = 0x02;
constexpr int32_t kScaleDecibelX = 0x08;
constexpr int32_t kScaleDecibelY = 0x10;
constexpr int32_t kScaleEqual = 0x40;

constexpr uint32_t kCameraAutoTarget = 0x01;
constexpr uint32_t kCameraAutoPosition = 0x02;
constexpr uint32_t kCameraAutoUp = 0x04;
constexpr uint32_t kCameraAutoZoom = 0x08;
constexpr uint32_t kCameraFill = 0x10;

constexpr int32_t kOptionFrame = 0x8000;
constexpr int32_t kOptionLabel = 0x10000;
constexpr int32_t kOptionMargin = 0x100000;
constexpr int32_t kDefaultPlotOptions = 0x138BBB;

// ---------------------------------------------------------------------------
// The record and its plain accessors. Out pointers may be null.

void InitSubplotRecord(SubplotRecord* r);
void ResetSubplotContents(SubplotRecord* r, bool resetOptions);
void SetCharacterSize(SubplotRecord* r, double width, double height);
void MarkSubplotScaleStale(SubplotRecord* r);
bool IsSubplotMetricsCurrent(const SubplotRecord* r);
void SetScaleType(SubplotRecord* r, int32_t secondaryCode, int32_t flags);
void SetScaleTypeFixed(SubplotRecord* r, bool fixed);
void SetScaleFlags(SubplotRecord* r, int32_t value, int32_t mask);
void GetScaleFlags(const SubplotRecord* r, int32_t* flags);
void SetContentGridOptions(SubplotRecord* r, int32_t contentBits, int32_t gridBits);
void SetContentPlotOptions(SubplotRecord* r, int32_t contentBits);
int32_t GetApplicablePlotOptions(const SubplotRecord* r);
void SetPlotOptions(SubplotRecord* r, int32_t value, int32_t mask);
int32_t GetPlotOptions(const SubplotRecord* r);
void MarkPlotOptionsSet(SubplotRecord* r);
// length < 0: up to the terminating zero. At most the field's bytes are kept,
// so a UTF-8 character may be cut; readers accept that.
void SetSubplotTitle(SubplotRecord* r, const char* text, int32_t length);
// A null text leaves that name as it is.
void SetAxisLabels(SubplotRecord* r, const char* x, int32_t xLength, const char* y, int32_t yLength, const char* z,
                   int32_t zLength);
void SetScaleFactors(SubplotRecord* r, double x, double y, double z);
void GetScaleFactors(const SubplotRecord* r, double* x, double* y, double* z);
void ResetAutoLimits(SubplotRecord* r);
void SuspendAutoRange(SubplotRecord* r, bool suspend);
void SetSubplot3D(SubplotRecord* r, bool flag);
bool IsSubplot3D(const SubplotRecord* r);
void GetSubplotLimits(const SubplotRecord* r, double* xMin, double* xMax, double* yMin, double* yMax, double* zMin,
                      double* zMax);

// ---------------------------------------------------------------------------
// Pixel mapping and automatic limits.

// automatic: minimum span 1e-6 (else 1e-24); padding: the fraction of the plot
// rectangle left empty, half at each end.
void ComputePixelMapping(SubplotRecord* r, bool automatic, double padding);
void EqualizeScales(SubplotRecord* r);
void SetSubplotPixelRect(SubplotRecord* r, double left, double right, double top, double bottom);
void SetSubplotMargins(SubplotRecord* r, double left, double right, double top, double bottom);
void GetSubplotPixelRect(const SubplotRecord* r, double* left, double* right, double* top, double* bottom);
void GetMarginSize(const SubplotRecord* r, double* width, double* height);
bool IsPixelYAxisDownward(const SubplotRecord* r);
void ExtendAutoLimits(SubplotRecord* r, const double* x, const double* y, const double* z, int64_t count);
// The outputs may be the input arrays.
void DataToPixel(const SubplotRecord* r, const double* x, const double* y, const double* z, int64_t count, double* outX,
                 double* outY, double* outDepth);
void DataToPixelPerAxis(const SubplotRecord* r, const double* x, const double* y, const double* z, int64_t count,
                        double* outX, double* outY);
// The data line a x + b y = c as a pixel line; false, with zeros, when a and b are both 0.
bool LineToPixel(const SubplotRecord* r, double a, double b, double c, double* pa, double* pb, double* pc);
void PixelToData(const SubplotRecord* r, double px, double py, double* x, double* y);
void PixelDeltaToData(const SubplotRecord* r, double dx, double dy, double* x, double* y);
void GetVisibleXRange(const SubplotRecord* r, double* low, double* high);
void GetVisibleYRange(const SubplotRecord* r, double* low, double* high);
bool HaveSameScale(const SubplotRecord* a, const SubplotRecord* b, bool xOnly);
void TranslateBetweenSubplots(const SubplotRecord* from, const SubplotRecord* to, double* px, double* py);

// ---------------------------------------------------------------------------
// Zoom, pan and scale lock.

void SetSubplotLimits(SubplotRecord* r, double xMin, double xMax, double yMin, double yMax, double zMin, double zMax);
bool CanZoomSubplot(SubplotRecord* r, bool zoomIn);
bool CanZoomXAxis(SubplotRecord* r, bool zoomIn);
void ZoomSubplotToRect(SubplotRecord* r, double px0, double px1, double py0, double py1);
void ZoomXAxisToRange(SubplotRecord* r, double px0, double px1);
void ZoomOutSubplotAt(SubplotRecord* r, double px, double py);
void ZoomOutXAxisAt(SubplotRecord* r, double px);
void PanSubplotByPixels(SubplotRecord* r, double dx, double dy);
void PanXAxisByPixels(SubplotRecord* r, double dx);
void LockSubplotLimits(SubplotRecord* r);
void UnlockSubplotLimits(SubplotRecord* r);
bool IsSubplotLocked(const SubplotRecord* r);
bool IsXAxisLocked(const SubplotRecord* r);
void GetLockedLimits(const SubplotRecord* r, double* xLow, double* xHigh, double* yLow, double* yHigh);
void SetFixedLimits(SubplotRecord* r, double xMin, double xMax, double yMin, double yMax);
void SetFixedLimits3D(SubplotRecord* r, double xMin, double xMax, double yMin, double yMax, double zMin, double zMax);

// ---------------------------------------------------------------------------
// 3-D view and camera. Angles in radians except the view angle (degrees).

void ComputeView3D(SubplotRecord* r);
void InitCamera(SubplotRecord* r);
double SnapAspectRatio(double ratio);
void SetDataAspect(SubplotRecord* r, const double* aspect);
bool GetDataAspect(const SubplotRecord* r, double* aspect);
void GetCameraModes(const SubplotRecord* r, bool* target, bool* position, bool* up, bool* perspective);
void SetCameraTargetAuto(SubplotRecord* r, bool flag);
void SetCameraPositionAuto(SubplotRecord* r, bool flag);
void SetCameraUpAuto(SubplotRecord* r, bool flag);
bool IsPerspective(const SubplotRecord* r);
void SetProjection(SubplotRecord* r, bool orthographic);
void TranslateCamera(SubplotRecord* r, const double* v, bool positionOnly);
void DollyCameraInView(SubplotRecord* r, double dx, double dy, double dz, bool positionOnly);
void PanCamera(SubplotRecord* r, double a, double b);
void OrbitCamera(SubplotRecord* r, double a, double b);
void RollCamera(SubplotRecord* r, double angle);
void ZoomCamera(SubplotRecord* r, double factor);
double GetCameraDistance(const SubplotRecord* r);
double GetViewAngle(const SubplotRecord* r);
void SetViewAngle(SubplotRecord* r, double degrees);
// Row by row; an axis shorter than 2.220446049250313e-15 is taken as (0, 0, 1).
void RotationAboutAxis(const double* axis, double angle, double* matrix);
// out may be v.
void MultiplyMatrixVector3(const double* m, const double* v, double* out);
