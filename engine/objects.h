// Objects and classes: class names of values, the class builtins, the search
// of an object's parent parts, and the step of the virtual machine that hands a
// failing instruction to the method of its object operand's class.
#pragma once

#include "engine/context.h"

// The class name of an array of this element class: "int8" ... "uint64",
// "single", "double"; "binary" for any other.
const char* ElementClassName(uint32_t cls);

// The class name of the top value; false when it has none. The text is not
// terminated and stays valid until the symbol area or the libraries change.
bool GetValueClassName(EngineContext* ctx, const char** name, int* length);

// The part of class `wanted` inside an object of class `objectClass` whose
// cells start at data: *offset (cells from data to the part's first cell) and
// *partCells. 43 for a value that is no object, 39 without such a part, 3
// when the search has no scratch room above the data stack.
[[nodiscard]] StatusCode FindObjectPartByClass(EngineContext* ctx, const Cell* data, int64_t cells, int32_t objectClass,
                                               SymbolId wanted, int64_t* offset, int64_t* partCells);

// The class of the value at a depth (through a reference, of the element it
// designates): a composite subtype outside 0..4, else 0.
int32_t GetClassIdAtDepth(EngineContext* ctx, int depth);
// The subtype of a boxed value at a depth (through a reference, of the
// designated element), else 0.
int32_t GetBoxedSubtypeAtDepth(EngineContext* ctx, int depth);
// The composite subtype of variable v of the frame in scope; 0 for others.
int32_t GetVariableClassId(EngineContext* ctx, int variable);

// The arguments of an indexing method, built from the failing instruction
// (see engine/overload.cpp for the stack each expects).
[[nodiscard]] StatusCode PushSubsrefArguments(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode PushSubsasgnArguments(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode PushEndArguments(EngineContext* ctx, const int16_t* ins);

// The overload step of the virtual machine for an instruction that failed
// with st: 0 when a method or a retry took over (continue at the program
// counter), a control code of the method (500, 502 ...), or the error that
// stands (st itself, or the method's failure with its name noted).
[[nodiscard]] StatusCode OverloadFailingInstruction(EngineContext* ctx, const int16_t* ins, StatusCode st);

// Builtins class (296 {nargin}), isobject (297), isa (298), methods (299
// {nargout}), and disp (40), which leaves objects to their class.
[[nodiscard]] StatusCode OpClass(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode OpIsobject(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode OpIsa(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode OpMethods(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode OpDispOrOverload(EngineContext* ctx, const int16_t* ins);
