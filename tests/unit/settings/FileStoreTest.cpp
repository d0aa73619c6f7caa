// The settings file: its text form, its registry-like rules, and how it survives damage,
// cut-off writes and a second host writing the same file.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/FileIO.h"
#include "settings/FileStore.h"
#include "settings/SettingsFileFormat.h"

namespace vl {
namespace {

namespace fs = std::filesystem;
using Key = KeyValueStore::Key;

class FileStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 (std::string("vorlane-filestore-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        file = folder / "vorlane" / "settings.reg";
    }
    void TearDown() override {
        platform::setAtomicWriteFaultForTesting(platform::AtomicWriteFault::None);
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    std::string fileText() {
        auto bytes = platform::readWholeFile(file);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
    }
    void writeText(const std::string& text) {
        fs::create_directories(file.parent_path());
        ASSERT_TRUE(platform::writeFileAtomically(file, text.data(), text.size()));
    }
    // Writes through its own store, as another run of the host would.
    void writeValue(const std::wstring& path, const std::wstring& name, const SettingsValue& value) {
        FileStore store(file);
        ScopedKey key(store, store.createKey(path));
        ASSERT_TRUE(key);
        if (const auto* number = std::get_if<uint32_t>(&value))
            ASSERT_TRUE(store.writeDword(key.get(), name, *number));
        else
            ASSERT_TRUE(store.writeString(key.get(), name, std::get<std::wstring>(value)));
    }
    std::optional<std::wstring> readText(const std::wstring& path, const std::wstring& name) {
        FileStore store(file);
        ScopedKey key(store, store.openKey(path));
        std::wstring text;
        if (!store.readString(key.get(), name, text)) return std::nullopt;
        return text;
    }
    std::optional<uint32_t> readNumber(const std::wstring& path, const std::wstring& name) {
        FileStore store(file);
        ScopedKey key(store, store.openKey(path));
        uint32_t number = 0;
        if (!store.readDword(key.get(), name, number)) return std::nullopt;
        return number;
    }

    fs::path folder;
    fs::path file;
};

TEST_F(FileStoreTest, TextFormLooksLikeARegistryExport) {
    {
        FileStore store(file);
        ScopedKey root(store, store.createKey(L"Software\\Vorlane\\Synth"));
        ScopedKey host(store, store.createKey(L"Software\\Vorlane\\Synth\\Host"));
        store.writeString(host.get(), L"Tempo", L"120");
        store.writeDword(host.get(), L"AudioDeviceType", 4);
        store.writeString(host.get(), L"samplePath", L"C:\\a \"b\".wav");
    }
    EXPECT_EQ(fileText(),
              "; Vorlane Host settings\n"
              "\n[Software\\Vorlane\\Synth]\n"
              "\n[Software\\Vorlane\\Synth\\Host]\n"
              "\"AudioDeviceType\"=dword:00000004\n"
              "\"samplePath\"=\"C:\\\\a \\\"b\\\".wav\"\n"
              "\"Tempo\"=\"120\"\n");
#ifndef _WIN32
    // The folder was made for its owner alone.
    EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
#endif
}

TEST_F(FileStoreTest, EveryTextAndNumberSurvivesTheRoundTrip) {
    SettingsTree tree;
    tree[L"Software\\K\u00f6ln \u6771\u4eac"] = {
        {L"", SettingsValue(L"unnamed")},
        {L"quote\"back\\slash", SettingsValue(L"line\nfeed\rreturn \"quoted\" \\ end\\")},
        {L"max", SettingsValue(0xFFFFFFFFu)},
        {L"zero", SettingsValue(0u)},
        {L"empty", SettingsValue(L"")},
        {L"emoji \U0001F3B9", SettingsValue(L"\U0001F3B9")},
    };
    tree[L"Software\\Empty key"];
    EXPECT_EQ(parseSettingsText(formatSettingsText(tree)), tree);
}

TEST_F(FileStoreTest, NamesFollowTheRegistryRules) {
    FileStore store(file);
    ScopedKey created(store, store.createKey(L"Software\\A\\B\\C"));
    ASSERT_TRUE(created);
    // Parents exist with their children; names ignore ASCII case.
    EXPECT_TRUE(ScopedKey(store, store.openKey(L"Software")));
    EXPECT_TRUE(ScopedKey(store, store.openKey(L"software\\a\\b")));
    EXPECT_FALSE(ScopedKey(store, store.openKey(L"Software\\A\\X")));
    EXPECT_FALSE(ScopedKey(store, store.openKey(L"Software\\A\\B\\C\\D")));
    ASSERT_TRUE(store.writeDword(created.get(), L"Value", 7));
    uint32_t number = 0;
    EXPECT_TRUE(store.readDword(created.get(), L"VALUE", number));
    EXPECT_EQ(number, 7u);
    ASSERT_TRUE(store.writeDword(created.get(), L"vAlUe", 8));
    EXPECT_TRUE(store.readDword(created.get(), L"value", number));
    EXPECT_EQ(number, 8u);

    for (const wchar_t* bad : {L"", L"\\Software", L"Software\\", L"Software\\\\A", L"Soft\nware"}) {
        EXPECT_EQ(store.createKey(bad), Key::None);
        EXPECT_EQ(store.openKey(bad), Key::None);
    }
}

TEST_F(FileStoreTest, ReadsTakeOnlyTheirTypeAndWhatFits) {
    FileStore store(file);
    ScopedKey key(store, store.createKey(L"Software\\T"));
    store.writeString(key.get(), L"text", L"1");
    store.writeDword(key.get(), L"number", 1);
    store.writeString(key.get(), L"fits", std::wstring(KeyValueStore::kMaxStringChars, L'x'));
    store.writeString(key.get(), L"too long", std::wstring(KeyValueStore::kMaxStringChars + 1, L'x'));
    store.writeString(key.get(), L"zero inside", std::wstring(L"ab\0cd", 5));

    uint32_t number = 99;
    std::wstring text = L"untouched";
    EXPECT_FALSE(store.readDword(key.get(), L"text", number));
    EXPECT_FALSE(store.readString(key.get(), L"number", text));
    EXPECT_FALSE(store.readString(key.get(), L"too long", text));
    EXPECT_FALSE(store.readString(key.get(), L"missing", text));
    EXPECT_FALSE(store.readString(Key::None, L"text", text));
    EXPECT_FALSE(store.readString(static_cast<Key>(1234), L"text", text));
    EXPECT_EQ(number, 99u);
    EXPECT_EQ(text, L"untouched");
    EXPECT_TRUE(store.readString(key.get(), L"fits", text));
    EXPECT_EQ(text.size(), KeyValueStore::kMaxStringChars);
    EXPECT_TRUE(store.readString(key.get(), L"zero inside", text));
    EXPECT_EQ(text, L"ab");

    EXPECT_TRUE(store.deleteValue(key.get(), L"text"));
    EXPECT_FALSE(store.deleteValue(key.get(), L"text"));
    EXPECT_FALSE(store.readString(key.get(), L"text", text));
}

TEST_F(FileStoreTest, ChangesReachTheFileWhenAKeyIsClosed) {
    auto store = std::make_unique<FileStore>(file);
    const Key root = store->createKey(L"Software\\Vorlane\\Synth");
    {
        ScopedKey host(*store, store->createKey(L"Software\\Vorlane\\Synth\\Host"));
        store->writeString(host.get(), L"Tempo", L"99");
        EXPECT_FALSE(readText(L"Software\\Vorlane\\Synth\\Host", L"Tempo"));
    }
    EXPECT_EQ(readText(L"Software\\Vorlane\\Synth\\Host", L"Tempo"), L"99");
    // A key kept open for the store's lifetime is written when the store goes.
    store->writeDword(root, L"PluginCanSetTempo", 1);
    store.reset();
    EXPECT_EQ(readNumber(L"Software\\Vorlane\\Synth", L"PluginCanSetTempo"), 1u);
}

TEST_F(FileStoreTest, TwoHostsSharingTheFileKeepEachOthersChanges) {
    writeValue(L"Software\\Vorlane\\B\\Host", L"Tempo", L"70");
    FileStore first(file);
    FileStore second(file);
    {
        ScopedKey key(first, first.createKey(L"Software\\Vorlane\\A\\Host"));
        first.writeString(key.get(), L"Tempo", L"100");
    }
    {
        ScopedKey key(second, second.createKey(L"Software\\Vorlane\\B\\Host"));
        second.writeString(key.get(), L"samplePath", L"/b.wav");
    }
    EXPECT_EQ(readText(L"Software\\Vorlane\\A\\Host", L"Tempo"), L"100");
    EXPECT_EQ(readText(L"Software\\Vorlane\\B\\Host", L"Tempo"), L"70");
    EXPECT_EQ(readText(L"Software\\Vorlane\\B\\Host", L"samplePath"), L"/b.wav");
}

TEST_F(FileStoreTest, AWriteCutOffOrNotRenamedLeavesTheOldFile) {
    const std::wstring host = L"Software\\Vorlane\\Synth\\Host";
    writeValue(host, L"Tempo", L"100");
    for (auto fault : {platform::AtomicWriteFault::ShortWrite, platform::AtomicWriteFault::RenameFails}) {
        const std::string before = fileText();
        FileStore store(file);
        {
            platform::setAtomicWriteFaultForTesting(fault);
            ScopedKey key(store, store.createKey(host));
            store.writeString(key.get(), L"Tempo", L"130");
            store.writeDword(key.get(), L"AudioDeviceType", 2);
        }
        platform::setAtomicWriteFaultForTesting(platform::AtomicWriteFault::None);
        EXPECT_EQ(fileText(), before);
        EXPECT_FALSE(fs::exists(file.string() + ".tmp~"));
        EXPECT_EQ(readText(host, L"Tempo"), L"100");
        // The store keeps what it could not write and writes it with the next close.
        ScopedKey(store, store.openKey(host));
        EXPECT_EQ(readText(host, L"Tempo"), L"130");
        EXPECT_EQ(readNumber(host, L"AudioDeviceType"), 2u);
        writeValue(host, L"Tempo", L"100");
    }
}

TEST_F(FileStoreTest, ADamagedFileIsReadAsFarAsItIsSound) {
    const char zeroInName[] = "\"ze\0ro\"=\"x\"\n";
    writeText(std::string("\xEF\xBB\xBF; settings\n"
                          "\"Orphan\"=\"before any key\"\n"
                          "[Software\\Vorlane\\Synth\\Host]\r\n"
                          "\"Tempo\"=\"98.5\"\r\n"
                          "\"Broken=dword:00000001\n"
                          "\"Cut\"=\"no end\n"
                          "\"Short\"=dword:0004\n"
                          "\"Long\"=dword:000000001\n"
                          "\"NotHex\"=dword:0000000g\n"
                          "\"BadEscape\"=\"a\\qb\"\n"
                          "\"Trailing\"=\"x\" junk\n"
                          "\"NoValue\"=\n"
                          "garbage line\n"
                          "  \"AudioDeviceType\" = dword:00000002  \n"
                          "[Software\\Vorlane\\Synth\\Host\\Midi Device 0\n"
                          "\"name\"=\"lands nowhere\"\n"
                          "[Software\\Vorlane\\Synth\\Host\\Midi Device 1]\n"
                          "\"name\"=\"Pads \xFF\"\n") +
              std::string(zeroInName, sizeof zeroInName - 1) + "\"in\"=dword:0000000");
    const std::wstring host = L"Software\\Vorlane\\Synth\\Host";
    const std::wstring pads = host + L"\\Midi Device 1";
    {
        FileStore store(file);
        ScopedKey key(store, store.openKey(host));
        ASSERT_TRUE(key);
        std::wstring text;
        uint32_t number = 0;
        EXPECT_TRUE(store.readString(key.get(), L"Tempo", text));
        EXPECT_EQ(text, L"98.5");
        EXPECT_TRUE(store.readDword(key.get(), L"AudioDeviceType", number));
        EXPECT_EQ(number, 2u);
        for (const wchar_t* lost : {L"Orphan", L"Broken", L"Cut", L"Short", L"Long", L"NotHex", L"BadEscape",
                                    L"Trailing", L"NoValue", L"name"}) {
            EXPECT_FALSE(store.readString(key.get(), lost, text) || store.readDword(key.get(), lost, number))
                << "a value from a damaged line: " << std::string(lost, lost + wcslen(lost));
        }
        EXPECT_FALSE(ScopedKey(store, store.openKey(host + L"\\Midi Device 0")));
        ScopedKey padsKey(store, store.openKey(pads));
        EXPECT_TRUE(store.readString(padsKey.get(), L"name", text));
        EXPECT_EQ(text, L"Pads \uFFFD");
        EXPECT_FALSE(store.readDword(padsKey.get(), L"in", number));
        EXPECT_FALSE(store.readString(padsKey.get(), L"zero", text));
        // The next write leaves a sound file with everything that was readable.
        store.writeString(padsKey.get(), L"name", L"Pads");
    }
    EXPECT_EQ(parseSettingsText(fileText()),
              (SettingsTree{{host, {{L"AudioDeviceType", 2u}, {L"Tempo", L"98.5"}}}, {pads, {{L"name", L"Pads"}}}}));
}

TEST_F(FileStoreTest, CutOrScrambledTextNeverYieldsAValueThatWasNotWritten) {
    SettingsTree original;
    original[L"Software\\Vorlane\\Synth\\Host"] = {{L"AudioDeviceType", 0x12345678u},
                                                   {L"Tempo", L"98.7654"},
                                                   {L"samplePath", L"/x/\u00e9 \"q\".wav"}};
    original[L"Software\\Vorlane\\Synth\\Host\\Midi Device 0"] = {{L"name", L"Keys"}, {L"delay", 0xFFFFFFF6u}};
    const std::string text = formatSettingsText(original);

    const auto expectOnlyOriginalValues = [&](const SettingsTree& parsed, const std::string& what) {
        for (const auto& [path, values] : parsed) {
            EXPECT_TRUE(isValidKeyPath(path)) << what;
            auto key = original.find(path);
            ASSERT_NE(key, original.end()) << what;
            for (const auto& [name, value] : values) {
                auto known = key->second.find(name);
                ASSERT_NE(known, key->second.end()) << what;
                EXPECT_EQ(known->second, value) << what;
            }
        }
    };
    for (size_t length = 0; length <= text.size(); ++length)
        expectOnlyOriginalValues(parseSettingsText(text.substr(0, length)), "cut at " + std::to_string(length));

    // Scrambled bytes may lose anything, but never crash the reader or produce a bad key.
    std::mt19937 random(4711);
    const std::string alphabet = "[]\"\\=@;:dword0123456789abcdefx \n\r\t\xC3\xA9\xFF";
    for (int round = 0; round < 2000; ++round) {
        std::string scrambled = text;
        for (int edits = random() % 8 + 1; edits > 0; --edits)
            scrambled[random() % scrambled.size()] = alphabet[random() % alphabet.size()];
        for (const auto& [path, values] : parseSettingsText(scrambled)) EXPECT_TRUE(isValidKeyPath(path));
    }
}

TEST_F(FileStoreTest, AFileThatCannotBeReadIsNeverReplaced) {
    fs::create_directories(file.parent_path());
    std::FILE* empty = platform::openFile(file, "wb");
    ASSERT_NE(empty, nullptr);
    std::fclose(empty);
    const uintmax_t hugeSize = uintmax_t(17) << 20;  // beyond what a settings file can be
    fs::resize_file(file, hugeSize);
    {
        FileStore store(file);
        EXPECT_FALSE(ScopedKey(store, store.openKey(L"Software")));
        ScopedKey key(store, store.createKey(L"Software\\Vorlane\\Synth\\Host"));
        EXPECT_TRUE(store.writeString(key.get(), L"Tempo", L"100"));  // kept in memory
        std::wstring text;
        EXPECT_TRUE(store.readString(key.get(), L"Tempo", text));
    }
    EXPECT_EQ(fs::file_size(file), hugeSize);
}

TEST_F(FileStoreTest, TheUserFileFollowsTheXdgRules) {
    const std::string xdg = (folder / "xdg").string();  // absolute on every platform
    const std::string home = (folder / "home").string();
    EXPECT_EQ(FileStore::userFilePath("own.reg", xdg.c_str(), home.c_str()), fs::path("own.reg"));
    EXPECT_EQ(FileStore::userFilePath(nullptr, xdg.c_str(), home.c_str()), folder / "xdg" / "vorlane" / "settings.reg");
    const fs::path underHome = folder / "home" / ".config" / "vorlane" / "settings.reg";
    EXPECT_EQ(FileStore::userFilePath("", "relative/xdg", home.c_str()), underHome);
    EXPECT_EQ(FileStore::userFilePath(nullptr, "", home.c_str()), underHome);
    EXPECT_EQ(FileStore::userFilePath(nullptr, nullptr, nullptr), fs::path());

    // Without a file the settings live for the run only.
    FileStore store{fs::path()};
    ScopedKey key(store, store.createKey(L"Software\\T"));
    EXPECT_TRUE(store.writeDword(key.get(), L"n", 5));
    uint32_t number = 0;
    EXPECT_TRUE(store.readDword(key.get(), L"n", number));
    EXPECT_EQ(number, 5u);
}

}  // namespace
}  // namespace vl
