#include "gui/QtSettingsStore.h"

#include "shell/IniSettingsStore.h"

namespace hx::gui {

namespace {
QString keyOf(const std::string& keyPath, const std::string& name = {}) {
    return QString::fromStdString(shell::RegKeyToSettingsKey(keyPath, name));
}
}  // namespace

// The same files as the command line's store (XDG config folders), so the
// window and harvestrix-cli share one set of settings.
QtSettingsStore::QtSettingsStore()
    : QtSettingsStore(QString::fromStdString(shell::DefaultIniStorePaths().localMachine.string()),
                      QString::fromStdString(shell::DefaultIniStorePaths().currentUser.string()),
                      QString::fromStdString(shell::DefaultIniStorePaths().appSettings.string())) {}

QtSettingsStore::QtSettingsStore(const QString& localMachineFile, const QString& currentUserFile,
                                 const QString& appSettingsFile) {
    if (!localMachineFile.isEmpty()) machine_ = std::make_unique<QSettings>(localMachineFile, QSettings::IniFormat);
    if (!currentUserFile.isEmpty()) user_ = std::make_unique<QSettings>(currentUserFile, QSettings::IniFormat);
    app_ = std::make_unique<QSettings>(appSettingsFile, QSettings::IniFormat);
}

QSettings* QtSettingsStore::settingsOf(shell::RegRoot root) const {
    switch (root) {
        case shell::RegRoot::LocalMachine: return machine_.get();
        case shell::RegRoot::Users: return nullptr;  // no such scope here
        case shell::RegRoot::CurrentUser: break;
    }
    return user_.get();
}

std::string QtSettingsStore::ReadRegValue(shell::RegRoot root, const std::string& keyPath, const std::string& name) {
    QSettings* s = settingsOf(root);
    if (!s) return {};
    if (!inBatch_) s->sync();  // the command line may have written meanwhile
    const QString key = keyOf(keyPath, name);
    // What the user has not set, the machine's defaults may say.
    if (!s->contains(key) && root == shell::RegRoot::CurrentUser && machine_)
        return machine_->value(key).toString().toStdString();
    return s->value(key).toString().toStdString();
}

QSettings* QtSettingsStore::writableOf(shell::RegRoot root) const {
    // The machine-wide file gives defaults only: never written, not even by root.
    if (root == shell::RegRoot::LocalMachine) return nullptr;
    return settingsOf(root);
}

bool QtSettingsStore::WriteRegValue(shell::RegRoot root, const std::string& keyPath, const std::string& name,
                                    const std::string& value) {
    QSettings* s = writableOf(root);
    if (!s || !s->isWritable()) return false;
    s->setValue(keyOf(keyPath, name), QString::fromStdString(value));
    return commit(*s);
}

bool QtSettingsStore::DeleteRegKey(shell::RegRoot root, const std::string& keyPath, const std::string& subkey) {
    QSettings* s = writableOf(root);
    if (!s || !s->isWritable()) return false;
    const QString key = keyOf(keyPath, subkey);
    bool existed = s->contains(key);
    s->beginGroup(key);
    existed = existed || !s->allKeys().isEmpty();
    s->endGroup();
    s->remove(key);
    return commit(*s) && existed;
}

bool QtSettingsStore::CreateRegKey(shell::RegRoot root, const std::string&) {
    QSettings* s = writableOf(root);
    return s && s->isWritable();
}

std::string QtSettingsStore::GetSetting(const std::string& app, const std::string& section, const std::string& key,
                                        const std::string& defaultValue) {
    if (!inBatch_) app_->sync();
    const QString k = QString::fromStdString(app + "/" + section + "/" + key);
    return app_->contains(k) ? app_->value(k).toString().toStdString() : defaultValue;
}

void QtSettingsStore::SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                                  const std::string& value) {
    app_->setValue(QString::fromStdString(app + "/" + section + "/" + key), QString::fromStdString(value));
    commit(*app_);
}

bool QtSettingsStore::commit(QSettings& s) {
    if (inBatch_) return true;
    s.sync();
    return s.status() == QSettings::NoError;
}

bool QtSettingsStore::EndBatch() {
    inBatch_ = false;
    bool ok = true;
    for (QSettings* s : {machine_.get(), user_.get(), app_.get()})
        if (s) ok = commit(*s) && ok;
    return ok;
}

}  // namespace hx::gui
