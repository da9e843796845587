// The opcode, builtin and operator tables, checked at compile time and again
// at start, and the readers over them.
#include <cctype>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/context.h"
#include "engine/registry.h"

constexpr OpcodeRecord kOpcodeTable[kOpcodeCount] = {
    {0, 0, 0, Effect(0, 0), kPure},                      // Nop
    {1, 0, 0, Effect(0, 1), kPure},                      // PushZero
    {2, 0, 0, Effect(0, 1), kPure},                      // PushOne
    {3, 0, 0, Effect(0, 1), kPure},                      // i/j
    {4, 0, 0, Effect(0, 1), kPure},                      // pi
    {5, 0, 0, Effect(0, 1), kPure},                      // goldenratio
    {6, 1, 1, Effect(kByOperand, 1), kPure},             // inf/Inf
    {7, 1, 1, Effect(kByOperand, 1), kPure},             // nan/NaN
    {8, 1, 1, Effect(kByOperand, 1), kPure},             // realmin
    {9, 1, 1, Effect(kByOperand, 1), kPure},             // realmax
    {10, 1, 1, Effect(kByOperand, 1), kPure},            // eps
    {11, 1, 1, Effect(kByOperand, 1), kPure},            // true
    {12, 1, 1, Effect(kByOperand, 1), kPure},            // false
    {13, 1, 1, kIrregular, kPure},                       // PushSmallInt
    {14, 1, 1, kIrregular, kPure},                       // PushSmallImag
    {15, 5, 1, kIrregular, kPure},                       // PushDouble
    {16, 5, 1, kIrregular, kPure},                       // PushImagDouble
    {17, 5, 1, kIrregular, kPure},                       // PushSingle
    {18, 5, 1, kIrregular, kPure},                       // PushImagSingle
    {19, 1, 1, kIrregular, kPure},                       // PushInt8
    {20, 1, 1, kIrregular, kPure},                       // PushInt16
    {21, 1, 1, kIrregular, kPure},                       // PushInt32
    {22, 1, 1, kIrregular, kPure},                       // PushUint8
    {23, 1, 1, kIrregular, kPure},                       // PushUint16
    {24, 1, 1, kIrregular, kPure},                       // PushUint32
    {25, 3, 1, kIrregular, kPure},                       // PushInt32Wide
    {26, 3, 1, kIrregular, kPure},                       // PushUint32Wide
    {27, 1, 1, kIrregular, kPure},                       // PushInt64
    {28, 1, 1, kIrregular, kPure},                       // PushUint64
    {29, 4, 1, kIrregular, kPure},                       // PushInt64Wide
    {30, 4, 1, kIrregular, kPure},                       // PushUint64Wide
    {31, 1, 3, kIrregular, kPure},                       // PushSmallRange
    {32, 6, 1, kIrregular, kPure},                       // PushString8
    {33, 7, 1, kIrregular, kPure},                       // PushString16
    {34, 0, 0, kIrregular, kPure},                       // PushVoid
    {35, 6, 1, kIrregular, 0},                           // PrintText8
    {36, 7, 1, kIrregular, 0},                           // PrintText16
    {37, 0, 0, Effect(1, 0), kPure},                     // Drop
    {38, 1, 2, Effect(kByOperand, kByOperand), kPure},   // Dup
    {39, 1, 2, kIrregular, kPure},                       // Rotate
    {40, 0, 0, Effect(1, 0), 0},                         // disp
    {41, 1, 1, Effect(kByOperand, 0), 0},                // format
    {42, 1, 1, Effect(kByOperand, 1), 0},                // sprintf
    {43, 1, 2, Effect(kByOperand, kByOperand), 0},       // fprintf
    {44, 1, 1, Effect(2, kByOperand), kPure},            // sscanf
    {45, 1, 2, Effect(kByOperand, kByOperand), 0},       // fscanf
    {46, 1, 1, Effect(kByOperand, 1), 0},                // fgetl
    {47, 1, 1, Effect(kByOperand, 1), 0},                // fgets
    {48, 1, 2, Effect(kByOperand, kByOperand), 0},       // fread
    {49, 1, 2, Effect(kByOperand, kByOperand), kPure},   // sread
    {50, 1, 1, Effect(kByOperand, 1), 0},                // fwrite
    {51, 1, 1, Effect(kByOperand, 1), kPure},            // swrite
    {52, 1, 1, Effect(kByOperand, 1), kPure},            // bwrite
    {53, 0, 0, Effect(1, 0), 0},                         // fclose
    {54, 1, 2, Effect(kByOperand, kByOperand), 0},       // redirect
    {55, 0, 0, Effect(1, 0), 0},                         // fflush
    {56, 1, 2, Effect(kByOperand, kByOperand), 0},       // fseek
    {57, 0, 0, Effect(1, 1), 0},                         // ftell
    {58, 0, 0, Effect(1, 1), 0},                         // feof
    {59, 1, 1, Effect(kByOperand, 0), 0},                // clc
    {60, 0, 0, Effect(0, 0), kPure},                     // PushEmpty
    {61, 1, 1, Effect(kByOperand, 1), kPure},            // horzcat
    {62, 1, 1, Effect(kByOperand, 1), kPure},            // vertcat
    {63, 1, 1, Effect(kByOperand, 1), kPure},            // cat
    {64, 1, 1, Effect(kByOperand, 1), kPure},            // MakeList
    {65, 0, 0, Effect(2, 1), kPure},                     // AppendToList
    {66, 1, 1, Effect(kByOperand, 1), kPure},            // JoinValuesToList
    {67, 1, 1, Effect(kByOperand, 1), kPure},            // join
    {68, 1, 1, Effect(kByOperand, 1), kPure},            // cell
    {69, 0, 0, Effect(1, 1), kPure},                     // ndims
    {70, 1, 2, Effect(kByOperand, kByOperand), kPure},   // size
    {71, 0, 0, Effect(1, 1), kPure},                     // length
    {72, 0, 0, Effect(1, 1), kPure},                     // numel
    {73, 1, 1, Effect(kByOperand, 1), kPure},            // reshape
    {74, 0, 0, Effect(1, 1), kPure},                     // squeeze
    {75, 0, 0, Effect(2, 1), kPure},                     // permute
    {76, 0, 0, Effect(2, 1), kPure},                     // ipermute
    {77, 1, 1, Effect(kByOperand, 1), kPure},            // zeros
    {78, 1, 1, Effect(kByOperand, 1), kPure},            // ones
    {79, 1, 1, Effect(kByOperand, 1), kPure},            // eye
    {80, 1, 1, Effect(kByOperand, 1), 0},                // rand
    {81, 1, 1, Effect(kByOperand, 1), 0},                // randn
    {82, 0, 0, Effect(1, 1), kPure},                     // magic
    {83, 1, 1, Effect(kByOperand, 1), kPure},            // colon
    {84, 1, 1, Effect(kByOperand, 1), kPure},            // sub2ind
    {85, 1, 1, Effect(2, kByOperand), kPure},            // ind2sub
    {86, 1, 2, kIrregular, 0},                           // DeclareGlobal
    {87, 1, 1, Effect(kByOperand, 0), 0},                // clear
    {88, 1, 1, kIrregular, kPure},                       // LoadVar
    {89, 0, 0, Effect(2, 1), kPure},                     // subsref
    {90, 1, 1, kIrregular, 0},                           // StoreVar
    {91, 0, 0, Effect(3, 1), kPure},                     // subsasgn
    {92, 1, 1, kIrregular, 0},                           // DisplayStored
    {93, 1, 1, kIrregular, 0},                           // StoreAnsDisplay
    {94, 1, 1, kIrregular, 0},                           // DisplayVar
    {95, 1, 1, kIrregular, 0},                           // IncrementVar
    {96, 1, 1, kIrregular, 0},                           // DecrementVar
    {97, 1, 1, kIrregular, 0},                           // ClearVar
    {98, 1, 1, kIrregular, kPure},                       // GetField
    {99, 0, 0, Effect(2, 1), kPure},                     // GetDynamicField
    {100, 1, 3, kIrregular, kPure},                      // IndexValue
    {101, 1, 2, kIrregular, kPure},                      // CellIndexValue
    {102, 1, 3, kIrregular, kPure},                      // IndexGetField
    {103, 1, 2, kIrregular, kPure},                      // IndexGetDynamicField
    {104, 1, 3, kIrregular, kPure},                      // IndexBeginning
    {105, 1, 3, kIrregular, kPure},                      // IndexEnd
    {106, 1, 3, kIrregular, kPure},                      // IndexMatrixRow
    {107, 1, 3, kIrregular, kPure},                      // IndexMatrixCol
    {108, 1, 1, kIrregular, kPure},                      // RefVar
    {109, 1, 1, kIrregular, kPure},                      // RefVarForAssign
    {110, 0, 0, kIrregular, kPure},                      // EndRef
    {111, 1, 3, kIrregular, kPure},                      // IndexVar
    {112, 0, 0, kIrregular, 0},                          // EndRefAssign
    {113, 1, 2, kIrregular, 0},                          // IndexVarForAssign
    {114, 1, 1, Effect(kByOperand, 1), kPure},           // nargin
    {115, 1, 1, Effect(kByOperand, 1), kPure},           // nargout
    {116, 1, 2, Effect(kByOperand, kByOperand), kPure},  // deal
    {117, 0, 0, Effect(0, 1), kPure},                    // variables
    {118, 0, 0, Effect(1, 1), kPure},                    // uplus
    {119, 0, 0, Effect(1, 1), kPure},                    // uminus
    {120, 0, 0, Effect(1, 1), kPure},                    // conj
    {121, 0, 0, Effect(2, 1), kPure},                    // complex
    {122, 0, 0, Effect(1, 1), kPure},                    // real
    {123, 0, 0, Effect(1, 1), kPure},                    // imag
    {124, 0, 0, Effect(1, 1), kPure},                    // abs
    {125, 0, 0, Effect(1, 1), kPure},                    // angle
    {126, 0, 0, Effect(1, 1), kPure},                    // sign
    {127, 0, 0, Effect(1, 1), kPure},                    // ctranspose
    {128, 0, 0, Effect(1, 1), kPure},                    // transpose
    {129, 0, 0, Effect(1, 1), kPure},                    // fliplr
    {130, 0, 0, Effect(1, 1), kPure},                    // flipud
    {131, 0, 0, Effect(2, 1), kPure},                    // flipdim
    {132, 1, 1, Effect(kByOperand, 1), kPure},           // rot90
    {133, 1, 2, Effect(kByOperand, kByOperand), kPure},  // sort
    {134, 1, 1, Effect(1, kByOperand), kPure},           // unique
    {135, 1, 1, Effect(2, kByOperand), kPure},           // union
    {136, 1, 1, Effect(2, kByOperand), kPure},           // intersect
    {137, 1, 1, Effect(2, kByOperand), kPure},           // setdiff
    {138, 1, 1, Effect(2, kByOperand), kPure},           // setxor
    {139, 0, 0, Effect(2, 1), kPure},                    // ismember
    {140, 0, 0, Effect(1, 1), kPure},                    // fix
    {141, 0, 0, Effect(1, 1), kPure},                    // floor
    {142, 0, 0, Effect(1, 1), kPure},                    // ceil
    {143, 0, 0, Effect(1, 1), kPure},                    // round
    {144, 0, 0, Effect(1, 1), kPure},                    // exp
    {145, 0, 0, Effect(1, 1), kPure},                    // expm1
    {146, 0, 0, Effect(1, 1), kPure},                    // log
    {147, 0, 0, Effect(1, 1), kPure},                    // log10
    {148, 0, 0, Effect(1, 1), kPure},                    // log1p
    {149, 0, 0, Effect(1, 1), kPure},                    // log2
    {150, 0, 0, Effect(1, 1), kPure},                    // reallog
    {151, 0, 0, Effect(1, 1), kPure},                    // sin
    {152, 0, 0, Effect(1, 1), kPure},                    // cos
    {153, 0, 0, Effect(1, 1), kPure},                    // tan
    {154, 0, 0, Effect(1, 1), kPure},                    // sec
    {155, 0, 0, Effect(1, 1), kPure},                    // csc
    {156, 0, 0, Effect(1, 1), kPure},                    // cot
    {157, 0, 0, Effect(1, 1), kPure},                    // sinh
    {158, 0, 0, Effect(1, 1), kPure},                    // cosh
    {159, 0, 0, Effect(1, 1), kPure},                    // tanh
    {160, 0, 0, Effect(1, 1), kPure},                    // sech
    {161, 0, 0, Effect(1, 1), kPure},                    // csch
    {162, 0, 0, Effect(1, 1), kPure},                    // coth
    {163, 0, 0, Effect(1, 1), kPure},                    // asin
    {164, 0, 0, Effect(1, 1), kPure},                    // acos
    {165, 0, 0, Effect(1, 1), kPure},                    // atan
    {166, 0, 0, Effect(1, 1), kPure},                    // asec
    {167, 0, 0, Effect(1, 1), kPure},                    // acsc
    {168, 0, 0, Effect(1, 1), kPure},                    // acot
    {169, 0, 0, Effect(2, 1), kPure},                    // atan2
    {170, 0, 0, Effect(1, 1), kPure},                    // asinh
    {171, 0, 0, Effect(1, 1), kPure},                    // acosh
    {172, 0, 0, Effect(1, 1), kPure},                    // atanh
    {173, 0, 0, Effect(1, 1), kPure},                    // asech
    {174, 0, 0, Effect(1, 1), kPure},                    // acsch
    {175, 0, 0, Effect(1, 1), kPure},                    // acoth
    {176, 0, 0, Effect(1, 1), kPure},                    // sinc
    {177, 0, 0, Effect(1, 1), kPure},                    // sqrt
    {178, 0, 0, Effect(1, 1), kPure},                    // realsqrt
    {179, 0, 0, Effect(1, 1), kPure},                    // det
    {180, 1, 1, Effect(kByOperand, 1), kPure},           // sum
    {181, 1, 1, Effect(kByOperand, 1), kPure},           // prod
    {182, 1, 1, Effect(kByOperand, 1), kPure},           // mean
    {183, 1, 1, Effect(kByOperand, 1), kPure},           // var
    {184, 1, 1, Effect(kByOperand, 1), kPure},           // std
    {185, 1, 1, Effect(kByOperand, 1), kPure},           // moment
    {186, 1, 1, Effect(kByOperand, 1), kPure},           // skewness
    {187, 1, 1, Effect(kByOperand, 1), kPure},           // kurtosis
    {188, 1, 1, Effect(kByOperand, 1), kPure},           // cov
    {189, 1, 1, Effect(kByOperand, 1), kPure},           // cumsum
    {190, 1, 1, Effect(kByOperand, 1), kPure},           // cumprod
    {191, 1, 1, Effect(kByOperand, 1), kPure},           // diag
    {192, 1, 1, Effect(kByOperand, 1), kPure},           // tril
    {193, 1, 1, Effect(kByOperand, 1), kPure},           // triu
    {194, 1, 1, Effect(kByOperand, 1), kPure},           // repmat
    {195, 1, 2, Effect(kByOperand, kByOperand), kPure},  // ndgrid
    {196, 1, 2, Effect(kByOperand, kByOperand), kPure},  // meshgrid
    {197, 0, 0, Effect(1, 1), kPure},                    // trace
    {198, 1, 1, Effect(kByOperand, 1), kPure},           // diff
    {199, 0, 0, Effect(2, 1), kPure},                    // kron
    {200, 0, 0, Effect(1, 1), kPure},                    // ischar
    {201, 0, 0, Effect(1, 1), kPure},                    // setstr
    {202, 1, 1, Effect(kByOperand, 1), kPure},           // char
    {203, 0, 0, Effect(1, 1), kPure},                    // double
    {204, 0, 0, Effect(1, 1), kPure},                    // single
    {205, 0, 0, Effect(1, 1), kPure},                    // int8
    {206, 0, 0, Effect(1, 1), kPure},                    // int16
    {207, 0, 0, Effect(1, 1), kPure},                    // int32
    {208, 0, 0, Effect(1, 1), kPure},                    // uint8
    {209, 0, 0, Effect(1, 1), kPure},                    // uint16
    {210, 0, 0, Effect(1, 1), kPure},                    // uint32
    {211, 0, 0, Effect(1, 1), kPure},                    // int64
    {212, 0, 0, Effect(1, 1), kPure},                    // uint64
    {213, 0, 0, Effect(1, 1), kPure},                    // isnumeric
    {214, 0, 0, Effect(1, 1), kPure},                    // isfloat
    {215, 0, 0, Effect(1, 1), kPure},                    // isinteger
    {216, 0, 0, Effect(1, 1), kPure},                    // isscalar
    {217, 0, 0, Effect(1, 1), kPure},                    // isvector
    {218, 0, 0, Effect(1, 1), kPure},                    // swapbytes
    {219, 0, 0, Effect(2, 1), kPure},                    // cast
    {220, 0, 0, Effect(2, 1), kPure},                    // typecast
    {221, 0, 0, Effect(1, 1), kPure},                    // isletter
    {222, 0, 0, Effect(1, 1), kPure},                    // isdigit
    {223, 0, 0, Effect(1, 1), kPure},                    // isspace
    {224, 0, 0, Effect(1, 1), kPure},                    // upper
    {225, 0, 0, Effect(1, 1), kPure},                    // lower
    {226, 1, 1, Effect(kByOperand, 1), kPure},           // strcmp
    {227, 1, 1, Effect(kByOperand, 1), kPure},           // strcmpi
    {228, 0, 0, Effect(2, 1), kPure},                    // findstr
    {229, 1, 1, Effect(kByOperand, 1), kPure},           // strmatch
    {230, 0, 0, Effect(1, 1), kPure},                    // deblank
    {231, 0, 0, Effect(1, 1), kPure},                    // strtrim
    {232, 1, 2, Effect(kByOperand, kByOperand), kPure},  // strtok
    {233, 0, 0, Effect(2, 1), kPure},                    // plus
    {234, 0, 0, Effect(2, 1), kPure},                    // minus
    {235, 0, 0, Effect(2, 1), kPure},                    // mtimes
    {236, 0, 0, Effect(2, 1), kPure},                    // mrdivide
    {237, 0, 0, Effect(2, 1), kPure},                    // mldivide
    {238, 0, 0, Effect(2, 1), kPure},                    // times
    {239, 0, 0, Effect(2, 1), kPure},                    // rdivide
    {240, 0, 0, Effect(2, 1), kPure},                    // ldivide
    {241, 0, 0, Effect(2, 1), kPure},                    // rem
    {242, 0, 0, Effect(2, 1), kPure},                    // mod
    {243, 1, 1, Effect(kByOperand, 1), kPure},           // conv
    {244, 1, 1, Effect(kByOperand, 1), kPure},           // conv2
    {245, 1, 1, Effect(2, kByOperand), kPure},           // deconv
    {246, 1, 2, Effect(kByOperand, kByOperand), kPure},  // filter
    {247, 0, 0, Effect(2, 1), kPure},                    // addpol
    {248, 0, 0, Effect(2, 1), kPure},                    // mpower
    {249, 0, 0, Effect(2, 1), kPure},                    // power
    {250, 0, 0, Effect(2, 1), kPure},                    // realpow
    {251, 0, 0, Effect(1, 1), kPure},                    // inv
    {252, 0, 0, Effect(2, 1), kPure},                    // eq
    {253, 0, 0, Effect(2, 1), kPure},                    // ne
    {254, 0, 0, Effect(2, 1), kPure},                    // same
    {255, 0, 0, Effect(2, 1), kPure},                    // unsame
    {256, 0, 0, Effect(2, 1), kPure},                    // lt
    {257, 0, 0, Effect(2, 1), kPure},                    // gt
    {258, 0, 0, Effect(2, 1), kPure},                    // le
    {259, 0, 0, Effect(2, 1), kPure},                    // ge
    {260, 0, 0, Effect(2, 1), kPure},                    // and
    {261, 0, 0, Effect(2, 1), kPure},                    // or
    {262, 0, 0, Effect(2, 1), kPure},                    // xor
    {263, 0, 0, Effect(1, 1), kPure},                    // not
    {264, 1, 1, Effect(kByOperand, 1), kPure},           // any
    {265, 1, 1, Effect(kByOperand, 1), kPure},           // all
    {266, 1, 2, Effect(kByOperand, kByOperand), kPure},  // min
    {267, 1, 2, Effect(kByOperand, kByOperand), kPure},  // max
    {268, 1, 1, Effect(kByOperand, 1), kPure},           // cross
    {269, 1, 1, Effect(kByOperand, 1), kPure},           // dot
    {270, 1, 2, Effect(kByOperand, kByOperand), kPure},  // find
    {271, 0, 0, Effect(1, 1), kPure},                    // nnz
    {272, 0, 0, Effect(1, 1), kPure},                    // isempty
    {273, 0, 0, Effect(1, 1), kPure},                    // islogical
    {274, 0, 0, Effect(1, 1), kPure},                    // logical
    {275, 0, 0, Effect(1, 1), kPure},                    // isfinite
    {276, 0, 0, Effect(1, 1), kPure},                    // isinf
    {277, 0, 0, Effect(1, 1), kPure},                    // isnan
    {278, 1, 1, Effect(kByOperand, 1), kPure},           // exist
    {279, 1, 1, Effect(kByOperand, 1), kPure},           // num2list
    {280, 1, 1, Effect(kByOperand, 1), kPure},           // num2cell
    {281, 0, 0, Effect(1, 1), kPure},                    // list2num
    {282, 0, 0, Effect(1, 1), kPure},                    // islist
    {283, 0, 0, Effect(1, 1), kPure},                    // iscell
    {284, 0, 0, Effect(2, 1), kPure},                    // replist
    {285, 1, 1, Effect(kByOperand, 1), kPure},           // struct
    {286, 1, 1, Effect(kByOperand, 1), kPure},           // structarray
    {287, 0, 0, Effect(1, 1), kPure},                    // struct2cell
    {288, 1, 1, Effect(kByOperand, 1), kPure},           // cell2struct
    {289, 0, 0, Effect(1, 1), kPure},                    // isstruct
    {290, 0, 0, Effect(2, 1), kPure},                    // isfield
    {291, 0, 0, Effect(2, 1), kPure},                    // getfield
    {292, 0, 0, Effect(3, 1), kPure},                    // setfield
    {293, 0, 0, Effect(2, 1), kPure},                    // rmfield
    {294, 0, 0, Effect(1, 1), kPure},                    // fieldnames
    {295, 1, 2, Effect(kByOperand, kByOperand), kPure},  // orderfields
    {296, 1, 1, Effect(kByOperand, 1), kPure},           // class
    {297, 0, 0, Effect(1, 1), kPure},                    // isobject
    {298, 0, 0, Effect(2, 1), kPure},                    // isa
    {299, 1, 1, Effect(1, kByOperand), kPure},           // methods
    {300, 1, 1, Effect(1, kByOperand), 0},               // eval
    {301, 1, 2, Effect(kByOperand, kByOperand), 0},      // feval
    {302, 1, 2, Effect(kByOperand, kByOperand), 0},      // builtin
    {303, 1, 1, Effect(kByOperand, 1), kPure},           // inline
    {304, 0, 0, Effect(1, 1), 0},                        // str2fun
    {305, 1, 1, Effect(1, 1), 0},                        // MakeFunctionRef
    {306, 0, 0, Effect(1, 1), kPure},                    // fun2str
    {307, 1, 1, kIrregular, 0},                          // Jump
    {308, 1, 1, kIrregular, 0},                          // JumpIfTrue
    {309, 1, 1, kIrregular, 0},                          // JumpIfFalse
    {310, 1, 1, kIrregular, 0},                          // SkipOperand
    {311, 1, 1, kIrregular, 0},                          // CaseTest
    {312, 1, 1, kIrregular, 0},                          // ForNext
    {313, 1, 1, kIrregular, 0},                          // ForNextRange
    {314, 1, 1, kIrregular, kPure},                      // RangeIterator
    {315, 0, 0, kIrregular, 0},                          // RangeLastValue
    {316, 1, 1, kIrregular, 0},                          // OrElseJump
    {317, 1, 1, kIrregular, 0},                          // AndAlsoJump
    {318, 1, 3, kIrregular, 0},                          // CallFunction
    {319, 1, 3, kIrregular, 0},                          // ReservedCall
    {320, 1, 2, kIrregular, 0},                          // CallByValue
    {321, 0, 0, kIrregular, 0},                          // Return
    {322, 0, 0, kIrregular, 0},                          // EndOfCode
    {323, 1, 1, kIrregular, 0},                          // error
    {324, 1, 1, kIrregular, 0},                          // warning
    {325, 0, 0, kIrregular, 0},                          // rethrow
    {326, 1, 1, kIrregular, kPure},                      // lasterr
    {327, 0, 0, kIrregular, kPure},                      // lasterror
    {328, 1, 2, kIrregular, 0},                          // TryMark
    {329, 1, 2, kIrregular, kPure},                      // LineMarker
    {330, 0, 0, Effect(0, 1), kPure},                    // info
    {331, 1, 1, kIrregular, kPure},                      // assert
    {332, 0, 0, kIrregular, 0},                          // EndOfThreadCode
};

constexpr BuiltinRecord kBuiltinTable[kBuiltinCount + 1] = {
    {124, 1, 1, "abs"},
    {164, 1, 1, "acos"},
    {171, 1, 1, "acosh"},
    {168, 1, 1, "acot"},
    {175, 1, 1, "acoth"},
    {167, 1, 1, "acsc"},
    {174, 1, 1, "acsch"},
    {247, 2, 1, "addpol"},
    {265, Variable(1, 2), 1, "all"},
    {260, 2, 1, "and"},
    {125, 1, 1, "angle"},
    {264, Variable(1, 2), 1, "any"},
    {166, 1, 1, "asec"},
    {173, 1, 1, "asech"},
    {163, 1, 1, "asin"},
    {170, 1, 1, "asinh"},
    {331, Variable(1, kUnbounded), 0, "assert"},
    {165, 1, 1, "atan"},
    {169, 2, 1, "atan2"},
    {172, 1, 1, "atanh"},
    {302, Variable(0, kUnbounded), Variable(0, kUnbounded), "builtin"},
    {52, Variable(1, 2), 1, "bwrite"},
    {219, 2, 1, "cast"},
    {63, Variable(1, kUnbounded), 1, "cat"},
    {202, Variable(0, kUnbounded), 1, "char"},
    {142, 1, 1, "ceil"},
    {68, Variable(1, 16), 1, "cell"},
    {288, Variable(2, 3), 1, "cell2struct"},
    {296, Variable(1, kUnbounded), 1, "class"},
    {59, Variable(0, 1), 0, "clc"},
    {87, Variable(0, kUnbounded), 0, "clear"},
    {83, Variable(2, 3), 1, "colon"},
    {121, 2, 1, "complex"},
    {120, 1, 1, "conj"},
    {243, Variable(2, 3), 1, "conv"},
    {244, Variable(2, 3), 1, "conv2"},
    {152, 1, 1, "cos"},
    {158, 1, 1, "cosh"},
    {156, 1, 1, "cot"},
    {162, 1, 1, "coth"},
    {188, Variable(1, 2), 1, "cov"},
    {268, Variable(2, 3), 1, "cross"},
    {155, 1, 1, "csc"},
    {161, 1, 1, "csch"},
    {127, 1, 1, "ctranspose"},
    {190, Variable(1, 2), 1, "cumprod"},
    {189, Variable(1, 2), 1, "cumsum"},
    {230, 1, 1, "deblank"},
    {245, 2, Variable(1, 2), "deconv"},
    {179, 1, 1, "det"},
    {191, Variable(1, 2), 1, "diag"},
    {198, Variable(1, 3), 1, "diff"},
    {40, 1, 0, "disp"},
    {269, Variable(2, 3), 1, "dot"},
    {203, 1, 1, "double"},
    {10, Variable(0, 1), 1, "eps"},
    {252, 2, 1, "eq"},
    {323, Variable(1, kUnbounded), 0, "error"},
    {300, 1, Variable(0, kUnbounded), "eval"},
    {278, Variable(1, 2), 1, "exist"},
    {144, 1, 1, "exp"},
    {145, 1, 1, "expm1"},
    {79, Variable(1, 3), 1, "eye"},
    {12, Variable(0, 16), 1, "false"},
    {53, 1, 0, "fclose"},
    {58, 1, 1, "feof"},
    {301, Variable(0, kUnbounded), Variable(0, kUnbounded), "feval"},
    {55, 1, 0, "fflush"},
    {46, Variable(1, 2), 1, "fgetl"},
    {47, Variable(1, 2), 1, "fgets"},
    {294, 1, 1, "fieldnames"},
    {246, Variable(3, 5), Variable(1, 2), "filter"},
    {270, Variable(1, 3), Variable(1, 3), "find"},
    {228, 2, 1, "findstr"},
    {275, 1, 1, "isfinite"},
    {140, 1, 1, "fix"},
    {131, 2, 1, "flipdim"},
    {129, 1, 1, "fliplr"},
    {130, 1, 1, "flipud"},
    {141, 1, 1, "floor"},
    {41, Variable(0, 2), 0, "format"},
    {43, Variable(0, kUnbounded), Variable(0, 1), "fprintf"},
    {48, Variable(1, 3), Variable(0, 2), "fread"},
    {45, Variable(1, 2), Variable(1, 2), "fscanf"},
    {56, Variable(2, 3), Variable(0, 1), "fseek"},
    {57, 1, 1, "ftell"},
    {306, 1, 1, "fun2str"},
    {50, Variable(2, 3), 1, "fwrite"},
    {259, 2, 1, "ge"},
    {291, 2, 1, "getfield"},
    {5, 0, 1, "goldenratio"},
    {257, 2, 1, "gt"},
    {61, Variable(0, kUnbounded), 1, "horzcat"},
    {3, 0, 1, "i"},
    {123, 1, 1, "imag"},
    {85, 2, Variable(1, 16), "ind2sub"},
    {6, Variable(0, 17), 1, "inf"},
    {6, Variable(0, 17), 1, "Inf"},
    {330, 0, 1, "info"},
    {303, Variable(1, kUnbounded), 1, "inline"},
    {251, 1, 1, "inv"},
    {206, 1, 1, "int16"},
    {207, 1, 1, "int32"},
    {211, 1, 1, "int64"},
    {205, 1, 1, "int8"},
    {136, 2, Variable(1, 3), "intersect"},
    {76, 2, 1, "ipermute"},
    {298, 2, 1, "isa"},
    {283, 1, 1, "iscell"},
    {200, 1, 1, "ischar"},
    {222, 1, 1, "isdigit"},
    {272, 1, 1, "isempty"},
    {290, 2, 1, "isfield"},
    {276, 1, 1, "isinf"},
    {221, 1, 1, "isletter"},
    {282, 1, 1, "islist"},
    {273, 1, 1, "islogical"},
    {139, 2, 1, "ismember"},
    {277, 1, 1, "isnan"},
    {213, 1, 1, "isnumeric"},
    {214, 1, 1, "isfloat"},
    {215, 1, 1, "isinteger"},
    {297, 1, 1, "isobject"},
    {216, 1, 1, "isscalar"},
    {223, 1, 1, "isspace"},
    {289, 1, 1, "isstruct"},
    {217, 1, 1, "isvector"},
    {3, 0, 1, "j"},
    {67, Variable(0, kUnbounded), 1, "join"},
    {199, 2, 1, "kron"},
    {187, Variable(1, 2), 1, "kurtosis"},
    {326, 0, Variable(1, 2), "lasterr"},
    {327, 0, 1, "lasterror"},
    {240, 2, 1, "ldivide"},
    {258, 2, 1, "le"},
    {71, 1, 1, "length"},
    {281, 1, 1, "list2num"},
    {146, 1, 1, "log"},
    {147, 1, 1, "log10"},
    {148, 1, 1, "log1p"},
    {149, 1, 1, "log2"},
    {274, 1, 1, "logical"},
    {225, 1, 1, "lower"},
    {256, 2, 1, "lt"},
    {82, 1, 1, "magic"},
    {267, Variable(1, 3), Variable(1, 2), "max"},
    {182, Variable(1, 2), 1, "mean"},
    {196, Variable(1, 2), Variable(1, 2), "meshgrid"},
    {299, 1, Variable(0, 1), "methods"},
    {266, Variable(1, 3), Variable(1, 2), "min"},
    {234, 2, 1, "minus"},
    {237, 2, 1, "mldivide"},
    {242, 2, 1, "mod"},
    {185, Variable(2, 3), 1, "moment"},
    {248, 2, 1, "mpower"},
    {236, 2, 1, "mrdivide"},
    {235, 2, 1, "mtimes"},
    {7, Variable(0, 17), 1, "nan"},
    {7, Variable(0, 17), 1, "NaN"},
    {114, Variable(0, 1), 1, "nargin"},
    {115, Variable(0, 1), 1, "nargout"},
    {195, Variable(1, 16), Variable(1, 16), "ndgrid"},
    {116, Variable(0, kUnbounded), Variable(0, kUnbounded), "deal"},
    {117, 0, 1, "variables"},
    {69, 1, 1, "ndims"},
    {253, 2, 1, "ne"},
    {271, 1, 1, "nnz"},
    {263, 1, 1, "not"},
    {280, Variable(1, 2), 1, "num2cell"},
    {279, Variable(1, 2), 1, "num2list"},
    {72, 1, 1, "numel"},
    {78, Variable(1, 16), 1, "ones"},
    {261, 2, 1, "or"},
    {295, Variable(1, 2), Variable(1, 2), "orderfields"},
    {75, 2, 1, "permute"},
    {233, 2, 1, "plus"},
    {4, 0, 1, "pi"},
    {249, 2, 1, "power"},
    {181, Variable(1, 2), 1, "prod"},
    {80, Variable(0, 16), 1, "rand"},
    {81, Variable(0, 16), 1, "randn"},
    {239, 2, 1, "rdivide"},
    {122, 1, 1, "real"},
    {150, 1, 1, "reallog"},
    {9, Variable(0, 17), 1, "realmax"},
    {8, Variable(0, 17), 1, "realmin"},
    {250, 2, 1, "realpow"},
    {178, 1, 1, "realsqrt"},
    {54, Variable(0, 3), Variable(0, 1), "redirect"},
    {241, 2, 1, "rem"},
    {293, 2, 1, "rmfield"},
    {284, 2, 1, "replist"},
    {194, Variable(2, 3), 1, "repmat"},
    {73, Variable(1, 17), 1, "reshape"},
    {325, 1, 0, "rethrow"},
    {132, Variable(1, 2), 1, "rot90"},
    {143, 1, 1, "round"},
    {254, 2, 1, "same"},
    {154, 1, 1, "sec"},
    {160, 1, 1, "sech"},
    {137, 2, Variable(1, 3), "setdiff"},
    {292, 3, 1, "setfield"},
    {201, 1, 1, "setstr"},
    {138, 2, Variable(1, 3), "setxor"},
    {126, 1, 1, "sign"},
    {151, 1, 1, "sin"},
    {176, 1, 1, "sinc"},
    {204, 1, 1, "single"},
    {157, 1, 1, "sinh"},
    {70, Variable(1, 2), Variable(1, 16), "size"},
    {186, Variable(1, 2), 1, "skewness"},
    {133, Variable(1, 3), Variable(0, 2), "sort"},
    {42, Variable(0, kUnbounded), 1, "sprintf"},
    {177, 1, 1, "sqrt"},
    {74, 1, 1, "squeeze"},
    {49, Variable(1, 3), Variable(0, 2), "sread"},
    {44, 2, Variable(1, 3), "sscanf"},
    {184, Variable(1, 3), 1, "std"},
    {304, 1, 1, "str2fun"},
    {226, Variable(2, 3), 1, "strcmp"},
    {227, Variable(2, 3), 1, "strcmpi"},
    {229, Variable(2, 3), 1, "strmatch"},
    {232, Variable(1, 2), Variable(1, 2), "strtok"},
    {231, 1, 1, "strtrim"},
    {285, Variable(0, kUnbounded), 1, "struct"},
    {287, 1, 1, "struct2cell"},
    {286, Variable(0, kUnbounded), 1, "structarray"},
    {84, Variable(0, kUnbounded), 1, "sub2ind"},
    {91, 3, 1, "subsasgn"},
    {89, 2, 1, "subsref"},
    {180, Variable(1, 2), 1, "sum"},
    {218, 1, 1, "swapbytes"},
    {51, Variable(1, 2), 1, "swrite"},
    {153, 1, 1, "tan"},
    {159, 1, 1, "tanh"},
    {238, 2, 1, "times"},
    {197, 1, 1, "trace"},
    {128, 1, 1, "transpose"},
    {192, Variable(1, 2), 1, "tril"},
    {193, Variable(1, 2), 1, "triu"},
    {220, 2, 1, "typecast"},
    {11, Variable(0, 16), 1, "true"},
    {209, 1, 1, "uint16"},
    {210, 1, 1, "uint32"},
    {212, 1, 1, "uint64"},
    {208, 1, 1, "uint8"},
    {119, 1, 1, "uminus"},
    {135, 2, Variable(1, 3), "union"},
    {134, 1, Variable(1, 3), "unique"},
    {255, 2, 1, "unsame"},
    {118, 1, 1, "uplus"},
    {224, 1, 1, "upper"},
    {183, Variable(1, 3), 1, "var"},
    {62, Variable(0, kUnbounded), 1, "vertcat"},
    {324, Variable(1, kUnbounded), 0, "warning"},
    {262, 2, 1, "xor"},
    {77, Variable(1, 16), 1, "zeros"},
    {0xFFFF, 0, 0, ""},
};

constexpr const char* kMachineOpcodeNames[kOpcodeCount] = {
    "Nop",
    "PushZero",
    "PushOne",
    "i",
    "pi",
    "goldenratio",
    "inf",
    "nan",
    "realmin",
    "realmax",
    "eps",
    "true",
    "false",
    "PushSmallInt",
    "PushSmallImag",
    "PushDouble",
    "PushImagDouble",
    "PushSingle",
    "PushImagSingle",
    "PushInt8",
    "PushInt16",
    "PushInt32",
    "PushUint8",
    "PushUint16",
    "PushUint32",
    "PushInt32Wide",
    "PushUint32Wide",
    "PushInt64",
    "PushUint64",
    "PushInt64Wide",
    "PushUint64Wide",
    "PushSmallRange",
    "PushString8",
    "PushString16",
    "PushVoid",
    "PrintText8",
    "PrintText16",
    "Drop",
    "Dup",
    "Rotate",
    "disp",
    "format",
    "sprintf",
    "fprintf",
    "sscanf",
    "fscanf",
    "fgetl",
    "fgets",
    "fread",
    "sread",
    "fwrite",
    "swrite",
    "bwrite",
    "fclose",
    "redirect",
    "fflush",
    "fseek",
    "ftell",
    "feof",
    "clc",
    "PushEmpty",
    "horzcat",
    "vertcat",
    "cat",
    "MakeList",
    "AppendToList",
    "JoinValuesToList",
    "join",
    "cell",
    "ndims",
    "size",
    "length",
    "numel",
    "reshape",
    "squeeze",
    "permute",
    "ipermute",
    "zeros",
    "ones",
    "eye",
    "rand",
    "randn",
    "magic",
    "colon",
    "sub2ind",
    "ind2sub",
    "DeclareGlobal",
    "clear",
    "LoadVar",
    "subsref",
    "StoreVar",
    "subsasgn",
    "DisplayStored",
    "StoreAnsDisplay",
    "DisplayVar",
    "IncrementVar",
    "DecrementVar",
    "ClearVar",
    "GetField",
    "GetDynamicField",
    "IndexValue",
    "CellIndexValue",
    "IndexGetField",
    "IndexGetDynamicField",
    "IndexBeginning",
    "IndexEnd",
    "IndexMatrixRow",
    "IndexMatrixCol",
    "RefVar",
    "RefVarForAssign",
    "EndRef",
    "IndexVar",
    "EndRefAssign",
    "IndexVarForAssign",
    "nargin",
    "nargout",
    "deal",
    "variables",
    "uplus",
    "uminus",
    "conj",
    "complex",
    "real",
    "imag",
    "abs",
    "angle",
    "sign",
    "ctranspose",
    "transpose",
    "fliplr",
    "flipud",
    "flipdim",
    "rot90",
    "sort",
    "unique",
    "union",
    "intersect",
    "setdiff",
    "setxor",
    "ismember",
    "fix",
    "floor",
    "ceil",
    "round",
    "exp",
    "expm1",
    "log",
    "log10",
    "log1p",
    "log2",
    "reallog",
    "sin",
    "cos",
    "tan",
    "sec",
    "csc",
    "cot",
    "sinh",
    "cosh",
    "tanh",
    "sech",
    "csch",
    "coth",
    "asin",
    "acos",
    "atan",
    "asec",
    "acsc",
    "acot",
    "atan2",
    "asinh",
    "acosh",
    "atanh",
    "asech",
    "acsch",
    "acoth",
    "sinc",
    "sqrt",
    "realsqrt",
    "det",
    "sum",
    "prod",
    "mean",
    "var",
    "std",
    "moment",
    "skewness",
    "kurtosis",
    "cov",
    "cumsum",
    "cumprod",
    "diag",
    "tril",
    "triu",
    "repmat",
    "ndgrid",
    "meshgrid",
    "trace",
    "diff",
    "kron",
    "ischar",
    "setstr",
    "char",
    "double",
    "single",
    "int8",
    "int16",
    "int32",
    "uint8",
    "uint16",
    "uint32",
    "int64",
    "uint64",
    "isnumeric",
    "isfloat",
    "isinteger",
    "isscalar",
    "isvector",
    "swapbytes",
    "cast",
    "typecast",
    "isletter",
    "isdigit",
    "isspace",
    "upper",
    "lower",
    "strcmp",
    "strcmpi",
    "findstr",
    "strmatch",
    "deblank",
    "strtrim",
    "strtok",
    "plus",
    "minus",
    "mtimes",
    "mrdivide",
    "mldivide",
    "times",
    "rdivide",
    "ldivide",
    "rem",
    "mod",
    "conv",
    "conv2",
    "deconv",
    "filter",
    "addpol",
    "mpower",
    "power",
    "realpow",
    "inv",
    "eq",
    "ne",
    "same",
    "unsame",
    "lt",
    "gt",
    "le",
    "ge",
    "and",
    "or",
    "xor",
    "not",
    "any",
    "all",
    "min",
    "max",
    "cross",
    "dot",
    "find",
    "nnz",
    "isempty",
    "islogical",
    "logical",
    "isfinite",
    "isinf",
    "isnan",
    "exist",
    "num2list",
    "num2cell",
    "list2num",
    "islist",
    "iscell",
    "replist",
    "struct",
    "structarray",
    "struct2cell",
    "cell2struct",
    "isstruct",
    "isfield",
    "getfield",
    "setfield",
    "rmfield",
    "fieldnames",
    "orderfields",
    "class",
    "isobject",
    "isa",
    "methods",
    "eval",
    "feval",
    "builtin",
    "inline",
    "str2fun",
    "MakeFunctionRef",
    "fun2str",
    "Jump",
    "JumpIfTrue",
    "JumpIfFalse",
    "SkipOperand",
    "CaseTest",
    "ForNext",
    "ForNextRange",
    "RangeIterator",
    "RangeLastValue",
    "OrElseJump",
    "AndAlsoJump",
    "CallFunction",
    "ReservedCall",
    "CallByValue",
    "Return",
    "EndOfCode",
    "error",
    "warning",
    "rethrow",
    "lasterr",
    "lasterror",
    "TryMark",
    "LineMarker",
    "info",
    "assert",
    "EndOfThreadCode",
};

constexpr OperatorRecord kOperatorTable[kOperatorCount + 1] = {
    {kInfix, 8, ";", "vertcat"},       {kInfix, 10, ",", "horzcat"},  {kInfix, 12, ":", "colon"},
    {kSpecial, 12, "?", "***"},        {kSpecial, 13, "||", "***"},   {kSpecial, 14, "&&", "***"},
    {kInfix, 15, "|", "or"},           {kInfix, 17, "&", "and"},      {kInfix, 19, "<=", "le"},
    {kInfix, 19, "<", "lt"},           {kInfix, 19, ">=", "ge"},      {kInfix, 19, ">", "gt"},
    {kInfix, 19, "===", "same"},       {kInfix, 19, "==", "eq"},      {kInfix, 19, "~==", "unsame"},
    {kInfix, 19, "~=", "ne"},          {kInfix, 20, "+", "plus"},     {kInfix, 20, "-", "minus"},
    {kInfix, 21, "*", "mtimes"},       {kInfix, 21, "/", "mrdivide"}, {kInfix, 21, "\\", "mldivide"},
    {kInfix, 21, ".*", "times"},       {kInfix, 21, "./", "rdivide"}, {kInfix, 21, ".\\", "ldivide"},
    {kInfix, 23, "^", "mpower"},       {kInfix, 23, ".^", "power"},   {kPrefix, 18, "~", "not"},
    {kPrefix, 22, "-", "uminus"},      {kPrefix, 22, "+", "uplus"},   {kPostfix, 24, "'", "ctranspose"},
    {kPostfix, 24, ".'", "transpose"}, {kEndOfOperators, 0, "", ""},
};

namespace {

constexpr bool SameText(const char* a, const char* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

constexpr bool StartsWith(const char* text, const char* prefix) {
  while (*prefix != 0 && *prefix == *text) ++prefix, ++text;
  return *prefix == 0;
}

[[nodiscard]] constexpr StatusCode CheckTables(const OpcodeRecord* opcodes, const BuiltinRecord* builtins) {
  for (int i = 0; i < kOpcodeCount; ++i) {
    const OpcodeRecord& r = opcodes[i];
    if (r.opcode != i) return kInitError;
    if (!((r.kind != 0 && r.count != 0) || (r.kind == 0 && r.count <= 0))) return kInitError;
  }
  for (const BuiltinRecord* b = builtins; b->id != 0xFFFF; ++b) {
    if (b->id < 0 || b->id >= kOpcodeCount) return kInitError;
    const OpcodeRecord& r = opcodes[b->id];
    if (r.effect == kIrregular) continue;
    const bool inVar = IsVariableCount(b->inputs), outVar = IsVariableCount(b->outputs);
    if (!inVar && b->inputs != r.effect >> 4) return kInitError;
    if (!outVar && b->outputs != (r.effect & 15)) return kInitError;
    const int m = int{inVar} + int{outVar};
    if (m > 0 && m != r.count) return kInitError;
  }
  return kOk;
}

// The scanner takes the first operator whose token matches, so a token must
// come before every shorter token that is its prefix.
constexpr bool LongerTokensFirst() {
  for (int i = 0; i < kOperatorCount; ++i)
    for (int j = i + 1; j < kOperatorCount; ++j) {
      const char* a = kOperatorTable[i].token;
      const char* b = kOperatorTable[j].token;
      if (!SameText(a, b) && StartsWith(b, a)) return false;
    }
  return true;
}

constexpr bool OperatorsNameBuiltins() {
  for (int i = 0; i < kOperatorCount; ++i) {
    const OperatorRecord& op = kOperatorTable[i];
    if (op.kind == kSpecial) continue;
    bool found = false;
    for (const BuiltinRecord* b = kBuiltinTable; b->id != 0xFFFF && !found; ++b) found = SameText(b->name, op.name);
    if (!found) return false;
  }
  return true;
}

static_assert(CheckTables(kOpcodeTable, kBuiltinTable) == kOk);
static_assert(kBuiltinTable[kBuiltinCount].id == 0xFFFF);
static_assert(kOperatorTable[kOperatorCount].kind == kEndOfOperators);
static_assert(static_cast<int>(Op::EndOfThreadCode) == kOpcodeCount - 1);
static_assert(LongerTokensFirst());
static_assert(OperatorsNameBuiltins());

const OpcodeRecord& RecordOf(int opcode) { return kOpcodeTable[opcode]; }

void CopyName(const char* name, char out[32]) {
  std::memset(out, 0, 32);
  std::memcpy(out, name, strnlen(name, 31));
}

}  // namespace

StatusCode CheckOpcodeTables(const OpcodeRecord* opcodes, const BuiltinRecord* builtins) {
  return CheckTables(opcodes, builtins);
}

int GetInstructionLength(const int16_t* code) {
  const uint16_t op = static_cast<uint16_t>(code[0]);
  if (op >= kOpcodeCount) return 3;
  const OpcodeRecord& r = RecordOf(op);
  const int n = r.count;
  switch (r.kind) {
    case kNoOperands:
      return 1;
    case kWords:
      return n + 1;
    case kPairs:
    case kInt32s:
      return 2 * n + 1;
    case kInt64s:
    case kDoubles:
      return 4 * n + 1;
    case kBytes:
      return 2 + (static_cast<uint16_t>(code[1]) + 1) / 2;
    case kChars16:
      return 2 + static_cast<uint16_t>(code[1]);
  }
  return 1;
}

StatusCode GetInstructionStackEffect(const int16_t* code, int* inputs, int* outputs) {
  const uint16_t op = static_cast<uint16_t>(code[0]);
  if (op >= kOpcodeCount) {
    *inputs = code[1];
    *outputs = code[2];
    return kOk;
  }
  const int32_t effect = RecordOf(op).effect;
  if (effect < 0) return kBadArg;
  const int16_t* operand = code + 1;
  const int in = effect >> 4, out = effect & 15;
  *inputs = in == kByOperand ? *operand++ : in;
  *outputs = out == kByOperand ? *operand : out;
  return kOk;
}

void GetOpcodeName(EngineContext* ctx, int opcode, bool operatorForm, char out[32]) {
  std::memset(out, 0, 32);
  if (opcode >= kOpcodeCount) {
    NativeRef n;
    if (ctx != nullptr && FindNative(ctx, opcode - kOpcodeCount, &n)) CopyName(n.record->name, out);
    return;
  }
  if (opcode < 0) return;
  const BuiltinRecord* b = kBuiltinTable;
  while (b->id != 0xFFFF && b->id != opcode) ++b;
  if (b->id == 0xFFFF) return;
  if (operatorForm)
    for (const OperatorRecord* op = kOperatorTable; op->kind != kEndOfOperators; ++op)
      if (std::strcmp(op->name, b->name) == 0) return CopyName(op->token, out);
  CopyName(b->name, out);
}

const char* GetBuiltinNameByIndex(EngineContext* ctx, int n, bool operatorForm, const char** library,
                                  bool* sandboxAllowed) {
  if (n < 0) return nullptr;
  if (operatorForm) return n < kOperatorCount ? kOperatorTable[n].token : nullptr;
  if (n < kBuiltinCount) {
    if (library) *library = "RVO";
    if (sandboxAllowed) *sandboxAllowed = true;
    return kBuiltinTable[n].name;
  }
  // Then the natives, counting only names a program can call (headers and
  // hooks are skipped), each under the header it follows.
  n -= kBuiltinCount;
  for (int i = 0; ctx != nullptr && i < ctx->libraryCount; ++i) {
    const LibraryListEntry& e = ctx->libraries[i];
    const char* header = nullptr;
    for (int k = 0; k < e.count; ++k) {
      const char* name = e.first[k].name;
      if (name[0] == '@' || name[0] == '!') header = name;
      const bool callable = std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_';
      if (!callable || n-- > 0) continue;
      if (library) *library = header != nullptr ? header + 1 : "";
      if (sandboxAllowed) *sandboxAllowed = header != nullptr && header[0] == '!';
      return name;
    }
  }
  return nullptr;
}

bool IsMultiValueInstruction(int opcode) {
  if (opcode >= kOpcodeCount) return true;
  if (opcode == static_cast<int>(Op::CallFunction)) return true;
  if (opcode < 0) return false;
  const int32_t effect = RecordOf(opcode).effect;
  return effect >= 0 && (effect & 15) >= 2;
}

bool HasRelativeJumpOperand(int opcode) {
  switch (static_cast<Op>(opcode)) {
    case Op::Jump:
    case Op::JumpIfTrue:
    case Op::JumpIfFalse:
    case Op::SkipOperand:
    case Op::CaseTest:
    case Op::ForNext:
    case Op::ForNextRange:
    case Op::OrElseJump:
    case Op::AndAlsoJump:
    case Op::TryMark:
      return true;
    default:
      return false;
  }
}

bool GetJumpTarget(const int16_t* code, int* target) {
  const uint16_t op = static_cast<uint16_t>(code[0]);
  if (!HasRelativeJumpOperand(op)) return false;
  if (op == static_cast<uint16_t>(Op::TryMark)) {
    if (code[1] == 0) return false;
    *target = 3 + code[1];
    return true;
  }
  *target = 2 + code[1];
  return true;
}

bool IsPureCode(const int16_t* code, int length) {
  const int16_t* end = code + length;
  while (code < end) {
    const uint16_t op = static_cast<uint16_t>(*code);
    if (op >= kOpcodeCount || (RecordOf(op).flags & kPure) == 0) return false;
    code += GetInstructionLength(code);
  }
  return true;
}

const char* OpcodeMnemonic(int opcode) {
  if (opcode < 0 || opcode >= kOpcodeCount) return "";
  return kMachineOpcodeNames[opcode];
}

const BuiltinRecord* FindBuiltin(const char* name, int length) {
  if (length <= 0 || length >= static_cast<int>(sizeof(BuiltinRecord::name))) return nullptr;
  for (const BuiltinRecord* b = kBuiltinTable; b->id != 0xFFFF; ++b)
    if (std::strncmp(b->name, name, length) == 0 && b->name[length] == 0) return b;
  return nullptr;
}
