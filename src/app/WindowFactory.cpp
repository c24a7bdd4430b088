#include "WindowFactory.h"

namespace vantel {

QWidget* createWindowContent(const QString&) {
    return new QWidget;
}

} // namespace vantel
