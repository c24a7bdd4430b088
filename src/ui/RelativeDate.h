#pragma once

// Dates as the library shows them. Pure functions of their arguments.

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace vantel {

// `when` seen from `now` in full words: "just now", "5 minutes ago", "1 hour ago", "3 days ago",
// "2 weeks ago", "4 months ago", "1 year ago"; a date in the future (a clock that moved back)
// reads "in 2 hours".
QString relativeDate(const QDateTime& when, const QDateTime& now);

// `when` in local time as the locale writes an abbreviated date and a short time, for example
// "1 Mar 2025, 14:05" or "Mar 1, 2025, 2:05 PM".
// The locale's long date form without the weekday and with short month names.
QString abbreviatedDateFormat(const QLocale& locale);

QString shortDateTime(const QDateTime& when, const QLocale& locale = QLocale());

} // namespace vantel
