// The registry store's reads against the real registry of the test prefix, with values
// written the way other programs (or damage) may leave them. Its writes are proven by the
// settings tests, which run against the registry too.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "settings/RegistryStore.h"

namespace vl {
namespace {

using Key = KeyValueStore::Key;
constexpr const wchar_t* kPath = L"Software\\Vorlane\\RegistryStoreTest";

class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr), 0);
        key = store.openKey(kPath);
        ASSERT_NE(key, Key::None);
    }
    void TearDown() override {
        store.closeKey(key);
        RegCloseKey(raw);
        RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
    }
    void rawSet(const wchar_t* name, DWORD type, const void* data, size_t bytes) {
        ASSERT_EQ(RegSetValueExW(raw, name, 0, type, static_cast<const BYTE*>(data), DWORD(bytes)), 0);
    }
    // A read that fails leaves its output untouched.
    std::optional<std::wstring> text(const wchar_t* name) {
        std::wstring value = L"untouched";
        if (store.readString(key, name, value)) return value;
        EXPECT_EQ(value, L"untouched");
        return std::nullopt;
    }
    std::optional<uint32_t> number(const wchar_t* name) {
        uint32_t value = 0xDEADBEEF;
        if (store.readDword(key, name, value)) return value;
        EXPECT_EQ(value, 0xDEADBEEFu);
        return std::nullopt;
    }

    HKEY raw = nullptr;
    RegistryStore store;
    Key key = Key::None;
};

TEST_F(RegistryStoreTest, StringsAreReadOnlyAsTextThatFitsAndEndAtTheirZeroOrData) {
    const std::wstring fits(KeyValueStore::kMaxStringChars, L'x'), oneMore(KeyValueStore::kMaxStringChars + 1, L'y');
    const DWORD four = 4;
    rawSet(L"unterminated", REG_SZ, L"abc", 6);
    rawSet(L"odd size", REG_SZ, L"abcd", 7);
    rawSet(L"zero inside", REG_SZ, L"ab\0cd", 12);
    rawSet(L"fits", REG_SZ, fits.c_str(), (fits.size() + 1) * 2);
    rawSet(L"fills the buffer unterminated", REG_SZ, oneMore.c_str(), oneMore.size() * 2);
    rawSet(L"one more", REG_SZ, oneMore.c_str(), (oneMore.size() + 1) * 2);
    rawSet(L"huge", REG_SZ, std::wstring(5000, L'z').c_str(), 10002);
    rawSet(L"expandable", REG_EXPAND_SZ, L"%HOME%\\x", 18);
    rawSet(L"dword", REG_DWORD, &four, 4);
    rawSet(L"binary", REG_BINARY, L"text", 10);
    rawSet(L"multi", REG_MULTI_SZ, L"a\0b\0", 10);
    EXPECT_EQ(text(L"unterminated"), L"abc");
    EXPECT_EQ(text(L"odd size"), L"abc");
    EXPECT_EQ(text(L"zero inside"), L"ab");
    EXPECT_EQ(text(L"fits"), fits);
    EXPECT_EQ(text(L"expandable"), L"%HOME%\\x");  // as stored, never expanded
    for (const wchar_t* refused : {L"fills the buffer unterminated", L"one more", L"huge", L"dword", L"binary", L"multi",
                                   L"missing"})
        EXPECT_FALSE(text(refused)) << std::string(refused, refused + wcslen(refused));
}

TEST_F(RegistryStoreTest, NumbersAreExactlyFourBytesOfAnyType) {
    const uint8_t bytes[8] = {0x04, 0x03, 0x02, 0x01};
    rawSet(L"binary", REG_BINARY, bytes, 4);
    rawSet(L"one character", REG_SZ, L"1", 4);
    rawSet(L"two characters", REG_SZ, L"12", 6);
    rawSet(L"two bytes", REG_BINARY, bytes, 2);
    rawSet(L"qword", REG_QWORD, bytes, 8);
    EXPECT_EQ(number(L"binary"), 0x01020304u);
    EXPECT_EQ(number(L"one character"), uint32_t(L'1'));  // no type test: the text's four bytes
    for (const wchar_t* refused : {L"two characters", L"two bytes", L"qword", L"missing"}) EXPECT_FALSE(number(refused));
    // The per-user root itself is never handed out, nor a missing key.
    EXPECT_EQ(store.createKey(L""), Key::None);
    EXPECT_EQ(store.openKey(L""), Key::None);
    EXPECT_EQ(store.openKey(std::wstring(kPath) + L"\\missing"), Key::None);
}

}  // namespace
}  // namespace vl
