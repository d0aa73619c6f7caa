#include "app/linux/PresetMenu.h"

#include <QActionGroup>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>

#include "app/AppRules.h"
#include "app/PresetRules.h"
#include "app/linux/Controls.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "platform/Text.h"
#include "settings/HostSettings.h"

namespace vl::linuxapp {

namespace {

constexpr char kBothFilter[] = "VST Preset or Bank (*.fxp *.fxb *.FXP *.FXB)";
constexpr char kProgramFilter[] = "VST Preset (*.fxp *.FXP)";
constexpr char kBankFilter[] = "VST Bank (*.fxb *.FXB)";

QString fromPath(const std::filesystem::path& path) { return QString::fromStdWString(platform::pathToWide(path)); }
std::filesystem::path toPath(const QString& text) { return platform::pathFromWide(text.toStdWString()); }

}  // namespace

PresetMenu::PresetMenu(QMenu* menu, Links links) : QObject(menu), menu(menu), links(std::move(links)) {
    // Built when it opens: listing the programs may visit them.
    connect(menu, &QMenu::aboutToShow, this, [this] { rebuild(); });
    menu->addAction(qs(app::kNoProgramsText))->setEnabled(false);
}

void PresetMenu::rebuild() {
    menu->clear();
    PluginSlot& slot = *links.slot;
    connect(menu->addAction("&Load Preset / Bank..."), &QAction::triggered, this, [this] { loadChosen(); });
    connect(menu->addAction("&Save Preset..."), &QAction::triggered, this, [this] { save(PresetKind::Program); });
    connect(menu->addAction("Save &Bank..."), &QAction::triggered, this, [this] { save(PresetKind::Bank); });
    menu->addSeparator();

    const int32_t programs = programCount(slot);
    // Names read without visiting the programs are asked every time; the others only after
    // something may have changed them (a visit changes programs).
    if (slot.takeDisplayChange()) namesStale = true;
    if (namesStale || namesAreIndexed(slot) || names.size() != size_t(programs)) {
        names = programNames(slot, links.coordinator->betweenBlocks());
        namesStale = names.size() != size_t(programs);
    }
    if (programs <= 0 || names.empty()) {
        menu->addAction(qs(app::kNoProgramsText))->setEnabled(false);
    } else {
        const int32_t current = currentProgram(slot);
        auto* group = new QActionGroup(menu);
        for (const ProgramGroup& part : programGroups(std::min(programs, int32_t(app::kMaxProgramCommands)))) {
            QMenu* into = part.title.empty() ? menu : menu->addMenu(QString::fromStdString(part.title));
            for (int32_t i = part.first; i < part.first + part.count; ++i) {
                // Qt takes "&" as a mnemonic as Windows does: a name's own is doubled.
                QAction* item = into->addAction(qs(app::menuItemText(platform::utf8ToWide(names[size_t(i)]))));
                item->setCheckable(true);
                item->setChecked(i == current);
                item->setActionGroup(group);
                connect(item, &QAction::triggered, this, [this, i] { chooseProgram(i); });
            }
        }
    }
    menu->addSeparator();
    QAction* renameItem = menu->addAction("&Rename Program...");
    renameItem->setEnabled(programs > 0);
    connect(renameItem, &QAction::triggered, this, [this] { rename(); });
    QAction* resetItem = menu->addAction("Reset to &Default");
    resetItem->setEnabled(defaultState.captured());
    connect(resetItem, &QAction::triggered, this, [this] { reset(); });
}

std::wstring PresetMenu::startFolder() const {
    return app::readPresetFolder(links.settings->valueStore(), links.settings->keyPath);
}

void PresetMenu::rememberFolder(const std::filesystem::path& file) {
    if (auto store = links.writableStore ? links.writableStore() : nullptr)
        app::writePresetFolder(*store, links.settings->keyPath, platform::pathToWide(file.parent_path()));
}

void PresetMenu::tellChanged() {
    namesStale = true;
    if (links.soundChanged) links.soundChanged(platform::ansiToWide(currentProgramName(*links.slot)));
}

bool PresetMenu::loadFile(const std::filesystem::path& path) {
    const PresetOutcome outcome = loadPresetFile(*links.slot, path, links.coordinator->betweenBlocks());
    if (!outcome.ok) {
        const std::wstring text = app::presetLoadFailedText(platform::pathToWide(path.filename()), outcome.message);
        links.messages->show(platform::okMessage(text.c_str(), app::kErrorCaption));
        return false;
    }
    tellChanged();
    return true;
}

void PresetMenu::loadChosen() {
    const QString file = QFileDialog::getOpenFileName(links.owner, "Load Preset / Bank", QString::fromStdWString(startFolder()),
                                                      QString(kBothFilter) + ";;" + kProgramFilter + ";;" + kBankFilter);
    if (file.isEmpty()) return;
    const std::filesystem::path path = toPath(file);
    if (loadFile(path)) rememberFolder(path);
}

void PresetMenu::save(PresetKind kind) {
    const bool bank = kind == PresetKind::Bank;
    std::filesystem::path folder = platform::pathFromWide(startFolder());
    const std::string name = currentProgramName(*links.slot);
    const std::filesystem::path suggested = folder / platform::pathFromWide(platform::utf8ToWide(
                                                         (name.empty() || bank ? std::string("Bank") : name) + (bank ? ".fxb" : ".fxp")));
    QFileDialog dialog(links.owner, bank ? "Save Bank" : "Save Preset", fromPath(folder), bank ? kBankFilter : kProgramFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(bank ? "fxb" : "fxp");
    dialog.selectFile(fromPath(suggested.filename()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const std::filesystem::path path = toPath(dialog.selectedFiles().front());
    const PresetOutcome outcome = savePresetFile(*links.slot, path, kind, links.coordinator->betweenBlocks());
    if (!outcome.ok) {
        const std::wstring text = app::presetSaveFailedText(platform::pathToWide(path.filename()), outcome.message);
        links.messages->show(platform::okMessage(text.c_str(), app::kErrorCaption));
        return;
    }
    rememberFolder(path);
}

void PresetMenu::rename() {
    bool accepted = false;
    const QString now = QString::fromStdString(currentProgramName(*links.slot));
    const QString name = QInputDialog::getText(links.owner, "Rename Program", "Program name:", QLineEdit::Normal, now, &accepted);
    if (!accepted) return;
    if (!renameProgram(*links.slot, name.toStdString())) {
        links.messages->show(platform::okMessage(app::kRenameRefusedText, app::kWarningCaption));
        return;
    }
    tellChanged();
}

void PresetMenu::reset() {
    platform::UserMessage question;
    question.text = app::kResetQuestion;
    question.caption = app::kResetToDefaultText;
    question.buttons = platform::MessageButtons::YesNo;
    question.icon = platform::MessageIcon::Question;
    if (links.messages->show(question) != platform::MessageAnswer::Yes) return;
    const PresetOutcome outcome = defaultState.restore(*links.slot, links.coordinator->betweenBlocks());
    if (!outcome.ok) {
        links.messages->show(platform::okMessage(platform::utf8ToWide(outcome.message).c_str(), app::kErrorCaption));
        return;
    }
    tellChanged();
}

void PresetMenu::chooseProgram(int index) {
    if (!selectProgram(*links.slot, index, links.coordinator->betweenBlocks())) return;
    if (links.soundChanged) links.soundChanged(platform::ansiToWide(currentProgramName(*links.slot)));
}

}  // namespace vl::linuxapp
