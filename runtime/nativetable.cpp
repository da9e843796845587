// The static native table as data: one row per record, in the order compiled
// code numbers them. Rows of libraries not built yet keep their places with a
// handler that refuses the call, and their hooks decline every request.
#include "runtime/nativetable.h"

#include <cstring>
#include <iterator>

#include "control/control.h"
#include "corelib/corelib.h"
#include "numeric/numeric.h"
#include "runtime/runtime.h"

namespace {

// ---------------------------------------------------------------------------
// Stand-ins for what is not built yet.

// An object among the inputs is refused as a built native would refuse it, so
// that overloading still reaches the object's own method of that name.
[[nodiscard]] StatusCode NotYetBuilt(EngineContext* ctx, int nargin, int, void*) {
  for (int p = 0; p < nargin; ++p) {
    int32_t subtype = 0;
    if (IsObjectArg(ctx, p)) return kWrongType;
    if (GetBoxedArg(ctx, p, &subtype, nullptr, nullptr) == kOk && subtype >= kFirstNativeClass) return kWrongType;
  }
  return kNotSupported;
}

[[nodiscard]] StatusCode DeclineWrite(EngineContext*, int32_t, const char*, int32_t, void*) { return kBadFileId; }
[[nodiscard]] StatusCode DeclineRead(EngineContext*, int32_t, char*, int32_t, int32_t* count, void*) {
  *count = 0;
  return kBadFileId;
}
[[nodiscard]] StatusCode DeclineClose(EngineContext*, int32_t, void*) { return kBadFileId; }
[[nodiscard]] StatusCode DeclineControl(EngineContext*, int32_t, int32_t, int32_t*, void*) { return kBadFileId; }
[[nodiscard]] StatusCode DeclineSource(EngineContext*, const char*, const char*, const char*, char*, int32_t, int32_t*,
                                       int32_t*, bool*, void*) {
  return kNotMine;
}
// Any answer but 0 leaves the name to the next hook.
[[nodiscard]] StatusCode DeclineName(EngineContext*, const char*, int, int, int, int, void*) { return kNotMine; }
// A "+dump" hook writes an object's source form: handler(context, buffer,
// room, out length, user data).
[[nodiscard]] StatusCode DeclineDump(EngineContext*, char*, int32_t, int32_t* length, void*) {
  *length = 0;
  return kBadFileId;
}

// ---------------------------------------------------------------------------
// Rows.

struct Row {
  const char* name;
  NativeHandler handler;
  intptr_t selector;  // handed to the handler as its user data; 0: the context's default
  int32_t kind;
  uint8_t minInputs, maxInputs, minOutputs, maxOutputs;
};

constexpr uint8_t kAny = kAnyCount;

// Which "+errmsgtable" a table row carries, in its selector.
enum : intptr_t { kEngineTable, kPlotTable, kRuntimeTable };

Row Lib(const char* name) { return {name, nullptr, 0, 0, 0, 0, 0, 0}; }
Row Table(intptr_t which) { return {"+errmsgtable", nullptr, which, 0, 0, 0, 0, 0}; }
Row Hook(const char* name, NativeHandler handler, uint8_t style = 0, int32_t kind = 0) {
  return {name, handler, 0, kind, style, 0, 0, 0};
}
Row Fn(const char* name, NativeHandler handler, uint8_t minIn, uint8_t maxIn, uint8_t minOut, uint8_t maxOut,
       intptr_t selector = 0) {
  return {name, handler, selector, 0, minIn, maxIn, minOut, maxOut};
}
Row Todo(const char* name, uint8_t minIn, uint8_t maxIn, uint8_t minOut, uint8_t maxOut, intptr_t selector = 0) {
  return {name, &NotYetBuilt, selector, 0, minIn, maxIn, minOut, maxOut};
}
// A quaternion record: kind 1 a method, -1 a constructor callable by name.
Row Quat(const char* name, int32_t kind, uint8_t minIn, uint8_t maxIn, uint8_t minOut, uint8_t maxOut,
         intptr_t selector = 0) {
  return {name, &NotYetBuilt, selector, kind, minIn, maxIn, minOut, maxOut};
}

const Row* Rows() {
  static const Row kRows[] = {
      Hook("+read", AsNativeHandler(&RuntimeReadHook), 1),
      Table(kEngineTable),
      Table(kPlotTable),

      Lib("@RVO"),
      Fn("info", &InfoNative, 0, 1, 0, 1, 'i'),
      Fn("inmem", &InfoNative, 0, 1, 0, 1, 'm'),
      Fn("isglobal", &IsGlobalNative, 1, 1, 1, 1),
      Fn("which", &WhichNative, 1, 1, 1, 1),
      Fn("sandbox", &SandboxNative, 1, 2, 0, 1),
      Fn("sandboxtrust", &SandboxTrustNative, 1, 1, 0, 0),

      Lib("!RVO"),
      Fn("iskeyword", &IsKeywordNative, 0, 1, 0, 1),
      Fn("dumpvar", &DumpvarNative, 1, 3, 0, 1),
      Fn("bitget", &BitGetNative, 2, 2, 1, 1),
      Fn("bitset", &BitSetNative, 2, 3, 1, 1),
      Fn("bitand", &BitwiseNative, 2, 2, 1, 1, '&'),
      Fn("bitor", &BitwiseNative, 2, 2, 1, 1, '|'),
      Fn("bitxor", &BitwiseNative, 2, 2, 1, 1, '^'),
      Fn("bitcmp", &BitCmpNative, 1, 2, 1, 1),
      Fn("bitshift", &BitShiftNative, 2, 3, 1, 1),
      Fn("bitall", &BitReduceNative, 1, 2, 1, 1, '&'),
      Fn("bitany", &BitReduceNative, 1, 2, 1, 1, '|'),
      Fn("graycode", &GrayCodeNative, 1, 1, 1, 1, 'g'),
      Fn("igraycode", &GrayCodeNative, 1, 1, 1, 1, 'i'),
      Fn("base64encode", &Base64Native, 1, 1, 1, 1, 'e'),
      Fn("base64decode", &Base64Native, 1, 1, 1, 1, 'd'),
      Fn("map2int", &Map2IntNative, 1, 4, 1, 1),
      Fn("intmax", &IntLimitNative, 0, 1, 1, 1, 'a'),
      Fn("intmin", &IntLimitNative, 0, 1, 1, 1, 'i'),
      Fn("cal2julian", &Cal2JulianNative, 1, 6, 1, 1),
      Fn("julian2cal", &Julian2CalNative, 1, 1, 1, 6),
      Fn("apply", &ApplyNative, 2, 3, 1, 1),
      Fn("map", &MapNative, 2, kAny, 0, kAny, 'm'),
      Fn("cellfun", &CellfunNative, 2, kAny, 1, 1, 'c'),
      Fn("fevalx", &FevalxNative, 2, 6, 0, 5),
      Fn("str2obj", &Str2objNative, 1, 1, 1, kAny),
      Fn("md5", &Md5Native, 1, 1, 1, 1),
      Fn("sha1", &Sha1Native, 1, 1, 1, 1),
      Fn("utf8encode", &Utf8EncodeNative, 1, 1, 1, 1),
      Fn("utf8decode", &Utf8DecodeNative, 1, 1, 1, 1),
      // Linear algebra without LAPACK.
      Fn("expm", &ExpmNative, 1, 1, 1, 1),
      Fn("eig", &EigNative, 1, 1, 1, 2),
      Fn("balance", &BalanceNative, 1, 1, 1, 2),
      Fn("svd", &SvdNative, 1, 2, 1, 3),
      Fn("rank", &RankNative, 1, 2, 1, 1),
      Fn("cond", &CondNative, 1, 1, 1, 1),
      Fn("pinv", &PinvNative, 1, 2, 1, 1),
      Fn("orth", &OrthNative, 1, 1, 1, 1),
      Fn("null", &NullNative, 1, 1, 1, 1),
      Fn("norm", &NormNative, 1, 2, 1, 1),
      Fn("chol", &CholNative, 1, 1, 1, 1),
      Fn("lu", &LuNative, 1, 1, 1, 3),
      Fn("hess", &HessNative, 1, 1, 1, 2),
      Fn("qr", &QrNative, 1, 2, 1, 3),
      Fn("schur", &SchurNative, 1, 2, 1, 2),
      Fn("sqrtm", &MatrixFunctionNative, 1, 1, 1, 2, 's'),
      Fn("logm", &MatrixFunctionNative, 1, 1, 1, 2, 'l'),
      Fn("funm", &MatrixFunctionNative, 2, 2, 1, 2, 'f'),
      Fn("householder", &HouseholderNative, 1, 1, 1, 2),
      Fn("householderapply", &HouseholderApplyNative, 3, 4, 1, 1),
      Fn("linprog", &LinprogNative, 3, 5, 1, 1),
      Fn("care", &RiccatiNative, 3, 5, 1, 3, 'c'),
      Fn("dare", &RiccatiNative, 3, 4, 1, 3, 'd'),
      Fn("lyap", &LyapNative, 2, 3, 1, 1),
      Fn("dlyap", &DlyapNative, 2, 2, 1, 1),
      // Fourier transforms.
      Fn("fft", &FftNative, 1, 3, 1, 1, 'f'),
      Fn("ifft", &FftNative, 1, 3, 1, 1, 'i'),
      Fn("fft2", &FftMultiNative, 1, 3, 1, 1, '2'),
      Fn("ifft2", &FftMultiNative, 1, 3, 1, 1, 'I'),
      Fn("fftn", &FftMultiNative, 1, 2, 1, 1, 'f'),
      Fn("ifftn", &FftMultiNative, 1, 2, 1, 1, 'i'),
      // Minimisation and roots of functions.
      Fn("optimset", &OptimsetNative, 0, kAny, 1, 1),
      Fn("fminbnd", &FminbndNative, 2, kAny, 1, 3),
      Fn("fminsearch", &FminsearchNative, 2, kAny, 1, 3),
      Fn("fzero", &FzeroNative, 2, kAny, 1, 1),
      // Polynomials.
      Fn("polyval", &PolyvalNative, 2, 2, 1, 1),
      Fn("roots", &RootsNative, 1, 2, 1, 1),
      Fn("poly", &PolyNative, 1, 1, 1, 1),
      Fn("polyder", &PolyderNative, 1, 2, 1, 2),
      Fn("polyint", &PolyintNative, 1, 2, 1, 1),
      // Differential equations and quadrature.
      Todo("odeset", 0, kAny, 1, 1),
      Todo("ode45", 3, kAny, 0, 5),
      Todo("ode23", 3, kAny, 0, 5),
      Fn("quad", &QuadNative, 3, kAny, 1, 1),
      // Special functions and distributions.
      Fn("erf", &ErfNative, 1, 1, 1, 1, 1),
      Fn("erfc", &ErfNative, 1, 1, 1, 1, 2),
      Fn("erfinv", &ErfNative, 1, 1, 1, 1, 3),
      Fn("gamma", &GammaNative, 1, 1, 1, 1, 1),
      Fn("gammaln", &GammaNative, 1, 1, 1, 1, 2),
      Fn("factorial", &GammaNative, 1, 1, 1, 1, 3),
      Fn("gammainc", &GammaincNative, 2, 2, 1, 1),
      Fn("beta", &BetaNative, 2, 2, 1, 1, 1),
      Fn("betaln", &BetaNative, 2, 2, 1, 1, 2),
      Fn("betainc", &BetaincNative, 3, 3, 1, 1, reinterpret_cast<intptr_t>(&ComputeBetaI)),
      Fn("hypot", &HypotNative, 2, 2, 1, 1),
      Fn("nthroot", &NthrootNative, 2, 2, 1, 1),
      Fn("diln", &DilnNative, 1, 1, 1, 1),
      Fn("cdf", &DistributionNative, 2, 4, 1, 1, 'c'),
      Fn("icdf", &DistributionNative, 2, 4, 1, 1, 'i'),
      Fn("pdf", &DistributionNative, 2, 4, 1, 1, 'p'),
      // Integer functions.
      Fn("nchoosek", &NchoosekNative, 2, 2, 1, 1),
      Fn("factor", &FactorNative, 1, 1, 1, 1),
      Fn("gcd", &GcdNative, 2, 2, 1, 1, 'd'),
      Fn("lcm", &GcdNative, 2, 2, 1, 1, 'm'),
      // Interpolation, triangulation and scattered data.
      Fn("interp1", &Interp1Native, 3, 5, 1, 1),
      Fn("interpn", &InterpnNative, 3, 34, 1, 1),
      Fn("delaunayn", &DelaunaynNative, 1, 1, 1, 2),
      Fn("delaunay", &DelaunayNative, 2, 2, 1, 2),
      Fn("voronoin", &VoronoinNative, 1, 1, 1, 2),
      Fn("voronoi", &VoronoiNative, 2, 2, 1, 2),
      Fn("tsearchn", &TsearchnNative, 3, 3, 1, 1),
      Fn("griddatan", &GriddatanNative, 3, 4, 1, 1),
      Fn("tsearch", &ScatteredNative, 5, 5, 1, 1, 't'),
      Fn("griddata", &ScatteredNative, 5, 6, 1, 1, 'g'),
      // Elliptic integrals and functions; the last two fill the second run.
      Fn("ellipke", &EllipkeNative, 1, 2, 1, 2),
      Fn("ellipf", &EllipticNative, 2, 2, 1, 1, 'f'),
      Fn("ellipe", &EllipticNative, 2, 2, 1, 1, 'e'),

      Lib("!RVO"),
      Fn("ellipam", &EllipticNative, 2, 3, 1, 1, 'a'),
      Fn("ellipj", &EllipticNative, 2, 3, 1, 3, 'j'),

      Lib("!quaternion"),
      Quat("quaternion", -1, 0, 4, 1, 1),
      Quat("abs", 1, 1, 1, 1, 1, 'a'),
      Quat("beginning", 1, 3, 3, 1, 1, 'b'),
      Quat("cat", 1, 1, kAny, 1, 1, 'c'),
      Quat("q2str", 1, 1, 1, 1, 1),
      Quat("conj", 1, 1, 1, 1, 1, 'c'),
      Quat("cos", 1, 1, 1, 1, 1, 'C'),
      Quat("ctranspose", 1, 1, 1, 1, 1, 'T'),
      Quat("cumsum", 1, 1, 2, 1, 1, 'U'),
      Quat("diff", 1, 1, 3, 1, 1, 'd'),
      Quat("disp", 1, 1, 1, 0, 0),
      Quat("double", 1, 1, 1, 1, 1),
      Quat("eq", 1, 2, 2, 1, 1, 'e'),
      Quat("end", 1, 3, 3, 1, 1, 'e'),
      Quat("exp", 1, 1, 1, 1, 1, 'e'),
      Quat("flipdim", 1, 2, 2, 1, 1, 'F'),
      Quat("fliplr", 1, 1, 1, 1, 1, 'g'),
      Quat("flipud", 1, 1, 1, 1, 1, 'f'),
      Quat("horzcat", 1, 2, 2, 1, 1, 'h'),
      Quat("ipermute", 1, 2, 2, 1, 1, 'P'),
      Quat("isempty", 1, 1, 1, 1, 1),
      Quat("isquaternion", -1, 1, 1, 1, 1),
      Quat("ldivide", 1, 2, 2, 1, 1, 'l'),
      Quat("length", 1, 1, 1, 1, 1, 'l'),
      Quat("log", 1, 1, 1, 1, 1, 'l'),
      Quat("mean", 1, 1, 2, 1, 1, 'm'),
      Quat("minus", 1, 2, 2, 1, 1),
      Quat("mldivide", 1, 2, 2, 1, 1, 'L'),
      Quat("mpower", 1, 2, 2, 1, 1, 'm'),
      Quat("mrdivide", 1, 2, 2, 1, 1, 'R'),
      Quat("mtimes", 1, 2, 2, 1, 1, 'T'),
      Quat("ndims", 1, 1, 1, 1, 1, 'd'),
      Quat("ne", 1, 2, 2, 1, 1, 'n'),
      Quat("numel", 1, 1, 1, 1, 1, 'e'),
      Quat("permute", 1, 2, 2, 1, 1, 'p'),
      Quat("plus", 1, 2, 2, 1, 1),
      Quat("power", 1, 2, 2, 1, 1, 'p'),
      Quat("q2mat", 1, 1, 1, 1, 1),
      Quat("q2rpy", 1, 1, 1, 1, 3),
      Quat("qimag", 1, 1, 1, 1, 1, 'i'),
      Quat("qinv", 1, 1, 1, 1, 1, 'v'),
      Quat("qnorm", 1, 1, 1, 1, 1, 'n'),
      Quat("qslerp", 1, 3, 3, 1, 1),
      Quat("real", 1, 1, 1, 1, 1, 'r'),
      Quat("rdivide", 1, 2, 2, 1, 1, 'r'),
      Quat("repmat", 1, 2, 3, 1, 1, 'R'),
      Quat("reshape", 1, 1, 17, 1, 1, 'r'),
      Quat("rot90", 1, 1, 2, 1, 1, '9'),
      Quat("rpy2q", -1, 3, 3, 1, 1),
      Quat("sign", 1, 1, 1, 1, 1, 's'),
      Quat("sin", 1, 1, 1, 1, 1, 'S'),
      Quat("size", 1, 1, 2, 1, 2),
      Quat("sqrt", 1, 1, 1, 1, 1, 'q'),
      Quat("squeeze", 1, 1, 1, 1, 1, 's'),
      Quat("subsasgn", 1, 3, 3, 1, 1),
      Quat("subsref", 1, 2, 2, 1, 1),
      Quat("sum", 1, 1, 2, 1, 1, 'u'),
      Quat("times", 1, 2, 2, 1, 1, 't'),
      Quat("transpose", 1, 1, 1, 1, 1, 't'),
      Quat("uminus", 1, 1, 1, 1, 1),
      Quat("uplus", 1, 1, 1, 1, 1),
      Quat("vertcat", 1, 2, 2, 1, 1, 'v'),
      Hook("+dump", AsNativeHandler(&DeclineDump), 0, 1),
      Hook("+readlib", AsNativeHandler(&DeclineSource)),

      // The application library: plots, controls and what other subsystems
      // offer applications.
      Lib("!Korvatil"),
      Table(kRuntimeTable),
      Fn("movezero", &MovezeroNative, 3, 3, 1, 2),
      Todo("plot", 1, 4, 0, 0),
      Todo("area", 1, 4, 0, 0),
      Todo("polar", 2, 4, 0, 0),
      Todo("fplot", 1, kAny, 0, 0),
      Todo("line", 2, 4, 0, 0),
      Todo("circle", 3, 5, 0, 0),
      Todo("activeregion", 3, 5, 0, 0),
      Todo("bar", 1, 6, 0, 0),
      Todo("barh", 1, 6, 0, 0),
      Todo("text", 1, 5, 0, 0),
      Todo("fontset", 0, kAny, 1, 1),
      Todo("quiver", 2, 6, 0, 0),
      Todo("slider", 3, 6, 0, 0),
      Todo("button", 2, 5, 0, 0),
      Todo("pushbutton", 1, 3, 0, 0),
      Todo("popupmenu", 3, 5, 0, 0),
      Todo("textfield", 3, 5, 0, 0),
      Todo("settabs", 1, 1, 0, 0),
      Todo("vertcontrols", 1, 1, 0, 0),
      Todo("image", 1, 6, 0, 0),
      Todo("pcolor", 1, 5, 0, 0),
      Todo("colormap", 0, 1, 0, 1),
      Todo("bodemag", 2, 8, 0, 2),
      Todo("bodephase", 2, 8, 0, 2),
      Todo("dbodemag", 3, 9, 0, 2),
      Todo("dbodephase", 3, 9, 0, 2),
      Todo("dimpulse", 3, 8, 0, 2),
      Todo("dinitial", 4, 9, 0, 2),
      Todo("dlsim", 4, 10, 0, 2),
      Todo("dnichols", 2, 6, 0, 3),
      Todo("dnyquist", 2, 6, 0, 3),
      Todo("dsigma", 5, 9, 0, 2),
      Todo("dstep", 3, 8, 0, 2),
      Todo("erlocus", 2, 4, 0, 0),
      Todo("hgrid", 0, 1, 0, 0),
      Todo("hstep", 5, 7, 0, 0),
      Todo("impulse", 2, 7, 0, 2),
      Todo("initial", 3, 8, 0, 2),
      Todo("lsim", 4, 10, 0, 2),
      Todo("ngrid", 0, 1, 0, 0),
      Todo("nichols", 2, 6, 0, 3),
      Todo("nyquist", 2, 6, 0, 3),
      Todo("plotroots", 1, 3, 0, 0),
      Todo("responseset", 0, kAny, 1, 1),
      Todo("rlocus", 2, 4, 0, 2),
      Todo("sgrid", 0, 3, 0, 0),
      Todo("sigma", 4, 8, 0, 2),
      Todo("step", 2, 7, 0, 2),
      Todo("zgrid", 0, 3, 0, 0),
      Todo("contour", 1, 4, 0, 0),
      Todo("scale", 0, 3, 0, 2),
      Todo("label", 1, 3, 0, 0),
      Todo("title", 1, 1, 0, 0),
      Todo("legend", 1, 2, 0, 0),
      Todo("plotoption", 1, 1, 0, 0),
      Todo("scalefactor", 0, 1, 0, 1),
      Todo("subplot", 1, 3, 0, 0),
      Todo("plot3", 3, 5, 0, 0),
      Todo("line3", 2, 4, 0, 0),
      Todo("plotpoly", 4, 7, 0, 0),
      Todo("mesh", 1, 7, 0, 0),
      Todo("surf", 1, 7, 0, 0),
      Todo("contour3", 1, 4, 0, 0),
      Todo("sensor3", 3, 5, 0, 0),
      Todo("lightangle", 2, 3, 0, 0),
      Todo("material", 1, 1, 0, 0),
      Todo("camdolly", 1, 1, 0, 0),
      Todo("camorbit", 1, 2, 0, 0),
      Todo("campan", 2, 2, 0, 0),
      Todo("campos", 0, 1, 0, 1),
      Todo("camproj", 0, 1, 0, 1),
      Todo("camroll", 1, 1, 0, 0),
      Todo("camtarget", 0, 1, 0, 1),
      Todo("camup", 0, 1, 0, 1),
      Todo("camva", 0, 1, 0, 1),
      Todo("camzoom", 1, 1, 0, 0),
      Todo("daspect", 0, 1, 0, 1),
      Fn("c2dm", &ConvertDiscreteNative, 3, 6, 1, 4, 'c'),
      Fn("d2cm", &ConvertDiscreteNative, 3, 6, 1, 4, 'd'),
      Fn("ss2tf", &Ss2tfNative, 4, 5, 1, 2),
      Fn("tf2ss", &Tf2ssNative, 2, 2, 1, 4),
      Fn("margin", &ComputeStabilityMargins, 2, 2, 1, 4, 'c'),
      Fn("dmargin", &ComputeStabilityMargins, 2, 3, 1, 4, 'd'),

      // The subplot, instance and event natives, and embedded data files.
      Lib("!Korvatil"),
      Todo("subplots", 0, 1, 0, 1),
      Todo("subplotprops", 0, 2, 0, 2),
      Todo("subplotpos", 0, 1, 0, 1),
      Todo("subplotsize", 0, 2, 0, 2),
      Todo("subplotspring", 0, 1, 0, 1),
      Todo("subplotparam", 0, 1, 0, 1),
      Todo("kvtitle", 0, 1, 0, 1),
      Todo("kvversion", 0, 1, 0, 1),
      Todo("kvhelp", 0, 1, 0, 1),
      Fn("cancel", &CancelNative, 0, 1, 0, 0),
      Todo("clf", 0, 0, 0, 0),
      Todo("redraw", 0, 0, 0, 0),
      Todo("idlestate", 0, 1, 0, 1),
      Todo("kvcurrentlanguage", 0, 0, 0, 2),
      Todo("kvcall", 2, kAny, 0, kAny),
      Todo("kvcurrentinstance", 0, 0, 1, 1),
      Todo("kvinstances", 0, 0, 1, 1),
      Todo("kvinstancetitle", 1, 1, 1, 1),
      Todo("firstrun", 0, 0, 1, 1),
      Todo("_id", 0, 0, 1, 1),
      Todo("_nb", 0, 0, 1, 1),
      Todo("_ix", 0, 0, 1, 1),
      Todo("_m", 0, 0, 1, 1),
      Todo("_z", 0, 0, 1, 1),
      Todo("_x", 0, 0, 1, 1),
      Todo("_y", 0, 0, 1, 1),
      Todo("_theta", 0, 0, 1, 1),
      Todo("_rho", 0, 0, 1, 1),
      Todo("_z0", 0, 0, 1, 1),
      Todo("_x0", 0, 0, 1, 1),
      Todo("_y0", 0, 0, 1, 1),
      Todo("_theta0", 0, 0, 1, 1),
      Todo("_rho0", 0, 0, 1, 1),
      Todo("_p0", 0, 0, 1, 1),
      Todo("_z1", 0, 0, 1, 1),
      Todo("_x1", 0, 0, 1, 1),
      Todo("_y1", 0, 0, 1, 1),
      Todo("_theta1", 0, 0, 1, 1),
      Todo("_rho1", 0, 0, 1, 1),
      Todo("_p1", 0, 0, 1, 1),
      Todo("_kx", 0, 0, 1, 1),
      Todo("_ky", 0, 0, 1, 1),
      Todo("_kz", 0, 0, 1, 1),
      Todo("_dx", 0, 0, 1, 1),
      Todo("_dy", 0, 0, 1, 1),
      Todo("_dz", 0, 0, 1, 1),
      Todo("_q", 0, 0, 1, 1),
      Todo("_action", 0, 0, 1, 1),
      Hook("+genericFun", AsNativeHandler(&DeclineName)),
      Todo("efopen", 1, 2, 1, 1),
      Hook("+write", AsNativeHandler(&DeclineWrite)),
      Hook("+read", AsNativeHandler(&DeclineRead)),
      Hook("+fclose", AsNativeHandler(&DeclineClose)),
      Hook("+iocontrol", AsNativeHandler(&DeclineControl)),

      Lib("@KVdlg"),
      Todo("dialog", 1, kAny, 0, kAny),
      Todo("dialogset", 0, kAny, 1, 1),
  };
  static_assert(std::size(kRows) == kStaticNativeRecordCount, "the static table's records were added or lost");
  return kRows;
}

NativeFunctionRecord RecordOf(const Row& row) {
  NativeFunctionRecord r{};
  std::strncpy(r.name, row.name, sizeof r.name - 1);
  r.kind = row.kind;
  r.minInputs = row.minInputs;
  r.maxInputs = row.maxInputs;
  r.minOutputs = row.minOutputs;
  r.maxOutputs = row.maxOutputs;
  if (std::strcmp(row.name, "+errmsgtable") == 0) {
    // The engine's two tables come as its own run of records.
    if (row.selector == kRuntimeTable)
      r.handler = reinterpret_cast<NativeHandler>(const_cast<ErrorRecord*>(kRuntimeErrorTable));
    else
      r.handler = kEngineMessageTables[row.selector].handler;
    return r;
  }
  r.handler = row.handler;
  r.userData = reinterpret_cast<void*>(row.selector);
  return r;
}

}  // namespace

const NativeFunctionRecord* GetStaticNativeTable() {
  static const auto kTable = [] {
    struct Run {
      NativeFunctionRecord records[kStaticNativeRecordCount + 1];
    } run{};
    const Row* rows = Rows();
    for (int k = 0; k < kStaticNativeRecordCount; ++k) run.records[k] = RecordOf(rows[k]);
    return run;
  }();
  return kTable.records;
}

StatusCode InstallStaticNativeTable(EngineContext* ctx, bool prepend) {
  return InstallNativeLibrary(ctx, GetStaticNativeTable(), prepend);
}
