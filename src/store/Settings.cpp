#include "store/Settings.h"

#include "store/Data.h"
#include "store/DataSaver.h"

namespace
{

char const* const c_saved = "global";
char const* const c_runOnly = "vglobal";
char const* const c_value = "global_value";

// The key's item when it exists. Reads never create it: `global` creates on lookup,
// and a key created by a read would be saved with no value.
ItemPtr ExistingKey(char const* typeName, char const* key)
{
    return d.GetType(typeName)->HasItem(Value(key));
}

QString ValueText(char const* typeName, char const* key)
{
    ItemPtr const l_key = ExistingKey(typeName, key);
    if (!l_key)
        return QString();
    return l_key[c_value].AsString();
}

void WriteValue(char const* typeName, char const* key, QString const& value)
{
    ItemPtr const l_key = d.GetType(typeName)->GetItem(Value(key));
    ItemPtr const l_value = d.GetType(c_value)->GetItem(Value(value));
    // One value per key: the old one is disconnected first; the same value is a no-op.
    l_key += l_value;
}

} // namespace

void DeclareSettingsTypes()
{
    // Without the saver the saved registrations would be lost, and with them every
    // setting the user ever changes, without a word.
    if (!dataSaver)
        throw new SettingsWithoutSaverException;
    // Tolerates a second call (tests build several savers in one process); the types
    // themselves are declared once.
    if (!d.HasType(c_saved))
    {
        Type* const lp_saved = d.NewType(c_saved, Primary, false, true);
        Type* const lp_runOnly = d.NewType(c_runOnly, Primary, false, true);
        Type* const lp_value = d.NewType(c_value, Tertiary, false, true);
        // A key holds one value; one value item is shared by every key with that text.
        lp_saved->RelateToType(lp_value, Many, One, false);
        lp_runOnly->RelateToType(lp_value, Many, One, false);
    }
    dataSaver->AddSavedType(c_saved);
    dataSaver->AddSavedByConnectionType(c_value, c_saved);
}

QString GetSetting(char const* key)
{
    return ValueText(c_saved, key);
}

int GetSettingInt(char const* key)
{
    ItemPtr const l_key = ExistingKey(c_saved, key);
    if (!l_key)
        return 0;
    return l_key[c_value].AsInt();
}

bool HasSetting(char const* key)
{
    ItemPtr const l_key = ExistingKey(c_saved, key);
    return l_key && l_key.IsConnected(c_value);
}

bool IsSettingYes(char const* key)
{
    ItemPtr const l_key = ExistingKey(c_saved, key);
    return l_key && l_key[c_value].AsStdString() == "yes";
}

void SetSetting(char const* key, QString const& value)
{
    WriteValue(c_saved, key, value);
}

void SetSettingYesNo(char const* key, bool yes)
{
    SetSetting(key, yes ? QStringLiteral("yes") : QStringLiteral("no"));
}

void SetSettingDefault(char const* key, QString const& value)
{
    if (!HasSetting(key))
        SetSetting(key, value);
}

QString GetVSetting(char const* key)
{
    return ValueText(c_runOnly, key);
}

void SetVSetting(char const* key, QString const& value)
{
    WriteValue(c_runOnly, key, value);
}

void WatchSetting(char const* key, EventHandlerBase<ItemPtr>* handler)
{
    // The key's item must exist for a pattern fixed to it; `global` creates it here.
    PathNode* const lp_root = new PathNode(d.GetType(c_saved)->GetItem(Value(key)));
    new PathNode(lp_root, c_value, PathConnecting);
    d.AddPathEventHandler(lp_root, handler);
}
