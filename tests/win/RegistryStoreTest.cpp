// The registry store against the real registry of the test prefix, with values written the
// way other programs (or damage) may leave them.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "settings/HostSettings.h"
#include "settings/RegistryStore.h"

namespace vl {
namespace {

using Key = KeyValueStore::Key;

class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
                  ERROR_SUCCESS);
        key = store.openKey(kPath);
        ASSERT_NE(key, Key::None);
    }
    void TearDown() override {
        store.closeKey(key);
        RegCloseKey(raw);
        RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
    }

    void rawSet(const wchar_t* name, DWORD type, const void* data, size_t bytes) {
        ASSERT_EQ(RegSetValueExW(raw, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
    }
    void rawText(const wchar_t* name, const std::wstring& text, size_t bytes, DWORD type = REG_SZ) {
        rawSet(name, type, text.c_str(), bytes);
    }
    std::optional<std::wstring> text(const wchar_t* name) {
        std::wstring value = L"untouched";
        if (!store.readString(key, name, value)) {
            EXPECT_EQ(value, L"untouched");
            return std::nullopt;
        }
        return value;
    }
    std::optional<uint32_t> number(const wchar_t* name) {
        uint32_t value = 0xDEADBEEF;
        if (!store.readDword(key, name, value)) {
            EXPECT_EQ(value, 0xDEADBEEFu);
            return std::nullopt;
        }
        return value;
    }
    std::pair<DWORD, DWORD> typeAndSize(const wchar_t* path, const wchar_t* name) {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &handle) != ERROR_SUCCESS) return {REG_NONE, 0};
        DWORD type = REG_NONE, size = 0;
        if (RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) type = REG_NONE;
        RegCloseKey(handle);
        return {type, size};
    }

    static constexpr const wchar_t* kPath = L"Software\\Vorlane\\RegistryStoreTest";
    HKEY raw = nullptr;
    RegistryStore store;
    Key key = Key::None;
};

TEST_F(RegistryStoreTest, StringsEndAtTheirZeroOrTheirDataWhicheverComesFirst) {
    rawText(L"unterminated", L"abc", 6);
    rawText(L"odd size", L"abcd", 7);
    rawText(L"zero inside", std::wstring(L"ab\0cd", 5), 12);
    rawText(L"empty", L"", 0);
    EXPECT_EQ(text(L"unterminated"), L"abc");
    EXPECT_EQ(text(L"odd size"), L"abc");
    EXPECT_EQ(text(L"zero inside"), L"ab");
    EXPECT_EQ(text(L"empty"), L"");
}

TEST_F(RegistryStoreTest, StringsThatDoNotFitTheBufferAreNotRead) {
    const std::wstring fits(KeyValueStore::kMaxStringChars, L'x');
    const std::wstring oneMore(KeyValueStore::kMaxStringChars + 1, L'y');
    rawText(L"fits", fits, (fits.size() + 1) * 2);
    rawText(L"fills the buffer unterminated", oneMore, oneMore.size() * 2);
    rawText(L"one more", oneMore, (oneMore.size() + 1) * 2);
    rawText(L"huge", std::wstring(5000, L'z'), 10002);
    EXPECT_EQ(text(L"fits"), fits);
    EXPECT_FALSE(text(L"fills the buffer unterminated"));
    EXPECT_FALSE(text(L"one more"));
    EXPECT_FALSE(text(L"huge"));
}

TEST_F(RegistryStoreTest, OnlyTextTypesAreReadAsStrings) {
    const DWORD four = 4;
    rawSet(L"dword", REG_DWORD, &four, 4);
    rawText(L"binary", L"text", 10, REG_BINARY);
    rawText(L"multi", std::wstring(L"a\0b\0", 4), 10, REG_MULTI_SZ);
    rawText(L"expandable", L"%HOME%\\x", 18, REG_EXPAND_SZ);
    EXPECT_FALSE(text(L"dword"));
    EXPECT_FALSE(text(L"binary"));
    EXPECT_FALSE(text(L"multi"));
    EXPECT_EQ(text(L"expandable"), L"%HOME%\\x");  // as stored, never expanded
    EXPECT_FALSE(text(L"missing"));
}

TEST_F(RegistryStoreTest, NumbersAreExactlyFourBytesOfAnyType) {
    const uint8_t four[4] = {0x04, 0x03, 0x02, 0x01};
    const uint64_t eight = 7;
    rawSet(L"binary", REG_BINARY, four, 4);
    rawText(L"one character", L"1", 4);
    rawText(L"two characters", L"12", 6);
    rawSet(L"two bytes", REG_BINARY, four, 2);
    rawSet(L"qword", REG_QWORD, &eight, 8);
    EXPECT_EQ(number(L"binary"), 0x01020304u);
    EXPECT_EQ(number(L"one character"), uint32_t(L'1'));  // no type test: the text's four bytes
    EXPECT_FALSE(number(L"two characters"));
    EXPECT_FALSE(number(L"two bytes"));
    EXPECT_FALSE(number(L"qword"));
    EXPECT_FALSE(number(L"missing"));
}

TEST_F(RegistryStoreTest, WritesStoreDwordsAndTerminatedStrings) {
    ASSERT_TRUE(store.writeString(key, L"Tempo", L"120"));
    ASSERT_TRUE(store.writeDword(key, L"AudioDeviceType", 4));
    ASSERT_TRUE(store.writeString(key, L"", L"unnamed"));
    EXPECT_EQ(typeAndSize(kPath, L"Tempo"), std::make_pair(DWORD(REG_SZ), DWORD(8)));
    EXPECT_EQ(typeAndSize(kPath, L"AudioDeviceType"), std::make_pair(DWORD(REG_DWORD), DWORD(4)));
    EXPECT_EQ(text(L""), L"unnamed");

    // A value changes its type with the next write.
    ASSERT_TRUE(store.deleteValue(key, L"Tempo"));
    EXPECT_FALSE(store.deleteValue(key, L"Tempo"));
    ASSERT_TRUE(store.writeDword(key, L"Tempo", 120));
    EXPECT_EQ(typeAndSize(kPath, L"Tempo").first, DWORD(REG_DWORD));
}

TEST_F(RegistryStoreTest, KeysAreCreatedWithTheirParentsAndOpenedOnlyWhenPresent) {
    const std::wstring nested = std::wstring(kPath) + L"\\A\\B";
    EXPECT_EQ(store.openKey(nested), Key::None);
    ScopedKey created(store, store.createKey(nested));
    ASSERT_TRUE(created);
    EXPECT_TRUE(ScopedKey(store, store.openKey(std::wstring(kPath) + L"\\a")));  // names ignore case
    // The per-user root itself is never handed out.
    EXPECT_EQ(store.createKey(L""), Key::None);
    EXPECT_EQ(store.openKey(L""), Key::None);
    uint32_t value = 0;
    std::wstring textValue;
    EXPECT_FALSE(store.writeDword(Key::None, L"x", 1));
    EXPECT_FALSE(store.writeString(Key::None, L"x", L"y"));
    EXPECT_FALSE(store.readDword(Key::None, L"x", value));
    EXPECT_FALSE(store.readString(Key::None, L"x", textValue));
    store.closeKey(Key::None);
}

TEST_F(RegistryStoreTest, HostSettingsUseTheRegistryLayoutAndTypes) {
    const std::wstring root = L"Software\\Vorlane\\RegistryStoreTest Effect";
    RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
    {
        HostSettings settings(L"RegistryStoreTest Effect");  // the platform's own store
        AudioDeviceRecord out;
        out.type = kDeviceTypeWasapiShared;
        out.name = L"Speakers";
        out.isInput = false;
        out.bufferSize = 1024;
        settings.outputDevice = &out;
        auto keys = std::make_unique<MidiDeviceRecord>();
        keys->name = L"Keys";
        keys->isInput = true;
        keys->delay = -3;
        settings.midiDevices.push_back(std::move(keys));
        settings.saveSettings();
    }
    const std::wstring host = root + L"\\Host";
    const std::wstring device = host + L"\\Midi Device 0";
    EXPECT_EQ(typeAndSize(host.c_str(), L"AudioDeviceType"), std::make_pair(DWORD(REG_DWORD), DWORD(4)));
    EXPECT_EQ(typeAndSize(host.c_str(), L"AudioDeviceOut Name"), std::make_pair(DWORD(REG_SZ), DWORD(18)));
    EXPECT_EQ(typeAndSize(host.c_str(), L"Tempo"), std::make_pair(DWORD(REG_SZ), DWORD(8)));
    EXPECT_EQ(typeAndSize(host.c_str(), L"samplePath"), std::make_pair(DWORD(REG_SZ), DWORD(2)));
    EXPECT_EQ(typeAndSize(host.c_str(), L"sampleLooped").first, DWORD(REG_DWORD));
    EXPECT_EQ(typeAndSize(device.c_str(), L"name"), std::make_pair(DWORD(REG_SZ), DWORD(10)));
    EXPECT_EQ(typeAndSize(device.c_str(), L"delay"), std::make_pair(DWORD(REG_DWORD), DWORD(4)));
    EXPECT_EQ(typeAndSize(root.c_str(), L"PluginCanSetTempo").first, DWORD(REG_NONE));  // never written
    RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
}

}  // namespace
}  // namespace vl
