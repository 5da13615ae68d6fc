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

/// The window of \p form, hidden at (1, 1), owned by \p owner.
std::unique_ptr<ComFormWindow> MakeProgressWindow(const std::weak_ptr<TComForm>& form, HWND owner);

}  // namespace pw
