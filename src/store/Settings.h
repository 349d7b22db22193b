#pragma once

// Settings are ordinary store items: a `global` (saved) or `vglobal` (run-only) item
// named by the key, connected to one shared `global_value` item holding the text.
// These helpers only spell out the store operations every component would repeat.

#include "store/Data.h"

#include <QString>

// Thrown, as a pointer like the store's schema exceptions, by DeclareSettingsTypes when
// no DataSaver exists yet. Nothing catches it: a shell built in the wrong order must
// stop at once rather than run without ever saving a setting.
class SettingsWithoutSaverException
{
};

// Declares `global`, `vglobal` and `global_value` with their relations and saved-type
// registrations. Called once by the shell at its place in start-up (and by tests),
// after the DataSaver is created.
void DeclareSettingsTypes();

// The value text of a saved setting; empty when it has no value.
QString GetSetting(char const* key);
// The value read as a base-10 integer (0 when absent or not a number).
int GetSettingInt(char const* key);
// True when the key holds a value. Never creates the key's item.
bool HasSetting(char const* key);
// True exactly when the value is "yes".
bool IsSettingYes(char const* key);
// Writes a value; writing the value the key already has fires nothing.
void SetSetting(char const* key, QString const& value);
void SetSettingYesNo(char const* key, bool yes);
// Writes a value only when the key has none, so loaded values win over defaults.
void SetSettingDefault(char const* key, QString const& value);

// The same for run-only settings (`vglobal`).
QString GetVSetting(char const* key);
void SetVSetting(char const* key, QString const& value);

// Calls the handler with the key's `global` item whenever the key gets a new value
// (written, or loaded from the store file). The handler must already be entered in its
// owner's DataHandler set (DataHandler::CreateHandler); the store takes it over.
void WatchSetting(char const* key, EventHandlerBase<ItemPtr>* handler);
