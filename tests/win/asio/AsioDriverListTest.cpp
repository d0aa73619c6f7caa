// The driver list against the registry of the test prefix, where the fixture registered the
// test driver under three names, a second class of it, a class the module refuses, and entries
// broken in every way a list must survive (no class id, no server, missing module, bad text).

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestAsioModule.h"
#include "audio/asio/AsioDriverList.h"

using namespace vltest;
using vl::AsioDrivers;
using vl::theAsioDriver;

namespace {

constexpr const char* kTestDriver = "Vorlane Test ASIO";
constexpr const char* kRefusing = "Vorlane Refusing ASIO";
constexpr const char* kLongName = "Vorlane Test ASIO with a forty-char name";

// COM state of the calling thread: S_OK from a multithreaded CoInitializeEx means it had none.
bool threadHasCom() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr != S_OK;
}

std::string nameOf(const AsioDrivers& list, int32_t index, int32_t size = 256) {
    std::string buffer(size_t(size), '\x7f');
    if (list.getDriverName(index, buffer.data(), size) != vl::kAsioListOk) return "<none>";
    return buffer.c_str();
}

}  // namespace

TEST(AsioDriverList, SkipsBrokenEntriesAndKeepsIndicesContiguous) {
    AsioDrivers list;
    // Registry order: A no clsid, B listed, C no server, D listed (no description), E missing
    // module, F listed, G listed, H unparsable class id text.
    const char* expected[] = {kTestDriver, "D Second Driver", kRefusing, kLongName};
    ASSERT_EQ(list.numDrivers, 4);
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(nameOf(list, i), expected[i]) << i;
    EXPECT_EQ(nameOf(list, 4), "<none>");
    EXPECT_EQ(nameOf(list, -1), "<none>");
    EXPECT_EQ(list.currentIndex, -1);
}

TEST(AsioDriverList, CutsNamesThatDoNotFitWithThreeDots) {
    AsioDrivers list;
    struct Case {
        int32_t size;
        std::string expected;
    } cases[] = {
        {256, kLongName},
        {41, kLongName},
        {40, std::string(kLongName, 36) + "..."},
        {32, std::string(kLongName, 28) + "..."},
        {5, "V..."},
    };
    for (const Case& c : cases) EXPECT_EQ(nameOf(list, 3, c.size), c.expected) << c.size;
}

TEST(AsioDriverList, OpenDriverAnswersTheResultCodes) {
    TestAsioModule driver;
    ASSERT_TRUE(driver.ok());
    AsioDrivers list;
    EXPECT_EQ(list.openDriver(0), vl::kAsioListOk);
    EXPECT_NE(theAsioDriver, nullptr);
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);
    EXPECT_EQ(list.openDriver(0), vl::kAsioDriverAlreadyLoaded);
    EXPECT_EQ(list.openDriver(4), vl::kAsioNoSuchDriver);
    EXPECT_EQ(list.openDriver(2), int32_t(CLASS_E_CLASSNOTAVAILABLE));  // the COM failure, passed on
    EXPECT_EQ(driver.log().createdAs, 0);
    list.closeDriver(0);
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
    EXPECT_EQ(theAsioDriver, nullptr);
}

TEST(AsioDriverList, LoadDriverReplacesReloadsAndRemoves) {
    TestAsioModule driver;
    ASSERT_TRUE(driver.ok());
    AsioDrivers list;
    ASSERT_TRUE(list.loadDriver(kTestDriver));
    EXPECT_EQ(list.currentIndex, 0);
    vl::asio::IAsioDriver* first = theAsioDriver;
    ASSERT_NE(first, nullptr);

    // The loaded name again: released and created anew.
    ASSERT_TRUE(list.loadDriver(kTestDriver));
    EXPECT_EQ(driver.log().objectsCreated.load(), 2);
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);

    // Unknown names (matching is exact) leave the loaded driver alone.
    vl::asio::IAsioDriver* loaded = theAsioDriver;
    for (const char* unknown : {"vorlane test asio", "Vorlane Test", "B Test Driver", ""}) {
        EXPECT_FALSE(list.loadDriver(unknown)) << unknown;
        EXPECT_EQ(list.currentIndex, 0);
        EXPECT_EQ(theAsioDriver, loaded);
    }
    EXPECT_EQ(driver.log().objectsCreated.load(), 2);

    // Another driver.
    ASSERT_TRUE(list.loadDriver("D Second Driver"));
    EXPECT_EQ(list.currentIndex, 1);
    EXPECT_EQ(driver.log().createdAs, 1);
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);

    // A driver that cannot be created: the previous one is loaded again.
    EXPECT_FALSE(list.loadDriver(kRefusing));
    EXPECT_EQ(list.currentIndex, 1);
    EXPECT_NE(theAsioDriver, nullptr);
    EXPECT_EQ(driver.log().createdAs, 1);
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);

    list.removeCurrentDriver();
    EXPECT_EQ(list.currentIndex, -1);
    EXPECT_EQ(theAsioDriver, nullptr);
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);

    // Nothing loaded before: a failed load leaves nothing loaded.
    EXPECT_FALSE(list.loadDriver(kRefusing));
    EXPECT_EQ(list.currentIndex, -1);
    EXPECT_EQ(theAsioDriver, nullptr);
}

TEST(AsioDriverList, DestructionReleasesTheLoadedDriver) {
    TestAsioModule driver;
    ASSERT_TRUE(driver.ok());
    {
        AsioDrivers list;
        ASSERT_TRUE(list.loadDriver(kLongName));
        EXPECT_EQ(driver.log().objectsAlive.load(), 1);
    }
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
    EXPECT_EQ(theAsioDriver, nullptr);
}

TEST(AsioDriverList, ComIsUsedOnlyWithDriversAndBalanced) {
    ASSERT_FALSE(threadHasCom());
    for (const char* emptyOrMissing : {"software\\Vorlane Empty ASIO", "software\\Vorlane No Such Key"}) {
        AsioDrivers list(emptyOrMissing);
        EXPECT_EQ(list.numDrivers, 0);
        EXPECT_FALSE(list.loadDriver(kTestDriver));
        EXPECT_FALSE(threadHasCom()) << emptyOrMissing;
    }
    {
        TestAsioModule driver;
        AsioDrivers list;
        EXPECT_TRUE(threadHasCom());
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(list.loadDriver(kTestDriver));
            EXPECT_FALSE(list.loadDriver(kRefusing));
            list.removeCurrentDriver();
        }
        EXPECT_TRUE(threadHasCom());
    }
    EXPECT_FALSE(threadHasCom());
}
