// Windows: the DLL's entry point and its worker threads.
//
// Unloading never waits for a thread: a thread that ends needs the loader
// lock, which the unloading holds. So:
// - A worker runs on a system thread that holds a reference to the DLL from
//   its start and drops it as its last act (FreeLibraryAndExitThread), after
//   the host's calls have left the DLL. A FreeLibrary of the host during a
//   transfer therefore returns at once; the DLL goes when the worker has ended.
// - At DLL_PROCESS_DETACH a transfer can still run only when the process
//   ends (its threads are gone then): the forced end is asked for, 100 ms
//   pass, the port is closed. Nothing is joined and nothing is freed that a
//   thread might still use.
#include <windows.h>

#include "library/com_form.h"
#include "library/host_call.h"
#include "library/portwick_library.h"
#include "library/win32/views.h"
#include "platform/thread_priority.h"

namespace pw {

PortwickLibrary*& LibraryInstance();

namespace {

// How long an ended worker waits for the host's calls to leave the DLL
// before it drops its reference.
constexpr DWORD kLeaveWaitMs = 2000;
constexpr DWORD kLeavePollMs = 5;

class PinnedWorkerThread final : public TComForm::WorkerThread {
 public:
  explicit PinnedWorkerThread(TYmThread& worker) : worker_(worker), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThisModule), &self);
    module_ = self;
    thread_ = CreateThread(nullptr, 0, &PinnedWorkerThread::Run, this, 0, nullptr);
    if (thread_ == nullptr) {
      // No thread: the worker runs here, and the reference goes at once.
      worker_.Execute();
      SetEvent(done_);
      FreeLibrary(module_);
    }
  }
  ~PinnedWorkerThread() override {
    Join();
    if (thread_ != nullptr) CloseHandle(thread_);
    CloseHandle(done_);
  }
  void Join() override { WaitForSingleObject(done_, INFINITE); }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* t = static_cast<PinnedWorkerThread*>(self);
    const HMODULE module = t->module_;
    SetWorkerPriority(t->worker_.Request().TxFlag ? WorkerPriority::Send : WorkerPriority::Receive);
    t->worker_.Execute();
    SetEvent(t->done_);  // t may be gone from here on
    for (DWORD waited = 0; CallsInLibrary().load() > 0 && waited < kLeaveWaitMs; waited += kLeavePollMs)
      Sleep(kLeavePollMs);
    Sleep(kLeavePollMs);  // the last call's few instructions after it has left
    FreeLibraryAndExitThread(module, 0);
  }

  TYmThread& worker_;
  HANDLE done_;
  HMODULE module_ = nullptr;
  HANDLE thread_ = nullptr;
};

std::unique_ptr<TComForm::WorkerThread> StartPinned(TYmThread& worker) {
  return std::make_unique<PinnedWorkerThread>(worker);
}

}  // namespace

}  // namespace pw

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    pw::TComForm::SetThreadStarter(&pw::StartPinned);
  } else if (reason == DLL_PROCESS_DETACH) {
    if (pw::PortwickLibrary* lib = pw::LibraryInstance()) lib->Unload(reserved != nullptr);
    if (reserved == nullptr) {
      // A later load registers the window classes afresh, with its own code.
      for (const wchar_t* cls : {L"TComForm", L"TSetComModeForm", L"TSetFolderForm", L"PortwickPanel"})
        UnregisterClassW(cls, pw::ThisModule());
    }
  }
  return TRUE;
}
