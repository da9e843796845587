// An extension library of the older interface: functions described by
// descriptors, reading inputs and building outputs through the callback
// block. Built a second time with FIXTURE_BULKY, it describes more functions
// than the engine's wrapper table holds.
#include <cstring>

#include "engine/extension_abi.h"

namespace {

// A rectangle: make(w, h) builds one, its method area gives w * h.
int Make(ExtensionCallbackBlock* b, int, int) {
  const ExtensionCallbacks& c = b->callbacks;
  double w = 0, h = 0;
  if (!c.ExtGetScalarArg(b, 1, &w, nullptr) || !c.ExtGetScalarArg(b, 2, &h, nullptr)) return 0;
  void* payload = nullptr;
  if (!c.ExtNewObject(b, 2 * sizeof(double), &payload)) return 0;
  const double sides[2] = {w, h};
  std::memcpy(payload, sides, sizeof sides);
  return 1;
}

int Area(ExtensionCallbackBlock* b, int, int) {
  const ExtensionCallbacks& c = b->callbacks;
  int32_t bytes = 0;
  void* payload = nullptr;
  if (!c.ExtGetObjectArg(b, 1, &bytes, &payload)) return 0;
  if (bytes != 2 * sizeof(double)) return 0;
  double sides[2];
  std::memcpy(sides, payload, sizeof sides);
  return c.ExtPushComplex(b, sides[0] * sides[1], 0);
}

// three(): 1, 2 and 3, pushed first output first, whatever was asked.
int Three(ExtensionCallbackBlock* b, int, int) {
  for (int k = 1; k <= 3; ++k)
    if (!b->callbacks.ExtPushComplex(b, k, 0)) return 0;
  return 1;
}

// nothing(): succeeds without a result.
int Nothing(ExtensionCallbackBlock*, int, int) { return 1; }

// silent(): fails without storing an error.
int Silent(ExtensionCallbackBlock*, int, int) { return 0; }

// refuse(): raises its own error.
int Refuse(ExtensionCallbackBlock* b, int, int) {
  return b->callbacks.ExtError(b, "ext:refused", "the extension refused");
}

// scalar(x): the real and imaginary parts of a 1x1 input of any class.
int Scalar(ExtensionCallbackBlock* b, int, int) {
  const ExtensionCallbacks& c = b->callbacks;
  double re = 0, im = 0;
  if (!c.ExtGetScalarArg(b, 1, &re, &im)) return 0;
  return c.ExtPushComplex(b, re, 0) && c.ExtPushComplex(b, im, 0);
}

// options(k): option-style updates of the defaults {a: 1, b: 2}. k = 1:
// pairs b = 5; k = 2: the structure {b: 7} updated by a = 9; k = 3: an
// unknown name.
int Options(ExtensionCallbackBlock* b, int, int) {
  const ExtensionCallbacks& c = b->callbacks;
  double k = 0;
  if (!c.ExtGetScalarArg(b, 1, &k, nullptr)) return 0;
  int n = 2;
  if (k == 2) {
    n = 3;
    if (!c.ExtNewStruct(b) || !c.ExtPushComplex(b, 7, 0) || !c.ExtAddField(b, "b")) return 0;
  }
  const char* name = k == 1 ? "b" : k == 2 ? "a" : "zz";
  int32_t length = static_cast<int32_t>(std::strlen(name));
  char* text = nullptr;
  if (!c.ExtBeginString(b, &length, &text)) return 0;
  std::memcpy(text, name, length);
  if (!c.ExtEndString(b) || !c.ExtPushComplex(b, k == 1 ? 5 : 9, 0)) return 0;
  if (!c.ExtNewStruct(b) || !c.ExtPushComplex(b, 1, 0) || !c.ExtAddField(b, "a") || !c.ExtPushComplex(b, 2, 0) ||
      !c.ExtAddField(b, "b"))
    return 0;
  return c.ExtSetFields(b, n);
}

// probe(k, ...): runs the callback case k; a failing callback's code is the
// call's error, a case that must not fail stores 1000 instead.
int Expect(ExtensionCallbackBlock* b, bool ok) {
  if (ok) return 1;
  b->error = 1000;
  return 0;
}

int Probe(ExtensionCallbackBlock* b, int, int) {
  const ExtensionCallbacks& c = b->callbacks;
  double k = 0;
  if (!c.ExtGetScalarArg(b, 1, &k, nullptr)) return 0;
  switch (static_cast<int>(k)) {
    case 1: {  // an input past nargin: 125
      double x = 0;
      return c.ExtGetScalarArg(b, 9, &x, nullptr);
    }
    case 2: {  // a matrix asked of a list: 43, given back as the result
      int32_t m = 0, n = 0;
      double* re = nullptr;
      if (!Expect(b, !c.ExtGetMatrixArg(b, 2, &m, &n, &re, nullptr))) return 0;
      return c.ExtPushComplex(b, b->error, 0);
    }
    case 3: {  // a push while a string output is open: 12
      int32_t length = 4;
      char* text = nullptr;
      if (!Expect(b, c.ExtBeginString(b, &length, &text))) return 0;
      return c.ExtPushMatrix(b, 1, 1, nullptr, nullptr);
    }
    case 4: {  // two open dimensions: 21
      int32_t dims[3] = {-1, 2, -1};
      return c.ExtPushArray(b, 3, dims, 8, kExtReal, nullptr);
    }
    case 5: {  // one open dimension: that many fit, one more does not (3)
      int32_t dims[2] = {1, -1};
      void* data = nullptr;
      if (!Expect(b, c.ExtPushArray(b, 2, dims, 2, kExtChar, nullptr) && dims[1] > 0)) return 0;
      int32_t more[2] = {1, dims[1] + 1};
      if (!Expect(b, !c.ExtPushArray(b, 2, more, 2, kExtChar, &data) && b->error == 3)) return 0;
      if (!Expect(b, c.ExtPushArray(b, 2, dims, 2, kExtChar, &data))) return 0;
      std::memset(data, 0, static_cast<size_t>(dims[1]) * 2);
      return 1;
    }
    case 6: {  // a list element past the end: 29
      ExtensionValueRef list, element;
      if (!Expect(b, c.ExtGetArgRef(b, 2, &list) && list.kind == kExtRefList)) return 0;
      int32_t count = 0;
      if (!Expect(b, c.ExtGetRefCount(b, &list, &count) && count == 2)) return 0;
      if (!Expect(b, c.ExtGetListElement(b, &list, 2, &element) && element.kind == kExtRefArray)) return 0;
      return c.ExtGetListElement(b, &list, 3, &element);
    }
    case 7: {  // a field that is not there: 39
      ExtensionValueRef s, field;
      char name[32];
      if (!Expect(b, c.ExtGetArgRef(b, 2, &s) && s.kind == kExtRefStruct)) return 0;
      if (!Expect(b, c.ExtGetFieldName(b, &s, 1, name) && std::strcmp(name, "a") == 0)) return 0;
      if (!Expect(b, c.ExtGetField(b, &s, "a", &field))) return 0;
      return c.ExtGetField(b, &s, "b", &field);
    }
    case 8:  // a user's break: 501
      return c.ExtPollBreak(b);
    case 9: {  // an output reaching into what was handed out as scratch: 3
      const int32_t free = b->scratchBytes;
      if (!Expect(b, c.ExtAllocScratch(b, free / 2) != nullptr)) return 0;
      return c.ExtPushMatrix(b, 1, free / 8, nullptr, nullptr);
    }
    case 10: {  // an output below it shrinks the scratch area; 1 when it did
      const int32_t before = b->scratchBytes;
      auto* last = static_cast<uint8_t*>(c.ExtAllocScratch(b, 64));
      if (!Expect(b, last != nullptr)) return 0;
      if (!Expect(b, c.ExtPushComplex(b, 1, 0))) return 0;
      const bool shrunk = b->scratchBytes < before - 64 && b->scratch + b->scratchBytes == last;
      auto* next = static_cast<uint8_t*>(c.ExtAllocScratch(b, 8));
      return Expect(b, shrunk && next == last - 8);
    }
    case 11: {  // the sizes of copied inputs: 125 for after below 1
      int32_t bytes = 0;
      if (!Expect(b, c.ExtSizeOfArgs(b, 1, 1, &bytes) && bytes > 32)) return 0;
      return c.ExtSizeOfArgs(b, 1, 0, &bytes);
    }
    default:
      return 1;
  }
}

#ifdef FIXTURE_BULKY
constexpr int kCount = 300;
#else
constexpr int kCount = 9;
#endif

ExtensionFunctionDescriptor gDescriptors[kCount] = {
    {"make", Make, 2, 2, 0, 1},       {"<area", Area, 1, 1, 0, 1},      {"three", Three, 0, 0, 0, 3},
    {"nothing", Nothing, 0, 0, 0, 1}, {"silent", Silent, 0, 0, 0, 1},   {"refuse", Refuse, 0, 0, 0, 1},
    {"scalar", Scalar, 1, 1, 0, 2},   {"options", Options, 1, 1, 0, 1}, {"probe", Probe, 1, kAnyCount, 0, 1},
};

}  // namespace

// Not the current interface's number, so the descriptors are used; the
// current interface's entry point is there all the same.
extern "C" int GetRVOExtensionsVersion() { return 51000; }

extern "C" void InstallRVOExtensions(EngineContext*, void*, const NativeFunctionRecord** records) {
  static const NativeFunctionRecord kWrong[] = {{nullptr, nullptr, 0, "wronginterface", 0, 0, 0, 0}, {}};
  *records = kWrong;
}

extern "C" int InstallFn(ExtensionCallbackBlock* block, const ExtensionFunctionDescriptor** descriptors) {
  if (block->version != kCallbackBlockVersion || block->version2 != kCallbackBlockVersion) return 0;
  for (int k = 9; k < kCount; ++k) {
    gDescriptors[k] = gDescriptors[8];
    gDescriptors[k].name[5] = static_cast<char>('a' + k % 26);
  }
  *descriptors = gDescriptors;
  return kCount;
}

extern "C" void ShutdownFn() {}
