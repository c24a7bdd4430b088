#pragma once

// What a toast tells, for the callers that choose it: a success shows the accent check mark, a
// problem the red exclamation mark (and, as a desktop notification, a critical one).

namespace vantel {

enum class ToastKind { success, problem };

} // namespace vantel
