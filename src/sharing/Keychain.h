#pragma once

// The secure store of the sign-in token: one string per account name under the service
// "vantel-record". The only account used is "token".
//
// Backends, chosen once per process at the first call:
// - the Secret Service (gnome-keyring, KWallet's bridge, KeePassXC) through QtKeychain, when the
//   D-Bus session bus has "org.freedesktop.secrets" running or activatable;
// - otherwise a file in the support folder that only the user can read (mode 0600 from its
//   creation on, written through a fresh 0600 file and a rename, so it is never wider).
// The program (or a test) may force one instead (force()).
//
// Failures: a read that fails counts as no value; a write that fails throws std::runtime_error
// whose what() names the store and its reason (UTF-8, for the user) and leaves the earlier value
// in place, since the new value replaces the old one only once it is stored; a removal of a
// missing entry is harmless and a failed removal is not reported.
//
// Threads: the Secret Service calls need an event loop on the awaiting thread; in practice
// everything here runs on the main thread.

#include <QCoro/QCoroTask>
#include <QString>
#include <optional>

namespace vantel::Keychain {

enum class Backend { secretService, file };

// The backend this process uses: the forced one, else the one detected at the first call.
Backend backend();
// Uses `backend` from now on, whatever the session offers. Main thread.
void force(Backend backend);

QCoro::Task<std::optional<QString>> get(QString account);
// Replaces any earlier value of `account`; throws as above.
QCoro::Task<> set(QString account, QString value);
QCoro::Task<> remove(QString account);

// Where the file backend keeps `account` (whether or not that backend is in use).
QString filePath(const QString& account);

} // namespace vantel::Keychain
