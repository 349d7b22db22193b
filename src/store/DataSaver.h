#pragma once

// The persistent part of the item store lives in one binary file: the saved types'
// items with the connections between them. Components say which types are saved
// while they declare them; the shell loads the file once at start-up and saves it
// periodically and at exit.

#include "store/Data.h"

#include <QString>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class QFile;

// Implemented by components that must wait for the loaded state before they apply
// defaults or start work. Never deleted through this interface.
class DataLoadedEventHandler
{
public:
    virtual void DataLoaded() = 0;

protected:
    ~DataLoadedEventHandler() = default;
};

// Thrown by value: a store file that was opened but could not be read completely.
class DataLoadFailure
{
};

// Thrown by value inside Save and caught there: the new file could not be written.
class DataSaveFailure
{
};

class DataSaver
{
public:
    DataSaver();
    ~DataSaver();
    DataSaver(DataSaver const&) = delete;
    DataSaver& operator=(DataSaver const&) = delete;

    // Every item of the type is saved. The type must exist.
    void AddSavedType(std::string const& typeName);
    // Items of the first type are saved while connected to an item of the second.
    // Repeated calls for one first type accumulate qualifying types.
    void AddSavedByConnectionType(std::string const& typeName,
                                  std::string const& qualifyingTypeName);
    // Held once however often registered; there is no removal.
    void AddDataLoadedEventHandler(DataLoadedEventHandler* handler);

    // Writes the whole saved state to a numbered temporary file next to the path and
    // moves it over the path in one step, then syncs the folder so that the move
    // survives a power cut. On failure the old file is left as it was, the temporary
    // file is removed, a log line is written and false is returned. Running out of
    // memory while saving counts as such a failure. When only the folder's sync fails,
    // the new file is in place but false is returned all the same.
    bool Save(QString const& path);

    // A seam for tests: called before each block of bytes goes to the temporary file,
    // with the number already written. What it throws reaches Save as if the save's
    // own work had thrown it there (std::bad_alloc: memory running out).
    void SetWriteHook(std::function<void(qint64)> hook);

    // Recreates the saved items and connections inside the running store, then calls
    // DataLoaded() on every handler. Only sections of types registered for saving are
    // applied; others are skipped like those of unknown types. A missing file leaves the
    // store as it is. A path that exists but cannot be opened, a file that cannot be
    // read completely, or one that needs more memory than is left while it is read and
    // checked, also leaves the store exactly as it was (nothing is applied until the
    // whole file has been parsed); the file is then moved aside to DamagedPath(path),
    // replacing an earlier one, and a log line says so; then the handlers run and
    // DataLoadFailure is thrown.
    void Load(QString const& path);

    // Where a failed load keeps the file it could not read: the path + ".damaged".
    static QString DamagedPath(QString const& path);

    // DataLoaded() once on each handler registered so far, in address order.
    void EmitDataLoaded();

    // Where the shell keeps the store: the home path followed by "/.Kestrune".
    static QString StoreFilePath();

    // The temporary name a save would write to now: the path, a point and the first
    // number from 1 that names no file.
    static QString TemporaryPath(QString const& path);

    // Syncs the folder holding the path, so that a file just made or moved there
    // survives a power cut. A file system that cannot sync folders counts as synced.
    static bool SyncFolderOf(QString const& path);

private:
    bool IsSavedType(Type* type) const;
    // The items of a saved type that go into the file.
    std::vector<Item*> ChooseItems(Type* type) const;
    void WriteStore(QFile& file);
    // Closes and removes a temporary file the save created, logs, and gives false.
    static bool AbandonSave(QFile& file, bool created);
    static void KeepUnreadableFile(QString const& path);

    std::set<Type*> m_savedTypes;
    std::map<Type*, std::set<Type*>> m_savedByConnectionTypes;
    std::set<DataLoadedEventHandler*> m_dataLoadedEventHandlers;
    std::function<void(qint64)> m_beforeWrite;
};

extern DataSaver* dataSaver;
