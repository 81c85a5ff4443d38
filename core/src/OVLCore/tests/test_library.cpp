// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "OVLCommon/Errors.h"
#include "OVLCommon/Libraries.h"
#include "OVLCore/OVLLibrary.h"
#include "OVLCore/OVLStaticLoadedLibrary.h"

using namespace OVL;

namespace {

const std::string kPlugin = OVL_TEST_PLUGIN;  // full path of the test library
const std::string kPluginDir = kPlugin.substr(0, kPlugin.rfind('/'));
const std::string kPluginName = kPlugin.substr(kPlugin.rfind('/') + 1);

bool isLoaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) {
        dlclose(h);
    }
    return h != nullptr;
}

}  // namespace

TEST(Library, LoadSetsTheDependencyDirectoryAndFindsExports) {
    ASSERT_FALSE(isLoaded(kPlugin));
    OVLLibrary lib(kPlugin);
    EXPECT_FALSE(lib.loaded());
    EXPECT_EQ(lib.getProc("ovl_test_answer"), nullptr);
    ASSERT_TRUE(lib.load()) << getErrorMessage();
    EXPECT_TRUE(lib.loaded());
    EXPECT_EQ(getDllDirectory(), kPluginDir);
    auto answer = reinterpret_cast<int (*)()>(lib.getProc("ovl_test_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(lib.getProc("no_such_function"), nullptr);
    EXPECT_EQ(lib.getProc(nullptr), nullptr);

    // A library that is loaded can be found by name; the finder does not own it.
    OVLStaticLoadedLibrary found(kPlugin);
    ASSERT_TRUE(found.init());
    OVLStaticLoadedLibrary copy(found);
    EXPECT_TRUE(copy.loaded());
    EXPECT_NE(copy.getProc("ovl_test_answer"), nullptr);

    // A bare name is looked up in the dependency directory.
    OVLLibrary byName(kPluginName);
    ASSERT_TRUE(byName.load()) << getErrorMessage();
    EXPECT_EQ(getDllDirectory(), kPluginDir);
    EXPECT_TRUE(byName.unload());

    OVLLibrary keeper = lib;  // a copy shares the module without loading it again
    EXPECT_TRUE(lib.unload());
    EXPECT_FALSE(lib.loaded());
    EXPECT_FALSE(isLoaded(kPlugin));
    EXPECT_TRUE(keeper.loaded());
}

TEST(Library, DestroyingALoadedLibraryKeepsItLoaded) {
    void* module;
    {
        OVLLibrary lib(kPlugin);
        ASSERT_TRUE(lib.load());
        module = lib.getProc("ovl_test_answer");
    }
    EXPECT_TRUE(isLoaded(kPlugin));
    OVLStaticLoadedLibrary found(kPlugin);
    ASSERT_TRUE(found.init());
    EXPECT_EQ(found.getProc("ovl_test_answer"), module);
    void* h = dlopen(kPlugin.c_str(), RTLD_NOW | RTLD_NOLOAD);
    dlclose(h);
    dlclose(h);  // the reference the destroyed object left behind
    EXPECT_FALSE(isLoaded(kPlugin));
}

TEST(Library, SeparatorRules) {
    const std::pair<const char*, const char*> cases[] = {
        {"plugins/x.so", "plugins"},
        {"C:\\a/b\\c.so", "C:\\a"},
        {"C:\\a\\b\\c.so", "C:\\a\\b"},
        {"/x.so", ""},
    };
    for (const auto& [path, dir] : cases) {
        SetDllDirectoryAU("unchanged");
        OVLLibrary lib(path);
        EXPECT_FALSE(lib.load()) << path;
        EXPECT_EQ(getDllDirectory(), dir) << path;
        EXPECT_EQ(lib.getLibPath(), path);
        EXPECT_FALSE(lib.loaded());
    }
    SetDllDirectoryAU("unchanged");
    OVLLibrary bare("libovl-no-such-library.so");
    EXPECT_FALSE(bare.load());
    EXPECT_EQ(getDllDirectory(), "unchanged");
    SetDllDirectoryAU(nullptr);
}

TEST(Library, FailuresStoreTheLoaderTextUnchanged) {
    clearErrorMessage();
    OVLLibrary missing("/nonexistent/100%s%n.so");
    EXPECT_FALSE(missing.load());
    EXPECT_NE(getErrorMessage().find("/nonexistent/100%s%n.so"), std::string::npos) << getErrorMessage();

    clearErrorMessage();
    OVLLibrary never(kPlugin);
    EXPECT_FALSE(never.unload());
    EXPECT_FALSE(getErrorMessage().empty());
    EXPECT_FALSE(never.loaded());

    clearErrorMessage();
    OVLStaticLoadedLibrary absent("libovl-not-loaded.so");
    EXPECT_FALSE(absent.init());
    EXPECT_FALSE(absent.loaded());
    EXPECT_FALSE(getErrorMessage().empty());
    EXPECT_EQ(absent.getProc("x"), nullptr);

    OVLStaticLoadedLibrary libc("libc.so.6");
    ASSERT_TRUE(libc.init()) << getErrorMessage();
    EXPECT_NE(libc.getProc("strlen"), nullptr);
}

TEST(Library, OrderedByPath) {
    EXPECT_TRUE(OVLLibrary("a") < OVLLibrary("b"));
    EXPECT_FALSE(OVLLibrary("b") < OVLLibrary("a"));
    EXPECT_FALSE(OVLLibrary("a") < OVLLibrary("a"));
    std::set<OVLLibrary> libs{OVLLibrary("b"), OVLLibrary("a"), OVLLibrary("b")};
    ASSERT_EQ(libs.size(), 2u);
    EXPECT_EQ(libs.begin()->getLibPath(), "a");
}
