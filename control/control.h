// Control design: the system record and generator type the response plots
// share, the evaluation and conversion kernels, and the natives built on them.
// Polynomials hold the highest power first; matrices are row-major. Kernels
// take every work array from the caller and allocate nothing.
#pragma once

#include <cstdint>

#include "engine/engine.h"

struct PlotStyle;
struct SubplotRecord;

// The system a response generator reads. Kind 0 is a transfer function, kind 1
// a state-space model; the plot body strips leading zero coefficients, so
// den[0] != 0.
struct LinearSystemRecord {
  int32_t kind = 0;
  double* num = nullptr;
  double* den = nullptr;
  int32_t numDegree = 0;
  int32_t denDegree = 0;
  double* a = nullptr;
  double* b = nullptr;
  double* c = nullptr;
  double* d = nullptr;  // absent for the initial-condition response
  int32_t n = 0, nu = 0, ny = 0;
};

// result count <= 0 draws into the display list, >= 1 pushes that many results.
// position advances only on success; 10001 asks for a larger list.
using ResponseGenerator = StatusCode (*)(EngineContext* ctx, int resultCount, double* list, int64_t capacity,
                                         int64_t* position, LinearSystemRecord* system, int discrete, double ts,
                                         int optionPosition, const double* frequencies, int32_t frequencyCount,
                                         const PlotStyle* styles, double objectId, double item, SubplotRecord* subplot);

// ---------------------------------------------------------------------------
// Evaluation and default ranges.

// num(s)/den(s) at s = (sr, si); a zero denominator gives re = Re N / 0, im = 0
// for a real N and NaN, NaN otherwise.
void EvaluateTransferFunction(const double* num, int m, const double* den, int n, double sr, double si, double* re,
                              double* im);
// Default frequency ranges of continuous systems. Scratch: 3n + 1 doubles
// (transfer function), n(n + 3) (state space).
void ChooseTfFrequencyRange(const double* den, int n, bool logX, double* scratch, double* wmin, double* wmax);
void ChooseSsFrequencyRange(const double* a, int n, bool logX, double* scratch, double* wmin, double* wmax);
// Default time spans, in seconds; same scratch sizes.
void ChooseTfTimeRange(const double* den, int n, double* scratch, double* span);
void ChooseDiscreteTfTimeRange(const double* den, int n, double ts, double* scratch, double* span);
void ChooseSsTimeRange(const double* a, int n, double* scratch, double* span);
void ChooseDiscreteSsTimeRange(const double* a, int n, double ts, double* scratch, double* span);
// C(sI - A)^-1 b + d for every output of a single-input model; d may be null.
// Scratch: 2n^2 + 2 ny n doubles, then n 4-byte integers.
void EvaluateSsFrequencyResponse(const double* a, const double* b, const double* c, const double* d, int n, int ny,
                                 double sr, double si, double* re, double* im, double* scratch);
// Singular values of C(sI - A)^-1 B + D (D may be null). Scratch: 2 max(n^2,
// ny nu) + 2 ny n doubles, n integers, and the singular-value work after them.
bool EvaluateSsSingularValues(const double* a, const double* b, const double* c, const double* d, int n, int nu, int ny,
                              double sr, double si, double* sigma, double* scratch);
int64_t SsSingularValueScratch(int n, int nu, int ny);

// ---------------------------------------------------------------------------
// Transfer functions and state space.

// den (n + 1) = det(sI - A); num rows (ny of them, n + 1 coefficients with D,
// n without) for input iu, when num is given. Work: SsToTfWork(n) doubles.
int64_t SsToTfWork(int n);
void ConvertSsToTf(const double* a, const double* b, const double* c, const double* d, int iu, int n, int nu, int ny,
                   double* work, double* num, double* den);
// Controller-form realisation of rows numerator rows of degree m <= n over
// den; B, C and D may be null.
void ConvertTfToSs(const double* num, int m, int rows, const double* den, int n, double* a, double* b, double* c,
                   double* d);

// ---------------------------------------------------------------------------
// Continuous-discrete conversions. numd may be null when only dend is wanted.

int64_t DiscretizeTfZohWork(int n);
int64_t DiscretizeTfFohWork(int n);
int64_t DiscretizeTfMatchedWork(int m, int n);
void DiscretizeTfZoh(const double* num, int m, const double* den, int n, double ts, double* numd, double* dend,
                     double* work);
void DiscretizeTfFoh(const double* num, int m, const double* den, int n, double ts, double* numd, double* dend,
                     double* work);
void DiscretizeTfMatched(const double* num, int m, const double* den, int n, double ts, double* numd, double* dend,
                         double* work);
// The old variable replaced by (a x + b)/(c x + d); both results have degree n.
// work (n + 1 doubles) may be den itself.
void ApplyBilinearSubstitution(const double* num, int m, double* den, int n, double a, double b, double c, double d,
                               bool normalise, double* numOut, double* denOut, double* work);
// Work: 4(n + nu)^2 + (n + nu) doubles.
void DiscretizeSsZoh(const double* a, const double* b, int n, int nu, double ts, double* ad, double* bd, double* work);
// Work: 4(n + 2nu)^2 + n + 2nu doubles. x and u may be null.
void DiscretizeSsFoh(const double* a, const double* b, const double* c, const double* d, int n, int nu, int ny,
                     double ts, double* ad, double* bd, double* dd, double* work, double* x, const double* u);

// ---------------------------------------------------------------------------
// Stability margins. g and thetaG hold the gains below and above 1 and their
// angles on the unit circle; false when the closed loop is unstable.

bool IsSchurStable(double* p, int n);
bool SearchDiscreteMargins(const double* den, int n, const double* num, int m, double* pm, double* thetaPm, double* g,
                           double* thetaG, double* work);
bool SearchContinuousMargins(const double* den, int n, const double* num, int m, double* pm, double* thetaPm, double* g,
                             double* thetaG, double* work);

// ---------------------------------------------------------------------------
// Natives of the application library.

[[nodiscard]] StatusCode Ss2tfNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode Tf2ssNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// selector 'c' continuous to discrete, 'd' back.
[[nodiscard]] StatusCode ConvertDiscreteNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// selector 'c' margin, 'd' dmargin.
[[nodiscard]] StatusCode ComputeStabilityMargins(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode MovezeroNative(EngineContext* ctx, int nargin, int nargout, void* selector);
