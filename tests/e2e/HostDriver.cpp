// Drives the real VorlaneHost.exe the way a user does, under Wine: the host is copied next to
// a probe plug-in under one base name, started, and worked through its menu commands, keys
// and message boxes; the probe's call log and the registry show what reached the plug-in.
//
// Usage: vl_e2e_host_driver <bin folder> <work folder>
// Prints one line per check ("PASS ..." / "FAIL ..."), the start time, and answers the number
// of failed checks. Screenshots are asked for by creating "<work>\shots\<name>.request"; the
// wrapper script takes them and answers with "<name>.done".

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <source_location>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/MainWindowIds.h"
#include "app/win/AboutIds.h"
#include "app/win/GenericEditorWindow.h"
#include "dialogs/win/AudioSettingsDlgIds.h"
#include "dialogs/win/MidiSettingsDlgIds.h"
#include "dialogs/win/PlayerDlgIds.h"
#include "dialogs/win/TempoDlgIds.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int failures = 0;
fs::path binDir;
fs::path workDir;

// The waits that gave up since the last check. What the host does under Wine comes late on a
// loaded machine rather than never, so a failing check names the waits before it that ran out:
// where, for how long, and how busy the machine was.
std::vector<std::string> gaveUp;

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string minute;
    return in >> minute ? minute : std::string("unknown");
}

void check(bool ok, const std::string& name, const std::string& detail = {}) {
    std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    if (!ok) {
        ++failures;
        for (const std::string& wait : gaveUp) std::printf("     after %s\n", wait.c_str());
    }
    std::fflush(stdout);
    gaveUp.clear();
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\n') out += "\\n";
        else if (c == L'\t') out += "\\t";
        else if (c == L'\r') out += "\\r";
        else out += c < 128 ? static_cast<char>(c) : '?';
    }
    return out;
}

// Polls until the condition holds or timeoutMs has passed, answering the messages sent to us
// (the test query answers) meanwhile.
bool pollUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (condition()) return true;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return condition();
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs = 20,
               std::source_location where = std::source_location::current()) {
    const auto start = Clock::now();
    if (pollUntil(condition, timeoutMs, pollMs)) return true;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    gaveUp.push_back("the wait of line " + std::to_string(where.line()) + " gave up after " + std::to_string(waited) +
                     " ms (limit " + std::to_string(timeoutMs) + " ms, load average " + loadAverage() + ")");
    return false;
}

void sleepMs(int ms) {
    pollUntil([] { return false; }, ms, 10);
}

// ---- the probe's log ------------------------------------------------------------------------

struct LogLine {
    std::string kind;  // "call", "event", "block", "entry"
    std::vector<std::string> fields;
    std::string text;
};

std::vector<LogLine> readLog(const fs::path& path) {
    std::vector<LogLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        LogLine line;
        line.text = text;
        std::istringstream words(text);
        words >> line.kind;
        std::string word;
        while (words >> word) line.fields.push_back(word);
        lines.push_back(line);
    }
    return lines;
}

int opcodeOf(const LogLine& line) { return line.kind == "call" && !line.fields.empty() ? std::stoi(line.fields[0]) : -1; }

int countCalls(const std::vector<LogLine>& log, int opcode) {
    int n = 0;
    for (const auto& line : log) n += opcodeOf(line) == opcode;
    return n;
}

int countBlocks(const std::vector<LogLine>& log) {
    int n = 0;
    for (const auto& line : log) n += line.kind == "block";
    return n;
}

// Index of the first line matching, from start; -1 when none.
int findLine(const std::vector<LogLine>& log, const std::function<bool(const LogLine&)>& match, int start = 0) {
    for (size_t i = static_cast<size_t>(start); i < log.size(); ++i) {
        if (match(log[i])) return static_cast<int>(i);
    }
    return -1;
}

bool isEvent(const LogLine& line, const std::string& b0, const std::string& b1, const std::string& b2) {
    return line.kind == "event" && line.fields.size() >= 5 && line.fields[2] == b0 && line.fields[3] == b1 &&
           line.fields[4] == b2;
}

// ---- registry -------------------------------------------------------------------------------

std::wstring effectKey(const std::wstring& effect) { return L"Software\\Vorlane\\" + effect; }

void setContentPath(const std::wstring& effect, const fs::path& dir) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, effectKey(effect).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring value = dir.wstring() + L"\\";
    RegSetValueExW(key, L"contentpath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void forgetSettings(const std::wstring& effect) { RegDeleteTreeW(HKEY_CURRENT_USER, effectKey(effect).c_str()); }

bool readDword(const std::wstring& key, const wchar_t* name, DWORD& value) {
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
           ERROR_SUCCESS;
}

bool readString(const std::wstring& key, const wchar_t* name, std::wstring& value) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    value = buffer;
    return true;
}

// ---- windows of the host ----------------------------------------------------------------------

struct WindowSearch {
    DWORD pid;
    std::wstring className;
    std::wstring caption;  // empty = any
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK searchWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid) return TRUE;
    if (search->visibleOnly && !IsWindowVisible(window)) return TRUE;
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (search->className != name) return TRUE;
    if (!search->caption.empty()) {
        wchar_t caption[512] = {};
        GetWindowTextW(window, caption, 512);
        if (search->caption != caption) return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND findWindow(DWORD pid, const std::wstring& caption, bool visibleOnly = true) {
    WindowSearch search{pid, L"#32770", caption, visibleOnly, nullptr};
    EnumWindows(&searchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring windowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring itemText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

// ---- screenshots ----------------------------------------------------------------------------

// With a window, the request names its screen rectangle ("WxH+X+Y") and the picture is cut to it.
void screenshot(const std::string& name, HWND window = nullptr) {
    const fs::path shots = workDir / "shots";
    fs::create_directories(shots);
    const fs::path request = shots / (name + ".request");
    const fs::path done = shots / (name + ".done");
    sleepMs(300);  // let the window paint
    std::string geometry;
    RECT frame{};
    if (window && GetWindowRect(window, &frame)) {
        geometry = std::to_string(frame.right - frame.left) + "x" + std::to_string(frame.bottom - frame.top) + "+" +
                   std::to_string(frame.left) + "+" + std::to_string(frame.top);
    }
    { std::ofstream(request) << geometry; }
    if (!waitUntil([&] { return fs::exists(done); }, 10000, 50)) std::printf("note: no screenshot taken for %s\n", name.c_str());
}

// ---- answers of the test query (menus can only be read inside the host) ------------------------

std::wstring lastAnswer;
HWND replyWindow = nullptr;

LRESULT CALLBACK replyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        lastAnswer.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
        while (!lastAnswer.empty() && lastAnswer.back() == L'\0') lastAnswer.pop_back();
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void createReplyWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &replyProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VorlaneHostDriverReply";
    RegisterClassW(&windowClass);
    replyWindow = CreateWindowW(L"VorlaneHostDriverReply", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
}

// Menu entries as "<menu>:<position>:<id>:<text>" lines; kind 2: the Preset menu as it stands,
// "<position>[.<position>]:<id>:<flags>:<text>".
std::vector<std::wstring> queryMenu(HWND host, LPARAM kind = 1) {
    static const UINT query = RegisterWindowMessageW(L"VorlaneHost.TestQuery");
    lastAnswer.clear();
    DWORD_PTR result = 0;
    SendMessageTimeoutW(host, query, reinterpret_cast<WPARAM>(replyWindow), kind, SMTO_NORMAL, 5000, &result);
    std::vector<std::wstring> lines;
    std::wstringstream in(lastAnswer);
    std::wstring line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::wstring menuText(const std::vector<std::wstring>& menu, int command) {
    const std::wstring marker = L":" + std::to_wstring(command) + L":";
    for (const auto& line : menu) {
        const size_t at = line.find(marker);
        if (at != std::wstring::npos) return line.substr(at + marker.size());
    }
    return L"<missing>";
}

// The texts of one pull-down, separators as "-".
std::vector<std::wstring> menuTexts(const std::vector<std::wstring>& menu, int which) {
    std::vector<std::wstring> texts;
    const std::wstring prefix = std::to_wstring(which) + L":";
    for (const auto& line : menu) {
        if (line.rfind(prefix, 0) != 0) continue;
        const size_t third = line.find(L':', line.find(L':', prefix.size()) + 1);
        const std::wstring id = line.substr(line.find(L':', prefix.size()) + 1, third - line.find(L':', prefix.size()) - 1);
        texts.push_back(id == L"0" ? L"-" : line.substr(third + 1));
    }
    return texts;
}

std::string joined(const std::vector<std::wstring>& texts) {
    std::string out;
    for (const auto& t : texts) out += (out.empty() ? "" : " | ") + narrow(t);
    return out;
}

// ---- keys -----------------------------------------------------------------------------------

void postKey(HWND window, int key, bool down) {
    const LPARAM flags = down ? 1 : static_cast<LPARAM>(0xC0000001u);
    PostMessageW(window, down ? WM_KEYDOWN : WM_KEYUP, static_cast<WPARAM>(key), flags);
}

void sendInputKey(WORD key, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

// ---- one run of the host ----------------------------------------------------------------------

struct HostRun {
    fs::path dir;
    std::wstring baseName;
    PROCESS_INFORMATION process{};
    Clock::time_point started;
    HWND main = nullptr;
    std::wstring arguments;  // after the program's name on its command line

    fs::path logPath() const { return dir / "probe.log"; }
    std::vector<LogLine> log() const { return readLog(logPath()); }

    // Copies the host (and the plug-in, unless dll is empty) under one base name.
    HostRun(const std::string& caseName, const std::wstring& base, const std::string& dll, const std::string& config)
        : dir(workDir / caseName), baseName(base) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(binDir / "VorlaneHost.exe", dir / (base + L".exe"));
        if (!dll.empty()) fs::copy_file(binDir / dll, dir / (base + L".dll"));
        std::ofstream(dir / "probe.cfg") << config;
    }

    bool start() {
        SetEnvironmentVariableW(L"VORLANE_PROBE_CONFIG", (dir / "probe.cfg").wstring().c_str());
        SetEnvironmentVariableW(L"VORLANE_PROBE_LOG", logPath().wstring().c_str());
        SetEnvironmentVariableW(L"VORLANE_HOST_TEST_HOOKS", L"1");
        std::wstring commandLine = L"\"" + (dir / (baseName + L".exe")).wstring() + L"\"";
        if (!arguments.empty()) commandLine += L" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started = Clock::now();
        return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.wstring().c_str(),
                              &startup, &process) != FALSE;
    }

    DWORD pid() const { return process.dwProcessId; }

    bool waitMainWindow(const std::wstring& caption) {
        return waitUntil([&] { return (main = findWindow(pid(), caption)) != nullptr; }, 30000, 5);
    }

    bool waitExit(int timeoutMs) {
        if (!process.hProcess) return true;
        return waitUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, timeoutMs, 20);
    }

    ~HostRun() {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
                TerminateProcess(process.hProcess, 99);
                WaitForSingleObject(process.hProcess, 5000);
            }
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
    }
};

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Waits for a message box of the host with this caption; answers its text (empty if none) and
// confirms it when asked to.
std::wstring messageBox(const HostRun& run, const std::wstring& caption, const std::string& shot = {}, bool confirm = true) {
    HWND box = nullptr;
    waitUntil([&] { return (box = findWindow(run.pid(), caption)) != nullptr && box != run.main; }, 10000, 20);
    if (!box || box == run.main) return {};
    const std::wstring text = itemText(box, 0xFFFF);
    if (!shot.empty()) screenshot(shot);
    if (confirm) PostMessageW(box, WM_COMMAND, IDOK, 0);
    waitUntil([&] { return !IsWindow(box); }, 5000);
    return text;
}

// The opcodes of the calls from the first one of `from` on (effEditIdle left out).
std::vector<int> opcodesFrom(const std::vector<LogLine>& log, int from) {
    std::vector<int> opcodes;
    for (const auto& line : log) {
        const int op = opcodeOf(line);
        if (op < 0 || op == 19) continue;
        if (opcodes.empty() && op != from) continue;
        opcodes.push_back(op);
    }
    return opcodes;
}

std::string listed(const std::vector<int>& values) {
    std::string out;
    for (int v : values) out += (out.empty() ? "" : ",") + std::to_string(v);
    return out;
}

bool audioAvailable = false;
std::wstring defaultOutputName;  // as the first start stored it

// ---- cases ----------------------------------------------------------------------------------

// What Wine needs to start a process and run it to its end: this driver itself, started with
// --noop. The host's start time is judged against it.
double wineProcessStartMs() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    double best = -1;
    for (int i = 0; i < 3; ++i) {
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --noop";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        const auto t0 = Clock::now();
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return -1;
        WaitForSingleObject(process.hProcess, 10000);
        const double ms = msSince(t0);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        if (best < 0 || ms < best) best = ms;
    }
    return best;
}

void foreignPlugin() {
    const std::wstring effect = L"Probe E2E";
    forgetSettings(effect);
    HostRun run("foreign", L"ProbeHost", "vorlane_probe.dll",
                "effectName=Probe E2E\neditorRect=300x200\nchunk=state-of-the-probe\nflags=0x110\n");
    setContentPath(effect, run.dir);
    check(run.start(), "foreign: host started");

    // Start time: process start to the first processed block, and to the plug-in's entry.
    double entryMs = -1, firstBlockMs = -1;
    waitUntil([&] {
        const auto log = run.log();
        if (entryMs < 0 && findLine(log, [](const LogLine& l) { return l.kind == "entry"; }) >= 0) entryMs = msSince(run.started);
        if (countBlocks(log) == 0) return false;
        firstBlockMs = msSince(run.started);
        return true;
    }, 30000, 1);
    audioAvailable = firstBlockMs >= 0;
    std::printf("START TIME: process start to first processed block %.0f ms; the plug-in's entry point ran after "
                "%.0f ms, so the host needed %.0f ms from loading the plug-in to the first block\n",
                firstBlockMs, entryMs, firstBlockMs >= 0 && entryMs >= 0 ? firstBlockMs - entryMs : -1.0);
    const double wineStart = wineProcessStartMs();
    std::printf("START TIME: an empty program takes %.0f ms to start and end under Wine; the host's first block "
                "came %.0f ms after that\n", wineStart, firstBlockMs - wineStart);
    check(audioAvailable, "foreign: the engine processes blocks on the default device");
    if (!run.waitMainWindow(L"")) {
        check(false, "foreign: main window appears");
        return;
    }
    const std::wstring firstCaption = windowText(run.main);

    // Caption: the bare name until the engine runs, then the status format.
    check(firstCaption == effect || std::regex_match(narrow(firstCaption), std::regex(R"(Probe E2E \| Tempo: 120\.00 \| CPU: -?\d+%\\n)")),
          "foreign: caption when the window appears", narrow(firstCaption));
    const std::regex status(R"(Probe E2E \| Tempo: 120\.00 \| CPU: -?\d+%\\n)");
    std::wstring caption;
    const bool statusShown = waitUntil([&] {
        caption = windowText(run.main);
        return std::regex_match(narrow(caption), status);
    }, 5000);
    check(statusShown, "foreign: status caption while the engine runs", narrow(caption));

    // Size from the editor rectangle (300 x 200) and the window's own frame: the client area
    // holds the editor exactly, whatever the caption, menu and border take.
    RECT frame{}, client{};
    GetWindowRect(run.main, &frame);
    GetClientRect(run.main, &client);
    check(client.right == 300 && client.bottom == 200, "foreign: main window size from the editor",
          "window " + std::to_string(frame.right - frame.left) + "x" + std::to_string(frame.bottom - frame.top) +
              ", client " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    screenshot("foreign-running");

    // Default devices written at the first start.
    DWORD type = 0;
    std::wstring outName;
    const std::wstring host = effectKey(effect) + L"\\Host";
    const bool typeRead = readDword(host, L"AudioDeviceType", type);
    const bool nameRead = readString(host, L"AudioDeviceOut Name", outName);
    defaultOutputName = outName;
    check(typeRead && type == 4 && nameRead && !outName.empty(),
          "foreign: default devices in the registry after a first start",
          "type " + std::to_string(type) + ", output '" + narrow(outName) + "'");

    // Menu of a foreign plug-in.
    const auto menu = queryMenu(run.main);
    check(joined(menuTexts(menu, MENU_POS_FILE)) ==
              "Audio Settings\\tCtrl+A | Midi Settings\\tCtrl+M | - | Tempo\\tCtrl+T | - | &Audioengine Running\\tCtrl+R | - "
              "| Panic\\tCtrl+X | - | Exit\\tAlt+F4",
          "foreign: File menu", joined(menuTexts(menu, MENU_POS_FILE)));
    check(joined(menuTexts(menu, MENU_POS_HELP)) == "About", "foreign: Help menu", joined(menuTexts(menu, MENU_POS_HELP)));

    // Help: the vendor-only message. About: the host's own box.
    PostMessageW(run.main, WM_COMMAND, ID_HELP_HELP, 0);
    const std::wstring help = messageBox(run, L"Error", "foreign-help");
    check(help == L"This feature only works with Vorlane products!", "foreign: Help message", narrow(help));
    PostMessageW(run.main, WM_COMMAND, ID_HELP_ABOUT, 0);
    HWND about = nullptr;
    waitUntil([&] { return (about = findWindow(run.pid(), L"Vorlane VST Host")) != nullptr; }, 10000);
    check(about && itemText(about, IDC_ABOUT_TITLE) == L"Vorlane VST Host", "foreign: About box",
          about ? narrow(itemText(about, IDC_ABOUT_TITLE)) : "no box");
    if (about) {
        screenshot("foreign-about");
        PostMessageW(about, WM_COMMAND, IDOK, 0);
        waitUntil([&] { return !IsWindow(about); }, 5000);
    }

    // A letter key goes to the plug-in first (character 'd', no virtual key), then becomes a note.
    postKey(run.main, 'D', true);
    const bool noteOn = waitUntil([&] {
        const auto log = run.log();
        const int key = findLine(log, [](const LogLine& l) { return opcodeOf(l) == 59 && l.fields.size() > 2 && l.fields[1] == "100" && l.fields[2] == "0"; });
        return key >= 0 && findLine(log, [](const LogLine& l) { return isEvent(l, "90", "30", "5e"); }, key) >= 0;
    }, 5000);
    check(noteOn, "foreign: letter key reaches effEditKeyDown, then note 48 on");
    postKey(run.main, 'D', false);
    const bool noteOff = waitUntil([&] {
        const auto log = run.log();
        const int key = findLine(log, [](const LogLine& l) { return opcodeOf(l) == 60 && l.fields.size() > 1 && l.fields[1] == "100"; });
        return key >= 0 && findLine(log, [](const LogLine& l) { return isEvent(l, "90", "30", "00"); }, key) >= 0;
    }, 5000);
    check(noteOff, "foreign: key release reaches effEditKeyUp, then note 48 off");

    // Keys with Ctrl come through the system's input queue.
    SetForegroundWindow(run.main);
    sleepMs(200);
    sendInputKey(VK_CONTROL, true);
    sendInputKey('X', true);
    sendInputKey('X', false);
    sendInputKey(VK_CONTROL, false);
    check(waitUntil([&] {
        const auto log = run.log();
        return findLine(log, [](const LogLine& l) { return isEvent(l, "b0", "7b", "00"); }) >= 0;
    }, 5000), "foreign: Ctrl+X sends All Notes Off (CC 123)");

    // Ctrl+R: nothing on the press, one toggle on the release.
    sendInputKey(VK_CONTROL, true);
    sendInputKey('R', true);
    sleepMs(400);
    const std::wstring whilePressed = menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE);
    sendInputKey('R', false);
    sendInputKey(VK_CONTROL, false);
    std::wstring afterRelease;
    waitUntil([&] { return (afterRelease = menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE)) != whilePressed; }, 5000, 100);
    check(whilePressed == L"&Audioengine Running\tCtrl+R" && afterRelease == L"&Audioengine Stopped\tCtrl+R",
          "foreign: Ctrl+R stops the engine once, on the release", narrow(whilePressed) + " -> " + narrow(afterRelease));
    const std::wstring stoppedCaption = windowText(run.main);

    // Engine stopped: idle calls go on about 25 times a second, the caption stays.
    const int idleBefore = countCalls(run.log(), 19);
    const auto t0 = Clock::now();
    sleepMs(2000);
    const double seconds = msSince(t0) / 1000.0;
    const double idleRate = (countCalls(run.log(), 19) - idleBefore) / seconds;
    std::printf("IDLE RATE: %.1f effEditIdle calls per second\n", idleRate);
    check(idleRate > 18.0 && idleRate < 27.0, "foreign: about 25 effEditIdle calls a second", std::to_string(idleRate));
    check(windowText(run.main) == stoppedCaption, "foreign: caption unchanged while the engine is stopped");

    sendInputKey(VK_CONTROL, true);
    sendInputKey('R', true);
    sendInputKey('R', false);
    sendInputKey(VK_CONTROL, false);
    std::wstring restarted;
    waitUntil([&] { return (restarted = menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE)) == L"&Audioengine Running\tCtrl+R"; }, 10000, 100);
    check(restarted == L"&Audioengine Running\tCtrl+R", "foreign: Ctrl+R starts the engine again", narrow(restarted));

    // Exit: the state is saved once, by the shut-down once the engine has stopped (no block
    // after it), then the editor and the plug-in are closed, in this order.
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "foreign: Exit ends the process");
    const auto log = run.log();
    check(countCalls(log, 23) == 1, "foreign: Exit saves the state once", std::to_string(countCalls(log, 23)) + " saves");
    const auto order = opcodesFrom(log, 23);
    check(listed(order) == "23,15,1", "foreign: shut-down order (state, effEditClose, effClose)", listed(order));
    const int lastSave = [&] { int at = -1; for (size_t i = 0; i < log.size(); ++i) if (opcodeOf(log[i]) == 23) at = static_cast<int>(i); return at; }();
    check(findLine(log, [](const LogLine& l) { return l.kind == "block" || opcodeOf(l) == 19; }, lastSave) < 0,
          "foreign: no block and no idle call after the last save");
    std::ifstream saved(run.dir / "saved.chunk", std::ios::binary);
    std::string state((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    check(state == "state-of-the-probe", "foreign: saved.chunk holds the plug-in's state", state);
}

void halvorn() {
    HostRun run("halvorn", L"Halvorn", "vorlane_probe.dll", "effectName=Halvorn\nflags=0x110\nchunk=halvorn-state\n");
    setContentPath(L"Halvorn", run.dir);
    run.start();
    if (!run.waitMainWindow(L"") || !audioAvailable) {
        check(false, "halvorn: window and engine");
        return;
    }
    waitUntil([&] { return countBlocks(run.log()) >= 30; }, 10000);
    auto playing = [](const LogLine& l) { return l.kind == "block" && l.fields.size() > 4 && (std::stoi(l.fields[4]) & 2); };
    auto log = run.log();
    check(countBlocks(log) >= 30 && findLine(log, playing) < 0, "halvorn: transport stays stopped at start",
          std::to_string(countBlocks(log)) + " blocks");
    postKey(run.main, VK_SPACE, true);
    sleepMs(300);
    check(findLine(run.log(), playing) < 0, "halvorn: still stopped while Space is held");
    postKey(run.main, VK_SPACE, false);
    check(waitUntil([&] { return findLine(run.log(), playing) >= 0; }, 5000), "halvorn: Space released starts the transport");

    // The session ends (log-off, shut-down): no close message comes, yet the state is saved.
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(run.main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer);
    SendMessageTimeoutW(run.main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 10000, &answer);
    {
        const auto log = run.log();
        const int save = findLine(log, [](const LogLine& l) { return opcodeOf(l) == 23; });
        std::ifstream saved(run.dir / "saved.chunk", std::ios::binary);
        const std::string state((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
        check(save >= 0 && state == "halvorn-state", "halvorn: the end of the session saves the state", state);
        // The state is saved before the engines stop (a driver hanging in its stop must not
        // take it along), so a block may still come between the save and the stop; none after.
        const int blocksAtEnd = countBlocks(log);
        sleepMs(300);
        check(save >= 0 && countBlocks(run.log()) == blocksAtEnd, "halvorn: the engine is stopped once the session ends",
              std::to_string(blocksAtEnd) + " then " + std::to_string(countBlocks(run.log())));
    }
    PostMessageW(run.main, WM_CLOSE, 0, 0);
    check(run.waitExit(15000), "halvorn: close box ends the process");
    check(listed(opcodesFrom(run.log(), 15)) == "15,1", "halvorn: closing ends with effEditClose, effClose",
          listed(opcodesFrom(run.log(), 15)));
}

// Prints the visible windows of a process (what blocks a step that did not happen).
void listOpenWindows(DWORD pid) {
    EnumWindows([](HWND window, LPARAM process) -> BOOL {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner == static_cast<DWORD>(process) && IsWindowVisible(window))
            std::printf("note: open window '%s' of class %s\n", narrow(windowText(window)).c_str(), narrow(name).c_str());
        return TRUE;
    }, static_cast<LPARAM>(pid));
}

bool controlEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }


// A plug-in that needs an audio input, with only an output device stored: the engine does not
// start, the caption keeps the bare effect name while the editor still gets its idle calls.
void engineNeverRuns() {
    const std::wstring effect = L"Probe Needs Input";
    forgetSettings(effect);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (effectKey(effect) + L"\\Host").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const DWORD type = 4;
        RegSetValueExW(key, L"AudioDeviceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
        RegSetValueExW(key, L"AudioDeviceOut Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultOutputName.c_str()),
                       static_cast<DWORD>((defaultOutputName.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    HostRun run("needs-input", L"NeedsInput", "vorlane_probe.dll", "effectName=Probe Needs Input\nnumInputs=2\nflags=0x10\n");
    run.start();
    const std::wstring text = messageBox(run, L"Error");
    check(text == L"Unable to start Audioengine\r\nPlugin needs an Audioinput device!", "needs input: engine message",
          narrow(text));
    // The Audio Settings window opens too: the main window is the one with the effect's name.
    if (!run.waitMainWindow(effect)) {
        check(false, "needs input: main window appears");
        return;
    }
    const int idleBefore = countCalls(run.log(), 19);
    sleepMs(1000);
    check(countCalls(run.log(), 19) - idleBefore >= 15 && countBlocks(run.log()) == 0 && windowText(run.main) == effect,
          "needs input: bare effect name in the caption, idle calls going on, no block", narrow(windowText(run.main)));
    // The engine reported its own message: no second one; the start failed, so the menu says
    // stopped and the Audio Settings window is offered.
    HWND audio = nullptr;
    check(waitUntil([&] { return (audio = findWindow(run.pid(), L"Audio Settings")) != nullptr; }, 5000) &&
              findWindow(run.pid(), L"Error") == nullptr,
          "needs input: the Audio Settings window is offered after the engine's own message, no second message");
    check(menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE) == L"&Audioengine Stopped\tCtrl+R",
          "needs input: the menu says the engine is stopped", narrow(menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE)));
    if (audio) {
        PostMessageW(audio, WM_CLOSE, 0, 0);
        waitUntil([&] { return !IsWindow(audio); }, 5000);
    }
    // The engine command: the same refusal, and the item stays stopped.
    PostMessageW(run.main, WM_COMMAND, ID_FILE_AUDIOENGINE, 0);
    const std::wstring again = messageBox(run, L"Error");
    check(again == L"Unable to start Audioengine\r\nPlugin needs an Audioinput device!", "needs input: the engine command is refused with the message",
          narrow(again));
    sleepMs(300);
    check(findWindow(run.pid(), L"Error") == nullptr &&
              menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE) == L"&Audioengine Stopped\tCtrl+R",
          "needs input: after the refused start the menu says stopped, no second message",
          narrow(menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE)));
    PostMessageW(run.main, WM_CLOSE, 0, 0);
    check(run.waitExit(15000), "needs input: close box ends the process");
}

void vendorMenus() {
    struct Variant {
        const char* name;
        const char* config;
        const char* help;
    };
    const Variant variants[] = {
        {"vendor-no-about", "canDoAbout=0\nflags=0x110\n", "Help | - | Check for Updates"},
        {"vendor-about", "canDoAbout=1\nflags=0x110\n", "Help | - | Check for Updates | About"},
    };
    for (const Variant& v : variants) {
        HostRun run(v.name, L"VendorHost", "vorlane_probe_vendor.dll", v.config);
        run.start();
        if (!run.waitMainWindow(L"")) {
            check(false, std::string(v.name) + ": main window appears");
            continue;
        }
        const auto menu = queryMenu(run.main);
        check(menuTexts(menu, MENU_POS_FILE).size() == 12 &&
                  menuText(menu, ID_FILE_AUDIOPLAYER) == L"Audio Player / Recorder\tCtrl+P",
              std::string(v.name) + ": File menu keeps the player", joined(menuTexts(menu, MENU_POS_FILE)));
        check(joined(menuTexts(menu, MENU_POS_HELP)) == v.help, std::string(v.name) + ": Help menu",
              joined(menuTexts(menu, MENU_POS_HELP)));
        if (std::string(v.name) == "vendor-about") screenshot("vendor-running");
        // Enter belongs to the editor: the host stays; the close box ends it, shut-down first.
        postKey(run.main, VK_RETURN, true);
        postKey(run.main, VK_RETURN, false);
        check(!run.waitExit(1500), std::string(v.name) + ": Enter does not end the process");
        PostMessageW(run.main, WM_CLOSE, 0, 0);
        check(run.waitExit(15000), std::string(v.name) + ": the close box ends the process");
        check(listed(opcodesFrom(run.log(), 15)) == "15,1", std::string(v.name) + ": closing runs the shut-down",
              listed(opcodesFrom(run.log(), 15)));
    }
}

void noModule() {
    HostRun run("no-module", L"NoModule", "", "");
    run.start();
    const std::wstring text = messageBox(run, L"Error", "no-module");
    check(text == L"Couldn't load Plugin!", "no module: error message", narrow(text));
    check(run.waitExit(10000), "no module: the process ends");
}

// ---- the modeless windows ---------------------------------------------------------------------

// Tempo of the last block the probe processed; -1 when none.
double lastBlockTempo(const HostRun& run) {
    const auto log = run.log();
    for (auto line = log.rbegin(); line != log.rend(); ++line) {
        if (line->kind == "block" && line->fields.size() > 3) return std::stod(line->fields[3]);
    }
    return -1;
}

bool probeSeesTempo(const HostRun& run, double tempo) {
    return waitUntil([&] { return std::abs(lastBlockTempo(run) - tempo) < 1e-9; }, 5000, 50);
}

int countWindows(DWORD pid, const std::wstring& caption) {
    struct Count {
        DWORD pid;
        std::wstring caption;
        int n;
    } count{pid, caption, 0};
    EnumWindows([](HWND window, LPARAM data) -> BOOL {
        auto* c = reinterpret_cast<Count*>(data);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == c->pid && IsWindowVisible(window) && windowText(window) == c->caption) ++c->n;
        return TRUE;
    }, reinterpret_cast<LPARAM>(&count));
    return count.n;
}

HWND openByCommand(const HostRun& run, int command, const std::wstring& caption) {
    PostMessageW(run.main, WM_COMMAND, static_cast<WPARAM>(command), 0);
    HWND window = nullptr;
    waitUntil([&] { return (window = findWindow(run.pid(), caption)) != nullptr; }, 10000);
    return window;
}

std::wstring hostValue(const std::wstring& effect, const wchar_t* name) {
    std::wstring value;
    if (!readString(effectKey(effect) + L"\\Host", name, value)) return L"<none>";
    return value;
}

void postMouse(HWND window, UINT message, int x, int y) {
    const WPARAM keys = message == WM_LBUTTONUP ? 0 : MK_LBUTTON;
    PostMessageW(window, message, keys, MAKELPARAM(x, y));
}

// Waits until a text shows in one of the window's controls.
bool waitItemText(HWND window, int id, const std::wstring& text, int timeoutMs = 5000) {
    return waitUntil([&] { return itemText(window, id) == text; }, timeoutMs, 20);
}

std::vector<std::wstring> listTexts(HWND dialog, int id) {
    std::vector<std::wstring> texts;
    const int count = static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}


void selectEntry(HWND dialog, int id, int index) {
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

int selection(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0)); }

void tempoWindow() {
    const std::wstring effect = L"Probe Tempo";
    forgetSettings(effect);
    HostRun run("tempo", L"TempoHost", "vorlane_probe.dll", "effectName=Probe Tempo\nflags=0x110\n");
    setContentPath(effect, run.dir);
    run.start();
    if (!run.waitMainWindow(L"") || !audioAvailable || !waitUntil([&] { return lastBlockTempo(run) > 0; }, 10000)) {
        check(false, "tempo: window and engine");
        return;
    }
    HWND tempo = openByCommand(run, ID_FILE_TEMPO, L"Tempo");
    check(tempo && itemText(tempo, IDC_TEMPO_VALUE) == L"120", "tempo: the menu command opens the window showing 120",
          tempo ? narrow(itemText(tempo, IDC_TEMPO_VALUE)) : "no window");
    if (!tempo) return;
    PostMessageW(run.main, WM_COMMAND, ID_FILE_TEMPO, 0);
    sleepMs(500);
    check(countWindows(run.pid(), L"Tempo") == 1 && IsWindow(tempo), "tempo: a second command opens no second window");

    // Typing: rounded to hundredths and handed over; outside the limits nothing changes.
    SetDlgItemTextW(tempo, IDC_TEMPO_VALUE, L"133.456");
    const bool typedShown = waitItemText(tempo, IDC_TEMPO_VALUE, L"133.46") && probeSeesTempo(run, 133.46);
    check(typedShown,
          "tempo: typing 133.456 shows 133.46 and the plug-in plays at 133.46", std::to_string(lastBlockTempo(run)));
    SetDlgItemTextW(tempo, IDC_TEMPO_VALUE, L"44.5");
    sleepMs(500);
    check(lastBlockTempo(run) == 133.46, "tempo: typing 44.5 changes nothing in the engine", std::to_string(lastBlockTempo(run)));
    SetDlgItemTextW(tempo, IDC_TEMPO_VALUE, L"120");
    probeSeesTempo(run, 120.0);

    // The spin: a click on its upper half adds 0.01.
    HWND spin = GetDlgItem(tempo, IDC_TEMPO_SPIN);
    RECT spinRect{};
    GetClientRect(spin, &spinRect);
    postMouse(spin, WM_LBUTTONDOWN, spinRect.right / 2, spinRect.bottom / 4);
    postMouse(spin, WM_LBUTTONUP, spinRect.right / 2, spinRect.bottom / 4);
    const bool spun = waitItemText(tempo, IDC_TEMPO_VALUE, L"120.01") && probeSeesTempo(run, 120.01);
    check(spun,
          "tempo: the spin's upper arrow gives 120.01", narrow(itemText(tempo, IDC_TEMPO_VALUE)));

    // Dragging on the whole beats: three moves up give three beats more (one decimal).
    HWND edit = GetDlgItem(tempo, IDC_TEMPO_VALUE);
    postMouse(edit, WM_LBUTTONDOWN, 5, 10);
    for (int y : {8, 6, 4}) postMouse(edit, WM_MOUSEMOVE, 5, y);
    postMouse(edit, WM_LBUTTONUP, 5, 4);
    const bool draggedBeats = waitItemText(tempo, IDC_TEMPO_VALUE, L"123") && probeSeesTempo(run, 123.0);
    check(draggedBeats,
          "tempo: dragging the whole beats up by three moves gives 123", narrow(itemText(tempo, IDC_TEMPO_VALUE)));
    // On the decimals: two moves down take 0.2 off.
    postMouse(edit, WM_LBUTTONDOWN, 40, 4);
    for (int y : {6, 8}) postMouse(edit, WM_MOUSEMOVE, 40, y);
    postMouse(edit, WM_LBUTTONUP, 40, 8);
    const bool draggedTenths = waitItemText(tempo, IDC_TEMPO_VALUE, L"122.8") && probeSeesTempo(run, 122.8);
    check(draggedTenths,
          "tempo: dragging the decimals down by two moves gives 122.8", narrow(itemText(tempo, IDC_TEMPO_VALUE)));
    screenshot("tempo-window");

    // Taps about 500 ms apart: about 120 BPM, stored at once.
    HWND tap = GetDlgItem(tempo, IDC_TEMPO_TAP);
    for (int i = 0; i < 4; ++i) {
        if (i) sleepMs(500);
        SendMessageW(tap, BM_CLICK, 0, 0);
    }
    const double tapped = std::wcstod(itemText(tempo, IDC_TEMPO_VALUE).c_str(), nullptr);
    check(tapped > 100.0 && tapped <= 120.0 && probeSeesTempo(run, tapped) &&
              std::abs(std::wcstod(hostValue(effect, L"Tempo").c_str(), nullptr) - tapped) < 1e-9,
          "tempo: taps 500 ms apart set about 120 BPM, handed over and stored",
          std::to_string(tapped) + ", stored " + narrow(hostValue(effect, L"Tempo")));
    const std::wstring storedBefore = hostValue(effect, L"Tempo");

    // The close box keeps the stored tempo; the Close button stores it.
    SetDlgItemTextW(tempo, IDC_TEMPO_VALUE, L"150");
    probeSeesTempo(run, 150.0);
    PostMessageW(tempo, WM_CLOSE, 0, 0);
    check(waitUntil([&] { return !IsWindow(tempo); }, 5000) && hostValue(effect, L"Tempo") == storedBefore,
          "tempo: the close box leaves the stored tempo", narrow(hostValue(effect, L"Tempo")));
    tempo = openByCommand(run, ID_FILE_TEMPO, L"Tempo");
    check(tempo && itemText(tempo, IDC_TEMPO_VALUE) == L"150", "tempo: reopened after the close box, the window shows 150",
          tempo ? narrow(itemText(tempo, IDC_TEMPO_VALUE)) : "no window");
    if (tempo) {
        SetDlgItemTextW(tempo, IDC_TEMPO_VALUE, L"140.5");
        SendMessageW(GetDlgItem(tempo, IDOK), BM_CLICK, 0, 0);
        check(waitUntil([&] { return !IsWindow(tempo); }, 5000) && hostValue(effect, L"Tempo") == L"140.5",
              "tempo: Close stores the tempo", narrow(hostValue(effect, L"Tempo")));
    }

    // The probe is an instrument here: Audio Settings offers exclusive WASAPI and switches the
    // inputs off; the player's own controls are off and two record options remain.
    HWND audio = openByCommand(run, ID_FILE_AUDIOSETTINGS, L"Audio Settings");
    check(audio && joined(listTexts(audio, IDC_AUDIO_TYPE)) == "WASAPI (Shared Mode) | WASAPI (Exclusive Mode) | ASIO" &&
              !controlEnabled(audio, IDC_AUDIO_INPUT) && !controlEnabled(audio, IDC_AUDIO_INPUT_LEFT),
          "instrument: Audio Settings offers exclusive WASAPI, inputs off", audio ? joined(listTexts(audio, IDC_AUDIO_TYPE)) : "no window");
    if (audio) {
        selectEntry(audio, IDC_AUDIO_TYPE, 1);
        waitUntil([&] { return controlEnabled(audio, IDC_AUDIO_OUTPUT_SAMPLES); }, 10000);
        const int before = std::stoi("0" + narrow(itemText(audio, IDC_AUDIO_OUTPUT_SAMPLES)));
        HWND samplesSpin = GetDlgItem(audio, IDC_AUDIO_OUTPUT_SAMPLES_SPIN);
        RECT area{};
        GetClientRect(samplesSpin, &area);
        postMouse(samplesSpin, WM_LBUTTONDOWN, area.right / 2, area.bottom / 4);
        postMouse(samplesSpin, WM_LBUTTONUP, area.right / 2, area.bottom / 4);
        check(before > 0 && waitItemText(audio, IDC_AUDIO_OUTPUT_SAMPLES, std::to_wstring(before + 1)) &&
                  controlEnabled(audio, IDC_AUDIO_APPLY),
              "instrument: exclusive WASAPI opens the buffer size; the spin adds one sample and enables Apply",
              std::to_string(before) + " -> " + narrow(itemText(audio, IDC_AUDIO_OUTPUT_SAMPLES)) + " samples, " +
                  narrow(itemText(audio, IDC_AUDIO_OUTPUT_MS)) + " ms");
        PostMessageW(audio, WM_CLOSE, 0, 0);
        check(waitUntil([&] { return !IsWindow(audio); }, 5000), "instrument: the close box closes Audio Settings");
    }
    HWND player = openByCommand(run, ID_FILE_AUDIOPLAYER, L"Audio Player / Recorder");
    check(player && joined(listTexts(player, IDC_RECORDER_OPTION)) == "Manually | Start Recording on Midi Event" &&
              !controlEnabled(player, IDC_PLAYER_PLAY) && !controlEnabled(player, IDC_PLAYER_LOAD) &&
              controlEnabled(player, IDC_RECORDER_RECORD),
          "instrument: the player's controls are off, two record options", player ? joined(listTexts(player, IDC_RECORDER_OPTION)) : "no window");
    if (player) {
        screenshot("player-instrument");
        PostMessageW(player, WM_CLOSE, 0, 0);
        waitUntil([&] { return !IsWindow(player); }, 5000);
    }
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "tempo: Exit ends the process");
}

// A 16-bit stereo WAV of constant samples (left `value`, right -`value`).
void writeConstantWav(const fs::path& path, int frames, int rate, int16_t value) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(frames) * 4;
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate) * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    for (int i = 0; i < frames; ++i) {
        u16(static_cast<uint16_t>(value));
        u16(static_cast<uint16_t>(-value));
    }
}

// Whether a 16-bit stereo WAV holds a frame of about (left, right).
bool wavHoldsFrame(const fs::path& path, int left, int right) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t data = bytes.find("data");
    if (data == std::string::npos) return false;
    auto sample = [&](size_t at) {
        return static_cast<int>(static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8)));
    };
    for (size_t at = data + 8; at + 4 <= bytes.size(); at += 4) {
        if (std::abs(sample(at) - left) <= 2 && std::abs(sample(at + 2) - right) <= 2) return true;
    }
    return false;
}

void setHostValue(const std::wstring& effect, const wchar_t* name, const std::wstring* text, DWORD number) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (effectKey(effect) + L"\\Host").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (text) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                       static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t)));
    } else {
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    RegCloseKey(key);
}


// Answers the system's file dialog with a path (the file name field, then OK).
bool answerFileDialog(const HostRun& run, const std::wstring& caption, const fs::path& path, const std::string& shot = {}) {
    HWND dialog = nullptr;
    if (!waitUntil([&] { return (dialog = findWindow(run.pid(), caption)) != nullptr; }, 20000)) {
        listOpenWindows(run.pid());
        return false;
    }
    sleepMs(300);
    constexpr int kFileNameCombo = 0x47c;  // the explorer-style dialog's file name field
    constexpr int kFileNameEdit = 0x480;   // the older style's
    const std::wstring name = fs::path(path).make_preferred().wstring();  // the dialog wants backslashes
    SetDlgItemTextW(dialog, kFileNameCombo, name.c_str());
    SetDlgItemTextW(dialog, kFileNameEdit, name.c_str());
    if (!shot.empty()) screenshot(shot);
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    if (waitUntil([&] { return !IsWindow(dialog); }, 10000)) return true;
    std::printf("note: the file dialog stays open, its name field reads '%s' / '%s'\n",
                narrow(itemText(dialog, kFileNameCombo)).c_str(), narrow(itemText(dialog, kFileNameEdit)).c_str());
    return false;
}

void playerWindow() {
    const std::wstring effect = L"Probe Player";
    forgetSettings(effect);
    HostRun run("player", L"PlayerHost", "vorlane_probe.dll", "effectName=Probe Player\nflags=0x10\nprocessMode=1\n");
    setContentPath(effect, run.dir);
    // A sample in a folder with non-Latin characters, opened at start-up.
    const fs::path folder = run.dir / L"Klänge \u0417\u0432\u0443\u043a \u97f3";
    fs::create_directories(folder);
    const fs::path sample = folder / L"loop.wav";
    writeConstantWav(sample, 44100, 44100, 8192);  // one second at 0.25
    const std::wstring samplePath = sample.wstring();
    setHostValue(effect, L"samplePath", &samplePath, 0);
    setHostValue(effect, L"openPlayerOnStartup", nullptr, 1);
    setHostValue(effect, L"sampleLooped", nullptr, 1);
    run.start();
    if (!run.waitMainWindow(L"") || !audioAvailable) {
        check(false, "player: window and engine");
        return;
    }
    HWND player = nullptr;
    waitUntil([&] { return (player = findWindow(run.pid(), L"Audio Player / Recorder")) != nullptr; }, 10000);
    check(player != nullptr, "player: opened at start-up");
    if (!player) return;
    // The first window found may be the player itself: the main window is its owner.
    run.main = GetWindow(player, GW_OWNER);
    check(run.main && windowText(run.main).rfind(effect, 0) == 0, "player: owned by the main window", narrow(windowText(run.main)));
    check(itemText(player, IDC_PLAYER_FILENAME) == L"loop.wav", "player: the stored non-Latin path is loaded",
          narrow(itemText(player, IDC_PLAYER_FILENAME)));
    check(joined(listTexts(player, IDC_RECORDER_OPTION)) ==
              "Manually | Start Recording on Midi Event | Start Recording on Play | Start/Stop on Play/Stop",
          "player: record options", joined(listTexts(player, IDC_RECORDER_OPTION)));
    const auto lengths = listTexts(player, IDC_RECORDER_MAXLENGTH);
    check(lengths.size() == 19 && lengths.front() == L"1 Bar" && lengths[8] == L"12 Bar" && lengths.back() == L"16 min",
          "player: 19 length entries", joined(lengths));
    check(IsDlgButtonChecked(player, IDC_PLAYER_LOOP) == BST_CHECKED &&
              IsDlgButtonChecked(player, IDC_PLAYER_OPENONSTARTUP) == BST_CHECKED,
          "player: stored options shown");
    check(PostMessageW(run.main, WM_COMMAND, ID_FILE_AUDIOPLAYER, 0) && (sleepMs(400), countWindows(run.pid(), L"Audio Player / Recorder") == 1),
          "player: a second command opens no second window");

    // Play: the probe passes its input through, so its first input carries the file (0.25).
    SendMessageW(GetDlgItem(player, IDC_PLAYER_PLAY), BM_CLICK, 0, 0);
    check(itemText(player, IDC_PLAYER_PLAY) == L"Stop" && !controlEnabled(player, IDC_PLAYER_LOAD),
          "player: Play reads Stop and locks Load File", narrow(itemText(player, IDC_PLAYER_PLAY)));
    auto fileReachesProbe = [&] {
        const auto log = run.log();
        return findLine(log, [](const LogLine& l) {
            return l.kind == "block" && l.fields.size() > 5 && std::abs(std::stod(l.fields[5]) - 0.25) < 1e-3;
        }) >= 0;
    };
    check(waitUntil(fileReachesProbe, 5000), "player: the plug-in's input carries the file's samples");
    check(waitItemText(player, IDC_PLAYER_TIME, L"0:02", 6000) && itemText(player, IDC_PLAYER_PLAY) == L"Stop",
          "player: a looped one-second file still plays after two seconds", narrow(itemText(player, IDC_PLAYER_TIME)));
    SendMessageW(GetDlgItem(player, IDC_PLAYER_REWIND), BM_CLICK, 0, 0);
    check(itemText(player, IDC_PLAYER_TIME) == L"0:00", "player: <<| shows 0:00", narrow(itemText(player, IDC_PLAYER_TIME)));
    screenshot("player-window");
    SendMessageW(GetDlgItem(player, IDC_PLAYER_PLAY), BM_CLICK, 0, 0);
    check(itemText(player, IDC_PLAYER_PLAY) == L"Play" && controlEnabled(player, IDC_PLAYER_LOAD), "player: Stop reads Play");

    // Start Playing on Midi Event: Play waits for the first note (one from the computer keyboard).
    SendMessageW(GetDlgItem(player, IDC_PLAYER_STARTBYMIDI), BM_CLICK, 0, 0);
    SendMessageW(GetDlgItem(player, IDC_PLAYER_PLAY), BM_CLICK, 0, 0);
    sleepMs(1200);
    const std::wstring waiting = itemText(player, IDC_PLAYER_PLAY);
    postKey(run.main, 'D', true);
    postKey(run.main, 'D', false);
    check(waiting == L"Waiting" && waitItemText(player, IDC_PLAYER_PLAY, L"Stop", 3000),
          "player: Start Playing on Midi Event waits for a note, then plays", narrow(waiting));
    SendMessageW(GetDlgItem(player, IDC_PLAYER_PLAY), BM_CLICK, 0, 0);
    SendMessageW(GetDlgItem(player, IDC_PLAYER_STARTBYMIDI), BM_CLICK, 0, 0);

    // Options persist at once.
    SendMessageW(GetDlgItem(player, IDC_PLAYER_LOOP), BM_CLICK, 0, 0);
    DWORD looped = 1;
    check(readDword(effectKey(effect) + L"\\Host", L"sampleLooped", looped) && looped == 0, "player: Loop File stored");
    SendDlgItemMessageW(player, IDC_RECORDER_OPTION, CB_SETCURSEL, 3, 0);
    PostMessageW(player, WM_COMMAND, MAKEWPARAM(IDC_RECORDER_OPTION, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(player, IDC_RECORDER_OPTION)));
    DWORD option = 0;
    check(waitUntil([&] { return readDword(effectKey(effect) + L"\\Host", L"sampleRecordOption", option) && option == 3; }, 3000) &&
              !controlEnabled(player, IDC_RECORDER_RECORD) && !controlEnabled(player, IDC_RECORDER_MAXLENGTH),
          "player: Start/Stop on Play/Stop is stored and locks Start Recording and the length list");
    SendDlgItemMessageW(player, IDC_RECORDER_OPTION, CB_SETCURSEL, 0, 0);
    PostMessageW(player, WM_COMMAND, MAKEWPARAM(IDC_RECORDER_OPTION, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(player, IDC_RECORDER_OPTION)));
    waitUntil([&] { return controlEnabled(player, IDC_RECORDER_RECORD); }, 3000);

    // Record by hand while the (now not looped) file plays; the file stops by itself. Then stop,
    // answer Yes and save through the Save As dialog into a non-Latin name.
    SendMessageW(GetDlgItem(player, IDC_PLAYER_PLAY), BM_CLICK, 0, 0);
    PostMessageW(GetDlgItem(player, IDC_RECORDER_RECORD), BM_CLICK, 0, 0);
    check(waitItemText(player, IDC_RECORDER_RECORD, L"Stop Recording"), "player: Start Recording reads Stop Recording");
    check(waitItemText(player, IDC_PLAYER_PLAY, L"Play", 5000),
          "player: a 44.1 kHz file that is not looped stops by itself on a 48 kHz device");
    PostMessageW(GetDlgItem(player, IDC_RECORDER_RECORD), BM_CLICK, 0, 0);
    HWND question = nullptr;
    waitUntil([&] { return (question = findWindow(run.pid(), L"Vorlane")) != nullptr; }, 10000);
    const std::wstring questionText = question ? itemText(question, 0xFFFF) : L"";
    check(questionText == L"Would you like to save the record?", "player: the save question", narrow(questionText));
    if (question) {
        screenshot("player-save-question");
        PostMessageW(question, WM_COMMAND, IDYES, 0);
        const fs::path saved = folder / L"\u0417\u0430\u043f\u0438\u0441\u044c.wav";
        check(answerFileDialog(run, L"Save As", saved, "player-save-as"), "player: the Save As dialog takes the path");
        check(waitUntil([&] { return fs::exists(saved) && fs::file_size(saved) > 44 + 4 * 44100 / 2; }, 5000),
              "player: the recording is saved as a WAV under a non-Latin name",
              fs::exists(saved) ? std::to_string(fs::file_size(saved)) + " bytes" : "missing");
        check(wavHoldsFrame(saved, 8192, -8192), "player: the saved recording holds the file's samples passed through the plug-in");
    }

    // A broken file: the error, and the name emptied.
    const fs::path broken = folder / L"broken.wav";
    std::ofstream(broken) << "not a wave file";
    PostMessageW(GetDlgItem(player, IDC_PLAYER_LOAD), BM_CLICK, 0, 0);
    const bool chosen = answerFileDialog(run, L"Open", broken);
    const std::wstring error = chosen ? messageBox(run, L"Error") : L"";
    check(chosen && error == L"Error loading Sample File!" && itemText(player, IDC_PLAYER_FILENAME).empty() &&
              hostValue(effect, L"samplePath") == samplePath,
          "player: a broken file gives the load error and keeps the stored path", narrow(error));

    // Closing keeps the start-up choice of the box.
    SendMessageW(GetDlgItem(player, IDC_PLAYER_OPENONSTARTUP), BM_CLICK, 0, 0);
    PostMessageW(player, WM_CLOSE, 0, 0);
    DWORD onStartup = 1;
    check(waitUntil([&] { return !IsWindow(player); }, 5000) &&
              readDword(effectKey(effect) + L"\\Host", L"openPlayerOnStartup", onStartup) && onStartup == 0,
          "player: closing stores the start-up option");
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    const bool ended = run.waitExit(15000);
    if (!ended) listOpenWindows(run.pid());
    check(ended, "player: Exit ends the process");
}

void settingsWindows() {
    const std::wstring effect = L"Probe Settings";
    forgetSettings(effect);
    HostRun run("settings", L"SettingsHost", "vorlane_probe.dll", "effectName=Probe Settings\nflags=0x10\n");
    setContentPath(effect, run.dir);
    // A stored MIDI input that is the clock source (the device itself is absent under Wine).
    HKEY device = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (effectKey(effect) + L"\\Host\\Midi Device 0").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &device, nullptr) == ERROR_SUCCESS) {
        const std::wstring name = L"Clock Keyboard";
        RegSetValueExW(device, L"name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
        const DWORD on = 1;
        for (const wchar_t* value : {L"in", L"active", L"sync"})
            RegSetValueExW(device, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        RegCloseKey(device);
    }
    run.start();
    if (!run.waitMainWindow(L"") || !audioAvailable || !waitUntil([&] { return countBlocks(run.log()) > 0; }, 10000)) {
        check(false, "settings: window and engine");
        return;
    }

    // Audio Settings of an effect with inputs on a system with WASAPI devices.
    HWND audio = openByCommand(run, ID_FILE_AUDIOSETTINGS, L"Audio Settings");
    check(audio != nullptr, "audio settings: the menu command opens the window");
    if (audio) {
        check(joined(listTexts(audio, IDC_AUDIO_TYPE)) == "WASAPI (Shared Mode) | ASIO" && selection(audio, IDC_AUDIO_TYPE) == 0,
              "audio settings: shared WASAPI and ASIO offered, no exclusive mode", joined(listTexts(audio, IDC_AUDIO_TYPE)));
        const auto outputs = listTexts(audio, IDC_AUDIO_OUTPUT);
        const int chosen = selection(audio, IDC_AUDIO_OUTPUT);
        check(chosen >= 0 && chosen < static_cast<int>(outputs.size()) && outputs[static_cast<size_t>(chosen)] == defaultOutputName,
              "audio settings: the current output device is selected", joined(outputs));
        check(!listTexts(audio, IDC_AUDIO_INPUT).empty() && controlEnabled(audio, IDC_AUDIO_INPUT),
              "audio settings: input devices listed and enabled for an effect with inputs");
        const auto channels = listTexts(audio, IDC_AUDIO_OUTPUT_LEFT);
        check(channels.size() >= 2 && channels == listTexts(audio, IDC_AUDIO_OUTPUT_RIGHT) &&
                  selection(audio, IDC_AUDIO_OUTPUT_LEFT) == 0 && selection(audio, IDC_AUDIO_OUTPUT_RIGHT) == 1,
              "audio settings: output channels listed, 0 and 1 chosen", joined(channels));
        check(!controlEnabled(audio, IDC_AUDIO_OUTPUT_SAMPLES) && !controlEnabled(audio, IDC_AUDIO_OUTPUT_MS_SPIN) &&
                  !controlEnabled(audio, IDC_AUDIO_CONTROLPANEL) && !controlEnabled(audio, IDC_AUDIO_APPLY),
              "audio settings: shared WASAPI sets the buffer size; Control Panel and Apply off");
        check(itemText(audio, IDC_AUDIO_INPUT_SAMPLES).empty() && itemText(audio, IDC_AUDIO_INPUT_MS).empty() &&
                  !controlEnabled(audio, IDC_AUDIO_INPUT_SAMPLES) && !controlEnabled(audio, IDC_AUDIO_INPUT_MS),
              "audio settings: the input latency, which no device reports, is greyed and empty");
        PostMessageW(run.main, WM_COMMAND, ID_FILE_AUDIOSETTINGS, 0);
        sleepMs(400);
        check(countWindows(run.pid(), L"Audio Settings") == 1, "audio settings: a second command opens no second window");
        screenshot("audio-settings");

        // A channel choice enables Apply; Apply restarts the engine and stores the choice.
        if (channels.size() >= 2) {
            selectEntry(audio, IDC_AUDIO_OUTPUT_RIGHT, 0);
            check(waitUntil([&] { return controlEnabled(audio, IDC_AUDIO_APPLY); }, 3000), "audio settings: a channel choice enables Apply");
            const int blockSizes = countCalls(run.log(), 11);
            PostMessageW(GetDlgItem(audio, IDC_AUDIO_APPLY), BM_CLICK, 0, 0);
            DWORD right = 1;
            check(waitUntil([&] { return !controlEnabled(audio, IDC_AUDIO_APPLY); }, 15000) &&
                      waitUntil([&] { return countCalls(run.log(), 11) > blockSizes; }, 10000) &&
                      readDword(effectKey(effect) + L"\\Host", L"AudioDeviceOut Right", right) && right == 0,
                  "audio settings: Apply restarts the engine (effSetBlockSize again) and stores the right channel",
                  "right " + std::to_string(right));
        }
        SendMessageW(GetDlgItem(audio, IDOK), BM_CLICK, 0, 0);
        check(waitUntil([&] { return !IsWindow(audio); }, 10000), "audio settings: OK closes the window");
    }

    // Midi Settings under Wine: no MIDI devices.
    HWND midi = openByCommand(run, ID_FILE_MIDISETTINGS, L"Midi Settings");
    check(midi != nullptr, "midi settings: the menu command opens the window");
    if (midi) {
        check(SendDlgItemMessageW(midi, IDC_MIDI_INPUTS, LB_GETCOUNT, 0, 0) == 0 && !controlEnabled(midi, IDC_MIDI_ACTIVE) &&
                  !controlEnabled(midi, IDC_MIDI_RANGE_RIGHT) && !controlEnabled(midi, IDC_MIDI_DELAY_SPIN),
              "midi settings: empty input list, options disabled");
        check(joined(listTexts(midi, IDC_MIDI_OUTPUT)) == "No Output" && selection(midi, IDC_MIDI_OUTPUT) == 0 &&
                  !controlEnabled(midi, IDC_MIDI_APPLY),
              "midi settings: No Output chosen, Apply off", joined(listTexts(midi, IDC_MIDI_OUTPUT)));
        const auto notes = listTexts(midi, IDC_MIDI_RANGE_LEFT);
        const auto channelEntries = listTexts(midi, IDC_MIDI_CHANNEL);
        check(notes.size() == 128 && notes[0] == L"C-2" && notes[60] == L"C3" && notes[127] == L"G8" &&
                  selection(midi, IDC_MIDI_RANGE_RIGHT) == 127 && channelEntries.size() == 17 &&
                  channelEntries[0] == L"all" && channelEntries[16] == L"16",
              "midi settings: note names and channels listed");
        screenshot("midi-settings");
        SendMessageW(GetDlgItem(midi, IDOK), BM_CLICK, 0, 0);
        check(waitUntil([&] { return !IsWindow(midi); }, 10000), "midi settings: OK closes the window");
    }
    // While an input is the clock source, Tempo warns instead of opening.
    PostMessageW(run.main, WM_COMMAND, ID_FILE_TEMPO, 0);
    const std::wstring warning = messageBox(run, L"Warning");
    check(warning == L"The tempo is already synced by an external Midi device!\r\nTo change this open the Midi Settings Dialog." &&
              countWindows(run.pid(), L"Tempo") == 0,
          "settings: Tempo with a clock-synced input shows the warning", narrow(warning));
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "settings: Exit ends the process");
}

// ---- the settings windows with devices: the test ASIO driver and the test MIDI driver ----------

// Ctrl plus a letter through the system's input queue, with the main window in front.
void sendCtrlKey(const HostRun& run, WORD key) {
    SetForegroundWindow(run.main);
    sleepMs(200);
    sendInputKey(VK_CONTROL, true);
    sendInputKey(key, true);
    sendInputKey(key, false);
    sendInputKey(VK_CONTROL, false);
}

// Opens a window by its shortcut, then sends the shortcut again from the main window: the same
// window must come to the front and no second one may open.
HWND openByShortcut(const HostRun& run, WORD key, const std::wstring& caption, const std::string& name) {
    sendCtrlKey(run, key);
    HWND window = nullptr;
    waitUntil([&] { return (window = findWindow(run.pid(), caption)) != nullptr; }, 10000);
    check(window != nullptr, name + ": Ctrl+" + std::string(1, static_cast<char>(key)) + " opens the window");
    if (!window) return nullptr;
    sendCtrlKey(run, key);
    const bool inFront = waitUntil([&] { return GetForegroundWindow() == window; }, 5000);
    check(inFront && countWindows(run.pid(), caption) == 1 && IsWindow(window),
          name + ": a second Ctrl+" + std::string(1, static_cast<char>(key)) + " brings the same window to the front",
          std::to_string(countWindows(run.pid(), caption)) + " windows");
    return window;
}

// The entries of the Midi Settings input list. The owner-drawn list keeps no strings: each item's
// data points at the entry inside the host, and the entry starts with its text.
std::vector<std::wstring> inputListTexts(const HostRun& run, HWND dialog) {
    std::vector<std::wstring> texts;
    const int count = static_cast<int>(SendDlgItemMessageW(dialog, IDC_MIDI_INPUTS, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT entry = SendDlgItemMessageW(dialog, IDC_MIDI_INPUTS, LB_GETITEMDATA, static_cast<WPARAM>(i), 0);
        wchar_t text[256] = {};
        SIZE_T read = 0;
        if (entry == LB_ERR ||
            !ReadProcessMemory(run.process.hProcess, reinterpret_cast<const void*>(entry), text, sizeof text - sizeof(wchar_t), &read))
            text[0] = L'\0';
        texts.push_back(text);
    }
    return texts;
}

// A DWORD of the stored MIDI device record with this name and direction; -1 when there is none.
long midiRecordValue(const std::wstring& effect, const std::wstring& name, bool input, const wchar_t* value) {
    for (int number = 0; number < 64; ++number) {
        const std::wstring key = effectKey(effect) + L"\\Host\\Midi Device " + std::to_wstring(number);
        std::wstring stored;
        DWORD in = 0, result = 0;
        if (!readString(key, L"name", stored)) return -1;
        if (stored != name || !readDword(key, L"in", in) || (in != 0) != input) continue;
        return readDword(key, value, result) ? static_cast<long>(result) : -1;
    }
    return -1;
}

void midiSettingsWithDevices(const HostRun& run, const std::wstring& effect) {
    HWND midi = openByShortcut(run, 'M', L"Midi Settings", "midi devices");
    if (!midi) return;
    const std::string inputs = joined(inputListTexts(run, midi));
    check(inputs == "Vorlane Test In 1 | Vorlane Test In 2" && controlEnabled(midi, IDC_MIDI_INPUTS) &&
              !controlEnabled(midi, IDC_MIDI_ACTIVE),
          "midi devices: the input list shows the driver's inputs; options off until one is chosen", inputs);
    // The outputs, then the system's MIDI mapper (Wine has one once a driver offers ports).
    const auto outputs = listTexts(midi, IDC_MIDI_OUTPUT);
    check(outputs.size() == 4 && joined({outputs.begin(), outputs.begin() + 3}) == "No Output | Vorlane Test Out 1 | Vorlane Test Out 2" &&
              selection(midi, IDC_MIDI_OUTPUT) == 0 && controlEnabled(midi, IDC_MIDI_OUTPUT),
          "midi devices: the output list offers the driver's outputs and the mapper besides No Output", joined(outputs));

    // New inputs are active. The first one switched off; the second one the clock source on
    // channel 3. Apply stores each in its own record.
    auto chooseInput = [&](int index) {
        SendDlgItemMessageW(midi, IDC_MIDI_INPUTS, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        // Sent, not posted: the options below must reach the entry chosen here.
        SendMessageW(midi, WM_COMMAND, MAKEWPARAM(IDC_MIDI_INPUTS, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(midi, IDC_MIDI_INPUTS)));
        return waitUntil([&] { return controlEnabled(midi, IDC_MIDI_ACTIVE) && controlEnabled(midi, IDC_MIDI_CHANNEL); }, 3000);
    };
    check(chooseInput(0) && IsDlgButtonChecked(midi, IDC_MIDI_ACTIVE) == BST_CHECKED &&
              IsDlgButtonChecked(midi, IDC_MIDI_SYNC) == BST_UNCHECKED && selection(midi, IDC_MIDI_CHANNEL) == 0,
          "midi devices: choosing an input enables its options (a new input is active, no clock sync, all channels)");
    SendMessageW(GetDlgItem(midi, IDC_MIDI_ACTIVE), BM_CLICK, 0, 0);
    chooseInput(1);
    // The list asks its owner where a key leads; the answer must reach it as the dialog
    // procedure's own return value (through DWLP_MSGRESULT it would read TRUE, entry 1).
    SendDlgItemMessageW(midi, IDC_MIDI_INPUTS, WM_KEYDOWN, VK_UP, 0);
    check(SendDlgItemMessageW(midi, IDC_MIDI_INPUTS, LB_GETCURSEL, 0, 0) == 0,
          "midi devices: the up arrow on the second input selects the first");
    chooseInput(1);
    SendMessageW(GetDlgItem(midi, IDC_MIDI_SYNC), BM_CLICK, 0, 0);
    selectEntry(midi, IDC_MIDI_CHANNEL, 3);
    check(waitUntil([&] { return controlEnabled(midi, IDC_MIDI_APPLY); }, 3000), "midi devices: a changed option enables Apply");
    screenshot("midi-settings-devices", midi);
    PostMessageW(GetDlgItem(midi, IDC_MIDI_APPLY), BM_CLICK, 0, 0);
    const std::wstring in2 = L"Vorlane Test In 2";
    const bool stored = waitUntil([&] {
        return midiRecordValue(effect, in2, true, L"active") == 1 && midiRecordValue(effect, in2, true, L"sync") == 1 &&
               midiRecordValue(effect, in2, true, L"channel") == 3;
    }, 5000);
    check(stored && !controlEnabled(midi, IDC_MIDI_APPLY) && midiRecordValue(effect, L"Vorlane Test In 1", true, L"active") == 0 &&
              midiRecordValue(effect, L"Vorlane Test In 1", true, L"sync") == 0,
          "midi devices: Apply stores the first input off and the second as clock source on channel 3",
          "active " + std::to_string(midiRecordValue(effect, in2, true, L"active")) + ", sync " +
              std::to_string(midiRecordValue(effect, in2, true, L"sync")) + ", channel " +
              std::to_string(midiRecordValue(effect, in2, true, L"channel")));

    // An output chosen, then OK: its record is marked active.
    selectEntry(midi, IDC_MIDI_OUTPUT, 2);
    waitUntil([&] { return controlEnabled(midi, IDC_MIDI_APPLY); }, 3000);
    PostMessageW(GetDlgItem(midi, IDOK), BM_CLICK, 0, 0);
    const bool closed = waitUntil([&] { return !IsWindow(midi); }, 10000) &&
                        waitUntil([&] { return midiRecordValue(effect, L"Vorlane Test Out 2", false, L"active") == 1; }, 5000);
    check(closed && midiRecordValue(effect, L"Vorlane Test Out 1", false, L"active") == 0,
          "midi devices: OK stores the chosen output as the active one",
          "Out 1 " + std::to_string(midiRecordValue(effect, L"Vorlane Test Out 1", false, L"active")) + ", Out 2 " +
              std::to_string(midiRecordValue(effect, L"Vorlane Test Out 2", false, L"active")));
}

void audioSettingsWithAsio(const HostRun& run, const std::wstring& effect) {
    HWND audio = openByShortcut(run, 'A', L"Audio Settings", "asio");
    if (!audio) return;
    const std::string types = joined(listTexts(audio, IDC_AUDIO_TYPE));
    check(types == "WASAPI (Shared Mode) | WASAPI (Exclusive Mode) | ASIO", "asio: the type list of an instrument ends with ASIO", types);
    // Choosing ASIO lists the drivers and loads the first one; the driver sets the buffer size.
    selectEntry(audio, IDC_AUDIO_TYPE, 2);
    const char* drivers = "Vorlane Test ASIO | D Second Driver | Vorlane Refusing ASIO | Vorlane Test ASIO with a forty-char name";
    check(waitUntil([&] { return joined(listTexts(audio, IDC_AUDIO_OUTPUT)) == drivers; }, 10000) &&
              selection(audio, IDC_AUDIO_OUTPUT) == 0,
          "asio: choosing ASIO lists the registered drivers, the first one chosen", joined(listTexts(audio, IDC_AUDIO_OUTPUT)));
    check(waitItemText(audio, IDC_AUDIO_OUTPUT_SAMPLES, L"256") && !controlEnabled(audio, IDC_AUDIO_OUTPUT_SAMPLES) &&
              !controlEnabled(audio, IDC_AUDIO_OUTPUT_SAMPLES_SPIN) && !controlEnabled(audio, IDC_AUDIO_OUTPUT_MS) &&
              !controlEnabled(audio, IDC_AUDIO_OUTPUT_MS_SPIN) && controlEnabled(audio, IDC_AUDIO_CONTROLPANEL),
          "asio: the buffer controls are off and show the driver's preferred 256 samples; Control Panel on",
          narrow(itemText(audio, IDC_AUDIO_OUTPUT_SAMPLES)));

    // A driver whose class cannot be created: no details, and its Control Panel cannot open.
    selectEntry(audio, IDC_AUDIO_OUTPUT, 2);
    const std::wstring infos = messageBox(run, L"Error");
    PostMessageW(GetDlgItem(audio, IDC_AUDIO_CONTROLPANEL), BM_CLICK, 0, 0);
    const std::wstring panel = messageBox(run, L"Error", "asio-controlpanel-refused");
    check(infos == L"Error getting Device Infos!\r\nVorlane Refusing ASIO" && panel == L"Unable to open ASIO Controlpanel!",
          "asio: a driver that cannot be created gives the details error naming it, then the Control Panel error",
          narrow(infos) + " / " + narrow(panel));

    // The test driver answers its control panel call with ASE_OK: no message.
    selectEntry(audio, IDC_AUDIO_OUTPUT, 0);
    waitUntil([&] { return selection(audio, IDC_AUDIO_OUTPUT) == 0 && itemText(audio, IDC_AUDIO_OUTPUT_SAMPLES) == L"256"; }, 5000);
    PostMessageW(GetDlgItem(audio, IDC_AUDIO_CONTROLPANEL), BM_CLICK, 0, 0);
    sleepMs(1500);
    check(findWindow(run.pid(), L"Error") == nullptr, "asio: Control Panel of the test driver, which opens it, shows no message");
    screenshot("audio-settings-asio", audio);

    // Apply runs the engine on the driver at its preferred size and stores the choice.
    const int blockSizes = countCalls(run.log(), 11);
    PostMessageW(GetDlgItem(audio, IDC_AUDIO_APPLY), BM_CLICK, 0, 0);
    auto setTo256 = [&] {
        const auto log = run.log();
        int seen = 0;
        for (const auto& line : log) {
            if (opcodeOf(line) != 11) continue;
            if (++seen > blockSizes && line.fields.size() > 2 && line.fields[2] == "256") return true;
        }
        return false;
    };
    DWORD type = 0;
    const bool restarted = waitUntil(setTo256, 15000) && waitUntil([&] { return !controlEnabled(audio, IDC_AUDIO_APPLY); }, 5000);
    const bool typeStored = readDword(effectKey(effect) + L"\\Host", L"AudioDeviceType", type);
    check(restarted && typeStored && type == 2 &&
              hostValue(effect, L"AudioDeviceOut Name") == L"Vorlane Test ASIO",
          "asio: Apply restarts on the driver with effSetBlockSize 256 and stores ASIO and its name",
          "type " + std::to_string(type) + ", output " + narrow(hostValue(effect, L"AudioDeviceOut Name")));
    // Back to the default output: the test driver switches without pause.
    selectEntry(audio, IDC_AUDIO_TYPE, 0);
    waitUntil([&] { return controlEnabled(audio, IDC_AUDIO_APPLY); }, 5000);
    PostMessageW(GetDlgItem(audio, IDOK), BM_CLICK, 0, 0);
    check(waitUntil([&] { return !IsWindow(audio); }, 15000), "asio: OK closes the window");
}

// An instrument that receives and sends MIDI, started with the test MIDI driver's ports.
void devicesInSettings() {
    const std::wstring effect = L"Probe Devices";
    forgetSettings(effect);
    HostRun run("devices", L"DevicesHost", "vorlane_probe.dll", "effectName=Probe Devices\nflags=0x110\ncanDoSend=1\n");
    setContentPath(effect, run.dir);
    SetEnvironmentVariableW(L"VORLANE_TEST_MIDI", L"1");
    run.start();
    SetEnvironmentVariableW(L"VORLANE_TEST_MIDI", nullptr);
    if (!run.waitMainWindow(L"") || !audioAvailable || !waitUntil([&] { return countBlocks(run.log()) > 0; }, 10000)) {
        check(false, "devices: window and engine");
        return;
    }
    midiSettingsWithDevices(run, effect);
    audioSettingsWithAsio(run, effect);
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "devices: Exit ends the process");
}

// ---- nothing the user makes is lost ---------------------------------------------------------

// The folder a plug-in without "contentpath" keeps its state in.
fs::path userStateFolder(const std::wstring& effect) {
    wchar_t appData[MAX_PATH] = {};
    GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
    return fs::path(appData) / L"Vorlane" / effect;
}

bool hasLine(const std::vector<LogLine>& log, const std::string& text) {
    return findLine(log, [&](const LogLine& l) { return l.text == text; }) >= 0;
}

// Starts the host, waits for its engine and leaves it through File > Exit.
bool runUntilExit(HostRun& run, const std::string& name) {
    run.start();
    if (!run.waitMainWindow(L"") || !waitUntil([&] { return countBlocks(run.log()) > 0; }, 10000)) {
        check(false, name + ": window and engine");
        return false;
    }
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    const bool ended = run.waitExit(15000);
    check(ended, name + ": Exit ends the process");
    return ended;
}

// A plug-in of another maker has no "contentpath": its chunk, and for one without chunks its
// parameters and program, are kept in the user's own folder and handed back at the next start.
void stateForEveryPlugin() {
    struct Case {
        std::string name;
        std::wstring effect;
        std::string first;   // the plug-in's state during the first run
        std::string second;  // the state it starts the second run with
        std::vector<std::string> received;
        const wchar_t* file;
    };
    const Case cases[] = {
        {"state-chunk", L"Probe Keeps Chunk", "flags=0x130\nchunk=dialled-in-patch\n", "flags=0x130\nchunk=factory\n",
         {"chunk dialled-in-patch"}, L"saved.chunk"},
        {"state-parameters", L"Probe Keeps Parameters",
         "flags=0x110\nnumParams=3\nnumPrograms=4\nprogram=2\nparams=0.125,0.5,0.75\n",
         "flags=0x110\nnumParams=3\nnumPrograms=4\nprogram=0\nparams=0,0,0\n",
         {"call 2 0 2 0 ", "param 0 0.125", "param 1 0.5", "param 2 0.75"}, L"saved.parameters"},
    };
    for (const Case& c : cases) {
        forgetSettings(c.effect);
        std::error_code ec;
        fs::remove_all(userStateFolder(c.effect), ec);
        const std::string effectLine = "effectName=" + narrow(c.effect) + "\n";
        {
            HostRun run(c.name, L"StateHost", "vorlane_probe.dll", effectLine + c.first);
            if (!runUntilExit(run, c.name)) continue;
        }
        check(fs::exists(userStateFolder(c.effect) / c.file), c.name + ": Exit keeps the state in the user's folder",
              narrow((userStateFolder(c.effect) / c.file).wstring()));
        HostRun again(c.name + "-again", L"StateHost", "vorlane_probe.dll", effectLine + c.second);
        if (!runUntilExit(again, c.name + " again")) continue;
        const auto log = again.log();
        std::string missing;
        for (const auto& line : c.received) {
            if (!hasLine(log, line)) missing += (missing.empty() ? "" : ", ") + line;
        }
        check(missing.empty(), c.name + ": the next start hands the saved state to the plug-in",
              missing.empty() ? "" : "missing " + missing);
    }
}

// A recording running at Exit is offered for saving and saved; at the end of a session it is
// saved beside the state under a time-stamped name.
void recordingAtExit() {
    const std::wstring effect = L"Probe Exit Take";
    forgetSettings(effect);
    std::error_code ec;
    fs::remove_all(userStateFolder(effect), ec);
    setHostValue(effect, L"openPlayerOnStartup", nullptr, 1);
    setHostValue(effect, L"sampleRecordMaxBars", nullptr, 17);  // "8 min": the take runs until Exit
    const std::string config = "effectName=Probe Exit Take\nflags=0x110\nprocessMode=2\n";
    auto startRecording = [&](HostRun& run, const std::string& name) -> HWND {
        run.start();
        HWND player = nullptr;
        if (!run.waitMainWindow(L"") || !audioAvailable ||
            !waitUntil([&] { return (player = findWindow(run.pid(), L"Audio Player / Recorder")) != nullptr; }, 10000)) {
            check(false, name + ": window, engine and player");
            return nullptr;
        }
        run.main = GetWindow(player, GW_OWNER);
        PostMessageW(GetDlgItem(player, IDC_RECORDER_RECORD), BM_CLICK, 0, 0);
        check(waitItemText(player, IDC_RECORDER_RECORD, L"Stop Recording") && waitItemText(player, IDC_RECORDER_TIME, L"0:01 / max:", 5000) ,
              name + ": recording", narrow(itemText(player, IDC_RECORDER_TIME)));
        return player;
    };
    {
        HostRun run("exit-take", L"TakeHost", "vorlane_probe.dll", config);
        if (!startRecording(run, "exit-take")) return;
        PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
        HWND question = nullptr;
        waitUntil([&] { return (question = findWindow(run.pid(), L"Vorlane")) != nullptr; }, 10000);
        const std::wstring text = question ? itemText(question, 0xFFFF) : L"";
        check(text == L"Would you like to save the record?", "exit-take: Exit asks the save question", narrow(text));
        if (question) {
            screenshot("exit-take-question");
            PostMessageW(question, WM_COMMAND, IDYES, 0);
            const fs::path saved = run.dir / L"exit-take.wav";
            check(answerFileDialog(run, L"Save As", saved), "exit-take: the Save As dialog takes the path");
            check(run.waitExit(15000), "exit-take: the host ends after the save");
            check(fs::exists(saved) && fs::file_size(saved) > 44 + 4 * 4800 && wavHoldsFrame(saved, 8191, 32767),
                  "exit-take: the take is saved with the plug-in's output",
                  fs::exists(saved) ? std::to_string(fs::file_size(saved)) + " bytes" : "missing");
        }
    }
    HostRun run("exit-take-session", L"TakeHost", "vorlane_probe.dll", config);
    if (!startRecording(run, "exit-take session")) return;
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(run.main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer);
    SendMessageTimeoutW(run.main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 10000, &answer);
    check(findWindow(run.pid(), L"Vorlane") == nullptr, "exit-take: the end of a session asks nothing");
    std::vector<fs::path> takes;
    for (const auto& entry : fs::directory_iterator(userStateFolder(effect), ec)) {
        if (entry.path().filename().wstring().rfind(L"Recording ", 0) == 0) takes.push_back(entry.path());
    }
    check(takes.size() == 1 && std::regex_match(narrow(takes[0].filename().wstring()),
                                                std::regex(R"(Recording \d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.wav)")) &&
              fs::file_size(takes[0]) > 44 + 4 * 4800 && wavHoldsFrame(takes[0], 8191, 32767),
          "exit-take: the end of a session saves the take beside the state",
          takes.empty() ? "none" : narrow(takes[0].filename().wstring()));
    PostMessageW(run.main, WM_CLOSE, 0, 0);
    check(run.waitExit(15000) , "exit-take: closing after the session's end asks nothing more");
}

// Collects the texts of the host's "Error" boxes until none comes for quietMs.
std::vector<std::wstring> dismissErrors(const HostRun& run, int quietMs) {
    std::vector<std::wstring> texts;
    for (int boxes = 0; boxes < 8; ++boxes) {
        HWND box = nullptr;
        if (!waitUntil([&] { return (box = findWindow(run.pid(), L"Error")) != nullptr; }, quietMs)) return texts;
        texts.push_back(itemText(box, 0xFFFF));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        waitUntil([&] { return !IsWindow(box); }, 5000);
    }
    return texts;
}

// Fresh settings for the effect with the test ASIO driver chosen; answers the driver's name.
std::wstring storeTestAsioDriver(const std::wstring& effect) {
    forgetSettings(effect);
    setHostValue(effect, L"AudioDeviceType", nullptr, 2);
    const std::wstring driver = L"Vorlane Test ASIO";
    setHostValue(effect, L"AudioDeviceOut Name", &driver, 0);
    return driver;
}

// With the engine on an ASIO driver: opening Audio Settings and browsing the drivers and types
// never stops it; a failed Apply says so and brings back the working driver and its sound.
void audioSettingsKeepTheEngine() {
    const std::wstring effect = L"Probe Asio Engine";
    const std::wstring driver = storeTestAsioDriver(effect);
    // The test driver calls back as fast as it can: a log line per 1000 blocks is plenty.
    HostRun run("asio-engine", L"AsioEngineHost", "vorlane_probe.dll",
                "effectName=Probe Asio Engine\nflags=0x110\nblockLogInterval=1000\n");
    run.start();
    if (!run.waitMainWindow(L"") || !waitUntil([&] { return countBlocks(run.log()) > 0; }, 10000)) {
        check(false, "asio-engine: window and engine on the test ASIO driver");
        return;
    }
    auto blocksFlow = [&] {
        const int before = countBlocks(run.log());
        sleepMs(600);
        return countBlocks(run.log()) > before;
    };
    auto engineRunning = [&] { return menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE) == L"&Audioengine Running\tCtrl+R"; };
    HWND audio = openByCommand(run, ID_FILE_AUDIOSETTINGS, L"Audio Settings");
    if (!audio) {
        check(false, "asio-engine: Audio Settings opens");
        return;
    }
    check(selection(audio, IDC_AUDIO_TYPE) == 2 && selection(audio, IDC_AUDIO_OUTPUT) == 0 && blocksFlow() && engineRunning(),
          "asio-engine: opening Audio Settings on the running driver keeps the engine running");
    struct Browse {
        int control;
        int index;
        const char* what;
    };
    const Browse steps[] = {
        {IDC_AUDIO_OUTPUT, 1, "the second driver"},  {IDC_AUDIO_OUTPUT, 3, "the fourth driver"},
        {IDC_AUDIO_TYPE, 0, "the WASAPI type"},      {IDC_AUDIO_TYPE, 2, "the ASIO type again"},
        {IDC_AUDIO_OUTPUT, 2, "the refusing driver"},
    };
    for (const Browse& step : steps) {
        selectEntry(audio, step.control, step.index);
        sleepMs(300);
        const auto errors = dismissErrors(run, 500);
        check(errors.empty() && blocksFlow() && engineRunning(), std::string("asio-engine: browsing to ") + step.what +
                                                                     " never stops the engine",
              errors.empty() ? "" : narrow(errors[0]));
    }
    check(!controlEnabled(audio, IDC_AUDIO_OUTPUT_LEFT) && controlEnabled(audio, IDC_AUDIO_APPLY),
          "asio-engine: a driver not loaded beside the running one shows greyed channels");
    screenshot("asio-engine-browsed", audio);

    // Apply with the driver that cannot be created: the failure is reported and the working
    // driver comes back, in the window, in the registry and in the engine.
    PostMessageW(GetDlgItem(audio, IDC_AUDIO_APPLY), BM_CLICK, 0, 0);
    const auto errors = dismissErrors(run, 3000);
    // One failure, one message: no "Error getting Device Infos!" before it, the driver named.
    check(errors.size() == 1 && errors.back().rfind(L"Couldn't start Audioengine\r\n", 0) == 0 &&
              errors.back().find(L"Refusing") != std::wstring::npos,
          "asio-engine: a failed Apply says so once, naming the driver",
          errors.empty() ? "no message" : std::to_string(errors.size()) + " boxes, the last " + narrow(errors.back()));
    check(waitUntil([&] { return selection(audio, IDC_AUDIO_OUTPUT) == 0; }, 5000) &&
              hostValue(effect, L"AudioDeviceOut Name") == driver && waitUntil(blocksFlow, 10000) && engineRunning(),
          "asio-engine: after a failed Apply the working driver is shown, stored and playing again",
          "output " + narrow(hostValue(effect, L"AudioDeviceOut Name")) + ", selection " +
              std::to_string(selection(audio, IDC_AUDIO_OUTPUT)));
    PostMessageW(GetDlgItem(audio, IDOK), BM_CLICK, 0, 0);
    check(waitUntil([&] { return !IsWindow(audio); }, 15000) && dismissErrors(run, 500).empty(),
          "asio-engine: OK on the working driver closes the window");
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "asio-engine: Exit ends the process");
}

// ---- the application under real use ------------------------------------------------------------

int lastLineIndex(const std::vector<LogLine>& log, const std::function<bool(const LogLine&)>& match) {
    for (size_t i = log.size(); i-- > 0;) {
        if (match(log[i])) return static_cast<int>(i);
    }
    return -1;
}

bool blockPlaying(const LogLine& l) { return l.kind == "block" && l.fields.size() > 4 && (std::stoi(l.fields[4]) & 2); }

// Waits for the process to end, answering No to a question the host may ask on the way out.
bool waitExitAnsweringNo(const HostRun& run, int timeoutMs) {
    return waitUntil([&] {
        if (HWND question = findWindow(run.pid(), L"Vorlane")) PostMessageW(question, WM_COMMAND, IDNO, 0);
        return WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0;
    }, timeoutMs, 50);
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The host's window is there and its engine processes blocks.
bool windowAndBlocks(HostRun& run) {
    return run.waitMainWindow(L"") && audioAvailable && waitUntil([&] { return countBlocks(run.log()) > 0; }, 10000);
}

// The ways the user closes the host while a question of the host is open: the close box,
// Alt+F4 (the system menu's close) and File > Exit. None of them may answer it.
void closeEveryWay(const HostRun& run) {
    PostMessageW(run.main, WM_CLOSE, 0, 0);
    PostMessageW(run.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    sleepMs(1500);
}

bool processRuns(const HostRun& run) { return WaitForSingleObject(run.process.hProcess, 0) != WAIT_OBJECT_0; }

// Start-up order, an editor that grows itself, Enter in the editor, AltGr, a note released
// with Alt held, the Tempo window's own keys, and every close while the Player's save question
// and then its "Save As" dialog are open.
void realUse() {
    const std::wstring effect = L"Probe Real Use";
    forgetSettings(effect);
    HostRun run("real-use", L"RealUse", "vorlane_probe.dll",
                "effectName=Probe Real Use\nflags=0x110\neditorRect=300x200\nsizeAtIdle=420x330\nchunk=real-use-state\n");
    setContentPath(effect, run.dir);
    { std::ofstream(run.dir / "saved.chunk", std::ios::binary) << "earlier-state"; }
    run.start();
    if (!windowAndBlocks(run)) {
        check(false, "real use: window and engine");
        return;
    }
    {
        const auto log = run.log();
        const int restored = findLine(log, [](const LogLine& l) { return opcodeOf(l) == 24; });
        const int firstBlock = findLine(log, [](const LogLine& l) { return l.kind == "block"; });
        check(restored >= 0 && restored < firstBlock, "real use: the saved state reaches the plug-in before its first block",
              std::to_string(restored) + " < " + std::to_string(firstBlock));
    }

    // The editor asks for 420 x 330 at its first idle call: the editor window and the main
    // window follow, and no editor pixel is cut.
    HWND editor = GetDlgItem(run.main, IDC_PLUGINWINDOW);
    RECT editorRect{}, client{};
    // The probe logs the host's answer once the call has returned, which may be after the
    // window has already followed: wait for both.
    bool resized = false, answered = false;
    waitUntil([&] {
        GetWindowRect(editor, &editorRect);
        GetClientRect(run.main, &client);
        resized = editorRect.right - editorRect.left == 420 && editorRect.bottom - editorRect.top == 330 &&
                  client.right >= 420 && client.bottom >= 330;
        answered = findLine(run.log(), [](const LogLine& l) { return l.text == "sizewindow 420 330 1"; }) >= 0;
        return resized && answered;
    }, 5000);
    check(resized && answered, "real use: a larger editor asked for with audioMasterSizeWindow gets it, the window follows",
          std::to_string(editorRect.right - editorRect.left) + "x" + std::to_string(editorRect.bottom - editorRect.top) +
              " in a client of " + std::to_string(client.right) + "x" + std::to_string(client.bottom) +
              (answered ? "" : ", the host's answer 1 not logged"));
    screenshot("real-use-resized", run.main);

    // Enter in the editor goes to the plug-in and ends nothing.
    postKey(editor, VK_RETURN, true);
    postKey(editor, VK_RETURN, false);
    const bool enterSeen = waitUntil([&] {
        return findLine(run.log(), [](const LogLine& l) {
            return opcodeOf(l) == 59 && l.fields.size() > 2 && l.fields[1] == "13" && l.fields[2] == "4";
        }) >= 0;
    }, 5000);
    check(enterSeen && !run.waitExit(1000), "real use: Enter in the editor reaches the plug-in and does not end the host");

    // AltGr (Ctrl+Alt) with A types a character: no Audio Settings window.
    SetForegroundWindow(run.main);
    sleepMs(200);
    sendInputKey(VK_CONTROL, true);
    sendInputKey(VK_MENU, true);
    sendInputKey('A', true);
    sendInputKey('A', false);
    sendInputKey(VK_MENU, false);
    sendInputKey(VK_CONTROL, false);
    sleepMs(1500);
    check(findWindow(run.pid(), L"Audio Settings") == nullptr, "real use: AltGr+A opens nothing");

    // A note key released while Alt is held comes as a system key-up: it still ends its note.
    postKey(run.main, 'D', true);
    PostMessageW(run.main, WM_SYSKEYUP, 'D', static_cast<LPARAM>(0xE0000001u));
    check(waitUntil([&] {
        const auto log = run.log();
        const int on = findLine(log, [](const LogLine& l) { return isEvent(l, "90", "30", "5e"); });
        return on >= 0 && findLine(log, [](const LogLine& l) { return isEvent(l, "90", "30", "00"); }, on) >= 0;
    }, 5000), "real use: a note released with Alt held ends");

    // The Tempo window's own keys: Space on the Tap button taps and leaves the transport alone.
    HWND tempo = openByCommand(run, ID_FILE_TEMPO, L"Tempo");
    check(tempo != nullptr, "real use: the Tempo window opens");
    if (tempo) {
        waitUntil([&] { return findLine(run.log(), blockPlaying) >= 0; }, 5000);
        const size_t before = run.log().size();
        HWND tap = GetDlgItem(tempo, IDC_TEMPO_TAP);
        for (int i = 0; i < 4; ++i) {
            if (i) sleepMs(500);
            postKey(tap, VK_SPACE, true);
            postKey(tap, VK_SPACE, false);
        }
        sleepMs(500);
        const double tapped = std::wcstod(itemText(tempo, IDC_TEMPO_VALUE).c_str(), nullptr);
        const auto log = run.log();
        int blocks = 0, stopped = 0;
        for (size_t i = before; i < log.size(); ++i) {
            if (log[i].kind != "block") continue;
            ++blocks;
            stopped += !blockPlaying(log[i]);
        }
        // Posted keys arrive a little early or late: about 120 BPM.
        check(tapped > 100.0 && tapped < 140.0 && blocks > 0 && stopped == 0,
              "real use: Space on the Tap button taps the tempo and leaves the transport playing",
              std::to_string(tapped) + " BPM, " + std::to_string(stopped) + " of " + std::to_string(blocks) + " blocks stopped");
        // Esc in the tempo field closes the window.
        postKey(GetDlgItem(tempo, IDC_TEMPO_VALUE), VK_ESCAPE, true);
        postKey(GetDlgItem(tempo, IDC_TEMPO_VALUE), VK_ESCAPE, false);
        check(waitUntil([&] { return !IsWindow(tempo); }, 5000), "real use: Esc closes the Tempo window");
    }

    // A finished take while the Player's save question, then its "Save As" dialog, is open:
    // the close box, Alt+F4 and Exit leave both open and the take with them; it is saved, then
    // Exit ends the host cleanly, with the state saved and nothing reaching the plug-in after
    // effClose.
    HWND player = openByCommand(run, ID_FILE_AUDIOPLAYER, L"Audio Player / Recorder");
    HWND question = nullptr;
    if (player) {
        PostMessageW(GetDlgItem(player, IDC_RECORDER_RECORD), BM_CLICK, 0, 0);
        waitItemText(player, IDC_RECORDER_RECORD, L"Stop Recording");
        waitItemText(player, IDC_RECORDER_TIME, L"0:02 / max:", 8000);
        PostMessageW(GetDlgItem(player, IDC_RECORDER_RECORD), BM_CLICK, 0, 0);
        waitUntil([&] { return (question = findWindow(run.pid(), L"Vorlane")) != nullptr; }, 10000);
    }
    check(question != nullptr, "real use: the Player asks whether to save the take");
    HWND saveAs = nullptr;
    if (question) {
        closeEveryWay(run);
        check(processRuns(run) && IsWindow(question) && IsWindowVisible(question),
              "real use: no close answers the Player's save question");
        PostMessageW(question, WM_COMMAND, IDYES, 0);
        waitUntil([&] { return (saveAs = findWindow(run.pid(), L"Save As")) != nullptr; }, 20000);
    }
    check(saveAs != nullptr, "real use: the Player's Save As dialog is open");
    const fs::path take = run.dir / L"real-use-take.wav";
    if (saveAs) {
        screenshot("real-use-save-as");
        closeEveryWay(run);
        check(processRuns(run) && IsWindow(saveAs) && IsWindowVisible(saveAs),
              "real use: no close cancels the Player's Save As dialog");
        const bool saved = answerFileDialog(run, L"Save As", take) &&
                           waitUntil([&] { return fs::exists(take) && fs::file_size(take) > 44 + 4 * 44100; }, 5000);
        check(saved, "real use: the take survives every close and is saved",
              fs::exists(take) ? std::to_string(fs::file_size(take)) + " bytes" : "missing");
    }
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    const bool ended = waitExitAnsweringNo(run, 20000);
    if (!ended) listOpenWindows(run.pid());
    DWORD exitCode = 1234;
    GetExitCodeProcess(run.process.hProcess, &exitCode);
    check(ended && exitCode == 0, "real use: Exit after the save ends the host cleanly",
          "exit code " + std::to_string(exitCode));
    const auto log = run.log();
    const int closed = lastLineIndex(log, [](const LogLine& l) { return opcodeOf(l) == 1; });
    check(closed >= 0 && closed == static_cast<int>(log.size()) - 1,
          "real use: nothing reaches the plug-in after effClose",
          closed >= 0 && closed + 1 < static_cast<int>(log.size()) ? log[static_cast<size_t>(closed) + 1].text : "");
    const std::string state = fileText(run.dir / "saved.chunk");
    check(state == "real-use-state", "real use: the state is saved at that Exit", state);
}

// A plug-in block that outlives the ASIO stop's wait (a sampler loading a program) while the
// user exits: the host waits for it, closes the plug-in only afterwards and ends cleanly.
void asioBlockOutlivesTheStop() {
    const std::wstring effect = L"Probe Asio Slow";
    storeTestAsioDriver(effect);
    HostRun run("asio-slow", L"AsioSlowHost", "vorlane_probe.dll",
                "effectName=Probe Asio Slow\nflags=0x110\nchunk=asio-slow-state\nslowFromBlock=40\nslowBlockMs=1600\n");
    setContentPath(effect, run.dir);
    run.start();
    if (!run.waitMainWindow(L"") || !waitUntil([&] { return countBlocks(run.log()) > 40; }, 20000)) {
        check(false, "asio-slow: window and engine on the test ASIO driver");
        return;
    }
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    const bool ended = run.waitExit(20000);
    if (!ended) listOpenWindows(run.pid());
    DWORD exitCode = 1234;
    GetExitCodeProcess(run.process.hProcess, &exitCode);
    check(ended && exitCode == 0, "asio-slow: Exit during a block longer than the stop's wait ends the host cleanly",
          "exit code " + std::to_string(exitCode));
    const auto log = run.log();
    const int closed = lastLineIndex(log, [](const LogLine& l) { return opcodeOf(l) == 1; });
    check(closed >= 0 && closed == static_cast<int>(log.size()) - 1,
          "asio-slow: effClose comes after the late block, and nothing after effClose",
          closed >= 0 && closed + 1 < static_cast<int>(log.size()) ? log[static_cast<size_t>(closed) + 1].text : "");
    check(fileText(run.dir / "saved.chunk") == "asio-slow-state", "asio-slow: the state was saved");
}

// Collects the "Error" boxes of the host (confirming each) while waiting for it to end.
bool waitExitCollectingErrors(const HostRun& run, int timeoutMs, std::vector<std::wstring>& errors) {
    return waitUntil([&] {
        if (HWND box = findWindow(run.pid(), L"Error")) {
            errors.push_back(itemText(box, 0xFFFF));
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            waitUntil([&] { return !IsWindow(box); }, 5000);
        }
        return !processRuns(run);
    }, timeoutMs, 20);
}

// A run with fresh settings and its state beside the host; false (told) without a window or
// an engine.
bool startFresh(HostRun& run, const std::wstring& effect, const std::string& name) {
    forgetSettings(effect);
    setContentPath(effect, run.dir);
    run.start();
    if (windowAndBlocks(run)) return true;
    check(false, name + ": window and engine");
    return false;
}

DWORD exitCodeOf(const HostRun& run) {
    DWORD code = 1234;
    GetExitCodeProcess(run.process.hProcess, &code);
    return code;
}

// An editor that floods the host with size requests from the audio thread, 40 a block
// alternating between two sizes (some thousands a second): Exit still works at once.
void sizeFlood() {
    HostRun run("size-flood", L"FloodHost", "vorlane_probe.dll",
                "effectName=Probe Size Flood\nflags=0x110\neditorRect=300x200\nchunk=flood-state\n"
                "sizeFlood=420x330,440x350\nsizeFloodPerBlock=40\nblockLogInterval=50\n");
    if (!startFresh(run, L"Probe Size Flood", "size flood")) return;
    const int loggedBefore = countBlocks(run.log());
    const auto floodStart = Clock::now();
    sleepMs(2000);  // the flood goes on meanwhile
    // One block in 50 is logged, each block asks 40 times.
    std::printf("note: the editor asks for %.0f sizes a second\n",
                (countBlocks(run.log()) - loggedBefore) * 50.0 * 40.0 / (msSince(floodStart) / 1000.0));
    RECT rect{};
    GetWindowRect(GetDlgItem(run.main, IDC_PLUGINWINDOW), &rect);
    const int width = rect.right - rect.left;
    check(width == 420 || width == 440, "size flood: the editor takes the sizes asked for", std::to_string(width));
    const auto t0 = Clock::now();
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    const bool ended = run.waitExit(20000);
    const double exitMs = msSince(t0);
    std::printf("note: Exit under the size flood took %.0f ms\n", exitMs);
    // Meant to take well under 2 s (some 40 ms here); the limit is wide for a loaded machine.
    check(ended && exitCodeOf(run) == 0 && exitMs < 5000, "size flood: Exit ends the host within 5 s",
          std::to_string(exitMs) + " ms");
    check(fileText(run.dir / "saved.chunk") == "flood-state", "size flood: the state is saved at that Exit",
          fileText(run.dir / "saved.chunk"));
}

// A close right behind an Apply that restarts the engine (it arrives inside the engine's wait),
// and an editor that asks for a size at effOpen, before there is a window.
void closeInApply() {
    HostRun run("close-in-apply", L"ApplyHost", "vorlane_probe.dll",
                "effectName=Probe Close In Apply\nflags=0x110\neditorRect=300x200\nsizeAtOpen=360x260\n"
                "chunk=apply-state\n");
    if (!startFresh(run, L"Probe Close In Apply", "close in apply")) return;
    RECT rect{};
    GetWindowRect(GetDlgItem(run.main, IDC_PLUGINWINDOW), &rect);
    check(hasLine(run.log(), "sizeatopen 1 1") && rect.right - rect.left == 360 && rect.bottom - rect.top == 260,
          "close in apply: a size asked for at effOpen is granted and applied when the editor opens",
          std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top));
    HWND audio = openByCommand(run, ID_FILE_AUDIOSETTINGS, L"Audio Settings");
    if (!audio) {
        check(false, "close in apply: Audio Settings opens");
        return;
    }
    // The output device chosen again: Apply is enabled and restarts the engine.
    selectEntry(audio, IDC_AUDIO_OUTPUT, selection(audio, IDC_AUDIO_OUTPUT));
    check(waitUntil([&] { return controlEnabled(audio, IDC_AUDIO_APPLY); }, 5000), "close in apply: Apply is enabled");
    PostMessageW(GetDlgItem(audio, IDC_AUDIO_APPLY), BM_CLICK, 0, 0);
    PostMessageW(run.main, WM_CLOSE, 0, 0);
    std::vector<std::wstring> errors;
    const bool ended = waitExitCollectingErrors(run, 20000, errors);
    check(ended && exitCodeOf(run) == 0 && errors.empty(), "close in apply: a close right behind Apply ends the host cleanly",
          "exit code " + std::to_string(exitCodeOf(run)) + (errors.empty() ? "" : ", box: " + narrow(errors[0])));
    check(fileText(run.dir / "saved.chunk") == "apply-state", "close in apply: the state is saved",
          fileText(run.dir / "saved.chunk"));
}

void busyExit() {
    sizeFlood();
    closeInApply();
}

// Two copies for one effect: the second says so, and leaves the first one's settings and
// state as they were.
void secondCopy() {
    const std::wstring effect = L"Probe Twice";
    forgetSettings(effect);
    HostRun first("twice-first", L"TwiceA", "vorlane_probe.dll", "effectName=Probe Twice\nflags=0x110\nchunk=first-state\n");
    setContentPath(effect, first.dir);
    { std::ofstream(first.dir / "saved.chunk", std::ios::binary) << "before-both"; }
    first.start();
    if (!windowAndBlocks(first)) {
        check(false, "second copy: the first copy runs");
        return;
    }
    const std::wstring tempoBefore = hostValue(effect, L"Tempo");
    const std::wstring outputBefore = hostValue(effect, L"AudioDeviceOut Name");

    HostRun second("twice-second", L"TwiceB", "vorlane_probe.dll", "effectName=Probe Twice\nflags=0x110\nchunk=second-state\n");
    second.start();
    if (!second.waitMainWindow(L"")) {
        check(false, "second copy: its window appears");
        return;
    }
    std::wstring caption;
    check(waitUntil([&] { return (caption = windowText(second.main)).find(L"second copy") != std::wstring::npos; }, 5000) &&
              windowText(first.main).find(L"second copy") == std::wstring::npos,
          "second copy: its caption says it is the second copy", narrow(caption));
    // It changes the tempo and stores it (Close), then ends.
    HWND tempo = openByCommand(second, ID_FILE_TEMPO, L"Tempo");
    if (tempo) {
        SetDlgItemTextW(tempo, IDC_TEMPO_VALUE, L"150");
        sleepMs(300);
        SendMessageW(GetDlgItem(tempo, IDOK), BM_CLICK, 0, 0);
        waitUntil([&] { return !IsWindow(tempo); }, 5000);
    }
    SetWindowPos(second.main, nullptr, 211, 97, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageW(second.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(second.waitExit(15000), "second copy: Exit ends it");
    DWORD secondLeft = 0;
    check(!readDword(effectKey(effect), L"WindowLeft", secondLeft) || secondLeft != 211,
          "second copy: its window's place is not stored", std::to_string(secondLeft));
    check(tempo && hostValue(effect, L"Tempo") == tempoBefore && hostValue(effect, L"AudioDeviceOut Name") == outputBefore,
          "second copy: the stored settings are the first copy's",
          narrow(hostValue(effect, L"Tempo")) + " / " + narrow(tempoBefore));
    check(fileText(first.dir / "saved.chunk") == "before-both" && countCalls(second.log(), 23) == 0,
          "second copy: it saves no state", fileText(first.dir / "saved.chunk"));
    PostMessageW(first.main, WM_COMMAND, ID_FILE_EXIT, 0);
    const bool firstEnded = first.waitExit(15000);
    const std::string firstState = fileText(first.dir / "saved.chunk");
    check(firstEnded && firstState == "first-state", "second copy: the first copy still saves its state", firstState);
}

// The stored output device is not there at start-up: the default plays, the user is told once,
// and the stored choice is kept.
void missingDevice() {
    const std::wstring effect = L"Probe Missing Device";
    forgetSettings(effect);
    const std::wstring gone = L"Unplugged Interface";
    setHostValue(effect, L"AudioDeviceType", nullptr, 4);
    setHostValue(effect, L"AudioDeviceOut Name", &gone, 0);
    setHostValue(effect, L"AudioDeviceOut Left", nullptr, 3);
    HostRun run("missing-device", L"MissingDevice", "vorlane_probe.dll", "effectName=Probe Missing Device\nflags=0x110\n");
    run.start();
    const std::wstring text = messageBox(run, L"Warning");
    check(text == L"The audio device \"Unplugged Interface\" is not available.\r\nThe default device plays for now; your choice stays stored.",
          "missing device: one warning names it", narrow(text));
    if (!run.waitMainWindow(L"")) {
        check(false, "missing device: main window appears");
        return;
    }
    check(waitUntil([&] { return countBlocks(run.log()) > 0; }, 10000), "missing device: the default device plays");
    DWORD left = 0;
    check(hostValue(effect, L"AudioDeviceOut Name") == gone &&
              readDword(effectKey(effect) + L"\\Host", L"AudioDeviceOut Left", left) && left == 3,
          "missing device: the stored choice is kept", narrow(hostValue(effect, L"AudioDeviceOut Name")));
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000) && hostValue(effect, L"AudioDeviceOut Name") == gone, "missing device: still kept after Exit");
}

// An effect with audio inputs starts for the first time: its input is muted (no microphone
// straight to the speakers), the caption says so, and the File menu's item unmutes it for good.
void firstStartMuted() {
    const std::wstring effect = L"Probe First Start";
    forgetSettings(effect);
    HostRun run("first-start", L"FirstStart", "vorlane_probe.dll", "effectName=Probe First Start\nflags=0x10\nnumInputs=2\n");
    run.start();
    if (!windowAndBlocks(run)) {
        check(false, "first start: window and engine");
        return;
    }
    DWORD muted = 0;
    std::wstring caption;
    check(waitUntil([&] { return (caption = windowText(run.main)).find(L"(audio input muted)") != std::wstring::npos; }, 5000) &&
              readDword(effectKey(effect), L"InputMuted", muted) && muted == 1 &&
              menuText(queryMenu(run.main), ID_FILE_MUTEINPUT) == L"Mute Audio Input",
          "first start: an effect's input starts muted, the caption and the stored value say so", narrow(caption));
    PostMessageW(run.main, WM_COMMAND, ID_FILE_MUTEINPUT, 0);
    const bool unmuted = waitUntil([&] {
        return windowText(run.main).find(L"muted") == std::wstring::npos &&
               readDword(effectKey(effect), L"InputMuted", muted) && muted == 0;
    }, 5000);
    check(unmuted, "first start: the menu item unmutes it and stores that", narrow(windowText(run.main)));
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "first start: Exit ends the process");
}

// The test ASIO driver asks the running engine for a restart, as a driver does when the user
// changes its own panel: a reset and a new buffer size restart the engine on the user-interface
// thread with the plug-in told the block size again; a driver that will not start again is
// reported by name and the engine item says stopped.
void driverRestartRequests() {
    const std::wstring effect = L"Probe Asio Requests";
    const std::wstring driver = storeTestAsioDriver(effect);
    HostRun run("asio-requests", L"AsioRequests", "vorlane_probe.dll",
                "effectName=Probe Asio Requests\nflags=0x110\nblockLogInterval=1000\n");
    // The driver inside the host takes this file from its own thread and answers beside it.
    const fs::path commands = run.dir / "asio.commands";
    const fs::path answers = run.dir / "asio.commands.done";
    SetEnvironmentVariableW(L"VORLANE_TEST_ASIO_COMMANDS", commands.wstring().c_str());
    run.start();
    SetEnvironmentVariableW(L"VORLANE_TEST_ASIO_COMMANDS", nullptr);
    if (!run.waitMainWindow(L"") || !waitUntil([&] { return countBlocks(run.log()) > 0; }, 10000)) {
        check(false, "asio-requests: window and engine on the test ASIO driver");
        return;
    }
    auto tellDriver = [&](const std::string& lines) {
        fs::remove(answers);
        const fs::path partial = run.dir / "asio.commands.partial";
        { std::ofstream(partial, std::ios::binary) << lines; }
        fs::rename(partial, commands);
        // Read until it gives its text: a file just renamed into place can refuse a first open
        // under Wine on a busy machine.
        std::string answer;
        if (!waitUntil([&] { return fs::exists(answers) && !(answer = fileText(answers)).empty(); }, 5000))
            return fs::exists(answers) ? std::string("empty") : std::string("none");
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
        return answer;
    };
    auto engineItem = [&] { return menuText(queryMenu(run.main), ID_FILE_AUDIOENGINE); };
    // After the request: a new effSetBlockSize with this size, blocks after it, still running.
    auto restartedWith = [&](int blockSizesBefore, const std::string& size) {
        int setAt = -1;
        const bool told = waitUntil([&] {
            const auto log = run.log();
            int seen = 0;
            setAt = findLine(log, [&](const LogLine& l) { return opcodeOf(l) == 11 && ++seen > blockSizesBefore; });
            return setAt >= 0 && findLine(log, [](const LogLine& l) { return l.kind == "block"; }, setAt) > setAt;
        }, 10000);
        const auto log = run.log();
        const std::string value = setAt >= 0 && log[setAt].fields.size() > 2 ? log[setAt].fields[2] : "none";
        return std::make_pair(told && value == size, "effSetBlockSize " + value);
    };

    struct Request {
        const char* what;
        std::string lines;
        std::string size;  // the block size the plug-in is told after the restart
    };
    const Request requests[] = {
        {"a reset request", "notify 3 0 0\n", "256"},
        {"a buffer size change to the new preferred 512", "preferredSize 512\nnotify 4 512 0\n", "512"},
    };
    for (const Request& r : requests) {
        const int before = countCalls(run.log(), 11);
        const std::string answer = tellDriver(r.lines);
        const auto [restarted, detail] = restartedWith(before, r.size);
        const auto errors = dismissErrors(run, 500);
        const std::wstring item = engineItem();
        check(answer == "answer 1" && restarted && errors.empty() && item == L"&Audioengine Running\tCtrl+R",
              std::string("asio-requests: ") + r.what + " is answered 1, restarts the engine and tells the plug-in",
              answer + ", " + detail + ", item " + narrow(item) +
                  (errors.empty() ? "" : ", message " + narrow(errors[0])));
    }

    // The driver refuses to start from now on: the restart it asks for fails.
    const std::string answer = tellDriver("startAnswer -999\nnotify 3 0 0\n");
    const std::wstring text = messageBox(run, L"Error", "asio-requests-device-stopped");
    const std::wstring item = engineItem();
    check(answer == "answer 1" && text == L"The audio device \"" + driver + L"\" stopped working." &&
              item == L"&Audioengine Stopped\tCtrl+R",
          "asio-requests: a driver that will not start again is named and the engine item says stopped",
          answer + ", message " + narrow(text) + ", item " + narrow(item));
    HWND audio = nullptr;
    check(waitUntil([&] { return (audio = findWindow(run.pid(), L"Audio Settings")) != nullptr; }, 5000),
          "asio-requests: the Audio Settings window is offered");
    if (audio) {
        PostMessageW(GetDlgItem(audio, IDCANCEL), BM_CLICK, 0, 0);
        waitUntil([&] { return !IsWindow(audio); }, 10000);
    }
    dismissErrors(run, 300);
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "asio-requests: Exit ends the process");
}

// ---- every plug-in's own state, and saves that fail or wait ------------------------------------

fs::path localKeptFolder() {
    wchar_t local[MAX_PATH] = {};
    GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    return fs::path(local) / L"Vorlane" / L"Kept";
}

// "A:B" and "A_B" used to share the folder "A_B", and every nameless plug-in the folder "_" and
// the maker's root key: each keeps its own state now, and a nameless one is named after the
// executable.
void ownStateApart() {
    struct Case {
        std::string name;
        std::wstring base;    // the executable's name
        std::string effect;   // as the plug-in names itself
        std::wstring folder;  // the state's folder under %APPDATA%\Vorlane
        std::wstring key;     // the settings key under Software\Vorlane
    };
    const Case cases[] = {
        {"apart-colon", L"ApartColon", "A:B", L"A~3AB", L"A:B"},
        {"apart-underscore", L"ApartUnderscore", "A_B", L"A_B", L"A_B"},
        {"apart-nameless", L"ApartNameless", "", L"ApartNameless", L"ApartNameless"},
    };
    std::error_code ec;
    for (const Case& c : cases) {
        forgetSettings(c.key);
        fs::remove_all(userStateFolder(c.folder), ec);
    }
    fs::remove_all(userStateFolder(L"_"), ec);
    for (const Case& c : cases) {
        HostRun run(c.name, c.base, "vorlane_probe.dll", "effectName=" + c.effect + "\nflags=0x110\nchunk=" + c.name + "-state\n");
        run.start();
        std::wstring caption;
        const bool named = run.waitMainWindow(L"") &&
                           waitUntil([&] { return (caption = windowText(run.main)).rfind(c.key + L" | Tempo:", 0) == 0; }, 10000);
        if (c.effect.empty()) check(named, c.name + ": the caption names the executable", narrow(caption));
        PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
        check(run.waitExit(15000), c.name + ": Exit ends the process");
    }
    for (const Case& c : cases) {
        const std::string saved = fileText(userStateFolder(c.folder) / L"saved.chunk");
        check(saved == c.name + "-state", c.name + ": the state is in its own folder", narrow(c.folder) + ": " + saved);
        HostRun again(c.name + "-again", c.base, "vorlane_probe.dll", "effectName=" + c.effect + "\nflags=0x110\nchunk=factory\n");
        if (!runUntilExit(again, c.name + " again")) continue;
        check(hasLine(again.log(), "chunk " + c.name + "-state"), c.name + ": the next start hands back its own state");
    }
    std::wstring output;
    check(readString(effectKey(L"ApartNameless") + L"\\Host", L"AudioDeviceOut Name", output) &&
              !readString(L"Software\\Vorlane\\Host", L"AudioDeviceOut Name", output),
          "apart-nameless: its settings are under the executable's name, not in the maker's key");
    check(!fs::exists(userStateFolder(L"_")), "apart: no shared folder for nameless plug-ins");
}

// The Error box of a failed save at Exit; answers its text and presses the button.
std::wstring answerSaveFailure(const HostRun& run, int button, const std::string& shot = {}) {
    HWND box = nullptr;
    waitUntil([&] { return (box = findWindow(run.pid(), L"Error")) != nullptr; }, 15000);
    if (!box) return {};
    const std::wstring text = itemText(box, 0xFFFF);
    if (!shot.empty()) screenshot(shot);
    PostMessageW(box, WM_COMMAND, button, 0);
    waitUntil([&] { return !IsWindow(box); }, 5000);
    return text;
}

// A blocked temporary file: Exit says which file and why, Cancel quits without saving, Retry
// after the way is free saves. At the end of a session the state goes to the local application
// data folder instead, and the next start says so and brings it home.
void blockedSave() {
    const std::wstring effect = L"Probe Blocked Save";
    forgetSettings(effect);
    const fs::path folder = userStateFolder(effect);
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::remove_all(localKeptFolder(), ec);
    const fs::path blocker = folder / L"saved.chunk.tmp~";
    fs::create_directories(blocker);
    const std::string effectLine = "effectName=Probe Blocked Save\nflags=0x110\n";
    for (const bool retry : {false, true}) {
        const std::string name = retry ? "blocked-retry" : "blocked-quit";
        HostRun run(name, L"BlockedHost", "vorlane_probe.dll", effectLine + "chunk=" + name + "\n");
        run.start();
        if (!windowAndBlocks(run)) {
            check(false, name + ": window and engine");
            return;
        }
        PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
        HWND box = nullptr;
        waitUntil([&] { return (box = findWindow(run.pid(), L"Error")) != nullptr; }, 15000);
        check(box && countCalls(run.log(), 1) == 0, name + ": the box comes before the plug-in is closed");
        if (retry) fs::remove_all(blocker, ec);
        const std::wstring text = answerSaveFailure(run, retry ? IDRETRY : IDCANCEL, retry ? "" : "blocked-save");
        check(text.find((folder / L"saved.chunk").wstring()) != std::wstring::npos &&
                  text.find(L"saved.chunk.tmp~") != std::wstring::npos,
              name + ": the box names the file and why", narrow(text));
        check(run.waitExit(15000), name + ": the host ends after the answer");
        const std::string saved = fileText(folder / L"saved.chunk");
        check(retry ? saved == name : !fs::exists(folder / L"saved.chunk"),
              name + (retry ? ": Retry saves the state" : ": Cancel quits without saving"), saved);
    }

    // The end of a session with the way blocked again: no box, the state kept locally.
    fs::create_directories(blocker);
    {
        HostRun run("blocked-session", L"BlockedHost", "vorlane_probe.dll", effectLine + "chunk=session-state\n");
        run.start();
        if (!windowAndBlocks(run)) {
            check(false, "blocked-session: window and engine");
            return;
        }
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(run.main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer);
        SendMessageTimeoutW(run.main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 10000, &answer);
        PostMessageW(run.main, WM_CLOSE, 0, 0);
        check(run.waitExit(15000) && findWindow(run.pid(), L"Error") == nullptr, "blocked-session: the session's end asks nothing");
    }
    fs::path kept;
    for (const auto& entry : fs::recursive_directory_iterator(localKeptFolder(), ec)) {
        if (entry.path().filename() == L"saved.chunk") kept = entry.path();
    }
    check(fileText(kept) == "session-state", "blocked-session: the state is kept in the local folder", narrow(kept.wstring()));
    fs::remove_all(blocker, ec);
    HostRun next("blocked-next", L"BlockedHost", "vorlane_probe.dll", effectLine + "chunk=factory\n");
    next.start();
    const std::wstring notice = messageBox(next, L"Warning", "blocked-notice");
    check(notice.find(kept.wstring()) != std::wstring::npos && notice.find(L"is back in") != std::wstring::npos,
          "blocked-next: the next start tells where the state was kept", narrow(notice));
    if (!windowAndBlocks(next)) {
        check(false, "blocked-next: window and engine");
        return;
    }
    check(hasLine(next.log(), "chunk session-state") && fileText(folder / L"saved.chunk") == "session-state" && !fs::exists(kept),
          "blocked-next: the kept state is handed back and moved home");
    PostMessageW(next.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(next.waitExit(15000), "blocked-next: Exit ends the process");
}

// A second copy (here under a name that differs only in case, which shares the settings key)
// whose first copy has ended saves at its Exit, and its caption drops the note.
void secondCopySavesLast() {
    const std::wstring effect = L"Probe Late Save";
    forgetSettings(effect);
    HostRun first("late-first", L"LateA", "vorlane_probe.dll", "effectName=Probe Late Save\nflags=0x110\nchunk=first-state\n");
    setContentPath(effect, first.dir);
    first.start();
    if (!windowAndBlocks(first)) {
        check(false, "late save: the first copy runs");
        return;
    }
    HostRun second("late-second", L"LateB", "vorlane_probe.dll", "effectName=PROBE LATE SAVE\nflags=0x110\nchunk=second-state\n");
    second.start();
    std::wstring caption;
    check(second.waitMainWindow(L"") &&
              waitUntil([&] { return (caption = windowText(second.main)).find(L"second copy") != std::wstring::npos; }, 10000),
          "late save: a name in other case is a second copy", narrow(caption));
    PostMessageW(first.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(first.waitExit(15000) && fileText(first.dir / "saved.chunk") == "first-state", "late save: the first copy saves and ends");
    PostMessageW(second.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(second.waitExit(15000), "late save: the second copy ends");
    const std::string state = fileText(first.dir / "saved.chunk");
    check(state == "second-state", "late save: the second copy saves once the first has gone", state);
}

// The demonstration: the wrapped instrument is started as a user would, a short phrase is
// played on the computer keyboard (the keys go through the host's message loop), a screenshot
// is taken and the host is left through File > Exit.
// ---- presets ------------------------------------------------------------------------------------

constexpr int kFirstProgramCommand = 0x4000;  // the host's command of program 0

// The Preset menu as the host made it when it last opened.
std::vector<std::wstring> presetMenu(const HostRun& run) { return queryMenu(run.main, 2); }

std::string presetMenuText(const std::vector<std::wstring>& lines) {
    std::string out;
    for (const auto& line : lines) out += (out.empty() ? "" : " | ") + narrow(line);
    return out;
}

bool hasEntry(const std::vector<std::wstring>& lines, const std::wstring& entry) {
    return std::find(lines.begin(), lines.end(), entry) != lines.end();
}

// Opens the Preset menu as a user does from the keyboard (Alt, then P) and waits until the host
// has filled it so that it holds `entry`.
bool openPresetMenuByKeys(const HostRun& run, const std::wstring& entry) {
    SetForegroundWindow(run.main);
    sleepMs(200);
    sendInputKey(VK_MENU, true);
    sendInputKey(VK_MENU, false);
    sleepMs(200);
    sendInputKey('P', true);
    sendInputKey('P', false);
    return waitUntil([&] { return hasEntry(presetMenu(run), entry); }, 10000, 100);
}

void closeMenuByKeys() {
    for (int i = 0; i < 2; ++i) {
        sendInputKey(VK_ESCAPE, true);
        sendInputKey(VK_ESCAPE, false);
        sleepMs(100);
    }
}

// Hands files to the host's window as the system does after a drop: a DROPFILES block (wide
// names) in the host's memory, whose address comes as the WM_DROPFILES handle. The host takes
// it through DragQueryFileW and DragFinish as for a drop from a file manager.
bool dropFiles(const HostRun& run, const std::vector<fs::path>& files) {
    struct DropFilesBlock {
        DWORD pFiles;
        POINT pt;
        BOOL fNC;
        BOOL fWide;
    };
    std::vector<wchar_t> names;
    for (const fs::path& file : files) {
        const std::wstring name = fs::path(file).make_preferred().wstring();
        names.insert(names.end(), name.begin(), name.end());
        names.push_back(L'\0');
    }
    names.push_back(L'\0');
    std::vector<char> block(sizeof(DropFilesBlock) + names.size() * sizeof(wchar_t));
    const DropFilesBlock header{sizeof(DropFilesBlock), POINT{20, 20}, FALSE, TRUE};
    std::memcpy(block.data(), &header, sizeof header);
    std::memcpy(block.data() + sizeof header, names.data(), names.size() * sizeof(wchar_t));
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, run.pid());
    if (!process) return false;
    void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE_T written = 0;
    const bool ok = remote && WriteProcessMemory(process, remote, block.data(), block.size(), &written) &&
                    written == block.size() && PostMessageW(run.main, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    CloseHandle(process);
    return ok;
}

// Confirms a Yes/No question of the host with Yes; answers its text.
std::wstring answerYes(const HostRun& run, const std::wstring& caption) {
    HWND box = nullptr;
    waitUntil([&] { return (box = findWindow(run.pid(), caption)) != nullptr && box != run.main; }, 10000, 20);
    if (!box || box == run.main) return {};
    const std::wstring text = itemText(box, 0xFFFF);
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    waitUntil([&] { return !IsWindow(box); }, 5000);
    return text;
}

// The index of the last line from `from` on that matches; -1 when none.
int lineFrom(const std::vector<LogLine>& log, int from, const std::string& text) {
    return findLine(log, [&](const LogLine& l) { return l.text.rfind(text, 0) == 0; }, std::max(from, 0));
}

bool captionStartsWith(const HostRun& run, const std::wstring& start, int timeoutMs = 5000) {
    return waitUntil([&] { return windowText(run.main).rfind(start, 0) == 0; }, timeoutMs);
}

RECT windowRect(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    return frame;
}

// Save Preset, another program, Load Preset (the saved chunk reaches the plug-in), a program
// chosen from the menu opened by keys, Save Bank, Rename Program, Reset to Default, files
// dropped on the window (a refused preset, a good one, a sample), the window's place kept for
// the next start, a preset on the command line, and a place off every screen.
void presets() {
    const std::wstring effect = L"Probe Presets";
    const std::string config =
        "effectName=Probe Presets\nflags=0x31\neditorRect=300x200\nchunk=bank-state\nprogramChunk=program-gamma\n"
        "numPrograms=3\nprogramNames=Alpha,Beta,Gamma\nnamesIndexed=1\nrenamable=1\n";
    HostRun run("presets", L"PresetHost", "vorlane_probe.dll", config);
    if (!startFresh(run, effect, "presets")) return;
    const fs::path presetFile = run.dir / L"my presets" / L"Gamma sound.fxp";
    fs::create_directories(presetFile.parent_path());
    const fs::path bankFile = run.dir / L"whole bank.fxb";

    // The menu, opened from the keyboard: the file commands, the programs with the current one
    // checked, Rename and Reset. Then Gamma chosen with the arrow keys and Enter.
    const bool opened = openPresetMenuByKeys(run, L"4:16384:c:Alpha");
    const auto menu = presetMenu(run);
    check(opened && presetMenuText(menu) ==
                        "0:32790:-:&Load Preset / Bank... | 1:32791:-:&Save Preset... | 2:32792:-:Save &Bank... | 3:0:-: | "
                        "4:16384:c:Alpha | 5:16385:-:Beta | 6:16386:-:Gamma | 7:0:-: | 8:32793:-:Re&name Program... | "
                        "9:32794:-:Reset to &Default",
          "presets: Preset menu opened by Alt, P lists the programs, the current one checked", presetMenuText(menu));
    screenshot("presets-menu-open");
    const int beforeChoice = static_cast<int>(run.log().size());
    for (int i = 0; i < 5; ++i) {  // Load is selected: Save, Bank, Alpha, Beta, Gamma
        sendInputKey(VK_DOWN, true);
        sendInputKey(VK_DOWN, false);
        sleepMs(50);
    }
    sendInputKey(VK_RETURN, true);
    sendInputKey(VK_RETURN, false);
    const bool chosen = waitUntil([&] { return lineFrom(run.log(), beforeChoice, "call 2 0 2 ") >= 0; }, 5000);
    if (!chosen) closeMenuByKeys();
    const auto choice = run.log();
    const int begin = lineFrom(choice, beforeChoice, "call 67 ");
    const int set = lineFrom(choice, begin, "call 2 0 2 ");
    const int end = lineFrom(choice, set, "call 68 ");
    check(chosen && begin >= 0 && set > begin && end > set,
          "presets: the program chosen in the menu reaches the plug-in (effBeginSetProgram, effSetProgram 2, effEndSetProgram)");
    {
        const bool shown = captionStartsWith(run, L"Probe Presets - Gamma");
        check(shown, "presets: the caption names the chosen program", narrow(windowText(run.main)));
    }

    // Save Preset: the program's chunk in a program file, in the folder remembered afterwards.
    PostMessageW(run.main, WM_COMMAND, ID_PRESET_SAVE, 0);
    const bool saved = answerFileDialog(run, L"Save Preset", presetFile, "presets-save-dialog") &&
                       waitUntil([&] { return fs::exists(presetFile); }, 5000);
    const std::string program = fileText(presetFile);
    check(saved && program.rfind("CcnK", 0) == 0 && program.find("FPCh") == 8 &&
              program.find("Gamma") != std::string::npos && program.size() >= 13 &&
              program.compare(program.size() - 13, 13, "program-gamma") == 0,
          "presets: Save Preset writes the program chunk as a .fxp", std::to_string(program.size()) + " bytes");
    std::wstring folder;
    check(readString(effectKey(effect), L"PresetFolder", folder) && fs::equivalent(fs::path(folder), presetFile.parent_path()),
          "presets: the folder of the saved file is remembered", narrow(folder));

    // Another sound (program Alpha), then Load Preset brings the saved one back. Its dialog
    // starts in the remembered folder: the bare file name is found there.
    PostMessageW(run.main, WM_COMMAND, kFirstProgramCommand + 0, 0);
    waitUntil([&] { return lineFrom(run.log(), end, "call 2 0 0 ") >= 0; }, 5000);
    const int beforeLoad = static_cast<int>(run.log().size());
    PostMessageW(run.main, WM_COMMAND, ID_PRESET_LOAD, 0);
    const bool answered = answerFileDialog(run, L"Load Preset / Bank", presetFile.filename(), "presets-load-dialog");
    const bool loaded = answered && waitUntil([&] { return lineFrom(run.log(), beforeLoad, "chunk program-gamma") >= 0; }, 5000);
    const auto afterLoad = run.log();
    const int beginLoad = lineFrom(afterLoad, beforeLoad, "call 76 ");
    const int setChunk = lineFrom(afterLoad, beginLoad, "call 24 1 13 ");
    check(loaded && beginLoad >= 0 && setChunk > beginLoad,
          "presets: Load Preset hands the saved chunk back (effBeginLoadProgram, effSetChunk 1 with its 13 bytes)");
    {
        const bool shown = captionStartsWith(run, L"Probe Presets - Gamma");
        check(shown, "presets: after the load the caption names the file's program", narrow(windowText(run.main)));
    }

    // Save Bank: the bank's chunk.
    PostMessageW(run.main, WM_COMMAND, ID_PRESET_SAVEBANK, 0);
    const bool bankSaved = answerFileDialog(run, L"Save Bank", bankFile) && waitUntil([&] { return fs::exists(bankFile); }, 5000);
    const std::string bank = fileText(bankFile);
    check(bankSaved && bank.rfind("CcnK", 0) == 0 && bank.find("FBCh") == 8 && bank.size() >= 10 &&
              bank.compare(bank.size() - 10, 10, "bank-state") == 0,
          "presets: Save Bank writes the bank chunk as a .fxb", std::to_string(bank.size()) + " bytes");

    // Rename Program: the plug-in takes the name, and the menu shows it when it opens again.
    PostMessageW(run.main, WM_COMMAND, ID_PRESET_RENAME, 0);
    HWND rename = nullptr;
    waitUntil([&] { return (rename = findWindow(run.pid(), L"Rename Program")) != nullptr; }, 10000);
    const std::wstring offered = rename ? itemText(rename, IDC_RENAME_NAME) : L"";
    if (rename) {
        SetDlgItemTextW(rename, IDC_RENAME_NAME, L"Warm & Round");
        screenshot("presets-rename", rename);
        PostMessageW(GetDlgItem(rename, IDOK), BM_CLICK, 0, 0);
        waitUntil([&] { return !IsWindow(rename); }, 5000);
    }
    const bool renamed = rename && waitUntil([&] { return hasLine(run.log(), "programname Warm & Round"); }, 5000);
    check(renamed && offered == L"Gamma",
          "presets: Rename Program offers the current name and sets the new one", narrow(offered));
    const bool reopened = openPresetMenuByKeys(run, L"4:16384:c:Warm && Round");
    check(reopened, "presets: the menu shows the new name (its & kept as text)", presetMenuText(presetMenu(run)));
    closeMenuByKeys();

    // Reset to Default: after the question, the state the plug-in had when it was opened.
    const int beforeReset = static_cast<int>(run.log().size());
    PostMessageW(run.main, WM_COMMAND, ID_PRESET_RESET, 0);
    const std::wstring question = answerYes(run, L"Reset to Default");
    const bool reset = waitUntil([&] { return lineFrom(run.log(), beforeReset, "chunk bank-state") >= 0; }, 5000);
    const int beginBank = lineFrom(run.log(), beforeReset, "call 75 ");
    check(question.find(L"Reset the plug-in") == 0 && reset && beginBank >= 0,
          "presets: Reset to Default asks, then hands back the state of the start (effBeginLoadBank, the bank chunk)",
          narrow(question));

    // Dropped files: a preset that is not one is refused by name, the plug-in untouched; a good
    // one loads; a sample opens in the player.
    const fs::path junk = run.dir / L"broken.fxp";
    { std::ofstream(junk, std::ios::binary) << "this is no preset file at all"; }
    const int beforeDrop = static_cast<int>(run.log().size());
    const bool dropped = dropFiles(run, {junk});
    const std::wstring refusal = messageBox(run, L"Error", "presets-drop-refused");
    check(dropped && refusal.find(L"Couldn't load \"") == 0 && refusal.find(L"broken.fxp") != std::wstring::npos &&
              lineFrom(run.log(), beforeDrop, "call 24 ") < 0 && lineFrom(run.log(), beforeDrop, "call 76 ") < 0,
          "presets: a dropped file that is no preset is refused with its name and reason, nothing sent",
          narrow(refusal));
    const int beforeGood = static_cast<int>(run.log().size());
    dropFiles(run, {presetFile});
    check(waitUntil([&] { return lineFrom(run.log(), beforeGood, "chunk program-gamma") >= 0; }, 5000) &&
              lineFrom(run.log(), beforeGood, "call 76 ") >= 0,
          "presets: a dropped .fxp loads");
    const fs::path sample = run.dir / L"dropped loop.wav";
    writeConstantWav(sample, 4410, 44100, 4096);
    dropFiles(run, {sample});
    HWND player = nullptr;
    waitUntil([&] { return (player = findWindow(run.pid(), L"Audio Player / Recorder")) != nullptr; }, 10000);
    const bool playerHasFile = player && waitItemText(player, IDC_PLAYER_FILENAME, L"dropped loop.wav");
    check(playerHasFile,
          "presets: a dropped WAV opens in the Audio Player as its input",
          player ? narrow(itemText(player, IDC_PLAYER_FILENAME)) : "no player window");
    if (player) {
        // While it plays its Load File is off: a dropped sample is refused, the file kept.
        SendMessageW(GetDlgItem(player, IDC_PLAYER_PLAY), BM_CLICK, 0, 0);
        const bool playing = waitItemText(player, IDC_PLAYER_PLAY, L"Stop");
        dropFiles(run, {sample});
        const std::wstring busy = messageBox(run, L"Error");
        check(playing && busy.find(L"stop its playback first") != std::wstring::npos &&
                  itemText(player, IDC_PLAYER_FILENAME) == L"dropped loop.wav",
              "presets: a sample dropped while the player plays is refused", narrow(busy));
        SendMessageW(GetDlgItem(player, IDC_PLAYER_PLAY), BM_CLICK, 0, 0);
        PostMessageW(player, WM_CLOSE, 0, 0);
        waitUntil([&] { return !IsWindow(player); }, 5000);
    }
    // A file that is neither preset nor sample.
    const fs::path text = run.dir / L"notes.txt";
    { std::ofstream(text) << "not for the host"; }
    dropFiles(run, {text});
    const std::wstring other = messageBox(run, L"Error");
    check(other.find(L"Only preset files") == 0, "presets: another kind of file dropped is refused", narrow(other));

    // The window's place, moved by the user, is kept at Exit.
    SetWindowPos(run.main, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    waitUntil([&] { return windowRect(run.main).left == 123; }, 5000);
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "presets: Exit ends the first run");
    DWORD left = 0, top = 0;
    const bool stored = readDword(effectKey(effect), L"WindowLeft", left) && readDword(effectKey(effect), L"WindowTop", top);
    check(stored && left == 123 && top == 77,
          "presets: the window's place is stored at Exit", std::to_string(left) + "," + std::to_string(top));

    // Next start with the program file on the command line: the saved state first, then the file;
    // the window where it was.
    HostRun again("presets-again", L"PresetHost", "vorlane_probe.dll", config);
    again.arguments = L"\"" + presetFile.wstring() + L"\"";
    again.start();
    if (!windowAndBlocks(again)) {
        check(false, "presets: the second run starts");
        return;
    }
    const auto startLog = again.log();
    const int state = lineFrom(startLog, 0, "call 24 0 ");
    const int fileChunk = lineFrom(startLog, state, "call 24 1 13 ");
    check(state >= 0 && fileChunk > state && lineFrom(startLog, fileChunk, "chunk program-gamma") > fileChunk,
          "presets: a .fxp on the command line loads after the saved state");
    {
        const bool shown = captionStartsWith(again, L"Probe Presets - Gamma");
        check(shown, "presets: the caption names the command line's program", narrow(windowText(again.main)));
    }
    const RECT restored = windowRect(again.main);
    check(restored.left == 123 && restored.top == 77, "presets: the window comes back to its place",
          std::to_string(restored.left) + "," + std::to_string(restored.top));
    screenshot("presets-restored");
    PostMessageW(again.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(again.waitExit(15000), "presets: Exit ends the second run");

    // A place on a screen that is gone: the window goes to the primary screen. A missing file
    // on the command line is told, and the start goes on.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, effectKey(effect).c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        const DWORD offScreen = 5000;
        RegSetValueExW(key, L"WindowLeft", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&offScreen), sizeof offScreen);
        RegSetValueExW(key, L"WindowTop", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&offScreen), sizeof offScreen);
        RegCloseKey(key);
    }
    HostRun gone("presets-gone", L"PresetHost", "vorlane_probe.dll", config);
    gone.arguments = L"\"" + (run.dir / L"missing.fxb").wstring() + L"\"";
    gone.start();
    HWND startBox = nullptr;
    waitUntil([&] { return (startBox = findWindow(gone.pid(), L"Error")) != nullptr; }, 30000);
    const std::wstring missing = startBox ? itemText(startBox, 0xFFFF) : L"";
    if (startBox) PostMessageW(startBox, WM_COMMAND, IDOK, 0);
    check(missing.find(L"Couldn't load \"") == 0 && missing.find(L"missing.fxb") != std::wstring::npos,
          "presets: a missing file on the command line is told at start-up", narrow(missing));
    if (!windowAndBlocks(gone)) {
        check(false, "presets: the third run starts");
        return;
    }
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const RECT placed = windowRect(gone.main);
    check(placed.left == work.left && placed.top == work.top, "presets: a place off every screen goes to the primary screen",
          std::to_string(placed.left) + "," + std::to_string(placed.top));
    PostMessageW(gone.main, WM_COMMAND, ID_FILE_EXIT, 0);
    gone.waitExit(15000);
}

// A plug-in with 40 programs that names them only through effSetProgram + effGetProgramName:
// submenus of at most 32, the current program's group checked, and the names asked once.
void manyPrograms() {
    HostRun run("many-programs", L"ManyPrograms", "vorlane_probe.dll",
                "effectName=Probe Many Programs\nflags=0x11\neditorRect=300x200\nnumParams=2\nnumPrograms=40\nprogram=34\n"
                "namesIndexed=0\nrenamable=0\n");
    if (!startFresh(run, L"Probe Many Programs", "many programs")) return;
    const int setsBefore = countCalls(run.log(), 2);
    const bool opened = openPresetMenuByKeys(run, L"5.2:16418:c:Program 35");
    const auto menu = presetMenu(run);
    screenshot("many-programs-menu");
    for (WORD key : {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT}) {  // to "33-40", then into it
        sendInputKey(key, true);
        sendInputKey(key, false);
        sleepMs(100);
    }
    screenshot("many-programs-submenu");
    closeMenuByKeys();
    closeMenuByKeys();
    check(opened && hasEntry(menu, L"4:0:s:1-32") && hasEntry(menu, L"5:0:cs:33-40") && hasEntry(menu, L"4.31:16415:-:Program 32") &&
              hasEntry(menu, L"5.7:16423:-:Program 40") && !hasEntry(menu, L"4:16384:-:Program 1"),
          "many programs: 40 programs in the submenus 1-32 and 33-40, the current one's group checked",
          presetMenuText(menu));
    const auto afterFirst = run.log();
    const int setsFirst = countCalls(afterFirst, 2) - setsBefore;
    int lastSet = -1;
    for (size_t i = 0; i < afterFirst.size(); ++i)
        if (opcodeOf(afterFirst[i]) == 2) lastSet = static_cast<int>(i);
    check(setsFirst == 41 && lastSet >= 0 && afterFirst[lastSet].fields.size() > 2 && afterFirst[lastSet].fields[2] == "34",
          "many programs: the names are read through every program and the current one put back",
          std::to_string(setsFirst) + " effSetProgram calls");
    // Opened again: the names come from what was read, no program changes.
    // (each opening asks whether the names come by index: that call shows the menu was filled)
    const int asksBefore = countCalls(run.log(), 29);
    sleepMs(300);
    SetForegroundWindow(run.main);
    sendInputKey(VK_MENU, true);
    sendInputKey(VK_MENU, false);
    sleepMs(200);
    sendInputKey('P', true);
    sendInputKey('P', false);
    const bool filledAgain = waitUntil([&] { return countCalls(run.log(), 29) > asksBefore; }, 10000, 100);
    closeMenuByKeys();
    check(filledAgain && countCalls(run.log(), 2) - setsBefore == 41, "many programs: a second opening changes no program",
          std::to_string(countCalls(run.log(), 2) - setsBefore - 41) + " more effSetProgram calls");
    // A plug-in that keeps its own names: Rename Program says so.
    PostMessageW(run.main, WM_COMMAND, ID_PRESET_RENAME, 0);
    HWND rename = nullptr;
    waitUntil([&] { return (rename = findWindow(run.pid(), L"Rename Program")) != nullptr; }, 10000);
    if (rename) {
        SetDlgItemTextW(rename, IDC_RENAME_NAME, L"Mine");
        PostMessageW(GetDlgItem(rename, IDOK), BM_CLICK, 0, 0);
    }
    const std::wstring refused = messageBox(run, L"Warning");
    check(rename && refused == L"The plug-in keeps its own program names." && !hasLine(run.log(), "programname Mine"),
          "many programs: a rename the plug-in does not take is told", narrow(refused));
    // Choosing one from the second group.
    PostMessageW(run.main, WM_COMMAND, kFirstProgramCommand + 39, 0);
    const bool chosen = waitUntil([&] { return hasLine(run.log(), "call 2 0 39 0 "); }, 5000) &&
                        captionStartsWith(run, L"Probe Many Programs - Program 40");
    check(chosen,
          "many programs: program 40 chosen", narrow(windowText(run.main)));
    PostMessageW(run.main, WM_COMMAND, ID_FILE_EXIT, 0);
    check(run.waitExit(15000), "many programs: Exit ends the process");

    // A plug-in without programs: nothing to choose or rename.
    HostRun none("no-programs", L"NoPrograms", "vorlane_probe.dll", "effectName=Probe No Programs\nflags=0x11\nnumPrograms=0\n");
    if (!startFresh(none, L"Probe No Programs", "no programs")) return;
    const bool shown = openPresetMenuByKeys(none, L"4:32795:g:(no programs)");
    const auto noneMenu = presetMenu(none);
    closeMenuByKeys();
    check(shown && hasEntry(noneMenu, L"6:32793:g:Re&name Program...") && hasEntry(noneMenu, L"7:32794:-:Reset to &Default"),
          "no programs: a greyed \"(no programs)\" and Rename greyed", presetMenuText(noneMenu));
    PostMessageW(none.main, WM_COMMAND, ID_FILE_EXIT, 0);
    none.waitExit(15000);
}

int demo(const fs::path& exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, exe.parent_path().wstring().c_str(),
                        &startup, &process)) {
        std::printf("demo: the host could not be started\n");
        return 1;
    }
    HWND main = nullptr;
    if (!waitUntil([&] { return (main = findWindow(process.dwProcessId, L"")) != nullptr; }, 60000, 20)) {
        std::printf("demo: no window\n");
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    std::printf("demo: window '%s'\n", narrow(windowText(main)).c_str());
    sleepMs(1500);
    // C major, F major, G major and back: arpeggio then chord (D is C3 at the default octave).
    struct Note {
        int key;
        int onMs, lengthMs;
    };
    const Note phrase[] = {{'D', 0, 300},    {'G', 250, 300},  {'J', 500, 300},  {'D', 750, 700},  {'G', 750, 700},
                           {'J', 750, 700},  {'H', 1500, 300}, {'K', 1750, 300}, {'D', 2000, 300}, {'H', 2250, 600},
                           {'K', 2250, 600}, {'J', 2750, 200}, {'L', 2900, 200}, {'F', 3050, 200}, {'D', 3250, 700},
                           {'G', 3250, 700}, {'J', 3250, 700}};
    struct KeyEvent {
        int atMs, key;
        bool down;
    };
    std::vector<KeyEvent> events;
    for (const Note& n : phrase) {
        events.push_back({n.onMs, n.key, true});
        events.push_back({n.onMs + n.lengthMs, n.key, false});
    }
    std::stable_sort(events.begin(), events.end(), [](const KeyEvent& a, const KeyEvent& b) { return a.atMs < b.atMs; });
    const auto t0 = Clock::now();
    for (const KeyEvent& e : events) {
        while (msSince(t0) < e.atMs) sleepMs(2);
        postKey(main, e.key, e.down);
    }
    sleepMs(1200);
    screenshot("demo", main);
    PostMessageW(main, WM_COMMAND, ID_FILE_EXIT, 0);
    const bool ended = waitUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, 20000);
    std::printf("demo: host %s\n", ended ? "closed" : "did not close");
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return ended ? 0 : 1;
}

// ---- the generic editor ------------------------------------------------------------------------

struct ChildSearch {
    std::wstring className;
    std::vector<HWND> found;
};

BOOL CALLBACK collectChild(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<ChildSearch*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (search->className == name) search->found.push_back(window);
    return TRUE;
}

// Every window of this class inside parent, at any depth.
std::vector<HWND> childrenOfClass(HWND parent, const std::wstring& className) {
    ChildSearch search{className, {}};
    EnumChildWindows(parent, &collectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool logHasLine(const HostRun& run, const std::string& prefix) {
    for (const auto& line : run.log())
        if (line.text.rfind(prefix, 0) == 0) return true;
    return false;
}

// Starts the run and waits for its generic editor, and until ready holds for it; null when
// no generic editor came.
HWND startWithGenericEditor(HostRun& run, const std::wstring& effect, const std::function<bool(HWND)>& ready = {}) {
    setContentPath(effect, run.dir);
    run.start();
    if (!run.waitMainWindow(L"")) return nullptr;
    HWND generic = nullptr;
    waitUntil([&] {
        const auto found = childrenOfClass(run.main, vl::app::kGenericEditorClass);
        generic = found.empty() ? nullptr : found.front();
        return generic && (!ready || ready(generic));
    }, 10000);
    return generic;
}

// The probe without an editor of its own: the host shows its rows of parameters in the
// editor's place, a trackbar moved as the user moves it reaches the probe's setParameter, the
// program list chooses a program, and the 24 rows scroll through the 16 that fit.
void genericEditor() {
    const std::wstring effect = L"Probe Generic";
    forgetSettings(effect);
    HostRun run("generic", L"GenericHost", "vorlane_probe.dll",
                "effectName=Probe Generic\nflags=0x110\nhasEditor=0\nnumParams=24\nnumPrograms=3\n"
                "programNames=Warm,Cold,Bright\nparams=0.5,0.25\nblockLogInterval=1000\n");
    HWND generic = startWithGenericEditor(run, effect);
    check(generic != nullptr, "generic: the editor's place holds the generic editor");
    if (!generic) return;
    const auto sliders = childrenOfClass(generic, L"msctls_trackbar32");
    check(sliders.size() == 16, "generic: a trackbar for each of the 16 rows that fit", std::to_string(sliders.size()));
    check(itemText(generic, vl::app::genericNameId(1)) == L"Param 2" &&
              itemText(generic, vl::app::genericValueId(0)) == L"50.00 %" &&
              itemText(generic, vl::app::genericValueId(1)) == L"25.00 %",
          "generic: rows show the probe's names and texts",
          narrow(itemText(generic, vl::app::genericNameId(1)) + L" / " + itemText(generic, vl::app::genericValueId(0)) +
                 L" / " + itemText(generic, vl::app::genericValueId(1))));
    check(countCalls(run.log(), 14) == 0, "generic: no effEditOpen for a plug-in without an editor");
    RECT client{};
    GetClientRect(generic, &client);
    check(client.right >= 470 && client.right <= 520 && client.bottom >= 16 * 20,
          "generic: 480 wide and as high as its rows", std::to_string(client.right) + "x" + std::to_string(client.bottom));

    // The second row's trackbar moved to 800 of 1000, with the notification a drag ends with.
    HWND second = GetDlgItem(generic, vl::app::genericSliderId(1));
    SendMessageW(second, TBM_SETPOS, TRUE, 800);
    SendMessageW(generic, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 800), reinterpret_cast<LPARAM>(second));
    check(waitUntil([&] { return logHasLine(run, "param 1 0.8"); }, 5000), "generic: the trackbar sets parameter 2 to 0.8");
    check(waitUntil([&] { return itemText(generic, vl::app::genericValueId(1)) == L"80.00 %"; }, 5000),
          "generic: the row shows the probe's new text", narrow(itemText(generic, vl::app::genericValueId(1))));
    screenshot("generic-editor", run.main);

    // The programs, read once the engine is linked; the third chosen.
    HWND programs = GetDlgItem(generic, vl::app::kGenericProgramsId);
    check(waitUntil([&] { return SendMessageW(programs, CB_GETCOUNT, 0, 0) == 3 && IsWindowEnabled(programs); }, 5000),
          "generic: the program list holds the probe's three programs");
    const int before = static_cast<int>(run.log().size());
    SendMessageW(programs, CB_SETCURSEL, 2, 0);
    SendMessageW(generic, WM_COMMAND, MAKEWPARAM(vl::app::kGenericProgramsId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(programs));
    // The host visits the programs at start for the default state: only calls after the choice count.
    check(waitUntil([&] {
              return findLine(run.log(), [](const LogLine& l) { return l.text.rfind("call 2 0 2 ", 0) == 0; }, before) >= 0;
          }, 5000),
          "generic: choosing Bright sets program 3");
    check(SendMessageW(programs, CB_GETCURSEL, 0, 0) == 2, "generic: the list shows the chosen program");

    // Scrolled to the end: the top row is the ninth parameter.
    SendMessageW(generic, WM_VSCROLL, SB_BOTTOM, 0);
    check(itemText(generic, vl::app::genericNameId(0)) == L"Param 9" && itemText(generic, vl::app::genericNameId(15)) == L"Param 24",
          "generic: scrolling shows the last rows", narrow(itemText(generic, vl::app::genericNameId(0))));
    screenshot("generic-editor-scrolled", run.main);

    PostMessageW(run.main, WM_CLOSE, 0, 0);
    check(run.waitExit(15000), "generic: close box ends the process");
    check(opcodesFrom(run.log(), 15).empty() && opcodesFrom(run.log(), 1) == std::vector<int>{1},
          "generic: the plug-in without an editor is closed without effEditClose", listed(opcodesFrom(run.log(), 1)));

    // The next start: the state reaches the probe after the rows were made; the idle refresh
    // shows the values it brought.
    HostRun again("generic-again", L"GenericHost", "vorlane_probe.dll",
                  "effectName=Probe Generic\nflags=0x110\nhasEditor=0\nnumParams=24\nnumPrograms=3\n"
                  "programNames=Warm,Cold,Bright\nblockLogInterval=1000\n");
    std::error_code copied;
    fs::copy_file(run.dir / "saved.parameters", again.dir / "saved.parameters", copied);
    check(!copied, "generic: the first run saved the parameters", copied.message());
    HWND shown = startWithGenericEditor(
        again, effect, [](HWND editor) { return itemText(editor, vl::app::genericValueId(1)) == L"80.00 %"; });
    check(shown && itemText(shown, vl::app::genericValueId(1)) == L"80.00 %" &&
              SendMessageW(GetDlgItem(shown, vl::app::genericSliderId(1)), TBM_GETPOS, 0, 0) == 800 &&
              itemText(shown, vl::app::genericValueId(0)) == L"50.00 %",
          "generic: the saved values show after the next start",
          shown ? narrow(itemText(shown, vl::app::genericValueId(1))) : "no generic editor");
    check(shown && SendMessageW(GetDlgItem(shown, vl::app::kGenericProgramsId), CB_GETCURSEL, 0, 0) == 2,
          "generic: and the saved program");
    PostMessageW(again.main, WM_CLOSE, 0, 0);
    check(again.waitExit(15000), "generic: the second run ends");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--noop") return 0;
    if (argc == 4 && std::string(argv[1]) == "--demo") {
        workDir = fs::absolute(argv[3]);
        return demo(fs::absolute(argv[2]));
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <bin folder> <work folder>\n       %s --demo <host exe> <work folder>\n", argv[0], argv[0]);
        return 2;
    }
    binDir = fs::absolute(argv[1]);
    workDir = fs::absolute(argv[2]);
    fs::create_directories(workDir);
    createReplyWindow();

    // A fourth argument runs only the cases whose name contains it.
    const std::string only = argc > 3 ? argv[3] : "";
    const std::pair<const char*, void (*)()> cases[] = {
        {"foreign", foreignPlugin}, {"halvorn", halvorn},          {"needs-input", engineNeverRuns},
        {"vendor", vendorMenus},    {"no-module", noModule},       {"tempo", tempoWindow},
        {"player", playerWindow},   {"settings", settingsWindows}, {"devices", devicesInSettings},
        {"state", stateForEveryPlugin}, {"exit-take", recordingAtExit}, {"asio-engine", audioSettingsKeepTheEngine},
        {"asio-requests", driverRestartRequests}, {"asio-slow", asioBlockOutlivesTheStop},
        {"real-use", realUse},      {"second-copy", secondCopy}, {"missing-device", missingDevice},
        {"busy-exit", busyExit},
        {"first-start", firstStartMuted},
        {"own-state", ownStateApart}, {"blocked-save", blockedSave}, {"late-save", secondCopySavesLast},
        {"presets", presets},       {"many-programs", manyPrograms},
        {"generic", genericEditor},
    };
    for (const auto& [name, run] : cases) {
        // The default output's name comes from the first case.
        if (only.empty() || std::string(name).find(only) != std::string::npos || std::string(name) == "foreign") run();
    }

    std::printf("%d failed checks\n", failures);
    return failures == 0 ? 0 : 1;
}
