#include "ClipStatusRows.h"

#include "Theme.h"

#include <QBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace vantel {

namespace {
const QColor kErrorRed(255, 99, 99);
} // namespace

ClipStatusRows::ClipStatusRows(QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    m_busyRow = new QWidget;
    m_busyRow->setObjectName(QStringLiteral("busyRow"));
    auto* busy = new QHBoxLayout(m_busyRow);
    busy->setContentsMargins(0, 0, 0, 0);
    busy->setSpacing(12);
    m_busyText = new QLabel;
    m_busyText->setFont(Theme::font(12));
    m_progressBar = new QProgressBar;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setTextVisible(false);
    busy->addWidget(m_busyText);
    busy->addWidget(m_progressBar, 1);
    m_busyRow->hide();
    m_errorText = new QLabel;
    m_errorText->setObjectName(QStringLiteral("errorText"));
    m_errorText->setFont(Theme::font(12));
    m_errorText->setWordWrap(true);
    m_errorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_errorText->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::css(kErrorRed)));
    m_errorText->hide();
    column->addWidget(m_busyRow);
    column->addWidget(m_errorText);
}

void ClipStatusRows::setBusy(const std::optional<QString>& stage, double progress) {
    m_busyRow->setVisible(stage.has_value());
    m_busyText->setText(stage.value_or(QString()));
    m_progressBar->setValue(int(std::clamp(progress, 0.0, 1.0) * 1000));
}

void ClipStatusRows::setError(const std::optional<QString>& message) {
    m_errorText->setVisible(message.has_value());
    m_errorText->setText(message.value_or(QString()));
}

} // namespace vantel
