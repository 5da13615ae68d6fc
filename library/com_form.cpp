#include "library/com_form.h"

#include <thread>
#include <utility>

#include "platform/codepage.h"
#include "platform/thread_priority.h"

namespace pw {

namespace {

// Linux, and tests: a std::thread, joined when the worker has ended.
class StdWorkerThread final : public TComForm::WorkerThread {
 public:
  explicit StdWorkerThread(TYmThread& worker)
      : thread_([&worker] {
          SetWorkerPriority(worker.Request().TxFlag ? WorkerPriority::Send : WorkerPriority::Receive);
          worker.Execute();
        }) {}
  ~StdWorkerThread() override { Join(); }
  void Join() override {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

std::unique_ptr<TComForm::WorkerThread> StartStdThread(TYmThread& worker) {
  return std::make_unique<StdWorkerThread>(worker);
}

std::atomic<TComForm::ThreadStarter> threadStarter{&StartStdThread};

}  // namespace

void TComForm::SetThreadStarter(ThreadStarter starter) { threadStarter = starter ? starter : &StartStdThread; }

TComForm::TComForm(SerialDevice& device, Clock& clock, const Alerts& alerts, SettingsStore& settings,
                   TransferShared& shared, std::string portName)
    : device_(device),
      clock_(clock),
      alerts_(alerts),
      settings_(settings),
      shared_(shared),
      portName_(std::move(portName)),
      progress_(std::make_unique<TransferProgress>()) {}

TComForm::~TComForm() {
  std::lock_guard lock(workerMutex_);
  if (worker_) {
    worker_->EndCom();
    thread_.reset();  // joins
  }
}

void TComForm::Attach(std::unique_ptr<ComFormWindow> window) {
  window_ = std::move(window);
  FormCreate();
}

void TComForm::FormCreate() { window_->EnableTimer1(false); }

ProgressSnapshot TComForm::Snapshot() { return progress_->Snapshot(); }

bool TComForm::ChkRcvWait() const {
  std::lock_guard lock(workerMutex_);
  return worker_ && worker_->ChkRcvWait();
}

bool TComForm::Running() const {
  std::lock_guard lock(workerMutex_);
  return worker_ != nullptr;
}

TransferRequest TComForm::BaseRequest() const {
  const Settings& s = settings_.Values();
  TransferRequest q;
  q.CsvFlg = s.CsvRcvDat;
  q.LastSpFlg = s.LastSpace;
  q.DblQuotFlg = s.DblQuoted;
  q.LogFlag = s.LogEnable;
  q.LogFile = LogFile;
  q.Tmp1File = Tmp1File;
  q.Tmp2File = Tmp2File;
  return q;
}

void TComForm::Send0() {
  TransferRequest q = BaseRequest();
  q.TxFlag = true;
  q.TxFName = TxFile;
  q.BhtFName = BhtFile;
  q.FieldsDat = shared_.FieldList;
  Start(std::move(q));
}

void TComForm::Receive0() {
  TransferRequest q = BaseRequest();
  q.TxFlag = false;
  q.RxFolder = RxFolder0;
  q.RcvMode = RxMd == 1;
  q.WriteMode = WrMd == 1;
  if (!shared_.ExpectName.empty()) {
    q.ChkRcvFName = shared_.ExpectName;
    q.ChkFields = shared_.FieldList;
  }
  Start(std::move(q));
}

void TComForm::Start(TransferRequest request) {
  progress_ = std::make_unique<TransferProgress>();
  if (request.TxFlag) progress_->SetLabel(FromAnsi(request.BhtFName));
  progress_->OnChange([this] { window_->PostProgress(); });
  progress_->OnEnd([this] {
    if (!endPosted_.exchange(true)) window_->PostEnded();
  });
  endPosted_ = false;
  std::lock_guard lock(workerMutex_);
  worker_ = std::make_unique<TYmThread>(device_, clock_, *progress_, alerts_, std::move(request));
  shared_.Busy = -1;
  thread_ = threadStarter.load()(*worker_);
}

void TComForm::StopBtnClick() {
  std::lock_guard lock(workerMutex_);
  if (worker_) worker_->StopCom();
}

void TComForm::EndCom() {
  std::lock_guard lock(workerMutex_);
  if (worker_) worker_->EndCom();
}

void TComForm::WorkerEnded() {
  std::lock_guard lock(workerMutex_);
  if (!worker_ || !worker_->Ended()) return;
  thread_->Join();
  shared_.TransferResult = worker_->ErrorNo();
  if (shared_.TransferResult == 0 && !worker_->Request().TxFlag) {
    shared_.RcvName = worker_->RcvFile();
    shared_.FieldList = worker_->ReceivedFieldList();
  } else {
    shared_.RcvName.clear();
    shared_.FieldList.clear();
  }
  thread_.reset();
  worker_.reset();
  window_->Show(false);
  window_->EnableTimer1(true);
}

void TComForm::Timer1Timer() {
  window_->EnableTimer1(false);
  window_->Close();
}

void TComForm::FormClose() {
  settings_.WriteWindowPos(portName_, window_->Position());
  shared_.Busy = 0;
}

}  // namespace pw
