// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "OVLCommon/Libraries.h"

using namespace OVL;

TEST(Libraries, LoadLookUpAndFree) {
    void* h = LoadLibraryAU("libm.so.6");
    ASSERT_NE(h, nullptr) << getLibraryError();
    EXPECT_NE(GetProcAddressU(h, "cos"), nullptr);
    EXPECT_EQ(GetProcAddressU(h, "no_such_function_here"), nullptr);
    EXPECT_EQ(GetModuleHandleAU("libm.so.6"), h);
    EXPECT_TRUE(FreeLibraryU(h));
}

TEST(Libraries, FailuresCarryTheLoadersText) {
    EXPECT_EQ(LoadLibraryAU("/nonexistent/libnothing.so"), nullptr);
    EXPECT_NE(getLibraryError().find("libnothing.so"), std::string::npos) << getLibraryError();
    EXPECT_EQ(GetModuleHandleAU("libnever-loaded-here.so"), nullptr);
    EXPECT_FALSE(getLibraryError().empty());
    EXPECT_EQ(LoadLibraryAU(""), nullptr);
    EXPECT_FALSE(FreeLibraryU(nullptr));
}

TEST(Libraries, DependencyDirectoryIsProcessWide) {
    EXPECT_TRUE(SetDllDirectoryAU("/opt/plugins"));
    EXPECT_EQ(getDllDirectory(), "/opt/plugins");
    EXPECT_TRUE(SetDllDirectoryAU(nullptr));
    EXPECT_EQ(getDllDirectory(), "");
}
