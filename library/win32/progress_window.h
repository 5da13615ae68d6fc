// Windows: the progress window of a TComForm.
#pragma once

#include <windows.h>

#include <memory>

#include "library/com_form.h"

namespace pw {

/// Control ids of the progress window.
namespace progress_id {
enum : int { LabelFName = 100, Gauge1, StopBtn };
}  // namespace progress_id

/// The controls of a progress window, and its client area's size.
struct ProgressControls {
  HWND label = nullptr, gauge = nullptr, stopBtn = nullptr;
};
inline constexpr int kProgressClientWidth = 204, kProgressClientHeight = 42;

/// Makes the label, the gauge and the stop button in \p window, at their places.
ProgressControls MakeProgressControls(HWND window);
/// Shows \p snapshot in \p controls.
void ShowProgress(const ProgressControls& controls, const ProgressSnapshot& snapshot);

/// The window of \p form, hidden at (1, 1), owned by \p owner.
std::unique_ptr<ComFormWindow> MakeProgressWindow(const std::weak_ptr<TComForm>& form, HWND owner);

}  // namespace pw
