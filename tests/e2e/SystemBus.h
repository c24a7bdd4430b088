#pragma once

// A private system bus for tests, and a stand-in logind on it. The bus's address goes into
// DBUS_SYSTEM_BUS_ADDRESS of this process (set it before anything in the process first touches
// the system bus: Qt connects once) and of the children it starts.

#include <QProcess>
#include <QString>
#include <memory>

namespace vantel::e2e {

class PrivateSystemBus {
public:
    // Starts dbus-daemon with a policy that lets anyone own any name and send anything.
    // Throws std::runtime_error when it does not come up.
    PrivateSystemBus();
    ~PrivateSystemBus();
    QString address() const { return m_address; }

private:
    std::unique_ptr<QProcess> m_daemon;
    QString m_address;
};

// A private session bus, the same way: its address goes into DBUS_SESSION_BUS_ADDRESS.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    QString address() const { return m_address; }

private:
    std::unique_ptr<QProcess> m_daemon;
    QString m_address;
};

class StandInLogind {
public:
    // Starts vantel-test-logind on the bus named by DBUS_SYSTEM_BUS_ADDRESS and waits until it
    // owns org.freedesktop.login1. Throws std::runtime_error when it does not.
    StandInLogind();
    ~StandInLogind();
    // Sends PrepareForSleep(true) / (false) and returns once the signal has gone out.
    void sleep();
    void wake();

private:
    void command(const char* line);
    std::unique_ptr<QProcess> m_process;
};

} // namespace vantel::e2e
