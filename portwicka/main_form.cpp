// PortwickA's main window, as a model.
#include "portwicka/main_form.h"

#include "platform/thread_priority.h"

#include <utility>

#include "platform/codepage.h"

namespace pw {

TMainForm::TMainForm(PortwickA& app, Clock& clock, const Alerts& alerts, PortwickA::SendChoices choices)
    : app_(app),
      clock_(clock),
      alerts_(alerts),
      choices_(std::move(choices)),
      progress_(std::make_unique<TransferProgress>()) {}

TMainForm::~TMainForm() {
  std::lock_guard lock(workerMutex_);
  if (worker_) worker_->EndCom();
  if (thread_.joinable()) thread_.join();
}

void TMainForm::Attach(std::unique_ptr<MainFormWindow> window) {
  window_ = std::move(window);
  FormCreate();
}

void TMainForm::FormCreate() {
  window_->MoveTo(app_.StoredPosition());
  window_->EnableTimer1(false);
  window_->SetCaption(app_.Caption());
  busy_ = false;
  window_->EnableTimer0(true);
}

ProgressSnapshot TMainForm::Snapshot() { return progress_->Snapshot(); }

void TMainForm::Timer0Timer() {
  window_->EnableTimer0(false);
  if (!app_.Store().Values().DspMode) window_->Minimize();
  if (app_.Run().Mode == AMode::Receive) {
    Start(app_.ReceiveRequest());
    return;
  }
  const std::optional<TransferRequest> request = app_.SendRequest(choices_);
  if (!request) {
    window_->Close();
    return;
  }
  Start(*request);
}

void TMainForm::Start(const TransferRequest& request) {
  progress_ = std::make_unique<TransferProgress>();
  if (request.TxFlag) progress_->SetLabel(FromAnsi(request.BhtFName));
  progress_->OnChange([this] { window_->PostProgress(); });
  progress_->OnEnd([this] {
    if (!endPosted_.exchange(true)) window_->PostEnded();
  });
  window_->PostProgress();
  std::lock_guard lock(workerMutex_);
  worker_ = std::make_unique<TYmThread>(*app_.Port(), clock_, *progress_, alerts_, request);
  busy_ = true;
  thread_ = std::thread([worker = worker_.get()] {
    SetWorkerPriority(worker->Request().TxFlag ? WorkerPriority::Send : WorkerPriority::Receive);
    worker->Execute();
  });
}

void TMainForm::StopBtnClick() {
  std::lock_guard lock(workerMutex_);
  if (worker_) worker_->StopCom();
}

void TMainForm::WorkerEnded() {
  {
    std::lock_guard lock(workerMutex_);
    if (!worker_ || !worker_->Ended()) return;
    if (thread_.joinable()) thread_.join();
    result_ = worker_->ErrorNo();
    worker_.reset();
  }
  window_->Hide();
  window_->EnableTimer1(true);
}

void TMainForm::Timer1Timer() {
  window_->EnableTimer1(false);
  window_->EnableStopBtn(false);
  window_->Close();
}

void TMainForm::FormClose() {
  if (closed_) return;
  closed_ = true;
  {
    // A window closed while the worker runs ends it first: the port goes next.
    std::lock_guard lock(workerMutex_);
    if (worker_) worker_->EndCom();
    if (thread_.joinable()) thread_.join();
    worker_.reset();
  }
  app_.FormClose(window_->Position());
  busy_ = false;
  window_->Hide();
}

void TMainForm::Minimized() { app_.Store().Values().DspMode = false; }
void TMainForm::Restored() { app_.Store().Values().DspMode = true; }

}  // namespace pw
