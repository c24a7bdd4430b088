#pragma once

// The program's command line:
//   vantel-record                 start the tray program, or open the clips window of the
//                                 running one
//   vantel-record save [SECONDS]  ask the running program to save a clip; prints its path
//   vantel-record status          print what the running program is doing
//   vantel-record URL             hand a "vantelrecord:" URL to the program (sign-in)
//   vantel-record sign-in         start the browser sign-in to the sharing service
//   vantel-record sign-out        sign out of the sharing service
//   vantel-record share FILE      share a library clip; prints its link
//   vantel-record --version | --help

#include <QString>
#include <QStringList>
#include <optional>

namespace vantel {

struct Invocation {
    enum class Kind { run, save, status, url, version, help, invalid, signIn, signOut, share };
    Kind kind = Kind::run;
    std::optional<double> seconds; // save
    QString url;                   // url
    QString error;                 // invalid: what is wrong, for standard error
    QString file;                  // share: absolute path (the program runs elsewhere)
};

// `arguments` without the program's name.
Invocation parseCommandLine(const QStringList& arguments);

QString usageText();

} // namespace vantel
