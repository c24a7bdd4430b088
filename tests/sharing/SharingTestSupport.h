#pragma once

// Shared pieces of the sharing tests: the process's loopback service (started before anything
// reads the site address, which then points at it, below a path when VANTEL_TEST_SITE_PATH is
// defined), the file keychain, a signed-in state made
// directly in the keychain, and waiting for conditions on the event loop.

#include "TestService.h"
#include "library/LibraryTestSupport.h"
#include "settings/Settings.h"
#include "sharing/Account.h"

#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace vantel::test {

// The service every test of this process talks to; reset before each test by the fixture.
TestService& service();

// Stores a token the service accepts (or removes it) in the keychain.
QString storeValidToken();
void removeToken();
std::optional<QString> storedToken();

// The account of the test process, over the settings store's file, told of every token the
// service rejects as the program's account is; created on first use, never destroyed.
Account& testAccount();

// Signs the test account in the way a browser would: the service's page answers with a code,
// which comes back to the account as its callback address. Returns once a user is known.
bool signInThroughService();

// Serves the event loop until `condition` holds or 20 s passed; returns the condition.
inline bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 20000);
}

// Fixture base: a fresh service state and no stored token.
class SharingTest : public ::testing::Test {
protected:
    void SetUp() override {
        service().reset();
        removeToken();
    }
};

} // namespace vantel::test
