// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <thread>

#include "OVLCommon/Errors.h"
#include "OVLCore/OVLException.h"
#include "test_utils.h"

using OVL::OVLException;

namespace {

void h1(const OVLException&) {}
void h2(const OVLException&) {}

thread_local int t_seenCode = 0;
void recordingHandler(const OVLException& e) {
    t_seenCode = e.code();
}

struct HandlerError {};
void throwingHandler(const OVLException&) {
    throw HandlerError{};
}

struct Derived : OVLException {
    using OVLException::OVLException;
};

}  // namespace

TEST(Exception, RegistrationReturnsThePreviousHandler) {
    std::thread([] {
        EXPECT_EQ(OVLException::registerExceptionHandler(&h1), nullptr);
        EXPECT_EQ(OVLException::registerExceptionHandler(&h2), &h1);
        EXPECT_EQ(OVLException::registerExceptionHandler(nullptr), &h2);
        EXPECT_EQ(OVLException::registerExceptionHandler(nullptr), nullptr);
    }).join();
}

TEST(Exception, ThrowCallsHandlerLogsAndThrowsACopy) {
    ferrik_test::LogCapture capture;
    t_seenCode = 0;
    OVLException::registerExceptionHandler(&recordingHandler);
    try {
        OVL::throwErrorImpl(Derived(7, "bad"), "f.cpp", 12);
        FAIL() << "no exception";
    } catch (const Derived&) {
        FAIL() << "a derived type escaped";
    } catch (const OVLException& e) {
        EXPECT_EQ(e.code(), 7);
        EXPECT_STREQ(e.what(), "bad");
    }
    OVLException::registerExceptionHandler(nullptr);
    EXPECT_EQ(t_seenCode, 7);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Throwing exception from f.cpp(12): bad."});
    EXPECT_EQ(capture.levels(), std::vector<int>{OVL::Logger::kError});
}

TEST(Exception, ThrowingHandlerWinsAndNothingIsLogged) {
    ferrik_test::LogCapture capture;
    OVLException::registerExceptionHandler(&throwingHandler);
    EXPECT_THROW(OVL::throwErrorImpl(OVLException(1, "x"), "f.cpp", 1), HandlerError);
    OVLException::registerExceptionHandler(nullptr);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(Exception, HandlersArePerThread) {
    t_seenCode = 0;
    OVLException::registerExceptionHandler(&throwingHandler);
    std::thread([] {
        ferrik_test::LogCapture capture;
        EXPECT_THROW(OVL::throwErrorImpl(OVLException(3, "other thread"), "g.cpp", 2), OVLException);
    }).join();
    OVLException::registerExceptionHandler(nullptr);
}

TEST(Exception, ProcessExceptionLogsStoresAndReturnsTheCode) {
    ferrik_test::LogCapture capture;
    EXPECT_EQ(OVL::processException(OVLException(5, "x")), 5);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Exception is caught. Error code 5, reason: x."});
    EXPECT_EQ(OVL::getErrorMessage(), "x");
}

TEST(Exception, ReasonWithPercentSignsSurvives) {
    ferrik_test::LogCapture capture;
    const char* reason = "disk 100% full: %s %d %n";
    EXPECT_EQ(OVL::processException(OVLException(-1, reason)), -1);
    EXPECT_EQ(OVL::getErrorMessage(), reason);
    EXPECT_EQ(capture.lines().at(0),
              std::string("Exception is caught. Error code -1, reason: ") + reason + ".");
}

TEST(Exception, CopiesCarryCodeAndReason) {
    OVLException a(4, "four");
    OVLException b(0, "");
    b = a;
    // The copy is what the test is about.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    OVLException c(a);
    EXPECT_EQ(b.code(), 4);
    EXPECT_STREQ(c.what(), "four");
}
