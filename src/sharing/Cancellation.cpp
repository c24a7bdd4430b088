#include "Cancellation.h"

namespace vantel {

Cancelled::Cancelled()
    : std::runtime_error("The upload was stopped.") {}

void Cancellation::cancel() {
    if (m_cancelled.exchange(true))
        return;
    emit fired();
}

void Cancellation::check() const {
    if (cancelled())
        throw Cancelled();
}

} // namespace vantel
