#include "app/linux/HostWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QScreen>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/AppRules.h"
#include "app/EngineWatch.h"
#include "app/MainWindowIds.h"
#include "app/PresetRules.h"
#include "app/linux/AudioSettingsWindow.h"
#include "app/linux/GenericEditor.h"
#include "app/linux/KeyCodes.h"
#include "app/linux/LinuxOptions.h"
#include "app/ReadOnlyStore.h"
#include "app/linux/MidiSettingsWindow.h"
#include "app/linux/PlayerWindow.h"
#include "app/linux/TempoWindow.h"
#include "dialogs/models/AudioSettingsModel.h"
#include "dialogs/models/GenericEditorModel.h"
#include "dialogs/models/MidiSettingsModel.h"
#include "host/HostCallback.h"
#include "platform/Module.h"
#include "platform/Text.h"
#include "settings/EffectName.h"
#include "settings/FileStore.h"

namespace vl::linuxapp {

namespace {

// effEditIdle at 60 Hz: knob drags of editors that draw from their idle call stay smooth.
constexpr int kIdleIntervalMs = 16;
// What the plug-in is told while no server is known.
constexpr double kRateWithoutServer = 48000.0;
constexpr int kBlockWithoutServer = 512;
using app::kErrorCaption;
using app::kNoPluginText;
using app::kTempoSyncedText;
using app::kVendorOnlyText;
using app::kWarningCaption;
constexpr wchar_t kAboutText[] = L"Vorlane Host\r\nA standalone host for one VST 2.x plug-in, on JACK.";

QString qtText(std::wstring_view text) {
    std::wstring plain(text);
    // The rules' texts use Windows line ends and the caption ends in one.
    std::wstring out;
    for (wchar_t c : plain)
        if (c != L'\r') out.push_back(c);
    while (!out.empty() && out.back() == L'\n') out.pop_back();
    return QString::fromStdWString(out);
}

}  // namespace

platform::MessageAnswer MessageBoxSink::show(const platform::UserMessage& message) {
    // Tests (and users who want a record) get every message in a file as well.
    if (const char* log = std::getenv("VORLANE_MESSAGE_LOG")) {
        if (FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s: %s\n", platform::wideToUtf8(message.caption).c_str(),
                         qtText(message.text).toUtf8().replace('\n', ' ').constData());
            std::fclose(f);
        }
    }
    QMessageBox box(owner);
    box.setWindowTitle(qtText(message.caption));
    box.setText(qtText(message.text));
    switch (message.icon) {
        case platform::MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case platform::MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case platform::MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
        case platform::MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
        case platform::MessageIcon::None: break;
    }
    if (message.buttons == platform::MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? platform::MessageAnswer::Yes : platform::MessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return platform::MessageAnswer::Ok;
}

HostWindow::HostWindow() {
    // From here on the host callback answers from the slot's time information, also while the
    // plug-in's entry point runs.
    setHostContext(&slot);
    coordinator.setMessageSink(&messages);
    connect(&idleTimer, &QTimer::timeout, this, [this] { onIdle(); });
    releaseTimer.setSingleShot(true);
    connect(&releaseTimer, &QTimer::timeout, this, [this] {
        if (const auto release = keyRepeat.due()) routeKey(release->key, false, Qt::KeyboardModifiers(release->modifiers));
    });
}

HostWindow::~HostWindow() {
    shutdown();
    coordinator.settings = nullptr;
    settings.reset();
}

void HostWindow::showMessage(const wchar_t* text, const wchar_t* caption) {
    messages.show(platform::okMessage(text, caption));
}

bool HostWindow::start(const std::filesystem::path& executable, const RunPlace& place) {
    // 1. The plug-in beside the executable ("Foo" loads "Foo.so"). Plug-ins that ask for the
    // rate while they open and ignore a later effSetSampleRate (Nekobi among them) would
    // otherwise play out of tune: the server's rate is in the time information before.
    // Without a server the plug-in hears a rate it can work with until one is known.
    const double serverRate = VLJack::serverSampleRate();
    slot.timeInfo.sampleRate = serverRate > 0.0 ? serverRate : kRateWithoutServer;
    const LoadResult loaded = slot.loadForExecutable(executable);
    if (!slot.effect) {
        // The path tried and why it failed, in the box and on stderr.
        const std::filesystem::path tried = modulePathForExecutable(executable);
        std::string reason = describe(loaded);
        if (loaded == LoadResult::ModuleNotFound && !platform::lastModuleError().empty())
            reason += ": " + platform::lastModuleError();
        const std::wstring text = std::wstring(kNoPluginText) + L"\r\n" + platform::pathToWide(tried) + L"\r\n" +
                                  platform::utf8ToWide(reason);
        std::fprintf(stderr, "VorlaneHost: Couldn't load Plugin! %s: %s\n", tried.string().c_str(), reason.c_str());
        showMessage(text.c_str(), kErrorCaption);
        return false;
    }
    if (serverRate <= 0.0) {
        slot.setSampleRate(static_cast<float>(kRateWithoutServer));
        slot.setBlockSize(kBlockWithoutServer);
    }

    // 2. Effect name: caption and the JACK clients' names.
    effectName = slot.effectNameWide();
    const std::string clientName = !place.clientName.empty() ? place.clientName
                                   : platform::wideToUtf8(effectName.empty() ? L"Vorlane Host" : effectName);
    jack = std::make_unique<VLJack>(clientName);
    midi = std::make_unique<VLJackMidi>(*jack);  // its ports on the audio client
    backends.set(kDeviceTypeJack, jack.get());
    jack->setBlockHook(&JackTransportFollow::onBlock, &follow);
    jack->setBlockSizeHook(&VLVSTHostInterface::OnBlockSizeChange, &coordinator);  // no restart for a new size
    midi->connect();

    // 3. Settings of this effect, with the MIDI ports of this run merged in.
    // A nameless plug-in is kept under the executable's base name, not in the maker's root key.
    // A second copy for the same effect reads them but writes neither them nor the state:
    // whichever copy ended last would overwrite the other's. The first holds a lock for life.
    const std::wstring identity = effectIdentity(effectName, executable);
    copyLockFile = runningCopyLockFile(
        FileStore::userFilePath(std::getenv("VORLANE_SETTINGS_FILE"), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")),
        identity);
    secondCopy = !copyLock.take(copyLockFile);
    const auto makeSettings = [&] {
        return secondCopy ? std::make_unique<HostSettings>(identity, std::make_shared<app::ReadOnlyStore>(makeUserSettingsStore()))
                          : std::make_unique<HostSettings>(identity);
    };
    settings = makeSettings();
    if (!place.sessionFolder.empty()) {
        // The session keeps the plug-in's state beside the settings: read again with it.
        writeStateFolder(settings->keyPath, place.sessionFolder);
        settings.reset();
        settings = makeSettings();
    }
    settings->loadSettings(backends);
    settings->mergeMidiDevices(midi->devices);
    midi->keepRemoved(readRemovedMidiConnections(settings->keyPath));
    follow.setEnabled(readFollowTransport(settings->keyPath));
    if (!takesNoAudioInput(slot)) coordinator.inputMuted = readInputMuted(settings->keyPath);

    // 4. The window; the editor follows the engine. The plug-in's state of its opening is
    // kept for Reset to Default before any saved state reaches it.
    buildMenu();
    presets->keepDefault();
    showCaptionName();
    if (needsGenericEditor(slot)) {
        // A plug-in without an editor of its own: the host's rows of parameters instead.
        genericEditor = new GenericEditor(slot, coordinator.betweenBlocks(), this);
        setCentralWidget(genericEditor);
    } else {
        editorHost = new QWidget(this);
        editorHost->setAttribute(Qt::WA_NativeWindow);
        const EditorSize size = slot.editorSize();
        editorWidth = rectWidth = size.width;
        editorHeight = rectHeight = size.height;
        editorHost->setFixedSize(editorWidth, editorHeight);
        setCentralWidget(editorHost);
    }
    setAcceptDrops(true);
    restorePosition();
    editorKeys = std::make_unique<EditorKeyFocus>(this);
    show();

    // 5. Engines first: the first sound does not wait for an editor that takes seconds to
    // open. Then the state and the transport.
    coordinator.link(&slot, &backends, midi.get(), settings.get());
    startAudioAtStartup();
    // A message of the start-up may have been answered by the end of the program.
    if (shutDown) return false;
    if (!coordinator.StartMidiEngine()) showMessage(kMidiEngineErrorText, kErrorCaption);
    if (shutDown) return false;
    // What a way out could not save in its place was kept in a second place: handed back now.
    if (const auto kept = coordinator.LoadChunk(); !kept.empty()) {
        std::vector<app::KeptFileText> files;
        for (const auto& file : kept) files.push_back({platform::pathToWide(file.keptAt), platform::pathToWide(file.home), file.movedHome});
        showMessage(app::keptFilesText(files).c_str(), kWarningCaption);
    }
    if (shutDown) return false;
    for (const std::filesystem::path& file : startupPresets) {
        presets->loadFile(file);
        if (shutDown) return false;
    }
    applyStartupTransport();
    setEngineItem(coordinator.engineRunning.load(std::memory_order_acquire));
    {
        const QSignalBlocker quiet(followAction);
        followAction->setChecked(follow.isEnabled());
    }
    showCaptionName();

    // 6. The editor inside the window. Some plug-ins answer 0 to a successful open: the editor
    // counts as open either way, as the Windows window counts it.
    if (editorHost) {
        slot.editOpen(reinterpret_cast<void*>(editorHost->winId()));
        editorOpen = true;
    }
    uiThread = std::this_thread::get_id();
    slot.installSizeWindowHook(&onSizeWindow, this);
    // A size the plug-in asked for before the window could follow (the host said yes to it).
    if (const auto early = takeEarlyEditorSize()) {
        resizeEditor(early->width, early->height);
        editorSizes.placed(early->width, early->height);
    }
    idleTimer.start(kIdleIntervalMs);
    qApp->installEventFilter(this);
    if (settings->openPlayerOnStartup) openWindow(Modeless::Player);
    return true;
}

void HostWindow::setEngineItem(bool running) {
    // The rule's text carries its shortcut.
    if (engineAction) engineAction->setText(qtText(app::engineItemText(running)));
}

void HostWindow::showCaptionName() {
    const std::wstring name = app::presetCaptionName(effectName, programShown);
    caption = secondCopy ? app::secondCopyCaption(name) : name;
    if (coordinator.inputMuted && !takesNoAudioInput(slot)) caption = app::mutedInputCaption(caption);
    if (!coordinator.engineRunning.load(std::memory_order_acquire)) setWindowTitle(qtText(caption));
}

void HostWindow::setInputMuted(bool muted) {
    coordinator.inputMuted = muted;
    if (settings && mayWriteState()) writeInputMuted(settings->keyPath, muted);
    if (muteAction) {
        const QSignalBlocker quiet(muteAction);
        muteAction->setChecked(muted);
    }
    showCaptionName();
}

bool HostWindow::mayWriteState() {
    // A second copy whose first copy has ended since is the only one left: it saves.
    if (secondCopy && copyLock.take(copyLockFile)) {
        secondCopy = false;
        showCaptionName();
    }
    return !secondCopy;
}

void HostWindow::startAudioAtStartup() {
    const bool firstRun = settings->outputDevice == nullptr;
    if (firstRun) {
        // The server's own ports; the engine drops the input for plug-ins that take none.
        settings->outputDevice = jack->output();
        settings->inputDevice = jack->input();
    }
    restorePortChoice();
    // At the first start an effect would send the system's capture ports (a laptop's
    // microphone) straight to the speakers: it starts with its input muted, as on Windows.
    if (firstRun && !takesNoAudioInput(slot)) coordinator.inputMuted = true;
    if (coordinator.StartAudioEngine()) {
        if (firstRun && mayWriteState()) {
            settings->saveSettings();
            if (coordinator.inputMuted) writeInputMuted(settings->keyPath, true);
        }
        keepPortChoice();
        return;
    }
    showMessage(jack->connected() ? kAudioEngineErrorText : kJackNotRunningText, kErrorCaption);
}

void HostWindow::restorePortChoice() {
    for (AudioDeviceRecord* record : {jack->input(), jack->output()})
        if (jack->queryDetails(record, false)) applyPortChoice(settings->keyPath, *record);
}

void HostWindow::keepPortChoice() {
    if (!mayWriteState()) return;
    for (AudioDeviceRecord* record : {jack->input(), jack->output()})
        if (record->detailsKnown) writePortChoice(settings->keyPath, *record);
}

void HostWindow::applyStartupTransport() {
    // A followed server transport decides itself, as a synced MIDI clock does.
    if (follow.isEnabled()) return;
    const app::StartupTransport start =
        app::transportAtStartup(settings->anyClockSync(), slot.effectName(), coordinator.transportPlaying());
    if (!start.apply) return;
    coordinator.requestedPlaying.store(start.change.requestedPlaying, std::memory_order_release);
    if (start.change.setRequest) coordinator.transportRequest.store(true, std::memory_order_release);
}

void HostWindow::toggleTransport() {
    const app::TransportChange change =
        app::spaceToggle(coordinator.requestedPlaying.load(std::memory_order_acquire), coordinator.transportPlaying());
    coordinator.requestedPlaying.store(change.requestedPlaying, std::memory_order_release);
    if (change.setRequest) coordinator.transportRequest.store(true, std::memory_order_release);
}

void HostWindow::buildMenu() {
    isVendorPlugin = slot.checkVendor();
    const app::MenuVariant variant =
        app::menuVariant(isVendorPlugin, isVendorPlugin && slot.canDo("hasAboutScreen"));
    auto add = [this](QMenu* menu, const QString& text, int command) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
        return action;
    };
    QMenu* file = menuBar()->addMenu("&File");
    add(file, "Audio Settings\tCtrl+A", ID_FILE_AUDIOSETTINGS);
    add(file, "Midi Settings\tCtrl+M", ID_FILE_MIDISETTINGS);
    add(file, "Tempo\tCtrl+T", ID_FILE_TEMPO);
    engineAction = add(file, qtText(app::engineItemText(false)), ID_FILE_AUDIOENGINE);
    // Every plug-in has the player and recorder (Ctrl+P opens it for every plug-in too).
    add(file, "Audio Player / Recorder\tCtrl+P", ID_FILE_AUDIOPLAYER);
    followAction = file->addAction("Follow JACK Transport");
    followAction->setCheckable(true);
    connect(followAction, &QAction::toggled, this, [this](bool on) {
        follow.setEnabled(on);
        if (settings && mayWriteState()) writeFollowTransport(settings->keyPath, on);
    });
    add(file, "Panic\tCtrl+X", ID_FILE_PANIC);
    if (!takesNoAudioInput(slot)) {
        muteAction = file->addAction(qtText(app::kMuteInputItemText));
        muteAction->setCheckable(true);
        muteAction->setChecked(coordinator.inputMuted);
        connect(muteAction, &QAction::toggled, this, [this](bool on) { setInputMuted(on); });
    }
    file->addSeparator();
    add(file, "Exit\tAlt+F4", ID_FILE_EXIT);
    PresetMenu::Links links;
    links.owner = this;
    links.slot = &slot;
    links.coordinator = &coordinator;
    links.settings = settings.get();
    links.messages = &messages;
    links.writableStore = [this] { return mayWriteState() ? makeUserSettingsStore() : nullptr; };
    links.soundChanged = [this](const std::wstring& program) {
        programShown = program;
        showCaptionName();
    };
    presets = new PresetMenu(menuBar()->addMenu("&Preset"), std::move(links));
    QMenu* help = menuBar()->addMenu("&Help");
    if (variant != app::MenuVariant::Foreign) {
        add(help, "Help", ID_HELP_HELP);
        add(help, "Check for Updates", ID_HELP_CHECKFORUPDATES);
    }
    if (variant != app::MenuVariant::VendorWithoutAbout) add(help, "About", ID_HELP_ABOUT);
}

void HostWindow::toggleEngine() {
    bool running = false;
    if (coordinator.engineRunning.load(std::memory_order_acquire)) {
        coordinator.StopAudioEngine();
    } else {
        if (jack->connect()) restorePortChoice();
        running = coordinator.StartAudioEngine();
        if (running) keepPortChoice();
        if (!running) showMessage(jack->connected() ? kAudioEngineErrorText : kJackNotRunningText, kErrorCaption);
        else if (midi && !midi->connected()) reconnectMidi();
    }
    setEngineItem(running);
}

void HostWindow::reconnectMidi() {
    // The server is back: the MIDI ports of this run get their ids in the settings and the
    // active inputs open, as at a start with the server there.
    if (!midi->connect()) {
        showMessage(kMidiEngineErrorText, kErrorCaption);
        return;
    }
    settings->mergeMidiDevices(midi->devices);
    if (!coordinator.StartMidiEngine()) showMessage(kMidiEngineErrorText, kErrorCaption);
}

void HostWindow::followMidiPorts() {
    if (!midi || !settings || !midi->devicesChanged()) return;
    const size_t known = midi->devices.size();
    if (!midi->refreshDevices()) return;
    settings->mergeMidiDevices(midi->devices);
    bool activeArrived = false;
    for (size_t i = known; i < midi->devices.size(); ++i)
        if (midi->devices[i]->isInput && midi->devices[i]->active.get()) activeArrived = true;
    if (activeArrived && coordinator.linked()) {
        coordinator.StopMidiEngine();
        if (!coordinator.StartMidiEngine()) showMessage(kMidiEngineErrorText, kErrorCaption);
    }
    if (auto* window = dynamic_cast<MidiSettingsWindow*>(windows[static_cast<int>(Modeless::Midi)].data()))
        window->devicesChanged();
}

void HostWindow::keepRemovedMidiConnections() {
    if (midi && settings && midi->connected() && mayWriteState())
        writeRemovedMidiConnections(settings->keyPath, midi->removedConnections());
}

void HostWindow::runCommand(int command) {
    switch (command) {
        case ID_FILE_AUDIOSETTINGS: openWindow(Modeless::Audio); break;
        case ID_FILE_MIDISETTINGS: openWindow(Modeless::Midi); break;
        case ID_FILE_TEMPO:
            if (settings && settings->anyClockSync()) showMessage(kTempoSyncedText, kWarningCaption);
            else openWindow(Modeless::Tempo);
            break;
        case ID_FILE_AUDIOPLAYER: openWindow(Modeless::Player); break;
        case ID_FILE_AUDIOENGINE: toggleEngine(); break;
        case ID_FILE_PANIC: coordinator.Panic(); break;
        case ID_FILE_EXIT:
            if (mayWriteState()) coordinator.SaveChunk();
            close();
            break;
        case ID_HELP_HELP:
            if (isVendorPlugin) slot.showHelp();
            else showMessage(kVendorOnlyText, kErrorCaption);
            break;
        case ID_HELP_CHECKFORUPDATES:
            if (isVendorPlugin) slot.checkForUpdates();
            else showMessage(kVendorOnlyText, kErrorCaption);
            break;
        case ID_HELP_ABOUT:
            if (isVendorPlugin) slot.showAboutScreen();
            else QMessageBox::about(this, "About", qtText(kAboutText));
            break;
        default: break;
    }
}

QDialog* HostWindow::openWindow(Modeless which) {
    QPointer<QDialog>& open = windows[static_cast<int>(which)];
    if (open) {
        open->raise();
        open->activateWindow();
        return open;
    }
    if (!settings || !midi) return nullptr;
    switch (which) {
        case Modeless::Audio:
            open = new AudioSettingsWindow(this, backends, *settings, coordinator, takesNoAudioInput(slot),
                                           &messages, [this] { keepPortChoice(); }, jack.get());
            break;
        case Modeless::Midi:
            open = new MidiSettingsWindow(this, coordinator, *midi, *settings, midiCapabilitiesOf(slot), &messages);
            break;
        case Modeless::Tempo: open = new TempoWindow(this, coordinator, *settings); break;
        case Modeless::Player: open = new PlayerWindow(this, coordinator, *settings, slot.isSynth(), &messages); break;
    }
    open->show();
    return open;
}

void HostWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void HostWindow::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        const std::filesystem::path file = platform::pathFromWide(url.toLocalFile().toStdWString());
        if (isPresetFileName(file)) {
            presets->loadFile(file);
        } else if (app::isAudioFileName(file)) {
            if (auto* player = dynamic_cast<PlayerWindow*>(openWindow(Modeless::Player))) player->loadFile(file);
        } else {
            continue;
        }
        event->acceptProposedAction();
        return;  // one file per drop
    }
}

void HostWindow::restorePosition() {
    const auto stored = app::readWindowPosition(settings->valueStore(), settings->keyPath);
    if (!stored) return;
    std::vector<app::Rect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect a = screen->availableGeometry();
        areas.push_back({a.left(), a.top(), a.left() + a.width(), a.top() + a.height()});
    }
    const QRect p = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry() : QRect();
    const app::Rect primary{p.left(), p.top(), p.left() + p.width(), p.top() + p.height()};
    const app::WindowPosition at = app::placeOnScreens(*stored, {width(), height()}, areas, primary);
    move(at.left, at.top);
}

void HostWindow::keepPosition() {
    if (!settings || !isVisible() || isMinimized() || isMaximized() || !mayWriteState()) return;
    const QPoint at = pos();
    app::writeWindowPosition(*makeUserSettingsStore(), settings->keyPath, {at.x(), at.y()});
}

void HostWindow::closeWindows() {
    // They work on the settings and the coordinator.
    for (QPointer<QDialog>& open : windows)
        if (open) open->close();
}

bool HostWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    // Only keys of this window: a message box or settings window in front keeps its own.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (QApplication::activeModalWidget() || !widget || widget->window() != this) return false;
    const int key = virtualKeyOfQtKey(keyEvent->key());
    if (key == 0) return false;
    const bool keyDown = event->type() == QEvent::KeyPress;
    const Qt::KeyboardModifiers modifiers = keyEvent->modifiers();
    // X repeats a held key as release and press pairs: a held note would retrigger, a held
    // Space toggle the transport, a held shortcut repeat its command. Only the first press
    // and the real release count; a release waits briefly for a repeat's press.
    const auto time = static_cast<unsigned long>(keyEvent->timestamp());
    if (!keyDown) {
        if (const auto before = keyRepeat.release(key, static_cast<int>(modifiers), time, keyEvent->isAutoRepeat()))
            routeKey(before->key, false, Qt::KeyboardModifiers(before->modifiers));
        if (keyRepeat.holding()) releaseTimer.start(KeyRepeatFilter::kHoldMs);
        return true;
    }
    const KeyRepeatFilter::PressAnswer answer = keyRepeat.press(key, time, keyEvent->isAutoRepeat());
    if (answer.before) routeKey(answer.before->key, false, Qt::KeyboardModifiers(answer.before->modifiers));
    if (!keyRepeat.holding()) releaseTimer.stop();
    if (!answer.handle) return true;
    return routeKey(key, true, modifiers);
}

bool HostWindow::routeKey(int key, bool keyDown, Qt::KeyboardModifiers modifiers) {
    const app::KeyDecision decision = app::routeKey(key, keyDown, modifiers & Qt::ControlModifier, modifiers & Qt::AltModifier);
    switch (decision.route) {
        case app::KeyRoute::Swallow: return true;
        case app::KeyRoute::Command: runCommand(decision.command); return true;
        case app::KeyRoute::ToggleTransport: toggleTransport(); return true;
        case app::KeyRoute::PanicKey:
            if (coordinator.KeyboardNote('P', true)) return true;
            break;
        case app::KeyRoute::General: break;
    }
    // Enter, like every other key, belongs to the editor: only Exit and the close box end the host.
    return generalKeyHandling(key, keyDown, modifiers);
}

bool HostWindow::generalKeyHandling(int key, bool keyDown, Qt::KeyboardModifiers modifiers) {
    const app::PluginKey forPlugin = app::pluginKey(key, modifiers & Qt::ShiftModifier, modifiers & Qt::ControlModifier,
                                                    modifiers & Qt::AltModifier);
    const bool consumed = keyDown ? slot.editKeyDown(forPlugin.character, forPlugin.virtualKey, forPlugin.modifiers)
                                  : slot.editKeyUp(forPlugin.character, forPlugin.virtualKey, forPlugin.modifiers);
    if (consumed) return true;
    if (isVendorPlugin && slot.editorOwnsKeys()) return false;
    return coordinator.KeyboardNote(key & 0xFF, keyDown);
}

void HostWindow::onIdle() {
    if (shutDown) return;
    if (editorOpen) slot.editIdle();
    if (genericEditor) genericEditor->refresh();
    if (editorOpen && editorKeys) editorKeys->keep();
    const bool running = coordinator.engineRunning.load(std::memory_order_acquire);
    setWindowTitle(running ? qtText(app::statusCaption(caption, coordinator.tempo.load(std::memory_order_acquire),
                                                       coordinator.cpuPercent))
                           : qtText(caption));
    coordinator.SavePendingTempo();
    takeEditorSize();
    fitEditor();
    watchServer();
    followMidiPorts();
}

void HostWindow::watchServer() {
    if (!jack) return;
    switch (coordinator.PollEngine()) {
        case EngineNotice::DeviceFailed:
            // The engine is stopped; without the server the MIDI ports are gone too.
            if (jack->serverLost() && midi) {
                coordinator.StopMidiEngine();
                midi->disconnect();
            }
            setEngineItem(false);
            // The caption shows the stopped engine while the message waits for its OK.
            setWindowTitle(qtText(caption));
            if (jack->serverLost()) {
                showMessage(kJackShutDownText, kErrorCaption);
            } else {
                showMessage(app::deviceFailedText(coordinator.failedDeviceName()).c_str(), kErrorCaption);
            }
            return;
        case EngineNotice::RestartRequested: {
            // The plug-in is told the server's new block size by the restart. A restart that
            // fails stopped the sound without the user doing anything: it is told like a
            // failed device, unless the start has said why already.
            const std::wstring device = coordinator.engineDeviceName();
            if (!coordinator.StartAudioEngine()) {
                setEngineItem(false);
                setWindowTitle(qtText(caption));
                if (!coordinator.startFailureTold())
                    showMessage(app::deviceFailedText(device).c_str(), kErrorCaption);
            }
            return;
        }
        case EngineNotice::None: return;
    }
}

// Follows the editor's rectangle: plug-ins that resize themselves change it.
void HostWindow::fitEditor() {
    if (!editorOpen) return;
    const std::optional<vst::ERect> rect = slot.editGetRect();
    if (!rect) return;
    // Measured as the opening size is: the rectangle's right and bottom. Only a change is
    // news: a rectangle that stays as it was would undo the sizes the plug-in asked for.
    if (rect->right == rectWidth && rect->bottom == rectHeight) return;
    rectWidth = rect->right;
    rectHeight = rect->bottom;
    resizeEditor(rect->right, rect->bottom);
}

bool HostWindow::onSizeWindow(int width, int height, void* user) {
    auto* self = static_cast<HostWindow*>(user);
    if (!self || width <= 0 || height <= 0) return false;
    if (std::this_thread::get_id() != self->uiThread) {
        self->editorSizes.offer(width, height);  // the idle tick takes it
        return true;
    }
    if (self->shutDown) return false;
    self->resizeEditor(width, height);
    self->editorSizes.placed(width, height);
    return true;
}

void HostWindow::takeEditorSize() {
    const std::optional<app::EditorSizeMailbox::Request> size = editorSizes.take();
    if (!size) return;
    resizeEditor(size->width, size->height);
    // A newer size that came meanwhile is taken at the next tick.
    editorSizes.applied(size->width, size->height);
}

void HostWindow::resizeEditor(int width, int height) {
    if (!editorOpen || width <= 0 || height <= 0 || (width == editorWidth && height == editorHeight)) return;
    editorWidth = width;
    editorHeight = height;
    editorHost->setFixedSize(width, height);
    adjustSize();
}

void HostWindow::stopEnginesAndSaveState() {
    if (stateSaved) return;
    stateSaved = true;
    keepRemovedMidiConnections();
    coordinator.StopAudioEngine();
    if (coordinator.linked()) coordinator.StopMidiEngine();
    coordinator.SavePendingTempo();
    // A second copy stores nothing (unless the first has ended meanwhile).
    if (!mayWriteState()) return;
    // Every way out comes here, signals and the session's end among them, where no box can
    // ask: a state that cannot be written goes to a second place and the next start tells.
    coordinator.SaveChunkForSessionEnd();
}

std::optional<std::wstring> HostWindow::saveForSession() {
    if (shutDown || !settings || !coordinator.linked()) return std::wstring(L"The plug-in is not running.");
    if (!mayWriteState()) return std::wstring(L"Another copy of the host runs in this session's folder and keeps its files.");
    settings->saveSettings();
    keepPortChoice();
    keepRemovedMidiConnections();
    coordinator.SavePendingTempo();
    const VLVSTHostInterface::StateSave saved = coordinator.SaveChunk();
    if (!saved.saved)
        return L"The plug-in's state could not be saved in " + platform::pathToWide(saved.file) + L": " + saved.reason;
    return std::nullopt;
}

void HostWindow::saveWithoutAsking() {
    if (shutDown || stateSaved || !coordinator.linked()) return;
    // Before any window closes: the player would ask what to do with the take. The take's
    // name is its own (a time stamp), so a second copy keeps it too.
    coordinator.SaveRecordingForSessionEnd();
    stopEnginesAndSaveState();
}

void HostWindow::shutdown() {
    if (shutDown) return;
    keepPosition();
    shutDown = true;
    idleTimer.stop();
    releaseTimer.stop();
    slot.installSizeWindowHook(nullptr, nullptr);
    closeWindows();
    stopEnginesAndSaveState();
    if (editorOpen) slot.editClose();
    editorOpen = false;
    slot.close();
    if (jack) jack->disconnect();
    if (midi) midi->disconnect();
}

void HostWindow::closeEvent(QCloseEvent* event) {
    shutdown();
    event->accept();
}

}  // namespace vl::linuxapp
