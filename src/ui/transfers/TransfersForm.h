#pragma once

// The "Transfers" page of the main window: every download and upload of the transfer
// queues as user > folder > file rows with status, progress, time left, speed, size and
// (downloads) place in line, the upload controls and the two "clear" boxes.
//
// The form keeps no transfer state of its own: each row is tied to the store through a
// node item keyed by the row's address (`download_list_user_node`,
// `download_list_folder_node`, `download_list_node` and their upload twins), and the rows
// follow the store's events on `download_entry` and `upload_entry`. The one thing rows
// carry besides their texts is a running tally of the entries below them (see
// TransferTally), so that a progress report costs the same whatever a folder holds.
//
// The work is split by subject:
//   TransfersForm.cpp         set-up, subscriptions, loading
//   TransfersFormRows.cpp     making, finding and removing rows; online dots; place in line
//   TransfersFormStatus.cpp   statuses, colours, progress figures, expansion, tab title
//   TransfersFormActions.cpp  toolbar actions, Delete, double-click, context menus, the
//                             clear boxes and the upload sweep, completion alerts, upload
//                             controls
//
// One instance, made by the main window's layout; reached through transfersForm. GUI
// thread only.

#include "store/Data.h"
#include "store/DataSaver.h"

#include <QDateTime>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>
#include <set>

class QKeyEvent;
class QTreeWidget;
class QTreeWidgetItem;
class TransferRow;
class Ui_TransfersForm;
struct TransferFigures;
struct TransferTreeKind;

class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit TransfersForm(QWidget* ip_parent = nullptr);
    ~TransfersForm() override;

    // Called once by start-up after the transfer queues exist: item types, subscriptions,
    // action sets.
    void Init();
    // Shows the upload settings in the controls, then connects the controls.
    void DataLoaded() override;

    // --- Rows (TransfersFormRows.cpp) ---------------------------------------------
    void OnDownloadEntryAdded(ItemPtr i_entry);
    void OnUploadEntryAdded(ItemPtr i_entry);
    void OnDownloadEntryRemoved(ItemPtr i_entry);
    void OnUploadEntryRemoved(ItemPtr i_entry);
    void OnDownloadPlaceInLine(ItemPtr i_entry);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    // The user row above (or equal to) a row of the downloads / uploads tree, or null.
    QTreeWidgetItem* GetDownloadNodeUserNode(QTreeWidgetItem* ip_row);
    QTreeWidgetItem* GetUploadNodeUserNode(QTreeWidgetItem* ip_row);
    // The entries under a row (all of a user row's, a folder row's, a file row's one).
    ItemSet GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row);
    ItemSet GetNodeUploadEntryItems(QTreeWidgetItem* ip_row);

    // --- Status and progress (TransfersFormStatus.cpp) ------------------------------
    void OnDownloadEntryStatusChange(ConnectionInfo& i_info);
    void OnUploadEntryStatusChange(ConnectionInfo& i_info);
    // done, left, total over the entries' statuses, positions and sizes.
    void GetDownloadsProgressStats(ItemSet& i_entries, long long& o_done, long long& o_left,
                                   long long& o_total);
    void GetUploadsProgressStats(ItemSet& i_entries, long long& o_done, long long& o_left,
                                 long long& o_total);
    // The status a collapsed folder or user row shows for these entries.
    QString GetDownloadEntriesAggregateStatus(ItemSet& i_entries);
    QString GetUploadEntriesAggregateStatus(ItemSet& i_entries);
    void SetItemColorByStatus(QTreeWidgetItem* ip_row, QString i_status);
    void UpdateActiveTransferCounts();

    // --- Actions (TransfersFormActions.cpp) ---------------------------------------
    void DeleteSelectedDownloads();
    // Removes finished uploads whose last news is more than five minutes older than
    // i_now, when the setting asks for it. EveryHalfMinute passes the present time.
    void ClearFinishedUploads(QDateTime const& i_now);

public slots:
    void OnTransfersLoaded();
    void OnDownloadProgress(ItemPtr i_entry);
    void OnUploadProgress(ItemPtr i_entry);
    void RecolorEntries();
    void OnItemExpanded(QTreeWidgetItem* ip_row);
    void OnItemCollapsed(QTreeWidgetItem* ip_row);
    void OnCurrentTabChanged(int i_index);

    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnKeyPressedInDownloadList(QKeyEvent* ip_event);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnDownloadsContextMenuRequested(QPoint i_position);
    void OnUploadsContextMenuRequested(QPoint i_position);
    void OnClearDownloadsCheckStateChanged(int i_checkState);
    void OnClearUploadsCheckStateChanged(int i_checkState);
    void EveryHalfMinute();
    void OnDownloadComplete(ItemPtr i_entry);
    void OnUploadSlotsSpinValueChanged(int i_value);
    void OnUploadSpeedLimitSpinValueChanged(int i_value);
    void OnUploadSpeedLimitCheckStateChanged(int i_checkState);

signals:
    void DownloadComplete(ItemPtr i_entry);

private:
    void DeclareDownloadTypes();
    void DeclareUploadTypes();
    void RegisterActions();

    // Rows (TransfersFormRows.cpp).
    // The user and folder rows of a new file row, made when missing.
    TransferRow* UserRow(TransferTreeKind const& i_kind, ItemPtr i_user, bool i_expand);
    TransferRow* FolderRow(TransferTreeKind const& i_kind, TransferRow* ip_userRow, ItemPtr i_folder,
                           bool i_expand);
    // The file row under the folder row, tied to the entry and counted in the tallies.
    TransferRow* AddFileRow(TransferTreeKind const& i_kind, TransferRow* ip_folderRow, ItemPtr i_entry);
    void RemoveEntryRows(TransferTreeKind const& i_kind, ItemPtr i_entry);
    // Deletes a row and removes its node; false when no node of that type has the row.
    bool DeleteRow(char const* ip_nodeType, QTreeWidgetItem* ip_row);
    QTreeWidgetItem* GetNodeUserNode(TransferTreeKind const& i_kind, QTreeWidgetItem* ip_row);
    ItemSet GetNodeEntryItems(TransferTreeKind const& i_kind, QTreeWidgetItem* ip_row);
    void SetUserDot(ItemPtr i_user, QString const& i_icon);

    // Status and progress (TransfersFormStatus.cpp).
    // The entry's file row, or null.
    TransferRow* FileRowOf(TransferTreeKind const& i_kind, ItemPtr i_entry) const;
    // What the entry adds to its parents' tallies now: its status and size from the store,
    // its position from its row once that shows one, else from the store.
    TransferFigures FiguresOf(TransferTreeKind const& i_kind, ItemPtr i_entry) const;
    TransferFigures FiguresOf(TransferTreeKind const& i_kind, ItemPtr i_entry,
                              TransferRow const* ip_row) const;
    // Brings the tallies of the entry's folder and user rows up to the entry's present
    // status, position and size; the row given is the entry's, looked up once by callers
    // that have it.
    void Retally(TransferTreeKind const& i_kind, ItemPtr i_entry);
    void Retally(TransferTreeKind const& i_kind, ItemPtr i_entry, TransferRow* ip_row);
    void OnEntryStatusChange(TransferTreeKind const& i_kind, ItemPtr i_entry, ItemPtr i_status);
    void OnEntryProgress(TransferTreeKind const& i_kind, ItemPtr i_entry);
    // Status text and colour of a folder or user row from its tally.
    void ShowAggregate(TransferTreeKind const& i_kind, TransferRow* ip_row);
    // Time left and progress bar of a folder or user row from its tally.
    void ShowRowFigures(QTreeWidget* ip_tree, TransferRow* ip_row, int i_bytesPerSecond);
    // After a transfer below changed status or went: status, colour and the figures a
    // folder or user row shows, redrawn from its tally.
    void ShowSums(TransferTreeKind const& i_kind, TransferRow* ip_row);
    // The tab title; an entry whose removal the store is reporting still holds its
    // status, and is not counted.
    void UpdateActiveTransferCounts(ItemPtr i_leaving);
    void RecolorTree(TransferTreeKind const& i_kind);
    // Tally refreshers: a position cell or a size came or went.
    void OnDownloadPositionLinked(ConnectionInfo& i_info);
    void OnUploadPositionLinked(ConnectionInfo& i_info);
    void OnDownloadSizeLinked(ConnectionInfo& i_info);
    void OnSharedFileSizeLinked(ConnectionInfo& i_info);

    // Actions (TransfersFormActions.cpp).
    void ToggleExpansion(QTreeWidget* ip_tree, bool& io_flag, QString const& i_action,
                         QString const& i_text, bool i_users);
    // Removes every download under a folder or user row, row by row.
    void EmptyRow(QTreeWidgetItem* ip_row, bool i_userRow);
    void RaiseAlert(QString const& i_text, QString const& i_popup, QTreeWidgetItem* ip_row,
                    int i_column);
    static void ClearSetting(char const* ip_key);

    Ui_TransfersForm* mp_ui;
    // The downloads tree and the uploads tree with their node and entry types, so that
    // the download and upload twins share their code.
    std::unique_ptr<TransferTreeKind> mp_downloads;
    std::unique_ptr<TransferTreeKind> mp_uploads;
    bool m_transfersLoaded;
    bool m_expandDownloadFolders;
    bool m_expandDownloadUsers;
    bool m_expandUploadFolders;
    bool m_expandUploadUsers;
    // Entries whose DownloadComplete is on its way to OnDownloadComplete; a removed entry
    // leaves the set, so the queued call never reads it.
    std::set<Item*> m_pendingCompletions;
};

extern TransfersForm* transfersForm;
