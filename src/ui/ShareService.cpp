#include "ui/ShareService.h"

#include <stdexcept>

namespace vantel {

QString failureText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        const QString text = QString::fromUtf8(e.what()).trimmed();
        if (!text.isEmpty())
            return text;
    } catch (...) {
    }
    return QStringLiteral("Something went wrong.");
}

} // namespace vantel
