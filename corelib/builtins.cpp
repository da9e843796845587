// The core library's table: the handler of each builtin opcode the library
// runs, and the displays the machine calls. The host installs it into every
// context with InstallCoreLibrary.
#include <array>

#include "corelib/corelib.h"
#include "engine/dispatch.h"

namespace {

using BuiltinTable = std::array<BuiltinHandler, kOpcodeCount>;

struct CoreBinding {
  Op op;
  BuiltinHandler handler;
};

constexpr CoreBinding kCoreBuiltins[] = {
    {Op::Disp, DispBuiltin},
    {Op::Format, FormatBuiltin},
    {Op::Horzcat, ConcatenateOpcode},
    {Op::Vertcat, ConcatenateOpcode},
    {Op::Cat, ConcatenateOpcode},
    {Op::Plus, ElementwiseArithmeticOpcode},
    {Op::Minus, ElementwiseArithmeticOpcode},
    {Op::Times, ElementwiseArithmeticOpcode},
    {Op::Rdivide, ElementwiseArithmeticOpcode},
    {Op::Ldivide, ElementwiseArithmeticOpcode},
    {Op::Rem, ElementwiseArithmeticOpcode},
    {Op::Mod, ElementwiseArithmeticOpcode},
    {Op::Power, ElementwiseArithmeticOpcode},
    {Op::Realpow, ElementwiseArithmeticOpcode},
    {Op::Uminus, UminusOpcode},
    {Op::Uplus, UplusOpcode},
    {Op::Conj, ConjOpcode},
    {Op::Reshape, ReshapeOpcode},
    {Op::Squeeze, SqueezeOpcode},
    {Op::Permute, PermuteOpcode},
    {Op::Ipermute, IpermuteOpcode},
    {Op::Sub2ind, Sub2indOpcode},
    {Op::Ind2sub, Ind2subOpcode},
    {Op::Eq, CompareOpcode},
    {Op::Ne, CompareOpcode},
    {Op::Lt, CompareOpcode},
    {Op::Gt, CompareOpcode},
    {Op::Le, CompareOpcode},
    {Op::Ge, CompareOpcode},
    {Op::And, LogicalCombineOpcode},
    {Op::Or, LogicalCombineOpcode},
    {Op::Xor, LogicalCombineOpcode},
    {Op::Isfinite, ClassifyOpcode},
    {Op::Isinf, ClassifyOpcode},
    {Op::Isnan, ClassifyOpcode},
    {Op::Same, SameOpcode},
    {Op::Unsame, SameOpcode},
    {Op::Not, NotOpcode},
    {Op::Logical, LogicalOpcode},
    {Op::Double, FloatClassOpcode},
    {Op::Single, FloatClassOpcode},
    {Op::Ischar, TypeTestOpcode},
    {Op::Islogical, TypeTestOpcode},
    {Op::Isnumeric, TypeTestOpcode},
    {Op::Isfloat, TypeTestOpcode},
    {Op::Isinteger, TypeTestOpcode},
    {Op::Isscalar, TypeTestOpcode},
    {Op::Isvector, TypeTestOpcode},
    {Op::Char, CharOpcode},
    {Op::Setstr, CharOpcode},
    {Op::Cast, CastOpcode},
    {Op::Typecast, CastOpcode},
    {Op::Swapbytes, SwapbytesOpcode},
    {Op::Inf, ArrayBuilderOpcode},
    {Op::Nan, ArrayBuilderOpcode},
    {Op::Realmin, ArrayBuilderOpcode},
    {Op::Realmax, ArrayBuilderOpcode},
    {Op::Eps, ArrayBuilderOpcode},
    {Op::True, ArrayBuilderOpcode},
    {Op::False, ArrayBuilderOpcode},
    {Op::Cell, ArrayBuilderOpcode},
    {Op::Zeros, ArrayBuilderOpcode},
    {Op::Ones, ArrayBuilderOpcode},
    {Op::Eye, ArrayBuilderOpcode},
    {Op::Rand, ArrayBuilderOpcode},
    {Op::Randn, ArrayBuilderOpcode},
    {Op::Ndims, SizeQueryOpcode},
    {Op::Size, SizeQueryOpcode},
    {Op::Length, SizeQueryOpcode},
    {Op::Numel, SizeQueryOpcode},
    {Op::Complex, ComplexOpcode},
    {Op::Imag, ImagOpcode},
    {Op::Join, JoinOpcode},
    {Op::Mtimes, MatrixOperatorOpcode},
    {Op::Mrdivide, MatrixOperatorOpcode},
    {Op::Mldivide, MatrixOperatorOpcode},
    {Op::Mpower, MatrixOperatorOpcode},
    {Op::Inv, MatrixOperatorOpcode},
    {Op::Det, MatrixOperatorOpcode},
    {Op::Conv, PolynomialOpcode},
    {Op::Conv2, PolynomialOpcode},
    {Op::Deconv, PolynomialOpcode},
    {Op::Filter, PolynomialOpcode},
    {Op::Addpol, PolynomialOpcode},
    {Op::Sum, ReductionOpcode},
    {Op::Prod, ReductionOpcode},
    {Op::Mean, ReductionOpcode},
    {Op::Var, ReductionOpcode},
    {Op::Std, ReductionOpcode},
    {Op::Moment, ReductionOpcode},
    {Op::Skewness, ReductionOpcode},
    {Op::Kurtosis, ReductionOpcode},
    {Op::Cumsum, ReductionOpcode},
    {Op::Cumprod, ReductionOpcode},
    {Op::Any, ReductionOpcode},
    {Op::All, ReductionOpcode},
    {Op::Cov, ReductionOpcode},
    {Op::Trace, TraceOpcode},
    {Op::Min, MinMaxOpcode},
    {Op::Max, MinMaxOpcode},
    {Op::Find, FindOpcode},
    {Op::Nnz, NnzOpcode},
    {Op::Colon, ColonOpcode},
    {Op::Transpose, TransposeOpcode},
    {Op::Ctranspose, TransposeOpcode},
    {Op::Isempty, IsemptyOpcode},
    {Op::Magic, MagicOpcode},
    {Op::Cross, VectorProductOpcode},
    {Op::Dot, VectorProductOpcode},
    {Op::Sprintf, SprintfOpcode},
    {Op::Fprintf, FprintfOpcode},
    {Op::Sscanf, SscanfOpcode},
    {Op::Fscanf, FscanfOpcode},
    {Op::Fgetl, FgetlOpcode},
    {Op::Fgets, FgetlOpcode},
};

constexpr bool EveryBindingIsTheLibrarys() {
  std::array<int, kOpcodeCount> n{};
  for (const CoreBinding& b : kCoreBuiltins)
    if (!IsCoreLibraryOpcode(b.op) || ++n[static_cast<int>(b.op)] > 1) return false;
  return true;
}
static_assert(EveryBindingIsTheLibrarys(), "a core builtin is the machine's own opcode, or bound twice");

constexpr BuiltinTable BuildTable() {
  BuiltinTable t{};
  for (const CoreBinding& b : kCoreBuiltins) t[static_cast<int>(b.op)] = b.handler;
  return t;
}

constexpr BuiltinTable kTable = BuildTable();

constexpr CoreLibraryTable kCoreLibrary = {kTable.data(), kOpcodeCount, DisplayStatementResult, DisplayTopValue};

}  // namespace

const CoreLibraryTable* GetCoreLibraryTable() { return &kCoreLibrary; }
