// The settings file: its text form, and how it survives damage, cut-off writes and a second
// host writing the same file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/FileIO.h"
#include "settings/FileLock.h"
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

// Two hosts (processes, or stores of one process) saving into the same file at the same time:
// each value is written and its key closed, so every one is a read-merge-replace of its own.
TEST_F(FileStoreTest, WritersAtTheSameTimeLoseNothing) {
    constexpr int kValues = 100;
    const auto writeMany = [this](int writer) {
        FileStore store(file);
        const std::wstring key = L"Software\\Vorlane\\Writer " + std::to_wstring(writer) + L"\\Host";
        for (int i = 0; i < kValues; ++i) {
            ScopedKey host(store, store.createKey(key));
            store.writeDword(host.get(), L"v" + std::to_wstring(i), static_cast<uint32_t>(i));
        }
    };
    const auto countValues = [this](int writers) {
        FileStore store(file);
        int found = 0;
        for (int writer = 0; writer < writers; ++writer) {
            ScopedKey host(store, store.openKey(L"Software\\Vorlane\\Writer " + std::to_wstring(writer) + L"\\Host"));
            uint32_t value = 0;
            for (int i = 0; i < kValues; ++i) found += store.readDword(host.get(), L"v" + std::to_wstring(i), value) && value == uint32_t(i);
        }
        return found;
    };
    {
        std::thread first(writeMany, 0), second(writeMany, 1);
        first.join();
        second.join();
        EXPECT_EQ(countValues(2), 2 * kValues);
    }
#ifndef _WIN32
    fs::remove_all(folder);
    pid_t children[2] = {};
    for (int writer = 0; writer < 2; ++writer) {
        children[writer] = fork();
        ASSERT_GE(children[writer], 0);
        if (children[writer] == 0) {
            writeMany(writer + 2);
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = -1;
        // Bounded: a writer that hangs fails the test instead of the run.
        for (int i = 0; i < 60000 && waitpid(child, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (waitpid(child, &status, WNOHANG) == 0) kill(child, SIGKILL);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(countValues(4), 2 * kValues);  // writers 2 and 3 (0 and 1 went with the folder)
#endif
    // Nothing is left behind but the file and its lock.
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
        EXPECT_TRUE(entry.path() == file || entry.path().extension() == ".lock") << entry.path();
}

TEST_F(FileStoreTest, AWriterThatKeepsTheLockIsNotWaitedForWithoutEnd) {
    fs::create_directories(file.parent_path());
    const FileLock hung(file.string() + ".lock", 0);
    ASSERT_TRUE(hung.held());
    EXPECT_FALSE(FileLock(file.string() + ".lock", 0).held());  // exclusive within one process too
    writeText(kHost, L"Tempo", L"101");  // goes ahead once the bounded wait is over
    EXPECT_EQ(readText(kHost, L"Tempo"), L"101");
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
