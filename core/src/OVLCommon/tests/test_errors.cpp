// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "OVLCommon/Errors.h"

TEST(Errors, FormatWin32ErrorIsReadable) {
    EXPECT_EQ(OVL::formatWin32Error(ENOENT), "No such file or directory (2)");
    EXPECT_NE(OVL::formatWin32Error(99999).find("99999"), std::string::npos);
}

TEST(Errors, ErrorMessageKeepsPercentSignsPassedAsArgument) {
    OVL::setErrorMessage("%s", "100% sure %d %s %n");
    EXPECT_EQ(OVL::getErrorMessage(), "100% sure %d %s %n");
    OVL::setErrorMessage("code %d", 5);
    EXPECT_EQ(OVL::getErrorMessage(), "code 5");
    std::string longText(2000, 'z');
    OVL::setErrorMessage("%s", longText.c_str());
    EXPECT_EQ(OVL::getErrorMessage(), longText);
    OVL::clearErrorMessage();
    EXPECT_EQ(OVL::getErrorMessage(), "");
}

TEST(Errors, ErrorMessageIsPerThread) {
    OVL::setErrorMessage("%s", "main");
    std::string seen = "unset";
    std::thread([&] {
        seen = OVL::getErrorMessage();
        OVL::setErrorMessage("%s", "other");
    }).join();
    EXPECT_EQ(seen, "");
    EXPECT_EQ(OVL::getErrorMessage(), "main");
}
