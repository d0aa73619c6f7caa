// The settings file: its text form, and how it survives damage, cut-off writes and a second
// host writing the same file.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileIO.h"
#include "settings/FileStore.h"
#include "settings/SettingsFileFormat.h"

namespace vl {
namespace {

namespace fs = std::filesystem;
const std::wstring kHost = L"Software\\Vorlane\\Synth\\Host";

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
        fs::remove_all(folder);
    }
    std::string fileText() {
        auto bytes = platform::readWholeFile(file);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
    }
    // Through a store of its own, as another run of the host would.
    void writeText(const std::wstring& path, const std::wstring& name, const std::wstring& value) {
        FileStore store(file);
        ScopedKey key(store, store.createKey(path));
        ASSERT_TRUE(store.writeString(key.get(), name, value));
    }
    std::optional<std::wstring> readText(const std::wstring& path, const std::wstring& name) {
        FileStore store(file);
        ScopedKey key(store, store.openKey(path));
        std::wstring text;
        return store.readString(key.get(), name, text) ? std::optional(text) : std::nullopt;
    }

    fs::path folder, file;
};

TEST_F(FileStoreTest, TextFormLooksLikeARegistryExport) {
    {
        FileStore store(file);
        ScopedKey root(store, store.createKey(L"Software\\Vorlane\\Synth"));
        ScopedKey host(store, store.createKey(kHost));
        store.writeString(host.get(), L"Tempo", L"120");
        store.writeDword(host.get(), L"AudioDeviceType", 4);
        store.writeString(host.get(), L"samplePath", L"C:\\a \"b\"\n.wav");
        uint32_t number = 0;
        EXPECT_FALSE(store.readDword(host.get(), L"Tempo", number));  // the types are kept apart
        EXPECT_TRUE(ScopedKey(store, store.openKey(L"software\\VORLANE")));  // parents exist; ASCII case is ignored
    }
    EXPECT_EQ(fileText(),
              "; Vorlane Host settings\n\n[Software\\Vorlane\\Synth]\n\n[Software\\Vorlane\\Synth\\Host]\n"
              "\"AudioDeviceType\"=dword:00000004\n\"samplePath\"=\"C:\\\\a \\\"b\\\"\\n.wav\"\n\"Tempo\"=\"120\"\n");
    EXPECT_EQ(readText(kHost, L"samplePath"), L"C:\\a \"b\"\n.wav");
}

TEST_F(FileStoreTest, ChangesReachTheFileWhenAKeyClosesWithoutUndoingAnotherHosts) {
    auto store = std::make_unique<FileStore>(file);  // read before the other host writes
    writeText(L"Software\\Vorlane\\Other", L"Tempo", L"70");
    const auto root = store->createKey(L"Software\\Vorlane\\Synth");
    {
        ScopedKey host(*store, store->createKey(kHost));
        store->writeString(host.get(), L"Tempo", L"99");
        EXPECT_FALSE(readText(kHost, L"Tempo"));
    }
    EXPECT_EQ(readText(kHost, L"Tempo"), L"99");
    EXPECT_EQ(readText(L"Software\\Vorlane\\Other", L"Tempo"), L"70");
    store->writeString(root, L"contentpath", L"/c/");  // a key held open is written when the store goes
    store.reset();
    EXPECT_EQ(readText(L"Software\\Vorlane\\Synth", L"contentpath"), L"/c/");
}

TEST_F(FileStoreTest, AWriteCutOffOrNotRenamedLeavesTheOldFile) {
    for (auto fault : {platform::AtomicWriteFault::ShortWrite, platform::AtomicWriteFault::RenameFails}) {
        writeText(kHost, L"Tempo", L"100");
        const std::string before = fileText();
        FileStore store(file);
        platform::setAtomicWriteFaultForTesting(fault);
        store.writeString(ScopedKey(store, store.createKey(kHost)).get(), L"Tempo", L"130");
        platform::setAtomicWriteFaultForTesting(platform::AtomicWriteFault::None);
        EXPECT_EQ(fileText(), before);
        EXPECT_FALSE(fs::exists(file.string() + ".tmp~"));
        ScopedKey(store, store.openKey(kHost));  // what could not be written goes with the next close
        EXPECT_EQ(readText(kHost, L"Tempo"), L"130");
    }
}

TEST_F(FileStoreTest, ADamagedFileIsReadAsFarAsItIsSound) {
    const char text[] = "\xEF\xBB\xBF; settings\n\"Orphan\"=\"before any key\"\n"
                        "[Software\\Vorlane\\Synth\\Host]\r\n\"Tempo\"=\"98.5\"\r\n"
                        "\"Broken=dword:00000001\n\"Cut\"=\"no end\n\"Short\"=dword:0004\n\"Long\"=dword:000000001\n"
                        "\"BadEscape\"=\"a\\qb\"\n\"Trailing\"=\"x\" junk\ngarbage\n  \"AudioDeviceType\" = dword:00000002\n"
                        "[Software\\Vorlane\\Synth\\Host\\Midi Device 0\n\"name\"=\"lands nowhere\"\n"
                        "[Software\\Vorlane\\Synth\\Host\\Midi Device 1]\n\"name\"=\"Pads \xFF\"\n"
                        "\"ze\0ro\"=\"x\"\n\"in\"=dword:0000000";
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(platform::writeFileAtomically(file, text, sizeof text - 1));
    const std::wstring pads = kHost + L"\\Midi Device 1";
    SettingsTree sound{{kHost, {{L"AudioDeviceType", 2u}, {L"Tempo", L"98.5"}}}, {pads, {{L"name", L"Pads \uFFFD"}}}};
    EXPECT_EQ(parseSettingsText(fileText()), sound);
    writeText(pads, L"name", L"Pads");
    sound[pads][L"name"] = L"Pads";
    EXPECT_EQ(parseSettingsText(fileText()), sound);  // rewritten with everything that was readable

    // Cut anywhere, the file never yields a value that was not written (a short number included).
    const std::string full = formatSettingsText(sound);
    for (size_t length = 0; length <= full.size(); ++length)
        for (const auto& [path, values] : parseSettingsText(full.substr(0, length)))
            for (const auto& [name, value] : values) EXPECT_EQ(sound.at(path).at(name), value) << length;
}

TEST_F(FileStoreTest, AFileThatCannotBeReadIsNeverReplaced) {
    fs::create_directories(file.parent_path());
    std::FILE* created = platform::openFile(file, "wb");
    ASSERT_NE(created, nullptr);
    std::fclose(created);
    const uintmax_t hugeSize = uintmax_t(17) << 20;  // beyond what a settings file can be
    fs::resize_file(file, hugeSize);
    writeText(kHost, L"Tempo", L"100");
    EXPECT_EQ(fs::file_size(file), hugeSize);
}

TEST_F(FileStoreTest, TheUserFileFollowsTheXdgRules) {
    const std::string xdg = (folder / "xdg").string(), home = (folder / "home").string();  // absolute everywhere
    const fs::path underHome = folder / "home" / ".config" / "vorlane" / "settings.reg";
    EXPECT_EQ(FileStore::userFilePath("own.reg", xdg.c_str(), home.c_str()), fs::path("own.reg"));
    EXPECT_EQ(FileStore::userFilePath(nullptr, xdg.c_str(), home.c_str()), folder / "xdg" / "vorlane" / "settings.reg");
    EXPECT_EQ(FileStore::userFilePath("", "relative/xdg", home.c_str()), underHome);
    EXPECT_EQ(FileStore::userFilePath(nullptr, nullptr, nullptr), fs::path());
}

}  // namespace
}  // namespace vl
