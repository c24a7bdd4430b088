#include "ui/RelativeDate.h"

#include <QRegularExpression>
#include <cmath>

namespace vantel {

namespace {

struct Unit {
    qint64 seconds;
    const char* one;
    const char* many;
};

// Each unit is used from its own length up to the next unit's.
constexpr Unit kUnits[] = {
    {365 * 86400, "1 year", "%1 years"}, {30 * 86400, "1 month", "%1 months"},
    {7 * 86400, "1 week", "%1 weeks"},   {86400, "1 day", "%1 days"},
    {3600, "1 hour", "%1 hours"},        {60, "1 minute", "%1 minutes"},
    {1, "1 second", "%1 seconds"},
};

QString amount(const Unit& unit, qint64 count) {
    return count == 1 ? QString::fromLatin1(unit.one) : QString::fromLatin1(unit.many).arg(count);
}

} // namespace

QString relativeDate(const QDateTime& when, const QDateTime& now) {
    const qint64 delta = when.secsTo(now);
    const qint64 span = std::llabs(delta);
    if (span < 10)
        return QStringLiteral("just now");
    for (const Unit& unit : kUnits) {
        if (span < unit.seconds)
            continue;
        const QString text = amount(unit, span / unit.seconds);
        return delta >= 0 ? QStringLiteral("%1 ago").arg(text) : QStringLiteral("in %1").arg(text);
    }
    return QStringLiteral("just now");
}

QString abbreviatedDateFormat(const QLocale& locale) {
    // Qt has no medium date form: take the locale's long form without the weekday and with the
    // month's short name ("dddd, MMMM d, yyyy" becomes "MMM d, yyyy").
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("\\s*d{4}[,.\\s]*|[,\\s]*d{4}"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString shortDateTime(const QDateTime& when, const QLocale& locale) {
    const QDateTime local = when.toLocalTime();
    // Some locales' short time still carries seconds; a clip's start needs minutes only.
    QString time = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression seconds(QStringLiteral("[:.]ss"));
    time.remove(seconds);
    return QStringLiteral("%1, %2").arg(
        locale.toString(local.date(), abbreviatedDateFormat(locale)),
        locale.toString(local.time(), time));
}

} // namespace vantel
