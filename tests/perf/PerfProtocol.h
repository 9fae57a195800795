// What the benchmark driver and its reference program agree on.
#pragma once
#include <windows.h>

// The reference program's hidden window: the driver waits for it, and closes it with WM_CLOSE.
inline constexpr wchar_t kIdleReferenceClass[] = L"OrvanePerfIdleReference";
