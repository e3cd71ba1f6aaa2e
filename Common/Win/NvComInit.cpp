// COM for the main thread of every program that links the Windows core: the
// shell link objects and the shell functions need it. Initialised before
// main(), released when the program ends normally.
#include <objbase.h>

namespace {

struct TComInit {
  HRESULT Result;
  TComInit() : Result(CoInitialize(nullptr)) {}
  ~TComInit() {
    if (SUCCEEDED(Result)) CoUninitialize();
  }
};

TComInit ComInit;

}  // namespace

// Referenced from the link line (-u) so that this object is part of every
// program, although nothing calls into it.
extern "C" int NvComInitLinked() { return SUCCEEDED(ComInit.Result) ? 1 : 0; }
